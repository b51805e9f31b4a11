# Writes InternalClassLoader.java from its template: @HELPER_CLASSES@ becomes
# the class files under HELPERS (all but InternalInputStream's) as pairs of
# string constants, the class's internal name and its bytes in hexadecimal.
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
  # Lines of 32 bytes, joined with "+" (javac folds them into one constant).
  string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
         "\\1\"\n            + \"" hex "${hex}")
  string(APPEND HELPER_CLASSES "        \"${internalName}\",\n            \"${hex}\",\n")
endforeach()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
