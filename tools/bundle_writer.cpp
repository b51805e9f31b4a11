// Writes bundles: stub, filler, header, table of contents, entries.
//
// Everything is built in memory first (the compressed entries, the table of
// contents, the header), checked against what a reader can use, and only then
// written, through a temporary file that is renamed over the output name once
// it is complete.  zlib's deflate is deterministic for the same input, level,
// window and memLevel, so the same inputs give the same bytes.
#include "bundle_writer.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "payload.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>
#endif

namespace {

const uint64_t kBundleLimit = uint64_t(1) << 31;  // every file offset is a signed 32-bit value
const uint64_t kEntryLimit = uint64_t(1) << 32;   // uncompressedSize is a u32
const size_t kWindowSize = 32768;                 // the inflater keeps this much of a dictionary
const size_t kMaxFileNameUnits = 960;             // what the launcher's path buffers leave for a name

void PutU32(std::vector<unsigned char> *out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back((unsigned char)(value >> (8 * i)));
}

void PutU32At(unsigned char *at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = (unsigned char)(value >> (8 * i));
}

uint32_t GetU32(const unsigned char *at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

std::string Quoted(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

// UTF-8 to code points; false on an ill-formed sequence (overlong forms,
// surrogates and values above U+10FFFF included).
bool DecodeUtf8(const std::string &text, std::vector<uint32_t> *points) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = (unsigned char)text[i];
    uint32_t point;
    size_t more;
    uint32_t least;
    if (c < 0x80) {
      point = c;
      more = 0;
      least = 0;
    } else if ((c & 0xe0) == 0xc0) {
      point = c & 0x1f;
      more = 1;
      least = 0x80;
    } else if ((c & 0xf0) == 0xe0) {
      point = c & 0x0f;
      more = 2;
      least = 0x800;
    } else if ((c & 0xf8) == 0xf0) {
      point = c & 0x07;
      more = 3;
      least = 0x10000;
    } else {
      return false;
    }
    for (size_t k = 1; k <= more; ++k) {
      if (i + k >= text.size()) return false;
      unsigned char d = (unsigned char)text[i + k];
      if ((d & 0xc0) != 0x80) return false;
      point = point << 6 | (d & 0x3f);
    }
    if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) return false;
    points->push_back(point);
    i += more + 1;
  }
  return true;
}

#ifdef _WIN32
std::wstring Widen(const std::string &text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n);
  return out;
}
#endif

// Upper case of one code point, as a case-insensitive file system compares.
uint32_t UpperCase(uint32_t point) {
  if (point < 0x80) return (point >= 'a' && point <= 'z') ? point - 32 : point;
#ifdef _WIN32
  if (point > 0xffff) return point;
  wchar_t in = (wchar_t)point, out = in;
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1) return point;
  return (uint32_t)out;
#else
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
  if (!utf8) return point;
  return (uint32_t)towupper_l((wint_t)point, utf8);
#endif
}

std::string ErrnoText(int error) { return strerror(error); }

void RemoveFile(const std::string &path) {
#ifdef _WIN32
  _wremove(Widen(path).c_str());
#else
  unlink(path.c_str());
#endif
}

int64_t StubSize(FILE *file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  int64_t size = _ftelli64(file);
  if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
#else
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  int64_t size = (int64_t)ftello(file);
  if (fseeko(file, 0, SEEK_SET) != 0) return -1;
#endif
  return size;
}

// Passes the stub's bytes, from its start, to `sink` in pieces that begin at
// 512-byte boundaries, checking on the way that no block start holds a header
// with the magic and a matching CRC: a reader would take that one and never
// see the new payload.  Returns 0 when done, 1 on such a header, -1 when
// reading fails, -2 when the sink failed.
int PassStub(FILE *stub, int64_t size, bool (*sink)(const unsigned char *, size_t, void *),
             void *context) {
  static unsigned char buffer[64 * PAYLOAD_BLOCK_SIZE];
  int64_t done = 0;
  if (fseek(stub, 0, SEEK_SET) != 0) return -1;
  while (done < size) {
    size_t want = size - done < (int64_t)sizeof buffer ? (size_t)(size - done) : sizeof buffer;
    if (fread(buffer, 1, want, stub) != want) return -1;
    for (size_t at = 0; at + PAYLOAD_HEADER_SIZE <= want; at += PAYLOAD_BLOCK_SIZE) {
      const unsigned char *block = buffer + at;
      if (memcmp(block, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) == 0 &&
          crc32(0, block, 32) == GetU32(block + 32))
        return 1;
    }
    if (sink && !sink(buffer, want, context)) return -2;
    done += (int64_t)want;
  }
  return 0;
}

