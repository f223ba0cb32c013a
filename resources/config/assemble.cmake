# Joins the readable pieces of the default configuration into one document text:
#   cmake -DSOURCE_DIR=<resources/config> -DOUT=<file> -P assemble.cmake
# The Chinese language comes first and is the current one.
set(_text "<language curlng=\"zh\">\n")
foreach(_lang lang-zh.xml lang-en.xml)
  file(READ ${SOURCE_DIR}/${_lang} _part)
  string(APPEND _text "${_part}")
endforeach()
string(APPEND _text "</language>\n")
foreach(_piece menus.xml images.xml)
  file(READ ${SOURCE_DIR}/${_piece} _part)
  string(APPEND _text "${_part}")
endforeach()
file(WRITE ${OUT} "${_text}")
