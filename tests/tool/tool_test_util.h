// Helpers of the tool tests: a scratch folder per test, files, running the
// satchel program, and bundles put together byte by byte (not by our writer).
#ifndef SATCHEL_TOOL_TEST_UTIL_H
#define SATCHEL_TOOL_TEST_UTIL_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const std::string &text);
Bytes ReadBytes(const std::string &path);
void WriteBytes(const std::string &path, const Bytes &bytes);
bool FileExists(const std::string &path);
// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string &folder);

// Text that compresses well and differs with the seed.
Bytes TextContent(size_t size, unsigned seed);
// Bytes that do not compress.
Bytes NoiseContent(size_t size, unsigned seed);

// Raw deflate at level 9 with an optional preset dictionary.
Bytes Deflate(const Bytes &data, const Bytes &dictionary = Bytes());
// The same stream made of pieces of `blockSize` bytes, each deflated on its
// own with the 32 KiB before it (the dictionary before the first) preset and
// ended on a byte boundary with a sync flush, the last with the stream's end:
// how a parallel compressor cuts a stream, done here with zlib alone.
Bytes DeflateInBlocks(const Bytes &data, size_t blockSize, const Bytes &dictionary = Bytes());
// Raw inflate of a whole stream; false when zlib fails.
bool Inflate(const Bytes &compressed, const Bytes &dictionary, Bytes *out);

// The three preset dictionaries of a Java bundle: the names, then the input
// stream class behind them, then the class loader behind that.
struct JavaStages {
  Bytes stage1, stage2, stage3;
};
JavaStages JavaStageDictionaries(const std::string &names, const Bytes &inputStream,
                                 const Bytes &classLoader);

// Opens the bundle through the payload library; a fatal failure unless it opens.
void OpenOrFail(const std::string &path);

// A bundle put together by hand: entries carry their compressed bytes as
// given, so that a test can store what our writer never would.
struct HandEntry {
  std::string name;
  Bytes compressed;
  uint32_t uncompressedSize;
};
struct HandProperty {
  std::string key, value;
};
Bytes HandBundle(const Bytes &stub, const std::vector<HandEntry> &entries,
                 const std::vector<HandProperty> &properties);

// A zip archive (a jar) written by hand: each entry deflated at level 1,
// its bytes given, or else `zeros` zero bytes streamed through zlib (never
// held).  Returns the offset of each entry's central directory record.
struct ZipTestEntry {
  std::string name;
  Bytes content;
  uint64_t zeros = 0;
};
std::vector<size_t> WriteZip(const std::string &path, const std::vector<ZipTestEntry> &entries);

struct RunResult {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out, err;
};
// Runs a program (args[0], a path) with these arguments (no shell expansion).
// With a file size limit, writes beyond it fail (EFBIG) instead of succeeding;
// with an address space limit, so do allocations beyond it.
RunResult RunProgram(const std::vector<std::string> &args, long fileSizeLimit = 0,
                     long addressSpaceLimit = 0);
// The same for the satchel program.
RunResult RunSatchel(const std::vector<std::string> &args, long fileSizeLimit = 0,
                     long addressSpaceLimit = 0);

// The build tree's data folder, beside the tool's folder as in an install,
// with a trailing slash: the real stubs that the builds made.
std::string DataFolder();

// A real Windows program for a bundle's exe, at least `size` bytes long: the
// ready i686 bootstrap of the data folder, then (to make up the size) text
// that differs with the seed behind its last section, where Windows reads
// nothing.  A fatal failure in the test when the builds did not make it.
Bytes ProgramContent(size_t size, unsigned seed);

// A fresh scratch folder per test, removed afterwards.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string &name) const { return dir + "/" + name; }
  // A launcher stub of `size` bytes of noise.
  std::string MakeStub(size_t size, const std::string &name = "stub.bin");
  // A copy of the real stub `dataName` of the data folder under `name`; a
  // fatal failure when the builds did not make it.
  std::string CopyRealStub(const std::string &dataName, const std::string &name);
  std::string dir;
};

#endif  // SATCHEL_TOOL_TEST_UTIL_H
