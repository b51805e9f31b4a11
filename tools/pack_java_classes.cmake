# Script mode (cmake -P): writes OUTPUT, a C++ source that holds the class
# files INPUT_STREAM and CLASS_LOADER as the byte arrays that pack_java.cpp
# declares.
function(append_class_bytes variable path)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes to a line.
  set(bytes "")
  set(at 0)
  while(at LESS digits)
    string(SUBSTRING "${hex}" ${at} 32 line)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," line "${line}")
    string(APPEND bytes "  ${line}\n")
    math(EXPR at "${at} + 32")
  endwhile()
  set(text "${text}\nextern const unsigned char ${variable}[] = {\n${bytes}};\n")
  set(text "${text}extern const size_t ${variable}Size = ${size};\n")
  set(text "${text}" PARENT_SCOPE)
endfunction()

set(text "// Generated from the internal class files at build time; do not edit.\n#include <stddef.h>\n")
append_class_bytes(kInternalInputStreamClass ${INPUT_STREAM})
append_class_bytes(kInternalClassLoaderClass ${CLASS_LOADER})
file(WRITE ${OUTPUT}.tmp "${text}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
