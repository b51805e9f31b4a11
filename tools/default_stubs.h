// The stubs that `pack` and `pack-java` take when no --stub is given, and the
// ready msi bootstrap that `pack` packs when no --exe is given.  They live in
// the tool's data folder, found relative to the tool's own executable, so
// that an installed tree works wherever it is moved:
//
//   bin/satchel                               the tool
//   share/satchel/satchel-launcher.exe        i686 installer launcher (default stub)
//   share/satchel/satchel-bootstrap.exe       i686 ready msi bootstrap
//   share/satchel/satchel-java.exe            i686 Java front end
//   share/satchel/x86_64/...                  the same three for x86_64
//   share/satchel/satchel-java                the Java front end of the tool's own
//                                             platform (pack-java's default)
//
// The build tree has the same shape: tools/satchel beside share/satchel/,
// which the build fills from the Windows builds that exist.
#ifndef SATCHEL_DEFAULT_STUBS_H
#define SATCHEL_DEFAULT_STUBS_H

#include <stdint.h>

#include <string>

#define STUB_LAUNCHER "satchel-launcher.exe"
#define STUB_BOOTSTRAP "satchel-bootstrap.exe"
#ifdef _WIN32
#define STUB_JAVA_FRONT_END "satchel-java.exe"
#else
#define STUB_JAVA_FRONT_END "satchel-java"
#endif

// The launcher compares a switch of at most this many bytes, and shows a
// progress text of at most this many.
#define QUIET_SWITCH_LIMIT 32
#define PROGRESS_TEXT_LIMIT 255

// The path of `name` in the data folder; false with *error saying where it was
// looked for when it is not there.
bool FindDefaultStub(const std::string &name, std::string *path, std::string *error);

// The ready bootstrap built for the same machine as the stub at `stubPath`.
bool FindBootstrapFor(const std::string &stubPath, std::string *path, std::string *error);

#endif  // SATCHEL_DEFAULT_STUBS_H