// The last `kWindowSize` bytes of a + b + c: all that the inflater keeps of a
// dictionary, and all that deflateSetDictionary uses of one.
std::vector<unsigned char> DictionaryTail(const std::vector<unsigned char> &a,
                                          const std::vector<unsigned char> &b,
                                          const std::vector<unsigned char> &c) {
  std::vector<unsigned char> out;
  const std::vector<unsigned char> *parts[3] = {&c, &b, &a};
  size_t need = kWindowSize;
  // Collect from the back, then reverse the order of the pieces.
  std::vector<std::pair<const unsigned char *, size_t>> pieces;
  for (const std::vector<unsigned char> *part : parts) {
    if (need == 0) break;
    size_t take = part->size() < need ? part->size() : need;
    pieces.push_back({part->data() + part->size() - take, take});
    need -= take;
  }
  for (size_t i = pieces.size(); i-- > 0;)
    out.insert(out.end(), pieces[i].first, pieces[i].first + pieces[i].second);
  return out;
}

const BundleFile *FirstFileNamed(const BundleContents &contents, const char *name) {
  for (const BundleFile &file : contents.files)
    if (file.name == name) return &file;
  return nullptr;
}

bool CheckContents(const std::string &outPath, const BundleContents &contents,
                   std::string *error) {
  for (const BundleFile &file : contents.files) {
    if (file.name.find('\0') != std::string::npos) {
      *error = outPath + ": entry name " + Quoted(file.name) + " holds a NUL byte";
      return false;
    }
    if (file.content.size() >= kEntryLimit) {
      *error = outPath + ": entry " + Quoted(file.name) + " is 4 GiB or larger";
      return false;
    }
  }
  const std::string *msi = nullptr, *exe = nullptr;
  for (const BundleProperty &property : contents.properties) {
    if (property.key.find('\0') != std::string::npos) {
      *error = outPath + ": property key " + Quoted(property.key) + " holds a NUL byte";
      return false;
    }
    if (property.key.size() >= PAYLOAD_KEY_FIELD_SIZE) {
      *error = outPath + ": property key " + Quoted(property.key) + " is " +
               std::to_string(property.key.size()) + " bytes long; keys are limited to " +
               std::to_string(PAYLOAD_KEY_FIELD_SIZE - 1) + " bytes";
      return false;
    }
    if (property.value.find('\0') != std::string::npos) {
      *error = outPath + ": value of property " + Quoted(property.key) + " holds a NUL byte";
      return false;
    }
    if (property.key == "msi" || property.key == "exe") {
      std::string reason;
      if (!IsPlainWindowsFileName(property.value, &reason)) {
        *error = outPath + ": property " + Quoted(property.key) + " = " +
                 Quoted(property.value) + " is not a plain Windows file name: " + reason;
        return false;
      }
      (property.key == "msi" ? msi : exe) = &property.value;
    }
  }
  // The launcher reads the last value of each key; any earlier one is dead.
  if (msi && exe && SameFileNameIgnoringCase(*msi, *exe)) {
    *error = outPath + ": the msi name " + Quoted(*msi) + " and the exe name " + Quoted(*exe) +
             " are the same file name when case is ignored";
    return false;
  }
  return true;
}

#ifndef _WIN32
mode_t CurrentUmask() {
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}
#endif

