// Entry streams: reading, the end of an entry, lock hooks, dictionaries,
// failures of the file and of the data, and streams that disagree with their
// declared sizes.
#include <string.h>

#include <mutex>
#include <thread>

#include "payload_fixture.h"

using hand::Bytes;
using hand::HandBundle;

namespace {

// Hook bookkeeping, process-wide like the hooks themselves.
int lockCalls = 0;
int unlockCalls = 0;
int refuseLocks = 0;  // how many of the next lock calls refuse
void *lastLockContext = nullptr;
void *lastUnlockContext = nullptr;
bool lockHeld = false;
bool fileTouchedOutsideLock = false;

int CountingLock(void *context) {
  lockCalls++;
  lastLockContext = context;
  if (refuseLocks > 0) {
    refuseLocks--;
    return 0;
  }
  lockHeld = true;
  return 1;
}

int CountingUnlock(void *context) {
  unlockCalls++;
  lastUnlockContext = context;
  lockHeld = false;
  return 0;
}

void ResetHooks() {
  lockCalls = unlockCalls = refuseLocks = 0;
  lastLockContext = lastUnlockContext = nullptr;
  lockHeld = false;
  fileTouchedOutsideLock = false;
}

int FileCalls() {
  return PlatformCallCount(PLATFORM_READ_FILE) + PlatformCallCount(PLATFORM_SET_FILE_POINTER);
}

EntryStream *MustOpen(const char *name, const void *dictionary = nullptr, int length = 0) {
  const char *message = reinterpret_cast<const char *>(1);
  EntryStream *stream = OpenEntryStream(name, dictionary, length, &message);
  EXPECT_NE(stream, nullptr) << name << ": " << (message ? message : "");
  if (stream) {
    EXPECT_EQ(message, nullptr);
  }
  return stream;
}

int Status(EntryStream *stream, std::string *text = nullptr) {
  const char *message = reinterpret_cast<const char *>(1);
  int status = GetEntryStreamStatus(stream, &message);
  if (text) *text = message ? message : "(null)";
  return status;
}

void ExpectStatus(EntryStream *stream, int status, const char *text) {
  std::string got;
  EXPECT_EQ(Status(stream, &got), status);
  EXPECT_EQ(got, text);
}

// At the end, every further read returns 0 with the EOF status.
void ExpectEofRepeats(EntryStream *stream, uint32_t size) {
  std::vector<unsigned char> buffer(size);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(ReadEntryStream(stream, buffer.data(), size, nullptr), 0);
    ExpectStatus(stream, ENTRY_STATUS_EOF, "EOF");
  }
}

// Nothing was written behind `from` in the caller's buffer (filled with 0xCD).
void ExpectUntouchedFrom(const std::vector<unsigned char> &buffer, size_t from) {
  for (size_t i = from; i < buffer.size(); i++) ASSERT_EQ(buffer[i], 0xCD) << i;
}

