# The Debian package (scripts/package-deb.sh runs `cpack -G DEB`): the programs, the browser
# module and the resources that the install rules name, plus the manual pages, the bash
# completion of gleanmark-cli and the package's documents. Its dependencies are computed from
# the shared libraries the programs use (dpkg-shlibdeps).

set(GM_PACKAGE_DIR ${PROJECT_BINARY_DIR}/package)
set(GM_PACKAGE_SOURCE ${PROJECT_SOURCE_DIR}/resources/package)

# Manual pages and the changelog go in compressed the way Debian wants them (no name or time
# stamp in the gzip header, so the package is the same from one build to the next).
string(TIMESTAMP GM_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${GM_PACKAGE_SOURCE}/changelog.in ${GM_PACKAGE_DIR}/changelog @ONLY)
set(GM_PACKAGE_COMPRESSED)
foreach(_file ${PROJECT_SOURCE_DIR}/resources/man/gleanmark.1
              ${PROJECT_SOURCE_DIR}/resources/man/gleanmark-cli.1 ${GM_PACKAGE_DIR}/changelog)
  get_filename_component(_name ${_file} NAME)
  add_custom_command(OUTPUT ${GM_PACKAGE_DIR}/${_name}.gz
                     COMMAND gzip -9n -c ${_file} > ${GM_PACKAGE_DIR}/${_name}.gz
                     DEPENDS ${_file})
  list(APPEND GM_PACKAGE_COMPRESSED ${GM_PACKAGE_DIR}/${_name}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${GM_PACKAGE_COMPRESSED})

install(FILES ${GM_PACKAGE_DIR}/gleanmark.1.gz ${GM_PACKAGE_DIR}/gleanmark-cli.1.gz
        DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/gleanmark-cli.bash
        DESTINATION share/bash-completion/completions RENAME gleanmark-cli)
install(FILES ${GM_PACKAGE_SOURCE}/copyright ${GM_PACKAGE_DIR}/changelog.gz
        DESTINATION share/doc/gleanmark)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gleanmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Gleanmark developers <gleanmark@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # gleanmark_VERSION_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop program needs Qt's X11 platform plugin, which no library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "extract data from web sites into tables, files and databases\n"
    "Gleanmark runs extraction tasks unattended: where the pages are, which\n"
    "page levels lead to the data, which items to take, how to page and where\n"
    "the records go. Pages are downloaded with its own HTTP client or opened\n"
    "in an embedded browser, and every record is saved as soon as it is found,\n"
    "to CSV, Excel workbooks, text files, web addresses or databases.\n"
    "\n"
    "The package holds the desktop program (gleanmark) and the headless\n"
    "gleanmark-cli.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
include(CPack)
