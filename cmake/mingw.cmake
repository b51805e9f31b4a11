# Cross build for Windows with Debian's mingw-w64.  The target triple is the
# one parameter (SATCHEL_TRIPLE, set by the preset): i686-w64-mingw32 for the
# release launcher, x86_64-w64-mingw32 for what the tests run under wine64.
if(NOT SATCHEL_TRIPLE)
  message(FATAL_ERROR "cmake/mingw.cmake needs SATCHEL_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32)")
endif()
# try_compile projects read this file again; hand them the triple.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SATCHEL_TRIPLE)

set(CMAKE_SYSTEM_NAME Windows)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${SATCHEL_TRIPLE}")
set(CMAKE_C_COMPILER   ${SATCHEL_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SATCHEL_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${SATCHEL_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SATCHEL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
