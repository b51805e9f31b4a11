# Fills the build tree's data folder (STAGE) with the stubs that exist:
# i686 ones from WIN32_DIR, x86_64 ones from WIN64_DIR into x86_64/, and the
# native Java front end (JAVA_FRONT_END, may be empty).  A stub that is not
# built is left out; one that is no longer built is removed.
file(MAKE_DIRECTORY ${STAGE} ${STAGE}/x86_64)
foreach(pair
    "${WIN32_DIR}/launcher/satchel-launcher.exe|satchel-launcher.exe"
    "${WIN32_DIR}/launcher/satchel-bootstrap.exe|satchel-bootstrap.exe"
    "${WIN32_DIR}/javahost/satchel-java.exe|satchel-java.exe"
    "${WIN64_DIR}/launcher/satchel-launcher.exe|x86_64/satchel-launcher.exe"
    "${WIN64_DIR}/launcher/satchel-bootstrap.exe|x86_64/satchel-bootstrap.exe"
    "${WIN64_DIR}/javahost/satchel-java.exe|x86_64/satchel-java.exe"
    "${JAVA_FRONT_END}|satchel-java")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  if(NOT from STREQUAL "" AND EXISTS "${from}" AND NOT IS_DIRECTORY "${from}")
    file(COPY_FILE "${from}" "${STAGE}/${to}" ONLY_IF_DIFFERENT)
  else()
    file(REMOVE "${STAGE}/${to}")
  endif()
endforeach()
