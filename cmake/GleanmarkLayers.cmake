# gm_add_layer(NAME DEPS...): a static library gm_NAME from every .cpp in the calling folder.
# A folder without sources yet becomes an interface library so that dependants still link.
function(gm_add_layer name)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    add_library(gm_${name} STATIC ${_sources})
    target_include_directories(gm_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(gm_${name} PUBLIC ${ARGN})
  else()
    add_library(gm_${name} INTERFACE)
    target_include_directories(gm_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(gm_${name} INTERFACE ${ARGN})
  endif()
endfunction()

# gm_add_test_suite(NAME LABEL LIBS...): one GoogleTest executable from every *_test.cpp in the
# calling folder, registered with CTest under the given label.
function(gm_add_test_suite name label)
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT _tests)
    return()
  endif()
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  add_executable(${name} ${_tests} ${_support})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    GM_FIXTURES="${PROJECT_SOURCE_DIR}/tests/fixtures"
    GM_BUILD_DIR="${PROJECT_BINARY_DIR}"
    GM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} TIMEOUT 600 DISCOVERY_TIMEOUT 60)
endfunction()
