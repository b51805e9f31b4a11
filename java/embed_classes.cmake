# Writes InternalClassLoader.java from its template: @HELPER_CLASSES@ becomes
# the class files under HELPERS (all but InternalInputStream's) as pairs of
# string constants, the class's internal name and its bytes (char n is byte n).
#   cmake -DTEMPLATE=... -DOUTPUT=... -DHELPERS=dir -P embed_classes.cmake
file(GLOB_RECURSE classFiles RELATIVE "${HELPERS}" "${HELPERS}/*.class")
list(SORT classFiles)
set(HELPER_CLASSES "")
foreach(classFile ${classFiles})
  if(classFile MATCHES "InternalInputStream")
    continue()
  endif()
  string(REGEX REPLACE "\\.class$" "" internalName "${classFile}")
  file(READ "${HELPERS}/${classFile}" hex HEX)
  # Lines of 32 bytes (marked with "|" first), each byte a \u00XX escape but
  # the four that a string literal cannot hold that way.  The class file then
  # holds the helper's own bytes (char n is byte n), not a text in hexadecimal:
  # smaller, and as the tail of the payload's preset dictionary it helps to
  # compress the application's classes.
  string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
         "\\1|" hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\u00\\1" hex "${hex}")
  string(REPLACE "\\u000a" "\\n" hex "${hex}")
  string(REPLACE "\\u000d" "\\r" hex "${hex}")
  string(REPLACE "\\u0022" "\\\"" hex "${hex}")
  string(REPLACE "\\u005c" "\\\\" hex "${hex}")
  string(REPLACE "|" "\"\n            + \"" hex "${hex}")
  string(APPEND HELPER_CLASSES "        \"${internalName}\",\n            \"${hex}\",\n")
endforeach()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
