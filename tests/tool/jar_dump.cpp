// Prints what a jar reader makes of a jar, one line per entry: name, size,
// CRC-32, time kind and value as the reader states them, then the length
// and CRC-32 of the bytes streamed out of the entry (read in pieces of an
// odd size, so that the pieces never line up with the reader's own buffers).
// Built once per reader (libzip, zlib); jar_readers_test.py compares the
// two outputs.  Exit status 1 with the reader's message on standard error
// when the reader refuses the jar.
//   jar_dump JAR
#include <inttypes.h>
#include <stdio.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "jar_archive.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: jar_dump JAR\n");
    return 2;
  }
  std::string error;
  JarArchive *archive = OpenJarArchive(argv[1], &error);
  if (!archive) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<unsigned char> buffer(4093);
  uint64_t count = JarEntryCount(archive);
  printf("%" PRIu64 " entries\n", count);
  for (uint64_t i = 0; i < count; i++) {
    JarEntryInfo stat;
    JarEntryStream *entry = nullptr;
    if (!StatJarEntry(archive, i, &stat, &error) || !(entry = OpenJarEntry(archive, i, &error))) {
      fprintf(stderr, "%s\n", error.c_str());
      CloseJarArchive(archive);
      return 1;
    }
    uint32_t crc = (uint32_t)crc32(0, nullptr, 0);
    uint64_t length = 0;
    int64_t n;
    while ((n = ReadJarEntry(entry, buffer.data(), buffer.size(), &error)) > 0) {
      crc = (uint32_t)crc32(crc, buffer.data(), (uInt)n);
      length += (uint64_t)n;
    }
    CloseJarEntry(entry);
    if (n < 0) {
      fprintf(stderr, "%s\n", error.c_str());
      CloseJarArchive(archive);
      return 1;
    }
    printf("%s\t%" PRIu64 "\t%08" PRIx32 "\t%d\t%" PRIu64 "\t%" PRIu64 "\t%08" PRIx32 "\n", stat.name.c_str(),
           stat.size, stat.crc32, stat.timeKind, stat.timeValue, length, crc);
  }
  CloseJarArchive(archive);
  return 0;
}
