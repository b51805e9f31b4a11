// What a stub file is, told from its own bytes, so that `pack` and
// `pack-java` put in front only a program that can run the bundle they write.
//
// How a kind is told (no marker is added to any stub for this; the rule reads
// what each one already carries):
//   - the format from the first bytes: "MZ" with a "PE\0\0" image behind
//     e_lfanew is a Windows executable, "\x7fELF" a Linux program, bytes
//     without NULs and control characters a text file;
//   - the payload reader from its own message for a file without a payload
//     (payload_messages.h), which OpenPayload hands out and so every stub
//     holds as a NUL-terminated text;
//   - the installer launcher from its "No msi filename" and "No exe filename"
//     (launcher_messages.h); the Java front end from its exception report
//     "Terminating due to Java exception: %s" (javahost_messages.h); the
//     ready msi bootstrap from its "No .msi package beside ..." text.  A file
//     with the reader and both kinds' texts (the tool itself) is neither.
// In a PE image only the sections' bytes are searched, so that what stands
// behind the image (a payload, a signature, filler) never decides.
//
// A Windows stub whose certificate table (data directory 4 of the optional
// header) is not empty is refused as well: a signature made before packing
// no longer covers the file once the payload stands behind it.
#ifndef SATCHEL_STUB_KINDS_H
#define SATCHEL_STUB_KINDS_H

#include <stddef.h>

#include <string>

enum class StubKind {
  InstallerLauncher,  // for pack: a Windows launcher stub
  JavaFrontEnd        // for pack-java: a Windows or Linux Java front end
};

// True when the file at `path` is a stub of the `wanted` kind that carries no
// signature.  Otherwise false with *error naming the path, what the file is
// and what the command needs.
// With `bundle` (verify), the file is a bundle, told by the program in front
// of its payload (in a PE image only the sections are searched): a signature
// is no reason to refuse, and the text speaks of that program and of what
// the bundle needs.
bool CheckStubKind(const std::string &path, StubKind wanted, std::string *error,
                   bool bundle = false);

// True when the program whose first bytes are `start` is the ready msi
// bootstrap, told by the same texts (its sections stand within its first
// PE_PROGRAM_START_SIZE bytes).
bool IsReadyBootstrap(const unsigned char *start, size_t size);

#endif  // SATCHEL_STUB_KINDS_H
