// The bundle tool's own files: inputs checked before they are read, scratch
// files, and output files that appear under their name only when complete.
// Paths are UTF-8.
#ifndef SATCHEL_TOOL_FILES_H
#define SATCHEL_TOOL_FILES_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// An output file that appears under its name only when complete: the bytes go
// to a temporary file in the same folder, renamed into place by
// CommitAtomicOutput; AbortAtomicOutput (or a failed write or commit) removes
// it.  Errors name the final path and the reason.
struct AtomicOutput {
  std::string path;      // the final name
  std::string tempPath;  // where the bytes go until the commit
  FILE *file = nullptr;
};
bool BeginAtomicOutput(const std::string &path, AtomicOutput *output, std::string *error);
// The same with the permission bits that a new file gets on POSIX systems
// before the umask (BeginAtomicOutput: 0666; a bundle, which runs: 0777).
bool BeginAtomicOutputWithMode(const std::string &path, int mode, AtomicOutput *output,
                               std::string *error);
bool WriteAtomicOutput(AtomicOutput *output, const void *data, size_t size, std::string *error);
// Overwrites `size` bytes at `offset` of what was written so far, and goes
// on writing at the end.
bool PatchAtomicOutput(AtomicOutput *output, uint64_t offset, const void *data, size_t size,
                       std::string *error);
bool CommitAtomicOutput(AtomicOutput *output, std::string *error);
void AbortAtomicOutput(AtomicOutput *output);

// What stat tells of an input before it is read: false with *error naming the
// path when it cannot be read as a file (missing, a folder) or is too large
// for an entry (4 GiB or more); *size receives its size, and *regular (when
// asked) whether it is a regular file, the only kind whose size stat knows.
bool CheckInputFile(const std::string &path, uint64_t *size, std::string *error,
                    bool *regular = nullptr);

// What an open input looked like at one moment: read again after the last
// byte, it tells whether the file changed while it was read.
struct InputStamp {
  bool regular = false;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
};
bool StampOpenFile(FILE *file, InputStamp *stamp);
bool SameStamp(const InputStamp &a, const InputStamp &b);

// A temporary file for reading and writing in the folder of `beside`, which
// no one else sees and which is gone once closed (or once the process ends,
// however it ends).  Null with *error naming `beside` and the reason.
FILE *OpenScratchFile(const std::string &beside, std::string *error);

// Whether two paths name one file: the same file identity where the system
// tells it (device and inode), else, on Windows, the same full path when case
// is ignored.  A path that does not exist names no file yet.
bool SameFile(const std::string &a, const std::string &b);

// Opens a file for binary reading (UTF-8 path); null with errno set.
FILE *OpenFileForReading(const std::string &path);

// Moves to a 64-bit offset from the file's start; false on failure.
bool SeekFile(FILE *file, int64_t offset);

// The size of an open file, from its end; -1 when it cannot be told.  The
// position is left at the end.
int64_t FileSize(FILE *file);

// The file-name part of a path (behind the last '/', and on Windows also
// behind the last '\\' or drive colon).
std::string PathFileName(const std::string &path);

// strerror's text for an errno value.
std::string ErrnoText(int error);

#ifdef _WIN32
// The tool works in UTF-8 throughout; the system speaks UTF-16.  Widen gives
// a path as the wide calls take it, Utf8Text takes `length` UTF-16 units back.
std::wstring Widen(const std::string &text);
std::string Utf8Text(const wchar_t *text, size_t length);
#endif

#endif  // SATCHEL_TOOL_FILES_H
