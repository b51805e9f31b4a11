// Writes bundles: stub, filler, header, table of contents, entries.
//
// The stub is checked first.  Then the entries are compressed in blocks on
// every thread asked for (block_deflate.h), in table order into a scratch
// file beside the output, with each entry's CRC-32 taken from the same bytes;
// the table of contents (offsets, sizes, checksums) and the header follow
// from that.  Only then is anything written under the output's name: stub,
// filler, header and table through a temporary file, the entries copied
// behind them from the scratch file, and the temporary file renamed over the
// output once complete.  Each block's compressed bytes follow from its own
// bytes, the window before it and the level alone, so the same inputs give
// the same bundle whatever the number of threads.
#include "bundle_writer.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "block_deflate.h"
#include "file_names.h"
#include "pe_resources.h"
#include "payload.h"
#include "pe_image.h"
#include "progress_line.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const uint64_t kBundleLimit = PAYLOAD_SIZE_LIMIT;
const uint64_t kEntryLimit = PAYLOAD_ENTRY_SIZE_LIMIT;
const size_t kWindowSize = PAYLOAD_DICTIONARY_WINDOW;

void PutU32(std::vector<unsigned char> *out, uint32_t value) {
  unsigned char bytes[4];
  WriteU32LE(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

// A name, key or value as the messages show it: escaped, between quotes.
std::string Quoted(const std::string &text) { return "\"" + Shown(text) + "\""; }


int64_t StubSize(FILE *file) {
  int64_t size = FileSize(file);
  if (size < 0 || !SeekFile(file, 0)) return -1;
  return size;
}

// Passes the stub's bytes, from its start, to `sink` in pieces that begin at
// 512-byte boundaries, checking on the way that no block start holds a header
// with the magic and a matching CRC: a reader would take that one and never
// see the new payload.  Returns 0 when done, 1 on such a header, -1 when
// reading fails, -2 when the sink failed.
// True when a 512-byte block start of `bytes` (a piece that begins at such a
// boundary) holds a header with the magic and a matching CRC.
bool HoldsHeader(const unsigned char *bytes, size_t size) {
  for (size_t at = 0; at + PAYLOAD_HEADER_SIZE <= size; at += PAYLOAD_BLOCK_SIZE) {
    PayloadHeader found;
    if (DecodePayloadHeader(bytes + at, &found) == PAYLOAD_HEADER_FOUND) return true;
  }
  return false;
}

int PassStub(FILE *stub, int64_t size, bool (*sink)(const unsigned char *, size_t, void *),
             void *context) {
  static unsigned char buffer[64 * PAYLOAD_BLOCK_SIZE];
  int64_t done = 0;
  if (fseek(stub, 0, SEEK_SET) != 0) return -1;
  while (done < size) {
    size_t want = size - done < (int64_t)sizeof buffer ? (size_t)(size - done) : sizeof buffer;
    if (fread(buffer, 1, want, stub) != want) return -1;
    if (HoldsHeader(buffer, want)) return 1;
    if (sink && !sink(buffer, want, context)) return -2;
    done += (int64_t)want;
  }
  return 0;
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
      *error = MessageText(TOOL_MSG_ENTRY_NAME_NUL, outPath.c_str(), Quoted(file.name).c_str());
      return false;
    }
    bool fromSource = file.sourceEntry != kNoEntrySource;
    if (file.content.size() >= kEntryLimit || (fromSource && file.sourceSize >= kEntryLimit)) {
      *error = MessageText(TOOL_MSG_ENTRY_TOO_LARGE, outPath.c_str(), Quoted(file.name).c_str());
      return false;
    }
    if (!file.path.empty() || fromSource) {
      uint64_t size = 0;
      if (!file.path.empty() && !CheckInputFile(file.path, &size, error)) return false;
      if (fromSource && !contents.source) {
        *error = MessageText(TOOL_MSG_ENTRY_WITHOUT_SOURCE, outPath.c_str(), Quoted(file.name).c_str());
        return false;
      }
      if (contents.dictionaries == BundleDictionaries::Java &&
          (file.name == PAYLOAD_INPUT_STREAM_ENTRY || file.name == PAYLOAD_CLASS_LOADER_ENTRY)) {
        *error = MessageText(TOOL_MSG_ENTRY_GROWS_DICTIONARY,
                             (fromSource ? outPath : file.path).c_str(), Quoted(file.name).c_str());
        return false;
      }
    }
  }
  const std::string *msi = nullptr, *exe = nullptr;
  for (const BundleProperty &property : contents.properties) {
    if (property.key.find('\0') != std::string::npos) {
      *error = MessageText(TOOL_MSG_KEY_NUL, outPath.c_str(), Quoted(property.key).c_str());
      return false;
    }
    if (property.key.size() >= PAYLOAD_KEY_FIELD_SIZE) {
      *error = MessageText(TOOL_MSG_KEY_TOO_LONG, outPath.c_str(), Quoted(property.key).c_str(),
                           property.key.size(), PAYLOAD_KEY_FIELD_SIZE - 1);
      return false;
    }
    if (property.value.find('\0') != std::string::npos) {
      *error = MessageText(TOOL_MSG_VALUE_NUL, outPath.c_str(), Quoted(property.key).c_str());
      return false;
    }
    if (property.key == PAYLOAD_CHECKSUM_KEY) {
      *error = MessageText(TOOL_MSG_KEY_RESERVED, outPath.c_str(), Quoted(property.key).c_str());
      return false;
    }
    if (property.key == PAYLOAD_MSI_KEY || property.key == PAYLOAD_EXE_KEY) {
      std::string reason;
      if (!IsPlainWindowsFileName(property.value, &reason)) {
        *error = MessageText(TOOL_MSG_BUNDLE_PROPERTY_NOT_PLAIN, outPath.c_str(),
                             Shown(property.key).c_str(), Shown(property.value).c_str(),
                             reason.c_str());
        return false;
      }
      (property.key == PAYLOAD_MSI_KEY ? msi : exe) = &property.value;
    }
  }
  // The launcher reads the last value of each key; any earlier one is dead.
  if (msi && exe && SameFileNameIgnoringCase(*msi, *exe)) {
    *error = MessageText(TOOL_MSG_BUNDLE_MSI_EXE_SAME_NAME, outPath.c_str(), Shown(*msi).c_str(),
                         Shown(*exe).c_str());
    return false;
  }
  return true;
}

}  // namespace

