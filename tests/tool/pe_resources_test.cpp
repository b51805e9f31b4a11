// The resource section writer and reader on the real stubs: what it writes
// reads back whole (named resources too), what it refuses to rewrite, the
// trees the reader calls broken, and the PE checksum taken piece by piece.
// (Readers nobody here wrote check the same bundles in identity_readers.py.)
#include <string.h>

#include <algorithm>

#include "pe_resources.h"
#include "tool_test_util.h"

namespace {

const char *const kStubs[] = {"satchel-launcher.exe", "x86_64/satchel-launcher.exe",
                              "satchel-java.exe", "x86_64/satchel-java.exe"};

Resource Make(ResourceId type, ResourceId name, uint16_t language, const std::string &data) {
  Resource r;
  r.type = type;
  r.name = name;
  r.language = language;
  r.data.assign(data.begin(), data.end());
  return r;
}
ResourceId Number(uint16_t n) {
  ResourceId id;
  id.number = n;
  return id;
}
ResourceId Named(const std::u16string &name) {
  ResourceId id;
  id.named = true;
  id.name = name;
  return id;
}

std::vector<Resource> Sample() {
  return {Make(Number(PE_RT_MANIFEST), Number(1), 0x409, "<assembly/>"),
          Make(Named(u"ZDATA"), Named(u"SECOND"), 0, "two"),
          Make(Named(u"ADATA"), Number(7), 0x407, "a German one"),
          Make(Named(u"ADATA"), Number(7), 0x409, "an English one"),
          Make(Named(u"ZDATA"), Named(u"FIRST"), 0, std::string(3000, 'x')),
          Make(Number(PE_RT_MANIFEST), Number(1), 0x409, "<assembly>later</assembly>")};
}

std::string Key(const Resource &r) {
  std::string key = r.type.named ? std::string(r.type.name.begin(), r.type.name.end())
                                 : std::to_string(r.type.number);
  key += "/" + (r.name.named ? std::string(r.name.name.begin(), r.name.name.end())
                             : std::to_string(r.name.number));
  return key + "/" + std::to_string(r.language) + "=" + std::string(r.data.begin(), r.data.end());
}

class PeResourcesTest : public ToolTest {
 protected:
  Bytes Stub(const char *name) { return ReadBytes(DataFolder() + name); }
  // The image rewritten with `resources`, and its headers.
  Bytes Rewritten(const char *stub, const std::vector<Resource> &resources, PeImage *image) {
    Bytes bytes = Stub(stub);
    std::string problem;
    EXPECT_TRUE(ReplaceResources(&bytes, resources, &problem)) << problem;
    EXPECT_TRUE(ReadPeImageBytes(bytes.data(), bytes.size(), image));
    return bytes;
  }
  std::string ReadProblem(const Bytes &bytes) {
    PeImage image;
    EXPECT_TRUE(ReadPeImageBytes(bytes.data(), bytes.size(), &image));
    std::vector<Resource> resources;
    std::string problem;
    return ReadResources(bytes, image, &resources, &problem) ? "" : problem;
  }
};

TEST_F(PeResourcesTest, WhatIsWrittenReadsBackInTreeOrder) {
  for (const char *stub : kStubs) {
    SCOPED_TRACE(stub);
    PeImage image;
    Bytes bytes = Rewritten(stub, Sample(), &image);
    std::vector<Resource> back;
    std::string problem;
    ASSERT_TRUE(ReadResources(bytes, image, &back, &problem)) << problem;
    // Named types first, by name, then numbers; the later of two alike wins.
    std::vector<std::string> keys;
    for (const Resource &r : back) keys.push_back(Key(r));
    std::vector<std::string> expected = {"ADATA/7/1031=a German one", "ADATA/7/1033=an English one",
                                         "ZDATA/FIRST/0=" + std::string(3000, 'x'),
                                         "ZDATA/SECOND/0=two", "24/1/1033=<assembly>later</assembly>"};
    EXPECT_EQ(expected, keys);
    EXPECT_EQ(bytes.size(), image.sectionsEnd);
    EXPECT_EQ(0u, bytes.size() % 512);
    // Rewriting a rewritten image gives the same bytes.
    Bytes again = bytes;
    ASSERT_TRUE(ReplaceResources(&again, back, &problem)) << problem;
    EXPECT_EQ(bytes, again);
  }
}

TEST_F(PeResourcesTest, RefusesImagesItCannotRewrite) {
  Bytes launcher = Stub("satchel-launcher.exe"), java = Stub("x86_64/satchel-java.exe");
  PeImage image;
  ASSERT_TRUE(ReadPeImageBytes(launcher.data(), launcher.size(), &image));
  struct Case {
    const char *what;
    Bytes bytes;
    const char *problem;
  };
  Bytes trailing = launcher;
  trailing.push_back(0);
  // Base relocations that no directory names: .reloc behind .rsrc is then a
  // section that something else may point into.
  Bytes noRelocations = launcher;
  memset(&noRelocations[image.directoriesOffset + 8 * PE_DIRECTORY_BASE_RELOCATION], 0, 8);
  // Headers whose free room holds something: no section header may go there.
  Bytes crowded = java;
  PeImage javaImage;
  ASSERT_TRUE(ReadPeImageBytes(java.data(), java.size(), &javaImage));
  crowded[javaImage.optionalOffset + javaImage.optionalSize + 40 * javaImage.sections.size() + 3] = 1;
  Bytes symbols = launcher;
  symbols[image.peOffset + 12] = 1;
  Case cases[] = {{"text", BytesOf("no program"), "no Windows program"},
                  {"trailing bytes", trailing, "1 bytes behind its last section"},
                  {"no relocations", noRelocations, "stands behind the resource section"},
                  {"crowded headers", crowded, "no room for one more section"},
                  {"symbols", symbols, "symbol table"}};
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes before = c.bytes;
    std::string problem;
    EXPECT_FALSE(ReplaceResources(&c.bytes, Sample(), &problem));
    EXPECT_NE(std::string::npos, problem.find(c.problem)) << problem;
    EXPECT_EQ(before, c.bytes);
  }
}

