# pack-java: the bundle tool's Java mode.  The Linux tool reads jars with
# libzip and checks signed jars with OpenSSL's libcrypto (Debian libzip-dev,
# libssl-dev).  Debian has neither for mingw-w64: the Windows tools read jars
# with the small zip reader over zlib (jar_archive_zlib.cpp), which the Linux
# tests hold against libzip, and check signatures with the system's CNG and
# CryptoAPI.  Included by tools/CMakeLists.txt once the satchel target exists.
#
# The two internal classes (target internal_classes in java/) are compiled
# into the tool as byte arrays, so that it needs no class files at run time.

# The zip reader over zlib, in every build: the Windows tool's, and on Linux
# the one the differential test reads beside libzip.
add_library(jararchive_zlib STATIC ${CMAKE_CURRENT_LIST_DIR}/jar_archive_zlib.cpp)
target_link_libraries(jararchive_zlib PUBLIC bundlewriter satchel_zlib)

if(WIN32)
  set(satchelJarArchive jararchive_zlib)
  add_library(jarcrypto STATIC ${CMAKE_CURRENT_LIST_DIR}/jar_crypto_win32.cpp)
  target_link_libraries(jarcrypto PUBLIC bcrypt crypt32)
else()
  # By its header and library: Debian's libzip CMake package also wants the
  # zipcmp tools (package libzip-tools) and stops the configure step without
  # them, and pkg-config is not on every machine.
  find_path(SATCHEL_LIBZIP_INCLUDE zip.h)
  find_library(SATCHEL_LIBZIP_LIBRARY zip)
  if(NOT SATCHEL_LIBZIP_INCLUDE OR NOT SATCHEL_LIBZIP_LIBRARY)
    if(SATCHEL_TESTS)
      # The tool's and the Java application's tests pack Java bundles.
      message(FATAL_ERROR "libzip not found; pack-java and its tests need it (apt-get install libzip-dev)")
    endif()
    message(STATUS "libzip not found: satchel is built without pack-java (apt-get install libzip-dev)")
    return()
  endif()
  # OpenSSL's libcrypto checks the signatures of signed jars (Debian libssl-dev).
  find_path(SATCHEL_OPENSSL_INCLUDE openssl/pkcs7.h)
  find_library(SATCHEL_CRYPTO_LIBRARY crypto)
  if(NOT SATCHEL_OPENSSL_INCLUDE OR NOT SATCHEL_CRYPTO_LIBRARY)
    message(STATUS "OpenSSL not found: satchel is built without pack-java (apt-get install libssl-dev)")
    return()
  endif()
  add_library(jararchive_libzip STATIC ${CMAKE_CURRENT_LIST_DIR}/jar_archive_libzip.cpp)
  target_include_directories(jararchive_libzip PRIVATE ${SATCHEL_LIBZIP_INCLUDE})
  target_link_libraries(jararchive_libzip PUBLIC bundlewriter ${SATCHEL_LIBZIP_LIBRARY})
  set(satchelJarArchive jararchive_libzip)
  add_library(jarcrypto STATIC ${CMAKE_CURRENT_LIST_DIR}/jar_crypto_openssl.cpp)
  target_include_directories(jarcrypto PRIVATE ${SATCHEL_OPENSSL_INCLUDE})
  target_link_libraries(jarcrypto PUBLIC ${SATCHEL_CRYPTO_LIBRARY})
endif()

set(satchelInternalClassesCpp ${CMAKE_CURRENT_BINARY_DIR}/internal_classes_data.cpp)
add_custom_command(
  OUTPUT ${satchelInternalClassesCpp}
  COMMAND ${CMAKE_COMMAND}
          -DINPUT_STREAM=${SATCHEL_INTERNAL_INPUT_STREAM_CLASS}
          -DCLASS_LOADER=${SATCHEL_INTERNAL_CLASS_LOADER_CLASS}
          -DOUTPUT=${satchelInternalClassesCpp}
          -P ${CMAKE_CURRENT_LIST_DIR}/pack_java_classes.cmake
  DEPENDS ${SATCHEL_INTERNAL_INPUT_STREAM_CLASS} ${SATCHEL_INTERNAL_CLASS_LOADER_CLASS}
          internal_classes ${CMAKE_CURRENT_LIST_DIR}/pack_java_classes.cmake
  COMMENT "Compiling the internal classes into the bundle tool"
  VERBATIM)

# What pack-java writes that needs no zip library: the manifest's reading and
# the class-path index; the tool's tests link it as well.
add_library(javapacking STATIC
  ${CMAKE_CURRENT_LIST_DIR}/jar_manifest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/class_path_index.cpp)
target_link_libraries(javapacking PUBLIC bundlewriter)

target_sources(satchel PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/pack_java.cpp       # the command: options, class path, properties
  ${CMAKE_CURRENT_LIST_DIR}/jar_reading.cpp     # every entry of a jar, its time, the manifest
  ${CMAKE_CURRENT_LIST_DIR}/jar_signature.cpp   # signed jars as they were signed
  ${satchelInternalClassesCpp})
target_compile_definitions(satchel PRIVATE SATCHEL_HAVE_PACK_JAVA)
target_link_libraries(satchel PRIVATE ${satchelJarArchive} jarcrypto javapacking bundlewriter)