namespace {

// Where the bytes of one deflate stream come from: memory, or an open file
// read to its end.  Every byte handed to zlib is counted and taken into the
// CRC-32 on the way, so the checksum is of exactly the bytes compressed.
struct DeflateSource {
  const unsigned char *data = nullptr;  // in memory: the bytes not yet handed on
  uint64_t left = 0;
  FILE *file = nullptr;                 // else this file, from where it stands
  unsigned char *buffer = nullptr;      // holding the piece last read from it
  size_t bufferSize = 0;
  uint64_t taken = 0;                   // bytes handed on so far
  uLong crc = 0;                        // their CRC-32
  bool readFailed = false;
};

// Points the stream at the source's next piece; false at the end, and on a
// read failure (readFailed).
bool NextPiece(DeflateSource *source, z_stream *stream) {
  const unsigned char *piece;
  size_t size;
  if (source->file) {
    size = fread(source->buffer, 1, source->bufferSize, source->file);
    if (size == 0) {
      source->readFailed = ferror(source->file) != 0;
      return false;
    }
    piece = source->buffer;
  } else {
    if (source->left == 0) return false;
    size = source->left > (1u << 30) ? (size_t)(1u << 30) : (size_t)source->left;
    piece = source->data;
    source->data += size;
    source->left -= size;
  }
  source->crc = crc32(source->crc, piece, (uInt)size);
  source->taken += size;
  stream->next_in = const_cast<Bytef *>(piece);
  stream->avail_in = (uInt)size;
  return true;
}

enum DeflateOutcome { kDeflated, kZlibFailed, kReadFailed, kTooLarge, kSinkFailed };

typedef bool (*DeflateSink)(const unsigned char *data, size_t size, void *context);

// Raw deflate (window bits -15) at level 9, memLevel 9, with the dictionary's
// last window of bytes preset when it is not empty, of everything `source`
// holds.  The compressed bytes go to `sink` 64 KiB at a time, and *produced
// counts them; the stream stops with kTooLarge as soon as they reach `limit`.
DeflateOutcome DeflateToSink(DeflateSource *source, const unsigned char *dictionary,
                             size_t dictionaryLength, uint64_t limit, DeflateSink sink,
                             void *context, uint64_t *produced) {
  *produced = 0;
  source->crc = crc32(0, nullptr, 0);
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    return kZlibFailed;
  if (dictionaryLength > 0) {
    // deflateSetDictionary keeps only the window's worth at the end, as the
    // inflater does; hand it no more than that.
    if (dictionaryLength > kWindowSize) {
      dictionary += dictionaryLength - kWindowSize;
      dictionaryLength = kWindowSize;
    }
    if (deflateSetDictionary(&stream, dictionary, (uInt)dictionaryLength) != Z_OK) {
      deflateEnd(&stream);
      return kZlibFailed;
    }
  }
  unsigned char out[1 << 16];
  bool more = true;  // the source may still hold bytes
  DeflateOutcome outcome = kDeflated;
  int result;
  do {
    // Feed the next piece once zlib has taken the last; at the end, finish.
    if (stream.avail_in == 0 && more) more = NextPiece(source, &stream);
    if (source->readFailed) {
      outcome = kReadFailed;
      break;
    }
    stream.next_out = out;
    stream.avail_out = sizeof out;
    result = deflate(&stream, more ? Z_NO_FLUSH : Z_FINISH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      outcome = kZlibFailed;
      break;
    }
    size_t got = sizeof out - stream.avail_out;
    *produced += got;
    if (*produced >= limit) {
      outcome = kTooLarge;
      break;
    }
    if (got > 0 && !sink(out, got, context)) {
      outcome = kSinkFailed;
      break;
    }
  } while (result != Z_STREAM_END);
  deflateEnd(&stream);
  return outcome;
}

bool AppendToVector(const unsigned char *data, size_t size, void *context) {
  std::vector<unsigned char> *out = static_cast<std::vector<unsigned char> *>(context);
  out->insert(out->end(), data, data + size);
  return true;
}

}  // namespace