TEST_F(PeResourcesTest, ReaderRefusesBrokenTrees) {
  PeImage image;
  Bytes good = Rewritten("satchel-launcher.exe", Sample(), &image);
  ASSERT_EQ("", ReadProblem(good));
  const PeSection &resources = image.sections.back();
  size_t root = resources.rawOffset;
  // The root's first entry (named type ADATA), its name and subdirectory.
  size_t entry = root + 16;
  uint32_t nameAt = good[entry] | good[entry + 1] << 8;
  uint32_t typeTable = (good[entry + 4] | good[entry + 5] << 8) & 0x7fff;
  size_t languageTable = root + typeTable;  // whose entry leads one level down
  struct Case {
    const char *what;
    size_t at;
    std::vector<unsigned char> bytes;
    const char *problem;
  } cases[] = {
      {"a table that counts more entries than fit", root + 14, {0xff, 0x7f}, "outside the resource directory"},
      {"a type that leads to a data entry", entry + 7, {0x00}, "not three levels deep"},
      {"a name that leads back to the root", languageTable + 20, {0, 0, 0, 0x80},
       "not three levels deep"},
      {"a name beyond the directory", entry + 2, {0x7f}, "name lies outside"},
      {"a name longer than the directory", root + (nameAt & 0xffff), {0xff, 0xff}, "name lies outside"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes broken = good;
    std::copy(c.bytes.begin(), c.bytes.end(), broken.begin() + c.at);
    EXPECT_NE(std::string::npos, ReadProblem(broken).find(c.problem)) << ReadProblem(broken);
  }
  // Data that lies outside the image: the first data entry's size made huge.
  std::vector<Resource> back;
  std::string problem;
  ASSERT_TRUE(ReadResources(good, image, &back, &problem));
  size_t tables = 0;  // where the data entries begin: behind every table
  for (size_t at = root; at < root + resources.virtualSize && !tables; at += 4) {
    uint32_t rva = good[at] | good[at + 1] << 8 | good[at + 2] << 16 | (uint32_t)good[at + 3] << 24;
    uint32_t size = good[at + 4] | good[at + 5] << 8;
    if (rva > resources.virtualAddress && rva < resources.virtualAddress + resources.virtualSize &&
        size == back[0].data.size())
      tables = at;
  }
  ASSERT_NE(0u, tables);
  Bytes broken = good;
  broken[tables + 6] = 0x7f;
  EXPECT_NE(std::string::npos, ReadProblem(broken).find("resource data")) << ReadProblem(broken);
  // Every data entry naming the whole first section: more than the image
  // holds, all told.
  broken = good;
  const PeSection &first = image.sections[0];
  for (size_t i = 0; i < back.size(); i++) {
    for (int b = 0; b < 4; b++) {
      broken[tables + 16 * i + b] = (unsigned char)(first.virtualAddress >> (8 * b));
      broken[tables + 16 * i + 4 + b] = (unsigned char)(first.rawSize >> (8 * b));
    }
  }
  EXPECT_NE(std::string::npos, ReadProblem(broken).find("adds up to more than")) << ReadProblem(broken);
}

TEST_F(PeResourcesTest, ChecksumTakenInPiecesIsTheChecksumOfTheWhole) {
  Bytes data = NoiseContent(100001, 7);
  PeChecksum whole;
  whole.checksumOffset = 216;
  AddToPeChecksum(&whole, data.data(), data.size());
  for (size_t piece : {1, 2, 3, 215, 217, 4096, 99999}) {
    SCOPED_TRACE(piece);
    PeChecksum pieces;
    pieces.checksumOffset = 216;
    for (size_t at = 0; at < data.size(); at += piece)
      AddToPeChecksum(&pieces, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(FinishPeChecksum(whole), FinishPeChecksum(pieces));
  }
  // The field itself counts as zeros.
  Bytes other = data;
  other[217] ^= 0xff;
  PeChecksum changed;
  changed.checksumOffset = 216;
  AddToPeChecksum(&changed, other.data(), other.size());
  EXPECT_EQ(FinishPeChecksum(whole), FinishPeChecksum(changed));
  other[221] ^= 0xff;
  PeChecksum outside;
  outside.checksumOffset = 216;
  AddToPeChecksum(&outside, other.data(), other.size());
  EXPECT_NE(FinishPeChecksum(whole), FinishPeChecksum(outside));
}

}  // namespace