bool BeginAtomicOutputWithMode(const std::string &path, int mode, AtomicOutput *output,
                               std::string *error) {
  output->path = path;
  output->tempPath.clear();
  output->file = nullptr;
#ifdef _WIN32
  (void)mode;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = path + ".tmp" + std::to_string(_getpid()) + "-" + std::to_string(counter++);
    int fd = _wopen(Widen(temp).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = path + ": cannot create a temporary file beside it: " + ErrnoText(errno);
      return false;
    }
    output->file = _fdopen(fd, "wb");
    if (!output->file) {
      int saved = errno;
      _close(fd);
      RemoveFile(temp);
      *error = path + ": " + ErrnoText(saved);
      return false;
    }
    output->tempPath = temp;
    return true;
  }
  *error = path + ": cannot create a temporary file beside it";
  return false;
#else
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = path + ": cannot create a temporary file beside it: " + ErrnoText(errno);
    return false;
  }
  fchmod(fd, (mode_t)mode & ~CurrentUmask());
  output->file = fdopen(fd, "wb");
  if (!output->file) {
    int saved = errno;
    close(fd);
    unlink(name.data());
    *error = path + ": " + ErrnoText(saved);
    return false;
  }
  output->tempPath = name.data();
  return true;
#endif
}

}  // namespace

bool BeginAtomicOutput(const std::string &path, AtomicOutput *output, std::string *error) {
  return BeginAtomicOutputWithMode(path, 0666, output, error);
}

bool WriteAtomicOutput(AtomicOutput *output, const void *data, size_t size, std::string *error) {
  if (!output->file) {
    *error = output->path + ": not open for writing";
    return false;
  }
  if (size && fwrite(data, 1, size, output->file) != size) {
    int saved = errno;
    *error = output->path + ": write failed: " + ErrnoText(saved);
    AbortAtomicOutput(output);
    return false;
  }
  return true;
}

bool CommitAtomicOutput(AtomicOutput *output, std::string *error) {
  if (!output->file) {
    *error = output->path + ": not open for writing";
    return false;
  }
  FILE *file = output->file;
  output->file = nullptr;
  bool written = fflush(file) == 0;
  int saved = errno;
#ifndef _WIN32
  if (written && fsync(fileno(file)) != 0) {
    written = false;
    saved = errno;
  }
#endif
  if (fclose(file) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written) {
    *error = output->path + ": write failed: " + ErrnoText(saved);
    RemoveFile(output->tempPath);
    return false;
  }
#ifdef _WIN32
  if (!MoveFileExW(Widen(output->tempPath).c_str(), Widen(output->path).c_str(),
                   MOVEFILE_REPLACE_EXISTING)) {
    *error = output->path + ": cannot replace it (Windows error " +
             std::to_string(GetLastError()) + ")";
    RemoveFile(output->tempPath);
    return false;
  }
#else
  if (rename(output->tempPath.c_str(), output->path.c_str()) != 0) {
    *error = output->path + ": cannot rename the finished file into place: " + ErrnoText(errno);
    RemoveFile(output->tempPath);
    return false;
  }
#endif
  return true;
}

void AbortAtomicOutput(AtomicOutput *output) {
  if (output->file) {
    fclose(output->file);
    output->file = nullptr;
  }
  if (!output->tempPath.empty()) RemoveFile(output->tempPath);
  output->tempPath.clear();
}

bool DeflateRaw(const unsigned char *data, uint64_t size, const unsigned char *dictionary,
                size_t dictionaryLength, std::vector<unsigned char> *out) {
  out->clear();
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  if (dictionaryLength > 0) {
    // deflateSetDictionary keeps only the window's worth at the end, as the
    // inflater does; hand it no more than that.
    if (dictionaryLength > kWindowSize) {
      dictionary += dictionaryLength - kWindowSize;
      dictionaryLength = kWindowSize;
    }
    if (deflateSetDictionary(&stream, dictionary, (uInt)dictionaryLength) != Z_OK) {
      deflateEnd(&stream);
      return false;
    }
  }
  // Room for the whole result at once for all but huge inputs; beyond that
  // the output grows a chunk at a time.
  uint64_t bound = deflateBound(&stream, size > (1u << 30) ? (1u << 30) : (uLong)size);
  const size_t kChunk = bound < (1u << 20) ? (size_t)bound : (1u << 20);
  uint64_t left = size;
  const unsigned char *next = data;
  int result = Z_OK;
  do {
    if (stream.avail_in == 0 && left > 0) {
      uInt take = left > (1u << 30) ? (1u << 30) : (uInt)left;
      stream.next_in = (Bytef *)next;
      stream.avail_in = take;
      next += take;
      left -= take;
    }
    size_t used = out->size();
    if (used + kChunk >= kBundleLimit + kChunk) {
      deflateEnd(&stream);
      return false;
    }
    out->resize(used + kChunk);
    stream.next_out = out->data() + used;
    stream.avail_out = (uInt)kChunk;
    result = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    out->resize(used + kChunk - stream.avail_out);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      deflateEnd(&stream);
      return false;
    }
  } while (result != Z_STREAM_END);
  deflateEnd(&stream);
  return out->size() < kBundleLimit;
}