bool DeflateRaw(const unsigned char *data, uint64_t size, const unsigned char *dictionary,
                size_t dictionaryLength, std::vector<unsigned char> *out) {
  out->clear();
  DeflateSource source;
  source.data = data;
  source.left = size;
  uint64_t produced = 0;
  return DeflateToSink(&source, dictionary, dictionaryLength, kBundleLimit, AppendToVector, out,
                       &produced) == kDeflated;
}

JavaDictionaryStages BuildJavaDictionaryStages(const BundleContents &contents) {
  JavaDictionaryStages stages;
  if (contents.dictionaries != BundleDictionaries::Java) return stages;
  for (const BundleFile &file : contents.files)
    stages.stage1.insert(stages.stage1.end(), file.name.begin(), file.name.end());
  // The reader defines the first entry of each name; that one's bytes grow
  // the dictionary.
  stages.stage2 = stages.stage1;
  const BundleFile *inputStream = FirstFileNamed(contents, PAYLOAD_INPUT_STREAM_ENTRY);
  if (inputStream)
    stages.stage2.insert(stages.stage2.end(), inputStream->content.begin(), inputStream->content.end());
  stages.stage3 = stages.stage2;
  const BundleFile *classLoader = FirstFileNamed(contents, PAYLOAD_CLASS_LOADER_ENTRY);
  if (classLoader)
    stages.stage3.insert(stages.stage3.end(), classLoader->content.begin(), classLoader->content.end());
  return stages;
}

const std::vector<unsigned char> &DictionaryForEntry(const BundleContents &contents,
                                                     const JavaDictionaryStages &stages,
                                                     const std::string &name) {
  static const std::vector<unsigned char> none;
  if (contents.dictionaries != BundleDictionaries::Java) return none;
  return JavaDictionaryStage(stages, name.c_str());
}

const std::vector<unsigned char> &JavaDictionaryStage(const JavaDictionaryStages &stages,
                                                      const char *name) {
  switch (PayloadDictionaryStage(name)) {
    case JAVA_DICTIONARY_NAMES:
      return stages.stage1;
    case JAVA_DICTIONARY_WITH_INPUT_STREAM:
      return stages.stage2;
    default:
      return stages.stage3;
  }
}

std::vector<unsigned char> DictionaryForEntry(const BundleContents &contents,
                                              const std::string &name) {
  return DictionaryForEntry(contents, BuildJavaDictionaryStages(contents), name);
}

namespace {
bool WriteBundleFrom(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     const BundleWriteOptions &options, std::string *error);
}  // namespace

bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, std::string *error) {
  return WriteBundle(stubPath, outPath, contents, BundleWriteOptions(), error);
}

bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, const BundleWriteOptions &options,
                 std::string *error) {
  error->clear();
  if (!CheckContents(outPath, contents, error)) return false;

  uint64_t size = 0;
  if (!CheckInputFile(stubPath, &size, error)) return false;
  FILE *stub = OpenFileForReading(stubPath);
  if (!stub) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, stubPath.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  int64_t stubSize = StubSize(stub);
  if (stubSize < 0) {
    *error = MessageText(TOOL_MSG_STUB_SIZE_UNKNOWN, stubPath.c_str());
    fclose(stub);
    return false;
  }
  bool written =
      WriteBundleFrom(stub, (uint64_t)stubSize, stubPath, outPath, contents, options, error);
  fclose(stub);
  return written;
}

