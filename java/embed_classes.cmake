# Writes InternalClassLoader.java from its template, with the class files of
# the resource handler, its connection and the resource stream as hexadecimal
# string constants.
#   cmake -DTEMPLATE=... -DOUTPUT=... -DHANDLER=... -DCONNECTION=... -DSTREAM=... -P embed_classes.cmake
function(java_hex_literal path out)
  file(READ "${path}" hex HEX)
  # Lines of 16 bytes, joined with "+" (javac folds them into one constant).
  string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
         "\\1\"\n            + \"" hex "${hex}")
  set(${out} "            \"${hex}\"" PARENT_SCOPE)
endfunction()

java_hex_literal("${HANDLER}" HANDLER_BYTES)
java_hex_literal("${CONNECTION}" CONNECTION_BYTES)
java_hex_literal("${STREAM}" STREAM_BYTES)
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