std::vector<unsigned char> DictionaryForEntry(const BundleContents &contents,
                                              const std::string &name) {
  std::vector<unsigned char> dictionary;
  if (contents.dictionaries != BundleDictionaries::Java) return dictionary;
  for (const BundleFile &file : contents.files)
    dictionary.insert(dictionary.end(), file.name.begin(), file.name.end());
  if (name == PAYLOAD_INPUT_STREAM_ENTRY) return dictionary;
  // The reader defines the first entry of each name; that one's bytes grow
  // the dictionary.
  const BundleFile *inputStream = FirstFileNamed(contents, PAYLOAD_INPUT_STREAM_ENTRY);
  if (inputStream)
    dictionary.insert(dictionary.end(), inputStream->content.begin(), inputStream->content.end());
  if (name == PAYLOAD_CLASS_LOADER_ENTRY) return dictionary;
  const BundleFile *classLoader = FirstFileNamed(contents, PAYLOAD_CLASS_LOADER_ENTRY);
  if (classLoader)
    dictionary.insert(dictionary.end(), classLoader->content.begin(), classLoader->content.end());
  return dictionary;
}

namespace {
bool WriteBundleFrom(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     std::string *error);
}  // namespace

bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, std::string *error) {
  error->clear();
  if (!CheckContents(outPath, contents, error)) return false;

  FILE *stub = OpenFileForReading(stubPath);
  if (!stub) {
    *error = stubPath + ": cannot open: " + ErrnoText(errno);
    return false;
  }
  int64_t stubSize = StubSize(stub);
  if (stubSize < 0) {
    *error = stubPath + ": cannot determine its size";
    fclose(stub);
    return false;
  }
  bool written = WriteBundleFrom(stub, (uint64_t)stubSize, stubPath, outPath, contents, error);
  fclose(stub);
  return written;
}