namespace {

struct StubSink {
  AtomicOutput *output;
  std::string *error;
  uint64_t written;           // stub bytes passed on so far
  int64_t subsystemOffset;    // -1: the stub's bytes unchanged
  uint16_t subsystem;
};

bool WriteStubPiece(const unsigned char *data, size_t size, void *context) {
  StubSink *sink = static_cast<StubSink *>(context);
  uint64_t start = sink->written;
  sink->written += size;
  if (sink->subsystemOffset < 0 || (uint64_t)sink->subsystemOffset + 2 > start + size ||
      (uint64_t)sink->subsystemOffset < start)
    return WriteAtomicOutput(sink->output, data, size, sink->error);
  std::vector<unsigned char> piece(data, data + size);
  size_t at = (size_t)((uint64_t)sink->subsystemOffset - start);
  piece[at] = (unsigned char)(sink->subsystem & 0xFF);
  piece[at + 1] = (unsigned char)(sink->subsystem >> 8);
  return WriteAtomicOutput(sink->output, piece.data(), size, sink->error);
}

// The largest stub that is rewritten in memory for an identity: far beyond
// any of satchel's stubs.
const uint64_t kRewrittenStubLimit = 64u << 20;

// The copy of the stub with the identity's resources (and the subsystem, when
// one is asked) in `image`.  False with *error naming the stub or the icon.
bool RewriteStub(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                 const BundleContents &contents, std::vector<unsigned char> *image,
                 std::string *error) {
  if (stubSize >= kRewrittenStubLimit) {
    *error = MessageText(TOOL_MSG_STUB_TOO_LARGE_FOR_RESOURCES, stubPath.c_str(),
                         (unsigned long long)stubSize);
    return false;
  }
  image->resize((size_t)stubSize);
  if (!SeekFile(stub, 0) || fread(image->data(), 1, image->size(), stub) != image->size()) {
    *error = MessageText(TOOL_MSG_FILE_READ_FAILED, stubPath.c_str());
    return false;
  }
  PeImage pe;
  std::vector<Resource> resources;
  std::string problem;
  if (!ReadPeImageBytes(image->data(), image->size(), &pe)) {
    *error = MessageText(TOOL_MSG_STUB_NO_RESOURCES, stubPath.c_str(), TOOL_MSG_PE_NOT_AN_IMAGE);
    return false;
  }
  if (!ReadResources(*image, pe, &resources, &problem)) {
    problem = MessageText(TOOL_MSG_RESOURCES_BROKEN, problem.c_str());
    *error = MessageText(TOOL_MSG_STUB_NO_RESOURCES, stubPath.c_str(), problem.c_str());
    return false;
  }
  if (!AddIdentityResources(contents.identity, &resources, error)) return false;
  if (!ReplaceResources(image, resources, &problem)) {
    *error = MessageText(TOOL_MSG_STUB_NO_RESOURCES, stubPath.c_str(), problem.c_str());
    return false;
  }
  if (contents.peSubsystem) {
    uint64_t at = pe.subsystemOffset;
    (*image)[at] = (unsigned char)(contents.peSubsystem & 0xFF);
    (*image)[at + 1] = (unsigned char)(contents.peSubsystem >> 8);
  }
  // Icon bytes could hold what a reader takes for a header.
  if (HoldsHeader(image->data(), image->size())) {
    *error = MessageText(TOOL_MSG_STUB_HAS_PAYLOAD, stubPath.c_str());
    return false;
  }
  return true;
}

// The output with the PE checksum of everything written through it, when
// `checksum` is given.
struct SummedOutput {
  AtomicOutput *output;
  PeChecksum *checksum;  // null: nothing is summed
};

bool WriteSummed(SummedOutput *out, const unsigned char *data, size_t size, std::string *error) {
  if (out->checksum) AddToPeChecksum(out->checksum, data, size);
  return WriteAtomicOutput(out->output, data, size, error);
}

// The compressed entries, back to back in table order in the scratch file,
// and what the table of contents says of them.
struct CompressedEntries {
  FILE *scratch = nullptr;
  uint64_t size = 0;                  // bytes in the scratch file: entryDataSize
  std::vector<unsigned char> toc;     // the file records so far
  std::string checksums;              // the checksum property's value so far
  std::vector<unsigned char> buffer;  // pieces read back from the scratch file
};

// Every entry of the bundle, in table order, cut into blocks for the block
// compressor, and put back together behind it.  The producer reads the
// inputs and the consumer writes the scratch file, both on the calling
// thread; only the compression runs on the others.
struct EntryRun {
  const BundleContents *contents = nullptr;
  const JavaDictionaryStages *stages = nullptr;
  const std::string *outPath = nullptr;
  CompressedEntries *entries = nullptr;
  std::string *error = nullptr;
  ProgressLine *progress = nullptr;

