#include "tool_test_util.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "payload.h"

Bytes BytesOf(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
  ASSERT_TRUE(out.good()) << path;
}

bool FileExists(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> FolderNames(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &item : std::filesystem::directory_iterator(folder))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<size_t> WriteZip(const std::string &path, const std::vector<ZipTestEntry> &entries) {
  Bytes zip, directory;
  std::vector<size_t> records;
  auto put = [](Bytes *out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out->push_back((unsigned char)(value >> (8 * i)));
  };
  for (const ZipTestEntry &entry : entries) {
    z_stream stream = {};
    deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes data, zeros(1 << 20), out(1 << 20);
    uLong crc = crc32(0, entry.content.data(), (uInt)entry.content.size());
    uint64_t size = entry.content.size() + entry.zeros;
    stream.next_in = const_cast<Bytef *>(entry.content.data());
    stream.avail_in = (uInt)entry.content.size();
    uint64_t zerosLeft = entry.zeros;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
      if (stream.avail_in == 0 && zerosLeft > 0) {
        size_t n = zerosLeft < zeros.size() ? (size_t)zerosLeft : zeros.size();
        crc = crc32(crc, zeros.data(), (uInt)n);
        stream.next_in = zeros.data();
        stream.avail_in = (uInt)n;
        zerosLeft -= n;
      }
      stream.next_out = out.data();
      stream.avail_out = (uInt)out.size();
      result = deflate(&stream, stream.avail_in == 0 && zerosLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
      data.insert(data.end(), out.data(), out.data() + (out.size() - stream.avail_out));
    }
    deflateEnd(&stream);
    // Local header and central directory record: version 2.0, deflated,
    // 1980-01-01 00:00, no extra fields.
    Bytes common;
    put(&common, 20, 2), put(&common, 0, 2), put(&common, 8, 2), put(&common, 0, 2);
    put(&common, 0x21, 2), put(&common, crc, 4), put(&common, data.size(), 4), put(&common, size, 4);
    put(&common, entry.name.size(), 2), put(&common, 0, 2);
    records.push_back(directory.size());
    put(&directory, 0x02014b50, 4), put(&directory, 20, 2);
    directory.insert(directory.end(), common.begin(), common.end());
    put(&directory, 0, 8), put(&directory, 0, 2), put(&directory, zip.size(), 4);
    directory.insert(directory.end(), entry.name.begin(), entry.name.end());
    put(&zip, 0x04034b50, 4);
    zip.insert(zip.end(), common.begin(), common.end());
    zip.insert(zip.end(), entry.name.begin(), entry.name.end());
    zip.insert(zip.end(), data.begin(), data.end());
  }
  for (size_t &record : records) record += zip.size();
  size_t directoryAt = zip.size();
  zip.insert(zip.end(), directory.begin(), directory.end());
  put(&zip, 0x06054b50, 4), put(&zip, 0, 4), put(&zip, entries.size(), 2);
  put(&zip, entries.size(), 2), put(&zip, directory.size(), 4), put(&zip, directoryAt, 4);
  put(&zip, 0, 2);
  WriteBytes(path, zip);
  return records;
}

Bytes TextContent(size_t size, unsigned seed) {
  static const char *words[] = {"satchel", "bundle", "payload", "entry", "stream",
                                "launcher", "header", "table", "deflate", "window"};
  Bytes out;
  uint32_t state = seed * 2654435761u + 1;
  while (out.size() < size) {
    state = state * 1103515245u + 12345u;
    const char *word = words[(state >> 16) % 10];
    out.insert(out.end(), word, word + strlen(word));
    out.push_back((state >> 8) % 7 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes NoiseContent(size_t size, unsigned seed) {
  Bytes out(size);
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 7;
  for (size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    out[i] = (unsigned char)state;
  }
  return out;
}

Bytes Deflate(const Bytes &data, const Bytes &dictionary) {
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  EXPECT_EQ(Z_OK, deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY));
  if (!dictionary.empty()) {
    EXPECT_EQ(Z_OK, deflateSetDictionary(&stream, dictionary.data(), (uInt)dictionary.size()));
  }
  Bytes out(deflateBound(&stream, data.size()) + 64);
  stream.next_in = const_cast<unsigned char *>(data.data());
  stream.avail_in = (uInt)data.size();
  stream.next_out = out.data();
  stream.avail_out = (uInt)out.size();
  EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

Bytes DeflateInBlocks(const Bytes &data, size_t blockSize, const Bytes &dictionary) {
  Bytes out;
  size_t at = 0;
  do {
    size_t size = std::min(blockSize, data.size() - at);
    Bytes window = at == 0 ? dictionary : Bytes(data.begin() + at - std::min<size_t>(at, 32768),
                                                data.begin() + at);
    if (window.size() > 32768) window.erase(window.begin(), window.end() - 32768);
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    EXPECT_EQ(Z_OK, deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY));
    if (!window.empty()) {
      EXPECT_EQ(Z_OK, deflateSetDictionary(&stream, window.data(), (uInt)window.size()));
    }
    bool last = at + size == data.size();
    Bytes piece(deflateBound(&stream, size) + 64);
    stream.next_in = const_cast<unsigned char *>(data.data() + at);
    stream.avail_in = (uInt)size;
    stream.next_out = piece.data();
    stream.avail_out = (uInt)piece.size();
    EXPECT_EQ(last ? Z_STREAM_END : Z_OK, deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH));
    out.insert(out.end(), piece.begin(), piece.begin() + stream.total_out);
    deflateEnd(&stream);
    at += size;
  } while (at < data.size());
  return out;
}

bool Inflate(const Bytes &compressed, const Bytes &dictionary, Bytes *out) {
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (inflateInit2(&stream, -15) != Z_OK) return false;
  if (!dictionary.empty() &&
      inflateSetDictionary(&stream, dictionary.data(), (uInt)dictionary.size()) != Z_OK) {
    inflateEnd(&stream);
    return false;
  }
  out->clear();
  stream.next_in = const_cast<unsigned char *>(compressed.data());
  stream.avail_in = (uInt)compressed.size();
  int result;
  do {
    unsigned char chunk[16384];
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out->insert(out->end(), chunk, chunk + (sizeof chunk - stream.avail_out));
  } while (result == Z_OK);
  inflateEnd(&stream);
  return result == Z_STREAM_END;
}

JavaStages JavaStageDictionaries(const std::string &names, const Bytes &inputStream,
                                 const Bytes &classLoader) {
  JavaStages stages;
  stages.stage1 = BytesOf(names);
  stages.stage2 = stages.stage1;
  stages.stage2.insert(stages.stage2.end(), inputStream.begin(), inputStream.end());
  stages.stage3 = stages.stage2;
  stages.stage3.insert(stages.stage3.end(), classLoader.begin(), classLoader.end());
  return stages;
}

void OpenOrFail(const std::string &path) {
  const char *message = nullptr;
  ASSERT_TRUE(OpenPayloadFile(path.c_str(), &message)) << path << ": " << message;
}

namespace {
void PutU32(Bytes *out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back((unsigned char)(value >> (8 * i)));
}
}  // namespace

Bytes HandBundle(const Bytes &stub, const std::vector<HandEntry> &entries,
                 const std::vector<HandProperty> &properties) {
  // Properties first, then the entries: a record order our writer does not use.
  Bytes toc, data;
  for (const HandProperty &property : properties) {
    toc.push_back(2);
    toc.insert(toc.end(), property.key.begin(), property.key.end());
    toc.push_back(0);
    toc.insert(toc.end(), property.value.begin(), property.value.end());
    toc.push_back(0);
  }
  for (const HandEntry &entry : entries) {
    toc.push_back(1);
    toc.insert(toc.end(), entry.name.begin(), entry.name.end());
    toc.push_back(0);
    PutU32(&toc, (uint32_t)data.size());
    PutU32(&toc, (uint32_t)entry.compressed.size());
    PutU32(&toc, entry.uncompressedSize);
    data.insert(data.end(), entry.compressed.begin(), entry.compressed.end());
  }
  Bytes tocCompressed = Deflate(toc);
  Bytes out = stub;
  // Filler of 0xEE rather than zeros: readers must not care.
  while (out.size() % 512) out.push_back(0xEE);
  Bytes header = BytesOf(PAYLOAD_MAGIC);
  PutU32(&header, (uint32_t)entries.size());
  PutU32(&header, (uint32_t)tocCompressed.size());
  PutU32(&header, (uint32_t)toc.size());
  PutU32(&header, (uint32_t)data.size());
  PutU32(&header, (uint32_t)crc32(0, header.data(), 32));
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), tocCompressed.begin(), tocCompressed.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

namespace {
std::string ReadAll(FILE *file) {
  std::string text;
  rewind(file);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  fclose(file);
  return text;
}
}  // namespace

RunResult RunProgram(const std::vector<std::string> &args, long fileSizeLimit,
                     long addressSpaceLimit) {
  RunResult result;
  FILE *out = tmpfile();
  FILE *err = tmpfile();
  if (!out || !err) return result;
  std::vector<std::string> all = args;
  std::vector<char *> argv;
  for (std::string &arg : all) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    if (fileSizeLimit > 0) {
      // An ignored SIGXFSZ stays ignored across exec: the write fails instead.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {(rlim_t)fileSizeLimit, (rlim_t)fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (addressSpaceLimit > 0) {
      struct rlimit limit = {(rlim_t)addressSpaceLimit, (rlim_t)addressSpaceLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

RunResult RunSatchel(const std::vector<std::string> &args, long fileSizeLimit,
                     long addressSpaceLimit) {
  std::vector<std::string> all = {SATCHEL_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all, fileSizeLimit, addressSpaceLimit);
}

std::string DataFolder() {
  std::string tool = SATCHEL_TOOL;
  return tool.substr(0, tool.rfind('/')) + "/../share/satchel/";
}

Bytes ProgramContent(size_t size, unsigned seed) {
  Bytes program = ReadBytes(DataFolder() + "satchel-bootstrap.exe");
  EXPECT_FALSE(program.empty()) << "the win32 build fills the data folder";
  if (program.size() < size) {
    Bytes text = TextContent(size - program.size(), seed);
    program.insert(program.end(), text.begin(), text.end());
  }
  return program;
}

void ToolTest::SetUp() {
  const char *base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/satchel-tool-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  ASSERT_NE(nullptr, mkdtemp(name.data()));
  dir = name.data();
}

void ToolTest::TearDown() {
  ClosePayload();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

std::string ToolTest::MakeStub(size_t size, const std::string &name) {
  std::string path = Path(name);
  WriteBytes(path, NoiseContent(size, 99));
  return path;
}

std::string ToolTest::CopyRealStub(const std::string &dataName, const std::string &name) {
  Bytes bytes = ReadBytes(DataFolder() + dataName);
  EXPECT_FALSE(bytes.empty()) << DataFolder() + dataName << ": the builds fill the data folder";
  std::string path = Path(name);
  WriteBytes(path, bytes);
  chmod(path.c_str(), 0755);
  return path;
}