namespace {

struct StubSink {
  AtomicOutput *output;
  std::string *error;
};

bool WriteStubPiece(const unsigned char *data, size_t size, void *context) {
  StubSink *sink = static_cast<StubSink *>(context);
  return WriteAtomicOutput(sink->output, data, size, sink->error);
}

bool WriteBundleFrom(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     std::string *error) {
  uint64_t headerOffset =
      (stubSize + PAYLOAD_BLOCK_SIZE - 1) / PAYLOAD_BLOCK_SIZE * PAYLOAD_BLOCK_SIZE;
  if (headerOffset + PAYLOAD_HEADER_SIZE >= kBundleLimit) {
    *error = outPath + ": the stub alone is " + std::to_string(stubSize) +
             " bytes; the bundle would be 2 GiB or larger and a launcher cannot read it";
    return false;
  }

  // The three dictionary stages, cut to the window: built once, not per entry.
  std::vector<unsigned char> stage1, stage2, stage3;
  if (contents.dictionaries == BundleDictionaries::Java) {
    std::vector<unsigned char> names, none;
    for (const BundleFile &file : contents.files)
      names.insert(names.end(), file.name.begin(), file.name.end());
    const BundleFile *inputStream = FirstFileNamed(contents, PAYLOAD_INPUT_STREAM_ENTRY);
    const BundleFile *classLoader = FirstFileNamed(contents, PAYLOAD_CLASS_LOADER_ENTRY);
    const std::vector<unsigned char> &first = inputStream ? inputStream->content : none;
    const std::vector<unsigned char> &second = classLoader ? classLoader->content : none;
    stage1 = DictionaryTail(names, none, none);
    stage2 = DictionaryTail(names, first, none);
    stage3 = DictionaryTail(names, first, second);
  }

  // Entries back to back in table order, the first at offset 0.
  std::vector<std::vector<unsigned char>> compressed(contents.files.size());
  uint64_t entryDataSize = 0;
  std::vector<unsigned char> toc;
  for (size_t i = 0; i < contents.files.size(); ++i) {
    const BundleFile &file = contents.files[i];
    const std::vector<unsigned char> *dictionary = &stage3;
    if (file.name == PAYLOAD_INPUT_STREAM_ENTRY)
      dictionary = &stage1;
    else if (file.name == PAYLOAD_CLASS_LOADER_ENTRY)
      dictionary = &stage2;
    if (!DeflateRaw(file.content.data(), file.content.size(), dictionary->data(),
                    dictionary->size(), &compressed[i])) {
      *error = outPath + ": entry " + Quoted(file.name) +
               " cannot be compressed into a bundle below 2 GiB";
      return false;
    }
    if (entryDataSize + compressed[i].size() >= kBundleLimit) {
      *error = outPath + ": the bundle would be 2 GiB or larger; a launcher cannot read it";
      return false;
    }
    toc.push_back(PAYLOAD_TOC_FILE_ENTRY);
    toc.insert(toc.end(), file.name.begin(), file.name.end());
    toc.push_back(0);
    PutU32(&toc, (uint32_t)entryDataSize);
    PutU32(&toc, (uint32_t)compressed[i].size());
    PutU32(&toc, (uint32_t)file.content.size());
    entryDataSize += compressed[i].size();
  }
  for (const BundleProperty &property : contents.properties) {
    toc.push_back(PAYLOAD_TOC_PROPERTY);
    toc.insert(toc.end(), property.key.begin(), property.key.end());
    toc.push_back(0);
    toc.insert(toc.end(), property.value.begin(), property.value.end());
    toc.push_back(0);
  }
  if (toc.size() >= kBundleLimit) {
    *error = outPath + ": the bundle would be 2 GiB or larger; a launcher cannot read it";
    return false;
  }
  std::vector<unsigned char> tocCompressed;
  if (!DeflateRaw(toc.data(), toc.size(), nullptr, 0, &tocCompressed)) {
    *error = outPath + ": the table of contents cannot be compressed";
    return false;
  }
  uint64_t total = headerOffset + PAYLOAD_HEADER_SIZE + tocCompressed.size() + entryDataSize;
  if (total >= kBundleLimit) {
    *error = outPath + ": the bundle would be " + std::to_string(total) +
             " bytes, 2 GiB or larger; a launcher cannot read it";
    return false;
  }

  unsigned char header[PAYLOAD_HEADER_SIZE];
  memcpy(header, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE);
  PutU32At(header + 16, (uint32_t)contents.files.size());
  PutU32At(header + 20, (uint32_t)tocCompressed.size());
  PutU32At(header + 24, (uint32_t)toc.size());
  PutU32At(header + 28, (uint32_t)entryDataSize);
  PutU32At(header + 32, (uint32_t)crc32(0, header, 32));

  // The stub is checked before anything is written: a stub that carries a
  // payload of its own would hide the new one.
  int passed = PassStub(stub, (int64_t)stubSize, nullptr, nullptr);
  if (passed != 0) {
    *error = passed > 0 ? stubPath + ": the stub already carries a payload (a reader would find "
                                     "that one first); use a bare launcher stub"
                        : stubPath + ": read failed";
    return false;
  }

  AtomicOutput output;
  if (!BeginAtomicOutputWithMode(outPath, 0777, &output, error)) return false;
  static const unsigned char zeros[PAYLOAD_BLOCK_SIZE] = {0};
  StubSink sink = {&output, error};
  passed = PassStub(stub, (int64_t)stubSize, WriteStubPiece, &sink);
  if (passed != 0) {
    if (passed != -2) *error = stubPath + ": read failed or the stub changed while it was read";
    AbortAtomicOutput(&output);
    return false;
  }
  bool ok = WriteAtomicOutput(&output, zeros, headerOffset - stubSize, error) &&
            WriteAtomicOutput(&output, header, sizeof header, error) &&
            WriteAtomicOutput(&output, tocCompressed.data(), tocCompressed.size(), error);
  for (size_t i = 0; ok && i < compressed.size(); ++i)
    ok = WriteAtomicOutput(&output, compressed[i].data(), compressed[i].size(), error);
  if (!ok) {
    AbortAtomicOutput(&output);
    return false;
  }
  return CommitAtomicOutput(&output, error);
}

}  // namespace