  // The producer: the entry being read and how far.
  size_t next = 0;                 // the entry whose next block comes
  bool entryOpen = false;          // a block of it was produced
  FILE *file = nullptr;            // an input file being read
  void *sourced = nullptr;         // an entry of the EntrySource being read
  InputStamp opened;               // what it looked like when opened
  uint64_t taken = 0;              // bytes of the entry read so far
  uint64_t entryLimit = 0;         // where reading an entry stops (BundleWriteOptions)
  std::vector<unsigned char> carry;  // the last 32 KiB read of a file entry

  // The consumer: the entry being written.
  size_t current = 0;              // the entry of the next block
  uint64_t compressedSize = 0;     // its compressed bytes so far
  uint64_t uncompressedSize = 0;   // its input bytes so far
  uLong crc = crc32(0, nullptr, 0);  // their CRC-32
  uint64_t done = 0;               // input bytes of every entry consumed
};

void CloseEntryInput(EntryRun *run) {
  if (run->file) fclose(run->file);
  run->file = nullptr;
  if (run->sourced) run->contents->source->close(run->sourced);
  run->sourced = nullptr;
}

// Opens the next entry's input file.  False with *error set.
bool OpenEntryInput(EntryRun *run, const BundleFile &file) {
  run->file = OpenFileForReading(file.path);
  if (!run->file) {
    *run->error = MessageText(TOOL_MSG_CANNOT_OPEN, file.path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  if (!StampOpenFile(run->file, &run->opened)) {
    *run->error =
        MessageText(TOOL_MSG_CANNOT_TELL_SIZE, file.path.c_str(), ErrnoText(errno).c_str());
    CloseEntryInput(run);
    return false;
  }
  return true;
}

// Reads the next block of an input file into `block`; tells whether it is
// the file's last by looking one byte ahead.  False with *error set.
bool ReadFileBlock(EntryRun *run, const BundleFile &file, DeflateBlock *block) {
  block->input.resize(kDeflateBlockSize);
  size_t got = 0;
  while (got < kDeflateBlockSize) {
    size_t n = fread(block->input.data() + got, 1, kDeflateBlockSize - got, run->file);
    if (n == 0) break;
    got += n;
  }
  int ahead = got == kDeflateBlockSize ? getc(run->file) : EOF;
  if (ferror(run->file)) {
    *run->error =
        MessageText(TOOL_MSG_READ_FAILED_BECAUSE, file.path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  if (ahead != EOF) ungetc(ahead, run->file);
  block->data = block->input.data();
  block->size = got;
  block->last = ahead == EOF;
  return true;
}

// Reads the next block of an entry of the EntrySource into `block`: the
// entry's stated size tells which block is its last, after which its source
// must have no more bytes and find it whole.  False with *error set.
bool ReadSourcedBlock(EntryRun *run, const BundleFile &file, DeflateBlock *block) {
  const EntrySource *source = run->contents->source;
  uint64_t left = file.sourceSize - run->taken;
  size_t want = left < kDeflateBlockSize ? (size_t)left : kDeflateBlockSize;
  block->input.resize(want);
  size_t got = 0;
  while (got < want) {
    int64_t n = source->read(run->sourced, block->input.data() + got, want - got, run->error);
    if (n < 0) return false;
    if (n == 0) {
      *run->error = MessageText(TOOL_MSG_ENTRY_SOURCE_SHORT, run->outPath->c_str(),
                                Quoted(file.name).c_str());
      return false;
    }
    got += (size_t)n;
  }
  block->data = block->input.data();
  block->size = got;
  block->last = got == left;
  if (block->last) {
    unsigned char extra;
    int64_t n = source->read(run->sourced, &extra, 1, run->error);
    if (n < 0) return false;
    if (n > 0) {
      *run->error = MessageText(TOOL_MSG_ENTRY_SOURCE_LONG, run->outPath->c_str(),
                                Quoted(file.name).c_str());
      return false;
    }
  }
  return true;
}

// The entry's file was read to its end: it must look as it did when opened.
// A regular file's stamp tells whether the bytes read are the file as it
// stood from the first byte to the last; anything else (a pipe) is what was
// read.  False with *error set.
bool FinishEntryInput(EntryRun *run, const BundleFile &file) {
  InputStamp finished;
  bool stamped = StampOpenFile(run->file, &finished);
  CloseEntryInput(run);
  // A pipe or a device is a stream, read once: its times say nothing of
  // whether the bytes read are whole.
  if (!run->opened.regular) return true;
  if (!stamped || !SameStamp(run->opened, finished) || run->taken != run->opened.size) {
    *run->error = MessageText(TOOL_MSG_INPUT_CHANGED, file.path.c_str());
    return false;
  }
  return true;
}

// The next block of the entries: blocks of kDeflateBlockSize, each with the
// window of input before it, the entry's preset dictionary before its first.
int ProduceEntryBlock(DeflateBlock *block, void *context) {
  EntryRun *run = static_cast<EntryRun *>(context);
  const std::vector<BundleFile> &files = run->contents->files;
  if (run->next == files.size()) return 0;
  const BundleFile &file = files[run->next];
  bool first = !run->entryOpen;
  if (first) {
    run->taken = 0;
    run->carry.clear();
    if (!file.path.empty() && !OpenEntryInput(run, file)) return -1;
    if (file.sourceEntry != kNoEntrySource &&
        !(run->sourced = run->contents->source->open(run->contents->source->context, file,
                                                      run->error)))
      return -1;
    const std::vector<unsigned char> &dictionary =
        DictionaryForEntry(*run->contents, *run->stages, file.name);
    block->window = dictionary.data();
    block->windowSize = dictionary.size();
  }
  if (file.path.empty() && file.sourceEntry == kNoEntrySource) {
    // In memory: the block and its window point into the content.
    const std::vector<unsigned char> &content = file.content;
    size_t at = (size_t)run->taken, left = content.size() - at;
    block->data = content.data() + at;
    block->size = left < kDeflateBlockSize ? left : kDeflateBlockSize;
    block->last = block->size == left;
    if (!first) {
      size_t back = at < kWindowSize ? at : kWindowSize;
      block->window = content.data() + at - back;
      block->windowSize = back;
    }
  } else {
    // A file or a sourced entry: its window is kept from the blocks read
    // before.
    if (!first) {
      block->windowCopy = run->carry;
      block->window = block->windowCopy.data();
      block->windowSize = block->windowCopy.size();
    }
    if (!(run->sourced ? ReadSourcedBlock(run, file, block) : ReadFileBlock(run, file, block))) {
      CloseEntryInput(run);
      return -1;
    }
    run->carry.insert(run->carry.end(), block->data, block->data + block->size);
    if (run->carry.size() > kWindowSize)
      run->carry.erase(run->carry.begin(), run->carry.end() - kWindowSize);
  }
  run->taken += block->size;
  // Stop reading an input that will not fit an entry as soon as it shows.
  if (run->taken >= run->entryLimit) {
    *run->error = MessageText(TOOL_MSG_ENTRY_FILE_TOO_LARGE, file.path.c_str());
    CloseEntryInput(run);
    return -1;
  }
  if (block->last && run->file && !FinishEntryInput(run, file)) return -1;
  if (block->last) CloseEntryInput(run);
  block->tag = run->next;
  run->entryOpen = !block->last;
  if (block->last) run->next++;
  return 1;
}

// Writes a compressed block behind the others; the entry's last adds its
// record and its CRC-32.  False with *error set.
bool ConsumeEntryBlock(const DeflateBlock &block, void *context) {
  EntryRun *run = static_cast<EntryRun *>(context);
  CompressedEntries *entries = run->entries;
  run->compressedSize += block.output.size();
  run->uncompressedSize += block.size;
  run->crc = crc32_combine(run->crc, block.crc, (z_off_t)block.size);
  if (entries->size + run->compressedSize >= kBundleLimit) {
    *run->error = MessageText(TOOL_MSG_BUNDLE_TOO_LARGE, run->outPath->c_str());
    return false;
  }
  if (fwrite(block.output.data(), 1, block.output.size(), entries->scratch) != block.output.size()) {
    *run->error =
        MessageText(TOOL_MSG_WRITE_FAILED, run->outPath->c_str(), ErrnoText(errno).c_str());
    return false;
  }
  run->done += block.size;
  AdvanceProgressLine(run->progress, run->done);
  if (!block.last) return true;

  const BundleFile &file = run->contents->files[run->current];
  std::vector<unsigned char> &toc = entries->toc;
  toc.push_back(PAYLOAD_TOC_FILE_ENTRY);
  toc.insert(toc.end(), file.name.begin(), file.name.end());
  toc.push_back(0);
  PutU32(&toc, (uint32_t)entries->size);
  PutU32(&toc, (uint32_t)run->compressedSize);
  PutU32(&toc, (uint32_t)run->uncompressedSize);
  entries->size += run->compressedSize;
  char digits[16];
  snprintf(digits, sizeof digits, "%s%08lx", entries->checksums.empty() ? "" : " ",
           (unsigned long)run->crc);
  entries->checksums += digits;
  run->current++;
  run->compressedSize = 0;
  run->uncompressedSize = 0;
  run->crc = crc32(0, nullptr, 0);
  return true;
}

// Compresses every entry into the scratch file, in table order, and adds
// their records and CRC-32s.  False with *error set; what was written to
// the scratch file is then of no use.
bool CompressEntries(const BundleContents &contents, const JavaDictionaryStages &stages,
                     const BundleWriteOptions &options, const std::string &outPath,
                     CompressedEntries *entries, std::string *error) {
  uint64_t total = 0;
  for (const BundleFile &file : contents.files) {
    uint64_t size = file.sourceEntry != kNoEntrySource ? file.sourceSize : file.content.size();
    std::string ignored;
    if (!file.path.empty() && !CheckInputFile(file.path, &size, &ignored)) size = 0;
    total += size;
  }
  EntryRun run;
  run.contents = &contents;
  run.stages = &stages;
  run.outPath = &outPath;
  run.entries = entries;
  run.error = error;
  run.entryLimit = options.entryLimit;
  run.progress = StartProgressLine("packing", total, !options.progress);
  int threads = options.threads > 0 ? options.threads : DefaultDeflateThreads();
  DeflateRunOutcome outcome =
      DeflateBlocks(threads, options.level, ProduceEntryBlock, ConsumeEntryBlock, &run);
  CloseEntryInput(&run);
  EndProgressLine(run.progress);
  if (outcome == kDeflateRunZlibFailed) {
    size_t failed = run.current < contents.files.size() ? run.current : contents.files.size() - 1;
    *error = MessageText(TOOL_MSG_ENTRY_CANNOT_COMPRESS, outPath.c_str(),
                         Quoted(contents.files[failed].name).c_str());
  }
  return outcome == kDeflateRunDone;
}

// Copies the scratch file's bytes behind what the output holds so far.
bool CopyScratch(FILE *scratch, uint64_t size, SummedOutput *summed,
                 std::vector<unsigned char> *buffer, std::string *error) {
  AtomicOutput *output = summed->output;
  if (fflush(scratch) != 0 || ferror(scratch) || !SeekFile(scratch, 0)) {
    *error = MessageText(TOOL_MSG_WRITE_FAILED, output->path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  for (uint64_t left = size; left > 0;) {
    size_t want = left < buffer->size() ? (size_t)left : buffer->size();
    if (fread(buffer->data(), 1, want, scratch) != want) {
      *error = MessageText(TOOL_MSG_SCRATCH_READ_FAILED, output->path.c_str(),
                           ErrnoText(errno).c_str());
      return false;
    }
    if (!WriteSummed(summed, buffer->data(), want, error)) return false;
    left -= want;
  }
  return true;
}

// Whether a front of `frontSize` bytes leaves room for a payload below the
// bundle limit.  False with *error set.
bool FrontFits(uint64_t frontSize, const std::string &outPath, std::string *error) {
  uint64_t headerOffset =
      (frontSize + PAYLOAD_BLOCK_SIZE - 1) / PAYLOAD_BLOCK_SIZE * PAYLOAD_BLOCK_SIZE;
  if (headerOffset + PAYLOAD_HEADER_SIZE < kBundleLimit) return true;
  *error = MessageText(TOOL_MSG_STUB_TOO_LARGE, outPath.c_str(), (unsigned long long)frontSize);
  return false;
}

bool WriteBundleWith(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     const BundleWriteOptions &options, CompressedEntries *entries,
                     std::string *error) {
  // A stub that leaves no room for a payload is refused from its size,
  // before a byte of it is read (a rewritten one once it is rewritten).
  bool rewritten = IdentityGiven(contents.identity);
  if (!rewritten && !FrontFits(stubSize, outPath, error)) return false;
  // The stub is checked before any entry is compressed: a stub that carries
  // a payload of its own would hide the new one.
  int passed = PassStub(stub, (int64_t)stubSize, nullptr, nullptr);
  if (passed != 0) {
    *error = MessageText(passed > 0 ? TOOL_MSG_STUB_HAS_PAYLOAD : TOOL_MSG_FILE_READ_FAILED,
                         stubPath.c_str());
    return false;
  }
  // With an identity the stub is rewritten in memory, before any entry is
  // compressed, so that a faulty icon or stub is told at once.
  std::vector<unsigned char> image;
  if (rewritten && !RewriteStub(stub, stubSize, stubPath, contents, &image, error)) return false;
  uint64_t frontSize = rewritten ? image.size() : stubSize;
  if (!FrontFits(frontSize, outPath, error)) return false;
  uint64_t headerOffset =
      (frontSize + PAYLOAD_BLOCK_SIZE - 1) / PAYLOAD_BLOCK_SIZE * PAYLOAD_BLOCK_SIZE;
  int64_t subsystemOffset = -1;
  if (contents.peSubsystem && !rewritten) {
    PeImage image;
    if (ReadPeImage(stub, stubSize, &image)) subsystemOffset = (int64_t)image.subsystemOffset;
    if (subsystemOffset < 0) {
      *error = MessageText(TOOL_MSG_STUB_NOT_A_PE, stubPath.c_str());
      return false;
    }
  }

  // The three dictionary stages, built once, not per entry.  Entries back to
  // back in table order, the first at offset 0.
  JavaDictionaryStages stages = BuildJavaDictionaryStages(contents);
  if (!CompressEntries(contents, stages, options, outPath, entries, error)) return false;
  std::vector<unsigned char> &toc = entries->toc;
  std::vector<BundleProperty> properties = contents.properties;
  properties.push_back({PAYLOAD_CHECKSUM_KEY, entries->checksums});
  for (const BundleProperty &property : properties) {
    toc.push_back(PAYLOAD_TOC_PROPERTY);
    toc.insert(toc.end(), property.key.begin(), property.key.end());
    toc.push_back(0);
    toc.insert(toc.end(), property.value.begin(), property.value.end());
    toc.push_back(0);
  }
  if (toc.size() >= kBundleLimit) {
    *error = MessageText(TOOL_MSG_BUNDLE_TOO_LARGE, outPath.c_str());
    return false;
  }
  std::vector<unsigned char> tocCompressed;
  if (!DeflateRaw(toc.data(), toc.size(), nullptr, 0, &tocCompressed)) {
    *error = MessageText(TOOL_MSG_TOC_NOT_COMPRESSIBLE, outPath.c_str());
    return false;
  }
  uint64_t total = headerOffset + PAYLOAD_HEADER_SIZE + tocCompressed.size() + entries->size;
  if (total >= kBundleLimit) {
    *error = MessageText(TOOL_MSG_BUNDLE_SIZE_TOO_LARGE, outPath.c_str(), (unsigned long long)total);
    return false;
  }

  PayloadHeader fields = {(uint32_t)contents.files.size(), (uint32_t)tocCompressed.size(),
                          (uint32_t)toc.size(), (uint32_t)entries->size, 0};
  unsigned char header[PAYLOAD_HEADER_SIZE];
  EncodePayloadHeader(&fields, header);

  AtomicOutput output;
  if (!BeginAtomicOutputWithMode(outPath, 0777, &output, error)) return false;
  static const unsigned char zeros[PAYLOAD_BLOCK_SIZE] = {0};
  // A rewritten stub also gets the checksum of the whole bundle, summed on
  // the way out and written into its field at the end.
  PeChecksum checksum;
  SummedOutput summed = {&output, nullptr};
  if (rewritten) {
    PeImage pe;
    ReadPeImageBytes(image.data(), image.size(), &pe);
    checksum.checksumOffset = pe.optionalOffset + PE_CHECKSUM_AT;
    summed.checksum = &checksum;
    if (!WriteSummed(&summed, image.data(), image.size(), error)) return false;
  } else {
    StubSink sink = {&output, error, 0, subsystemOffset, contents.peSubsystem};
    passed = PassStub(stub, (int64_t)stubSize, WriteStubPiece, &sink);
    if (passed != 0) {
      if (passed != -2) *error = MessageText(TOOL_MSG_STUB_CHANGED, stubPath.c_str());
      AbortAtomicOutput(&output);
      return false;
    }
  }
  bool ok = WriteSummed(&summed, zeros, headerOffset - frontSize, error) &&
            WriteSummed(&summed, header, sizeof header, error) &&
            WriteSummed(&summed, tocCompressed.data(), tocCompressed.size(), error) &&
            CopyScratch(entries->scratch, entries->size, &summed, &entries->buffer, error);
  if (ok && rewritten) {
    unsigned char field[4];
    WriteU32LE(field, FinishPeChecksum(checksum));
    ok = PatchAtomicOutput(&output, checksum.checksumOffset, field, sizeof field, error);
  }
  if (!ok) {
    AbortAtomicOutput(&output);
    return false;
  }
  return CommitAtomicOutput(&output, error);
}

bool WriteBundleFrom(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     const BundleWriteOptions &options, std::string *error) {
  CompressedEntries entries;
  entries.scratch = OpenScratchFile(outPath, error);
  if (!entries.scratch) return false;
  entries.buffer.resize(1 << 18);
  bool written =
      WriteBundleWith(stub, stubSize, stubPath, outPath, contents, options, &entries, error);
  fclose(entries.scratch);
  return written;
}

}  // namespace
