// Writes a handful of small, valid bundles into a folder, as the fuzzer's
// seed corpus: installer style, Java style with the three dictionary stages,
// many entries and properties, and layouts other builders may produce.
//
//   make_seeds DIR
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "hand_bundle.h"
#include "payload.h"

using hand::Bytes;
using hand::HandBundle;

namespace {

bool WriteSeed(const std::string &dir, const std::string &name, const Bytes &bytes) {
  std::string path = dir + "/" + name;
  FILE *out = fopen(path.c_str(), "wb");
  if (!out) {
    fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = fclose(out) == 0 && ok;
  if (!ok) fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
  return ok;
}

Bytes Stub(size_t size) {
  Bytes stub = hand::ToBytes("MZ");
  Bytes rest = hand::PseudoRandom(size - 2, (uint32_t)size, false);
  hand::Append(stub, rest);
  return stub;
}

// What the installer launcher reads: "msi" and "exe" with their file names.
Bytes Installer() {
  HandBundle b;
  b.stub = Stub(700);
  b.AddProperty("msi", "Product.msi");
  b.AddFile("msi", hand::PseudoRandom(1500, 1, true));
  b.AddFile("exe", hand::PseudoRandom(600, 2, false));
  b.AddProperty("exe", "setup.exe");
  return b.Build();
}

// What Java hosting reads: the two internal classes and application classes,
// each compressed with its stage of the preset dictionary.
Bytes Java(int classes) {
  std::vector<std::string> names = {PAYLOAD_INPUT_STREAM_ENTRY, PAYLOAD_CLASS_LOADER_ENTRY};
  for (int i = 0; i < classes; i++) names.push_back("app/pkg/Class" + std::to_string(i) + ".class");
  names.push_back("META-INF/services/app.Service");
  Bytes joined;
  for (const std::string &name : names) hand::Append(joined, hand::ToBytes(name));
  Bytes inputStream = hand::PseudoRandom(300, 3, true);
  Bytes classLoader = hand::PseudoRandom(400, 4, true);
  Bytes stage2 = joined, stage3;
  hand::Append(stage2, inputStream);
  stage3 = stage2;
  hand::Append(stage3, classLoader);

  HandBundle b;
  b.stub = Stub(512);
  b.AddFile(names[0], inputStream, &joined);
  b.AddFile(names[1], classLoader, &stage2);
  b.AddProperty("Main-Class", "app.pkg.Class0");
  for (size_t i = 2; i < names.size(); i++) {
    // Class files repeat names and bytes of the dictionary.
    Bytes content = hand::ToBytes(names[i]);
    hand::Append(content, Bytes(classLoader.begin(), classLoader.begin() + 50));
    hand::Append(content, hand::PseudoRandom(60 + 13 * i, (uint32_t)i, true));
    b.AddFile(names[i], content, &stage3);
  }
  return b.Build();
}

// Many small entries and properties, duplicates of both, the count wrong.
Bytes Crowded() {
  HandBundle b;
  for (int i = 0; i < 60; i++) {
    b.AddFile("e" + std::to_string(i % 45), hand::ToBytes(std::string(i % 9, 'a' + i % 26)));
    if (i % 4 == 0) b.AddProperty("key" + std::to_string(i % 10), "value" + std::to_string(i));
  }
  b.countOverride = true;
  b.fileEntryCount = 14;
  return b.Build();
}

// A magic with a wrong CRC in block 0 and the real header in block 2, entries
// stored in reverse order with gaps, an empty entry and a stored block.
Bytes OddLayout() {
  HandBundle b;
  Bytes decoyToc = hand::RawDeflate(hand::FileRecord("decoy", 0, 1, 1));
  hand::HeaderFields decoy;
  decoy.fileEntryCount = 1;
  decoy.tocCompressedSize = (uint32_t)decoyToc.size();
  decoy.tocUncompressedSize = 10;
  b.stub = hand::HeaderBytes(decoy, false);
  hand::Append(b.stub, Bytes(600, 0x90));
  b.filler = 0xCC;
  Bytes late = hand::PseudoRandom(200, 5, false);
  Bytes early = hand::StoredBlock(hand::PseudoRandom(100, 6, false));
  b.AppendData(Bytes(7, 0xEE));
  uint32_t lateAt = b.AppendData(hand::RawDeflate(late));
  uint32_t earlyAt = b.AppendData(early);
  b.AddFileRecord("early", earlyAt, (uint32_t)early.size(), 100);
  b.AddFileRecord("empty", 0x7FFFFFF0u, 0, 0);
  b.AddFileRecord("late", lateAt, earlyAt - lateAt, (uint32_t)late.size());
  b.AddProperty(std::string(31, 'K'), "longest key");
  b.entryDataSizeOverride = true;
  b.entryDataSize = 0xFFFFFFFFu;
  return b.Build();
}

// An entry of three fetches (more than 8192 compressed bytes) beside a small
// one, so that reads cross chunk boundaries.
Bytes Large() {
  HandBundle b;
  b.AddFile("big", hand::PseudoRandom(9000, 7, false));
  b.AddFile("small", hand::PseudoRandom(3000, 8, true));
  b.AddProperty("exe", "big.exe");
  return b.Build();
}

// A table of 200,000 file records under a header that announces none: an
// index whose cost follows the announced count rather than the table would
// take minutes here, past the fuzzer's per-input time limit.  Every record
// names the one empty entry.
Bytes LyingCount() {
  HandBundle b;
  uint32_t at = b.AppendData(hand::RawDeflate(Bytes()));
  for (int i = 0; i < 200000; i++) b.AddFileRecord("n" + std::to_string(i), at, 2, 0);
  b.countOverride = true;
  b.fileEntryCount = 0;
  return b.Build();
}

// No records at all.
Bytes Empty() {
  HandBundle b;
  b.stub = Stub(100);
  return b.Build();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  mkdir(dir.c_str(), 0777);
  bool ok = WriteSeed(dir, "installer.bin", Installer()) && WriteSeed(dir, "java.bin", Java(12)) &&
            WriteSeed(dir, "java-small.bin", Java(1)) && WriteSeed(dir, "crowded.bin", Crowded()) &&
            WriteSeed(dir, "odd-layout.bin", OddLayout()) && WriteSeed(dir, "empty.bin", Empty()) &&
            WriteSeed(dir, "large.bin", Large()) &&
            WriteSeed(dir, "lying-count.bin", LyingCount());
  return ok ? 0 : 1;
}