bool IsPlainWindowsFileName(const std::string &name, std::string *reason) {
  if (name.empty()) {
    *reason = "the name is empty";
    return false;
  }
  if (name == "." || name == "..") {
    *reason = "\".\" and \"..\" name folders, not files";
    return false;
  }
  std::vector<uint32_t> points;
  if (!DecodeUtf8(name, &points)) {
    *reason = "the name is not well-formed UTF-8";
    return false;
  }
  size_t units = 0;
  for (uint32_t point : points) {
    if (point < 0x20 || (point >= 0x7f && point <= 0x9f)) {
      *reason = "the name holds a control character";
      return false;
    }
    if (point < 0x80 && strchr("\\/:*?\"<>|", (int)point)) {
      *reason = std::string("the name holds the character '") + (char)point + "'";
      return false;
    }
    units += point > 0xffff ? 2 : 1;
  }
  char last = name.back();
  if (last == '.' || last == ' ') {
    *reason = last == '.' ? "the name ends with a dot" : "the name ends with a space";
    return false;
  }
  if (units > kMaxFileNameUnits) {
    *reason = "the name is " + std::to_string(units) + " UTF-16 code units long; at most " +
              std::to_string(kMaxFileNameUnits) + " fit";
    return false;
  }
  // Device names are reserved in every folder, also with an extension
  // ("con.txt") and with spaces before the extension.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::string upper;
  for (char c : base) upper += (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
  bool reserved = upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
                  upper == "CONIN$" || upper == "CONOUT$";
  if (!reserved && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
    std::string digit = upper.substr(3);
    reserved = (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') ||
               digit == "\xc2\xb9" || digit == "\xc2\xb2" || digit == "\xc2\xb3";
  }
  if (reserved) {
    *reason = "\"" + base + "\" is a reserved device name";
    return false;
  }
  return true;
}

bool SameFileNameIgnoringCase(const std::string &a, const std::string &b) {
  std::vector<uint32_t> x, y;
  if (!DecodeUtf8(a, &x) || !DecodeUtf8(b, &y)) return a == b;
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (UpperCase(x[i]) != UpperCase(y[i])) return false;
  return true;
}

bool ReadWholeFile(const std::string &path, std::vector<unsigned char> *content,
                   std::string *error) {
  content->clear();
  FILE *file = OpenFileForReading(path);
  if (!file) {
    *error = path + ": cannot open: " + ErrnoText(errno);
    return false;
  }
  // Room for the whole file at once when its size can be told.
  if (fseek(file, 0, SEEK_END) == 0) {
    long size = ftell(file);
    if (size > 0 && (uint64_t)size < kEntryLimit) content->reserve((size_t)size);
    rewind(file);
  }
  unsigned char buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
    content->insert(content->end(), buffer, buffer + n);
    if (content->size() >= kEntryLimit) {
      fclose(file);
      *error = path + ": the file is 4 GiB or larger";
      return false;
    }
  }
  bool failed = ferror(file) != 0;
  int saved = errno;
  fclose(file);
  if (failed) {
    *error = path + ": read failed: " + ErrnoText(saved);
    return false;
  }
  return true;
}

std::string PathFileName(const std::string &path) {
#ifdef _WIN32
  size_t cut = path.find_last_of("/\\:");
#else
  size_t cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

FILE *OpenFileForReading(const std::string &path) {
#ifdef _WIN32
  return _wfopen(Widen(path).c_str(), L"rb");
#else
  return fopen(path.c_str(), "rb");
#endif
}