// Reads to the end with reads of `chunk`; stops at 0 or -1 (returned in *last).
Bytes Drain(EntryStream *stream, uint32_t chunk, int *last, void *context = nullptr) {
  Bytes out;
  std::vector<unsigned char> buffer(chunk);
  for (int guard = 0; guard < 1000000; guard++) {
    int n = ReadEntryStream(stream, buffer.data(), chunk, context);
    if (n <= 0) {
      *last = n;
      return out;
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
  ADD_FAILURE() << "the stream never ended";
  *last = -2;
  return out;
}

}  // namespace

class EntryStreamTest : public PayloadTest {
 protected:
  void SetUp() override {
    PayloadTest::SetUp();
    ResetHooks();
  }
  void TearDown() override {
    ResetHooks();
    PayloadTest::TearDown();
  }

  // Opens a bundle of this one file.
  void OpenWithFile(const char *name, const Bytes &content, const Bytes *dictionary = nullptr) {
    HandBundle b;
    b.AddFile(name, content, dictionary);
    OpenOrFail(b.Build());
  }

  // Opens a bundle of one entry of these compressed bytes, declared to
  // inflate to `declared` bytes.
  void OpenWithCompressed(const char *name, const Bytes &compressed, uint32_t declared) {
    HandBundle b;
    b.AddFileRecord(name, b.AppendData(compressed), (uint32_t)compressed.size(), declared);
    OpenOrFail(b.Build());
  }
};

TEST_F(EntryStreamTest, ReadsWholeEntryAtEveryChunkSize) {
  Bytes text = hand::PseudoRandom(70000, 11, true);
  Bytes noise = hand::PseudoRandom(20000, 12, false);
  HandBundle b;
  b.AddFile("text", text);
  b.AddFile("noise", noise);
  OpenOrFail(b.Build());
  for (uint32_t chunk : {1u, 7u, 512u, 4096u, 65536u, 1000000u}) {
    SCOPED_TRACE(chunk);
    if (chunk >= 512) {
      EXPECT_EQ(ReadEntry("text", nullptr, chunk), text);
    }
    EXPECT_EQ(ReadEntry("noise", nullptr, chunk), noise);
  }
}

TEST_F(EntryStreamTest, OpeningTouchesNeitherFileNorHooks) {
  OpenWithFile("a", hand::ToBytes("abc"));
  SetLockHooks(CountingLock, CountingUnlock);
  PlatformResetFaults();
  EntryStream *stream = MustOpen("a");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(FileCalls(), 0);
  EXPECT_EQ(lockCalls, 0);
  EXPECT_EQ(GetEntryStreamRemaining(stream), 3u);
  ExpectStatus(stream, 0, "(null)");
  CloseEntryStream(stream);
  EXPECT_EQ(FileCalls(), 0);
  EXPECT_EQ(lockCalls + unlockCalls, 0);
}

TEST_F(EntryStreamTest, EmptyEntryEndsAtOnceWithoutFileOrHooks) {
  HandBundle b;
  // Its compressed bytes point far outside the file: they must never be read.
  b.AddFileRecord("empty", 0x7FFFFF00u, 4096, 0);
  b.AddFile("other", hand::ToBytes("x"));
  OpenOrFail(b.Build());
  SetLockHooks(CountingLock, CountingUnlock);
  PlatformResetFaults();
  EntryStream *stream = MustOpen("empty");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(GetEntryStreamRemaining(stream), 0u);
  ExpectEofRepeats(stream, 16);
  EXPECT_EQ(FileCalls(), 0);
  EXPECT_EQ(lockCalls + unlockCalls, 0);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, LargeBufferNeverGetsMoreThanIsLeftAndEofRepeats) {
  Bytes content = hand::PseudoRandom(1000, 3, true);
  HandBundle b;
  b.AddFile("small", content);
  b.AddFile("neighbour", hand::PseudoRandom(5000, 4, false));
  OpenOrFail(b.Build());
  EntryStream *stream = MustOpen("small");
  ASSERT_NE(stream, nullptr);
  std::vector<unsigned char> buffer(8192, 0xCD);
  Bytes got;
  uint32_t remaining = GetEntryStreamRemaining(stream);
  EXPECT_EQ(remaining, 1000u);
  for (;;) {
    int n = ReadEntryStream(stream, buffer.data(), (uint32_t)buffer.size(), nullptr);
    ASSERT_GE(n, 0);
    if (n == 0) break;
    ASSERT_LE((uint32_t)n, remaining);
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    remaining -= (uint32_t)n;
    EXPECT_EQ(GetEntryStreamRemaining(stream), remaining);
  }
  EXPECT_EQ(got, content);
  // Nothing was written behind the entry's bytes in the caller's buffer.
  ExpectUntouchedFrom(buffer, content.size());
  ExpectEofRepeats(stream, (uint32_t)buffer.size());
  EXPECT_EQ(GetEntryStreamRemaining(stream), 0u);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, HooksRunOncePerFetchOf4096Bytes) {
  // One stored block: 5 bytes of block header and 9995 bytes of data make
  // exactly 10000 compressed bytes, fetched as 4096, 4096 and 1808.
  Bytes content = hand::PseudoRandom(9995, 21, false);
  Bytes stored = hand::StoredBlock(content);
  ASSERT_EQ(stored.size(), 10000u);
  OpenWithCompressed("ten", stored, 9995);
  SetLockHooks(CountingLock, CountingUnlock);
  PlatformResetFaults();
  EntryStream *stream = MustOpen("ten");
  ASSERT_NE(stream, nullptr);
  int context = 0;
  Bytes got;
  std::vector<unsigned char> buffer(100);
  int reads = 0;
  for (;;) {
    int locksBefore = lockCalls;
    int n = ReadEntryStream(stream, buffer.data(), 100, &context);
    reads++;
    ASSERT_GE(n, 0);
    EXPECT_LE(lockCalls - locksBefore, 1);
    if (n == 0) break;
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  EXPECT_EQ(got, content);
  EXPECT_GT(reads, 100);
  EXPECT_EQ(lockCalls, 3);
  EXPECT_EQ(unlockCalls, 3);
  EXPECT_EQ(lastLockContext, &context);
  EXPECT_EQ(lastUnlockContext, &context);
  EXPECT_EQ(PlatformCallCount(PLATFORM_READ_FILE), 3);
  EXPECT_EQ(PlatformCallCount(PLATFORM_SET_FILE_POINTER), 3);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, FetchesStayInsideTheEntrysOwnRange) {
  // The entry's neighbours on both sides are truncated copies of nothing
  // valid: a fetch that strays beyond the entry would feed them to the
  // inflater.  The entry ends exactly at the end of the file.
  Bytes content = hand::PseudoRandom(9995, 22, false);
  Bytes stored = hand::StoredBlock(content);
  HandBundle b;
  b.AppendData(Bytes(4096, 0xFF));
  uint32_t offset = b.AppendData(stored);
  b.AddFileRecord("mid", offset, (uint32_t)stored.size(), (uint32_t)content.size());
  OpenOrFail(b.Build());
  EXPECT_EQ(ReadEntry("mid", nullptr, 333), content);
}

TEST_F(EntryStreamTest, RefusedLockFailsTheReadAndLosesNothing) {
  Bytes content = hand::PseudoRandom(30000, 31, false);
  OpenWithFile("locked", content);
  SetLockHooks(CountingLock, CountingUnlock);
  EntryStream *stream = MustOpen("locked");
  ASSERT_NE(stream, nullptr);
  std::vector<unsigned char> buffer(1000);
  Bytes got;
  // The first read needs a fetch and is refused.
  refuseLocks = 1;
  PlatformResetFaults();
  EXPECT_EQ(ReadEntryStream(stream, buffer.data(), 1000, nullptr), -1);
  ExpectStatus(stream, ENTRY_STATUS_LOCK_FAILED, "Lock failed");
  EXPECT_EQ(unlockCalls, 0);
  EXPECT_EQ(FileCalls(), 0);
  EXPECT_EQ(GetEntryStreamRemaining(stream), 30000u);
  // Read on; refuse once more at the third fetch.
  bool refusedAgain = false;
  for (;;) {
    if (!refusedAgain && lockCalls == 3) {
      refuseLocks = 1;
      refusedAgain = true;
    }
    int n = ReadEntryStream(stream, buffer.data(), 1000, nullptr);
    if (n == -1) {
      EXPECT_EQ(Status(stream), ENTRY_STATUS_LOCK_FAILED);
      continue;
    }
    ASSERT_GE(n, 0);
    if (n == 0) break;
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  EXPECT_TRUE(refusedAgain);
  EXPECT_EQ(got, content);
  // Refused locks are never paired with an unlock.
  EXPECT_EQ(unlockCalls, lockCalls - 2);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, StatusStaysUntilAnotherIsSet) {
  Bytes content = hand::PseudoRandom(10000, 32, false);
  OpenWithFile("s", content);
  SetLockHooks(CountingLock, CountingUnlock);
  EntryStream *stream = MustOpen("s");
  ASSERT_NE(stream, nullptr);
  unsigned char buffer[100];
  refuseLocks = 1;
  EXPECT_EQ(ReadEntryStream(stream, buffer, sizeof buffer, nullptr), -1);
  int n = ReadEntryStream(stream, buffer, sizeof buffer, nullptr);
  EXPECT_GT(n, 0);
  ExpectStatus(stream, ENTRY_STATUS_LOCK_FAILED, "Lock failed");
  EXPECT_EQ(memcmp(buffer, content.data(), (size_t)n), 0);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, SeekAndReadFailuresCanBeRetried) {
  Bytes content = hand::PseudoRandom(20000, 41, false);
  OpenWithFile("f", content);
  SetLockHooks(CountingLock, CountingUnlock);
  EntryStream *stream = MustOpen("f");
  ASSERT_NE(stream, nullptr);
  std::vector<unsigned char> buffer(700);
  Bytes got;
  struct Fault {
    PlatformCall call;
    int status;
    const char *text;
  } faults[] = {{PLATFORM_SET_FILE_POINTER, ENTRY_STATUS_SEEK_FAILED, "Seek failed"},
                {PLATFORM_READ_FILE, ENTRY_STATUS_READ_FAILED, "Read failed"}};
  size_t nextFault = 0;
  for (;;) {
    // A seek failure at the first fetch, a read failure at a later one.
    bool armed = nextFault < 2 && (lockCalls == 0 || (nextFault == 1 && lockCalls >= 3));
    if (armed) PlatformFailCall(faults[nextFault].call, 0, 0);
    uint32_t remainingBefore = GetEntryStreamRemaining(stream);
    int locksBefore = lockCalls, unlocksBefore = unlockCalls;
    int n = ReadEntryStream(stream, buffer.data(), (uint32_t)buffer.size(), nullptr);
    if (armed) {
      PlatformResetFaults();
      if (lockCalls != locksBefore) {
        ASSERT_EQ(n, -1);
        std::string text;
        EXPECT_EQ(Status(stream, &text), faults[nextFault].status);
        EXPECT_EQ(text, faults[nextFault].text);
        // The unlock hook runs after a failed fetch too.
        EXPECT_EQ(unlockCalls, unlocksBefore + 1);
        EXPECT_EQ(GetEntryStreamRemaining(stream), remainingBefore);
        nextFault++;
        continue;
      }
    }
    ASSERT_GE(n, 0);
    if (n == 0) break;
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  EXPECT_EQ(nextFault, 2u);
  EXPECT_EQ(got, content);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, TwoStreamsReadAlternately) {
  Bytes a = hand::PseudoRandom(25000, 51, false);
  Bytes c = hand::PseudoRandom(90000, 52, true);
  HandBundle b;
  b.AddFile("a", a);
  b.AddFile("c", c);
  OpenOrFail(b.Build());
  EntryStream *sa = MustOpen("a");
  EntryStream *sc = MustOpen("c");
  ASSERT_TRUE(sa && sc);
  Bytes gotA, gotC;
  std::vector<unsigned char> buffer(300);
  bool endA = false, endC = false;
  auto step = [&buffer](EntryStream *stream, bool *end, Bytes *got) {
    if (*end) return;
    int n = ReadEntryStream(stream, buffer.data(), 300, nullptr);
    ASSERT_GE(n, 0);
    if (n == 0) *end = true;
    got->insert(got->end(), buffer.begin(), buffer.begin() + n);
  };
  while (!endA || !endC) {
    step(sa, &endA, &gotA);
    step(sc, &endC, &gotC);
    ASSERT_FALSE(HasFatalFailure());
  }
  EXPECT_EQ(gotA, a);
  EXPECT_EQ(gotC, c);
  CloseEntryStream(sa);
  CloseEntryStream(sc);
}

TEST_F(EntryStreamTest, SameEntryTwiceAtOnce) {
  Bytes content = hand::PseudoRandom(12000, 53, false);
  OpenWithFile("same", content);
  EntryStream *first = MustOpen("same");
  EntryStream *second = MustOpen("same");
  ASSERT_TRUE(first && second);
  std::vector<unsigned char> buffer(5000);
  Bytes one, two;
  int n = ReadEntryStream(first, buffer.data(), 5000, nullptr);
  ASSERT_GT(n, 0);
  one.insert(one.end(), buffer.begin(), buffer.begin() + n);
  int last = 0;
  two = Drain(second, 777, &last);
  EXPECT_EQ(last, 0);
  Bytes rest = Drain(first, 5000, &last);
  EXPECT_EQ(last, 0);
  one.insert(one.end(), rest.begin(), rest.end());
  EXPECT_EQ(one, content);
  EXPECT_EQ(two, content);
  CloseEntryStream(first);
  CloseEntryStream(second);
}

TEST_F(EntryStreamTest, DictionaryOfLengthZeroIsAccepted) {
  Bytes content = hand::PseudoRandom(5000, 61, true);
  OpenWithFile("plain", content);
  unsigned char none[1] = {0};
  EntryStream *stream = MustOpen("plain", none, 0);
  ASSERT_NE(stream, nullptr);
  int last = 0;
  EXPECT_EQ(Drain(stream, 512, &last), content);
  EXPECT_EQ(last, 0);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, PresetDictionary) {
  // The entry repeats the dictionary, so its first symbol is a match reaching
  // back into it.
  Bytes dictionary = hand::PseudoRandom(2000, 71, false);
  Bytes content = dictionary;
  hand::Append(content, hand::PseudoRandom(3000, 72, true));
  OpenWithFile("withdict", content, &dictionary);

  // With the dictionary: the content.  The caller's copy may change after the
  // open; the stream keeps its own.
  Bytes copy = dictionary;
  EntryStream *stream = MustOpen("withdict", copy.data(), (int)copy.size());
  ASSERT_NE(stream, nullptr);
  memset(copy.data(), 0x55, copy.size());
  int last = 0;
  EXPECT_EQ(Drain(stream, 512, &last), content);
  EXPECT_EQ(last, 0);
  CloseEntryStream(stream);

  // Without it: status 5, and every later read fails the same way.
  stream = MustOpen("withdict");
  ASSERT_NE(stream, nullptr);
  Bytes got = Drain(stream, 512, &last);
  EXPECT_EQ(last, -1);
  EXPECT_TRUE(got.empty());
  ExpectStatus(stream, ENTRY_STATUS_DECOMPRESSION_FAILED, "Decompression failed");
  unsigned char buffer[64];
  EXPECT_EQ(ReadEntryStream(stream, buffer, sizeof buffer, nullptr), -1);
  EXPECT_EQ(Status(stream), ENTRY_STATUS_DECOMPRESSION_FAILED);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, DictionaryLongerThanTheWindowKeepsItsTail) {
  // Only the last 32768 bytes of a dictionary count, on both sides.
  Bytes dictionary = hand::PseudoRandom(50000, 81, false);
  Bytes content(dictionary.end() - 1000, dictionary.end());
  hand::Append(content, Bytes(dictionary.end() - 32768, dictionary.end() - 31000));
  OpenWithFile("tail", content, &dictionary);
  EXPECT_EQ(ReadEntry("tail", &dictionary), content);
  Bytes tail(dictionary.end() - 32768, dictionary.end());
  EXPECT_EQ(ReadEntry("tail", &tail), content);
}

TEST_F(EntryStreamTest, NameNotFoundLeavesNothingAllocated) {
  OpenWithFile("present", hand::ToBytes("p"));
  ResetAllocationCalls();
  const char *message = nullptr;
  EXPECT_EQ(OpenEntryStream("absent", nullptr, 0, &message), nullptr);
  EXPECT_STREQ(message, "File not found");
  EXPECT_EQ(OpenEntryStream("Present", hand::ToBytes("dict").data(), 4, &message), nullptr);
  EXPECT_STREQ(message, "File not found");
  EXPECT_EQ(AllocationCalls(), 0);
}

TEST_F(EntryStreamTest, StreamAllocationFailure) {
  OpenWithFile("present", hand::ToBytes("p"));
  const char *message = nullptr;
  FailAllocationAfter(0);
  EXPECT_EQ(OpenEntryStream("present", nullptr, 0, &message), nullptr);
  EXPECT_TRUE(AllocationFailureHappened());
  DisarmAllocationFaults();
  EXPECT_STREQ(message, "Memory allocation error");
  // And the next open works.
  EXPECT_EQ(ReadEntry("present"), hand::ToBytes("p"));
}

TEST_F(EntryStreamTest, StreamProducingMoreThanDeclaredIsCut) {
  Bytes content = hand::PseudoRandom(5000, 91, true);
  Bytes compressed = hand::RawDeflate(content);
  OpenWithCompressed("short", compressed, 100);
  EntryStream *stream = MustOpen("short");
  ASSERT_NE(stream, nullptr);
  std::vector<unsigned char> buffer(8192, 0xCD);
  uint32_t total = 0;
  for (int i = 0; i < 100; i++) {
    int n = ReadEntryStream(stream, buffer.data() + total, (uint32_t)buffer.size() - total, nullptr);
    ASSERT_GE(n, 0);
    if (n == 0) break;
    total += (uint32_t)n;
    ASSERT_LE(total, 100u);
  }
  EXPECT_EQ(total, 100u);
  EXPECT_EQ(memcmp(buffer.data(), content.data(), 100), 0);
  ExpectUntouchedFrom(buffer, 100);
  EXPECT_EQ(GetEntryStreamRemaining(stream), 0u);
  ExpectStatus(stream, ENTRY_STATUS_EOF, "EOF");
  CloseEntryStream(stream);
}

// An entry whose deflate stream ends before its declared size, or whose next
// chunk of 4096 compressed bytes yields nothing, is damaged: the read fails
// rather than returning 0, which every caller takes for the end.
TEST_F(EntryStreamTest, StreamEndingBeforeTheDeclaredSizeFails) {
  Bytes content = hand::PseudoRandom(3000, 92, true);
  Bytes emptyBlocks;
  for (int i = 0; i < 1000; i++) emptyBlocks.insert(emptyBlocks.end(), {0, 0, 0, 0xFF, 0xFF});
  Bytes deflated = hand::RawDeflate(content);
  Bytes padded = emptyBlocks;
  padded.insert(padded.end(), deflated.begin(), deflated.end());
  struct Case {
    const char *what;
    Bytes compressed;
    uint32_t declared;
    size_t delivered;  // bytes of content that reads return before the failure, at most
  } cases[] = {
      {"ends early", deflated, 10000, content.size()},
      {"empty blocks first", padded, (uint32_t)content.size(), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    HandBundle b;
    uint32_t offset = b.AppendData(c.compressed);
    b.AppendData(hand::PseudoRandom(9000, 93, false));
    b.AddFileRecord("long", offset, (uint32_t)c.compressed.size() + 9000, c.declared);
    OpenOrFail(b.Build());
    EntryStream *stream = MustOpen("long");
    ASSERT_NE(stream, nullptr);
    int last = 1;
    Bytes got = Drain(stream, 512, &last);
    EXPECT_EQ(last, -1);
    EXPECT_LE(got.size(), c.delivered);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin()));
    ExpectStatus(stream, ENTRY_STATUS_DECOMPRESSION_FAILED, "Decompression failed");
    // It stays failed.
    unsigned char more[512];
    EXPECT_EQ(ReadEntryStream(stream, more, sizeof more, nullptr), -1);
    CloseEntryStream(stream);
    ClosePayload();
  }
}

// Entry checksums: the read that produces an entry's last byte checks its
// CRC-32; a value that does not hold one CRC per file entry rejects the
// payload.  Entries: "text" (crc32 of "hello, world") and "empty".
TEST_F(EntryStreamTest, EntryChecksums) {
  struct Case {
    const char *value;  // of the checksum property; null for none
    const char *open;   // OpenPayload's message, "" when it succeeds
    int status;         // of the stream once "text" has been read to its end
  } cases[] = {
      {nullptr, "", ENTRY_STATUS_EOF},
      {"ffab723a 00000000", "", ENTRY_STATUS_EOF},
      {"ffab723b 00000000", "", ENTRY_STATUS_CHECKSUM_MISMATCH},
      {"ffab723a", "Invalid entry checksums", 0},              // one CRC missing
      {"ffab723a 00000000 00000000", "Invalid entry checksums", 0},  // one too many
      {"ffab723a  0000000", "Invalid entry checksums", 0},      // not one space apart
      {"FFAB723A 00000000", "Invalid entry checksums", 0},      // upper case
      {"ffab723a 00000001", "Invalid entry checksums", 0},      // an empty entry's CRC is 0
      {"", "Invalid entry checksums", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(none)");
    HandBundle b;
    b.AddFile("text", hand::ToBytes("hello, world"));
    b.AddFile("empty", Bytes());
    if (c.value) b.AddProperty(PAYLOAD_CHECKSUM_KEY, c.value);
    EXPECT_EQ(OpenFailure(b.Build()), c.open);
    if (*c.open == 0) {
      EXPECT_EQ(PayloadHasEntryChecksums(), c.value ? 1 : 0);
      EntryStream *stream = MustOpen("text");
      ASSERT_NE(stream, nullptr);
      int last = 1;
      Bytes got = Drain(stream, 5, &last);
      EXPECT_EQ(last, c.status == ENTRY_STATUS_EOF ? 0 : -1);
      EXPECT_EQ(Status(stream), c.status);
      // A mismatch stays: no later read reports the end instead.
      unsigned char more[8];
      EXPECT_EQ(ReadEntryStream(stream, more, sizeof more, nullptr), last);
      CloseEntryStream(stream);
      EXPECT_TRUE(ReadEntry("empty").empty());
    }
    ClosePayload();
  }
}

TEST_F(EntryStreamTest, FileEndingInsideTheEntryFailsWithDecompressionFailed) {
  Bytes content = hand::PseudoRandom(20000, 94, false);
  Bytes compressed = hand::RawDeflate(content);
  HandBundle b;
  b.AddFileRecord("cut", 0, (uint32_t)compressed.size(), (uint32_t)content.size());
  // Only the first 5000 compressed bytes are in the file.
  b.AppendData(Bytes(compressed.begin(), compressed.begin() + 5000));
  OpenOrFail(b.Build());
  EntryStream *stream = MustOpen("cut");
  ASSERT_NE(stream, nullptr);
  int last = 0;
  Bytes got = Drain(stream, 1024, &last);
  EXPECT_EQ(last, -1);
  EXPECT_LT(got.size(), content.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin()));
  EXPECT_EQ(Status(stream), ENTRY_STATUS_DECOMPRESSION_FAILED);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, CorruptEntryData) {
  Bytes content = hand::PseudoRandom(4000, 95, true);
  Bytes compressed = hand::RawDeflate(content);
  compressed[0] = 0x07;  // block type 3
  OpenWithCompressed("bad", compressed, (uint32_t)content.size());
  EntryStream *stream = MustOpen("bad");
  ASSERT_NE(stream, nullptr);
  unsigned char buffer[512];
  EXPECT_EQ(ReadEntryStream(stream, buffer, sizeof buffer, nullptr), -1);
  ExpectStatus(stream, ENTRY_STATUS_DECOMPRESSION_FAILED, "Decompression failed");
  EXPECT_EQ(ReadEntryStream(stream, buffer, sizeof buffer, nullptr), -1);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, HooksChangedBetweenReadsApplyToOpenStreams) {
  Bytes content = hand::PseudoRandom(9000, 96, false);
  OpenWithFile("h", content);
  EntryStream *stream = MustOpen("h");
  ASSERT_NE(stream, nullptr);
  std::vector<unsigned char> buffer(4096);
  ASSERT_GT(ReadEntryStream(stream, buffer.data(), 4096, nullptr), 0);
  EXPECT_EQ(lockCalls, 0);
  SetLockHooks(CountingLock, nullptr);
  int last = 0;
  Drain(stream, 4096, &last);
  EXPECT_EQ(last, 0);
  EXPECT_GE(lockCalls, 1);
  EXPECT_EQ(unlockCalls, 0);
  CloseEntryStream(stream);
}

TEST_F(EntryStreamTest, InflaterCreationFailure) {
  OpenWithFile("present", hand::ToBytes("p"));
  const char *message = nullptr;
  FailZlibCall(ZLIB_INFLATE_INIT, 0);
  EXPECT_EQ(OpenEntryStream("present", nullptr, 0, &message), nullptr);
  EXPECT_STREQ(message, "Failed to initialize decompressor");
  EXPECT_EQ(ReadEntry("present"), hand::ToBytes("p"));
}

TEST_F(EntryStreamTest, DictionaryRefused) {
  Bytes dictionary = hand::PseudoRandom(100, 5, true);
  OpenWithFile("present", hand::ToBytes("p"), &dictionary);
  const char *message = nullptr;
  FailZlibCall(ZLIB_SET_DICTIONARY, 0);
  EXPECT_EQ(OpenEntryStream("present", dictionary.data(), (int)dictionary.size(), &message),
            nullptr);
  EXPECT_STREQ(message, "Failed to set dictionary");
  // A null dictionary is never handed to the inflater; any other pointer is,
  // also with length 0.
  ResetZlibFaults();
  EntryStream *stream = MustOpen("present");
  ASSERT_NE(stream, nullptr);
  CloseEntryStream(stream);
  EXPECT_EQ(ZlibCallCount(ZLIB_SET_DICTIONARY), 0);
  stream = MustOpen("present", dictionary.data(), 0);
  ASSERT_NE(stream, nullptr);
  CloseEntryStream(stream);
  EXPECT_EQ(ZlibCallCount(ZLIB_SET_DICTIONARY), 1);
  EXPECT_EQ(ReadEntry("present", &dictionary), hand::ToBytes("p"));
}

TEST_F(EntryStreamTest, EntryBeyondTheFileOrBeyond2GiB) {
  HandBundle b;
  // Past the end of the file, but a valid position: the fetch delivers
  // nothing and the inflater runs dry.
  b.AddFileRecord("past-end", 0x7FFF0000u, 100, 100);
  // A position of 2^31 or more is no 32-bit file offset: the seek fails.
  b.AddFileRecord("past-2gib", 0x80000000u, 100, 100);
  OpenOrFail(b.Build());
  EntryStream *stream = MustOpen("past-end");
  ASSERT_NE(stream, nullptr);
  int last = 0;
  EXPECT_TRUE(Drain(stream, 512, &last).empty());
  EXPECT_EQ(last, -1);
  EXPECT_EQ(Status(stream), ENTRY_STATUS_DECOMPRESSION_FAILED);
  CloseEntryStream(stream);

  stream = MustOpen("past-2gib");
  ASSERT_NE(stream, nullptr);
  unsigned char buffer[64];
  EXPECT_EQ(ReadEntryStream(stream, buffer, sizeof buffer, nullptr), -1);
  ExpectStatus(stream, ENTRY_STATUS_SEEK_FAILED, "Seek failed");
  CloseEntryStream(stream);
}

namespace {

std::mutex payloadMutex;

int MutexLock(void *context) {
  payloadMutex.lock();
  return 1;
}

int MutexUnlock(void *context) {
  payloadMutex.unlock();
  return 0;
}

}  // namespace

TEST_F(EntryStreamTest, ThreadsReadingTheirOwnStreamsUnderTheLockHooks) {
  // Each thread reads its own entries; every fetch seeks and reads between
  // the hooks, so the one shared file position never mixes them up.
  const int kThreads = 4, kEntriesPerThread = 6;
  std::vector<Bytes> contents;
  HandBundle b;
  for (int i = 0; i < kThreads * kEntriesPerThread; i++) {
    contents.push_back(hand::PseudoRandom(6000 + 1500 * (size_t)i, 100 + (uint32_t)i, i % 2 == 0));
    b.AddFile("t" + std::to_string(i), contents.back());
  }
  OpenOrFail(b.Build());
  SetLockHooks(MutexLock, MutexUnlock);
  std::vector<Bytes> results(contents.size());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t, &results] {
      // Interleave this thread's own streams too.
      std::vector<EntryStream *> streams;
      for (int e = 0; e < kEntriesPerThread; e++) {
        const char *message = nullptr;
        std::string name = "t" + std::to_string(t * kEntriesPerThread + e);
        streams.push_back(OpenEntryStream(name.c_str(), nullptr, 0, &message));
      }
      std::vector<unsigned char> buffer(256);
      bool busy = true;
      while (busy) {
        busy = false;
        for (int e = 0; e < kEntriesPerThread; e++) {
          if (!streams[e]) continue;
          int n = ReadEntryStream(streams[e], buffer.data(), 256, nullptr);
          if (n <= 0) {
            CloseEntryStream(streams[e]);
            streams[e] = nullptr;
            continue;
          }
          busy = true;
          Bytes &out = results[t * kEntriesPerThread + e];
          out.insert(out.end(), buffer.begin(), buffer.begin() + n);
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (size_t i = 0; i < contents.size(); i++) EXPECT_EQ(results[i], contents[i]) << i;
}
