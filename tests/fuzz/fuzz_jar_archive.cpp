// libFuzzer target: the input is a jar, read by the Windows tool's zip reader
// over zlib (tools/jar_archive_zlib.cpp) through a memory file.  Every entry
// is stated, then read to its end in pieces of odd sizes.
//
// Checked beyond the sanitizers: a read never returns more than asked; an
// entry read to its end without error gave exactly its stated size; a
// refusal always comes with a message.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "jar_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static int fd = memfd_create("jar", 0);
  static std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size) abort();
  std::string error;
  JarArchive *archive = OpenJarArchive(path, &error);
  if (!archive) {
    if (error.empty()) abort();
    return 0;
  }
  std::vector<unsigned char> buffer(1021);
  uint64_t count = JarEntryCount(archive);
  for (uint64_t i = 0; i < count; i++) {
    JarEntryInfo info;
    if (!StatJarEntry(archive, i, &info, &error)) abort();
    JarEntryStream *stream = OpenJarEntry(archive, i, &error);
    if (!stream) {
      if (error.empty()) abort();
      continue;
    }
    uint64_t total = 0;
    int64_t n;
    size_t piece = 1 + i % 1021;
    while ((n = ReadJarEntry(stream, buffer.data(), piece, &error)) > 0) {
      if ((size_t)n > piece) abort();
      total += (uint64_t)n;
    }
    if (n == 0 && total != info.size) abort();
    if (n < 0 && error.empty()) abort();
    CloseJarEntry(stream);
  }
  CloseJarArchive(archive);
  return 0;
}
