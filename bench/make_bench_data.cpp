// Writes the inputs of the payload benchmarks.
//
//   make_bench_data index STUB OUT.bundle NAMES.txt [COUNT]
//       a bundle of COUNT (100000) empty entries with 40-byte names, and the
//       same names one per line (for the zip that it is compared with)
//   make_bench_data mixed OUT SIZE_MIB
//       SIZE_MIB MiB of mixed data: runs of text-like words, of repeated
//       records and of noise, which deflate takes to a bit under half
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bundle_writer.h"

namespace {

uint64_t state = 0x853c49e6748fea9bull;
uint32_t Next() {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return (uint32_t)(state >> 11);
}

int MakeIndex(const char *stub, const char *out, const char *namesPath, int count) {
  BundleContents contents;
  FILE *names = fopen(namesPath, "w");
  if (!names) {
    perror(namesPath);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    char name[64];
    // 40 bytes: "org/bench/pNNN/ClassNNNNNNN_xxxxxx.class"
    snprintf(name, sizeof name, "org/bench/p%03d/Class%07d_%06x.class", i % 1000, i,
             Next() & 0xffffff);
    if (strlen(name) != 40) {
      fprintf(stderr, "name of %zu bytes\n", strlen(name));
      return 1;
    }
    contents.files.push_back({name, {}});
    fprintf(names, "%s\n", name);
  }
  fclose(names);
  std::string error;
  if (!WriteBundle(stub, out, contents, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}

int MakeMixed(const char *out, long mebibytes) {
  static const char *words[] = {
      "the", "payload", "entry", "stream", "launcher", "header", "bundle", "satchel",
      "deflate", "window", "table", "contents", "install", "package", "folder", "temporary",
      "process", "job", "wait", "clean", "class", "loader", "resource", "dictionary",
      "compress", "inflate", "buffer", "offset", "size", "name", "value", "property"};
  FILE *file = fopen(out, "wb");
  if (!file) {
    perror(out);
    return 1;
  }
  std::vector<unsigned char> block(1 << 16);
  for (long n = 0; n < mebibytes * 16; ++n) {
    uint32_t kind = Next() % 8;
    size_t at = 0;
    if (kind < 4) {  // text
      while (at < block.size()) {
        const char *word = words[Next() % 32];
        for (const char *p = word; *p && at < block.size(); ++p) block[at++] = (unsigned char)*p;
        if (at < block.size()) block[at++] = Next() % 11 == 0 ? '\n' : ' ';
      }
    } else if (kind < 6) {  // records: a counter and some fixed fields
      uint32_t id = Next();
      while (at < block.size()) {
        char line[80];
        int length = snprintf(line, sizeof line, "%08x,%u,record,%u,ok\n", id++, Next() % 1000,
                              Next() % 7);
        for (int i = 0; i < length && at < block.size(); ++i) block[at++] = (unsigned char)line[i];
      }
    } else {  // noise
      for (; at < block.size(); ++at) block[at] = (unsigned char)Next();
    }
    if (fwrite(block.data(), 1, block.size(), file) != block.size()) {
      perror(out);
      return 1;
    }
  }
  return fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 5 && strcmp(argv[1], "index") == 0)
    return MakeIndex(argv[2], argv[3], argv[4], argc > 5 ? atoi(argv[5]) : 100000);
  if (argc == 4 && strcmp(argv[1], "mixed") == 0) return MakeMixed(argv[2], atol(argv[3]));
  fprintf(stderr,
          "usage: make_bench_data index STUB OUT.bundle NAMES.txt [COUNT]\n"
          "       make_bench_data mixed OUT SIZE_MIB\n");
  return 2;
}
