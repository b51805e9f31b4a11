// Every message of OpenPayload, through the platform's fault seams and failing
// allocations, and what a failed open leaves behind.
#include <dirent.h>
#include <string.h>

#include "payload_fixture.h"

using hand::Bytes;
using hand::HandBundle;

namespace {

int OpenDescriptors() {
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  while (struct dirent *e = readdir(dir))
    if (e->d_name[0] != '.') count++;
  closedir(dir);
  return count - 1;  // the directory's own descriptor
}

// Two blocks of stub, then a payload with one file and one property.
Bytes TwoBlockStubBundle() {
  HandBundle b;
  b.stub = hand::PseudoRandom(1000, 4, false);
  b.AddFile("a", hand::ToBytes("aaaa"));
  b.AddProperty("k", "v");
  return b.Build();
}

}  // namespace

class PayloadOpenTest : public PayloadTest {
 protected:
  // Points the running executable's path at a file of TwoBlockStubBundle.
  std::string UseTwoBlockStub() {
    std::string path = hand::WriteTempFile(TwoBlockStubBundle());
    PlatformSetModulePath(path.c_str());
    return path;
  }

  // OpenPayload with the `skip`+1st call of `call` failing: must fail.
  // Returns its message.
  static std::string FailingOpen(PlatformCall call, int skip) {
    PlatformFailCall(call, skip, 0);
    const char *message = nullptr;
    EXPECT_EQ(OpenPayload(&message), 0);
    return message ? message : "(null)";
  }
};

TEST_F(PayloadOpenTest, SuccessClearsTheMessage) {
  const char *message = "stale";
  ASSERT_EQ(OpenBundle(TwoBlockStubBundle(), &message), 1);
  EXPECT_EQ(message, nullptr);
}

TEST_F(PayloadOpenTest, OpenPayloadFileReadsTheSameWay) {
  std::string path = hand::WriteTempFile(TwoBlockStubBundle());
  const char *message = "stale";
  ASSERT_EQ(OpenPayloadFile(path.c_str(), &message), 1);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(ReadEntry("a"), hand::ToBytes("aaaa"));
  ClosePayload();
  EXPECT_EQ(OpenPayloadFile("/nonexistent/satchel/bundle", &message), 0);
  EXPECT_STREQ(message, "Failed to open file");
}

TEST_F(PayloadOpenTest, MissingFile) {
  PlatformSetModulePath("/nonexistent/satchel/launcher.exe");
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 0);
  EXPECT_STREQ(message, "Failed to open file");
}

TEST_F(PayloadOpenTest, ModulePathTooLongForTheBuffer) {
  // The path is cut to the 4096-unit buffer and then names no file.
  std::string path = "/tmp/" + std::string(5000, 'p');
  PlatformSetModulePath(path.c_str());
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 0);
  EXPECT_STREQ(message, "Failed to open file");
}

TEST_F(PayloadOpenTest, CreateFileFailure) {
  UseTwoBlockStub();
  EXPECT_EQ(FailingOpen(PLATFORM_CREATE_FILE, 0), "Failed to open file");
  // The fault was one-shot: the same file opens now.
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 1);
}

TEST_F(PayloadOpenTest, TheRunningTestProgramHasNoPayload) {
  // No module path set: OpenPayload reads this very executable, which holds
  // the magic only inside its code and data, never as a valid header.
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 0);
  EXPECT_STREQ(message, "Failed to find start of compressed data");
}

TEST_F(PayloadOpenTest, ScanReadFailure) {
  UseTwoBlockStub();
  for (int skip : {0, 1}) {
    SCOPED_TRACE(skip);
    EXPECT_EQ(FailingOpen(PLATFORM_READ_FILE, skip), "Failed to find start of compressed data");
    ClosePayload();
  }
}

TEST_F(PayloadOpenTest, ScanReadsOneBlockAtATime) {
  UseTwoBlockStub();
  const char *message = nullptr;
  ASSERT_EQ(OpenPayload(&message), 1);
  // Blocks 0 and 1 are stub, block 2 the header, then the table.
  EXPECT_EQ(PlatformCallCount(PLATFORM_READ_FILE), 4);
  // One step back to the header's end, one position query.
  EXPECT_EQ(PlatformCallCount(PLATFORM_SET_FILE_POINTER), 2);
}

TEST_F(PayloadOpenTest, SeekBackFailure) {
  UseTwoBlockStub();
  EXPECT_EQ(FailingOpen(PLATFORM_SET_FILE_POINTER, 0), "Failed to seek in file");
}

TEST_F(PayloadOpenTest, TableReadFailure) {
  UseTwoBlockStub();
  // Three scan reads, then the table.
  EXPECT_EQ(FailingOpen(PLATFORM_READ_FILE, 3), "Failed to read table of contents");
}

TEST_F(PayloadOpenTest, TableRunningPastTheEndOfTheFile) {
  HandBundle b;
  b.AddFile("a", hand::ToBytes("aaaa"));
  Bytes toc = hand::RawDeflate(b.records);
  hand::HeaderFields fields = b.Fields(toc);
  fields.tocCompressedSize += 1000;
  EXPECT_EQ(OpenFailure(hand::Assemble({}, 0, hand::HeaderBytes(fields), toc, b.entryData)),
            "Failed to read table of contents");
}

TEST_F(PayloadOpenTest, AReplacedTableEntryIsTheCallMade) {
  UseTwoBlockStub();
  auto system = platformCalls.SetFilePointer;
  platformCalls.SetFilePointer = [](HANDLE, LONG, LONG *, DWORD) -> DWORD {
    return INVALID_SET_FILE_POINTER;
  };
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 0);
  platformCalls.SetFilePointer = system;
  EXPECT_STREQ(message, "Failed to seek in file");
}

TEST_F(PayloadOpenTest, PositionQueryFailure) {
  UseTwoBlockStub();
  EXPECT_EQ(FailingOpen(PLATFORM_SET_FILE_POINTER, 1), "Failed to get file offset");
}

// A header at 2 GiB (behind a hole of a sparse file) would put the entry data
// at a file offset that no signed 32-bit value holds.
TEST_F(PayloadOpenTest, PayloadBeyond2GiBIsRefused) {
  HandBundle b;
  b.AddFile("a", hand::ToBytes("aaaa"));
  Bytes payload = b.Build();
  std::string path = hand::WriteTempFile({});
  FILE *file = fopen(path.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(fseeko(file, (off_t)0x80000000u, SEEK_SET), 0);
  ASSERT_EQ(fwrite(payload.data(), 1, payload.size(), file), payload.size());
  ASSERT_EQ(fclose(file), 0);
  PlatformSetModulePath(path.c_str());
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 0);
  EXPECT_STREQ(message, "Failed to get file offset");
  EXPECT_EQ(GetPayloadEntryDataStart(), 0);
}

TEST_F(PayloadOpenTest, FailedOpensCloseTheFile) {
  int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  std::string path = UseTwoBlockStub();
  const char *message = nullptr;
  struct Fault {
    PlatformCall call;
    int skip;
  } faults[] = {{PLATFORM_READ_FILE, 0},
                {PLATFORM_READ_FILE, 3},
                {PLATFORM_SET_FILE_POINTER, 0},
                {PLATFORM_SET_FILE_POINTER, 1}};
  for (const Fault &fault : faults) {
    PlatformFailCall(fault.call, fault.skip, 0);
    EXPECT_EQ(OpenPayload(&message), 0);
    EXPECT_EQ(OpenDescriptors(), before);
    ClosePayload();
  }
  HandBundle bad;
  bad.records.push_back(3);
  EXPECT_EQ(OpenFailure(bad.Build()), "Invalid TOC entry type");
  EXPECT_EQ(OpenDescriptors(), before);
  ClosePayload();
  // A successful open keeps one descriptor until ClosePayload.
  PlatformSetModulePath(path.c_str());
  ASSERT_EQ(OpenPayload(&message), 1);
  EXPECT_EQ(OpenDescriptors(), before + 1);
  ClosePayload();
  EXPECT_EQ(OpenDescriptors(), before);
}

// Fails the 1st, 2nd, 3rd ... allocation of an open over a table of a file
// record, then a property, until the open succeeds.  Each failure must carry
// the message of its step; the steps come in order.
TEST_F(PayloadOpenTest, EveryAllocationFailureHasItsMessage) {
  HandBundle b;
  b.AddFile("file", hand::ToBytes("content"));
  b.AddProperty("key", "value");
  PlatformSetModulePath(hand::WriteTempFile(b.Build()).c_str());

  std::vector<std::string> messages;
  bool opened = false;
  for (int n = 0; n < 100 && !opened; n++) {
    ClosePayload();
    const char *message = nullptr;
    FailAllocationAfter(n);
    int ok = OpenPayload(&message);
    bool failed = AllocationFailureHappened();
    DisarmAllocationFaults();
    if (!failed) {
      ASSERT_EQ(ok, 1) << "no allocation failed, yet: " << (message ? message : "");
      opened = true;
      break;
    }
    ASSERT_EQ(ok, 0) << "allocation " << n << " failed and the open succeeded";
    ASSERT_NE(message, nullptr) << n;
    messages.push_back(message);
  }
  ASSERT_TRUE(opened);
  // Failures inside the platform layer (the path, the handle record) come
  // first and read "Failed to open file"; then the library's own steps.
  std::vector<std::string> steps;
  for (const std::string &m : messages) {
    if (m == "Failed to open file" && steps.empty()) continue;
    if (steps.empty() || steps.back() != m) steps.push_back(m);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "Memory allocation error",   // table buffer, EntryTable
                       "Memory allocation failed",  // inflated records
                       "Memory allocation error",   // FileEntry
                       "Memory allocation failed",  // ConcatenatedNames
                       "Memory allocation error",   // PropertyEntry
                   }));
  // After a success the index is complete.
  EXPECT_EQ(ReadEntry("file"), hand::ToBytes("content"));
  EXPECT_STREQ(FindProperty("key"), "value");
}

TEST_F(PayloadOpenTest, FirstAllocationOfTheLibraryIsTheTableBuffer) {
  // The table buffer is the first allocation behind the open file; failing it
  // is the first "Memory allocation error" of an open.
  HandBundle b;
  b.AddProperty("k", "v");
  PlatformSetModulePath(hand::WriteTempFile(b.Build()).c_str());
  const char *message = nullptr;
  for (int n = 0;; n++) {
    ASSERT_LT(n, 20);
    ClosePayload();
    FailAllocationAfter(n);
    int ok = OpenPayload(&message);
    DisarmAllocationFaults();
    ASSERT_EQ(ok, 0);
    if (strcmp(message, "Failed to open file") == 0) continue;
    EXPECT_STREQ(message, "Memory allocation error");
    // Nothing had been read but the header's block.
    EXPECT_EQ(PlatformCallCount(PLATFORM_SET_FILE_POINTER), 0);
    break;
  }
}

TEST_F(PayloadOpenTest, InflaterCreationFailure) {
  UseTwoBlockStub();
  FailZlibCall(ZLIB_INFLATE_INIT, 0);
  const char *message = nullptr;
  EXPECT_EQ(OpenPayload(&message), 0);
  EXPECT_STREQ(message, "Failed to initialize decompressor");
  EXPECT_EQ(ZlibCallCount(ZLIB_INFLATE_INIT), 1);
  ClosePayload();
  EXPECT_EQ(OpenPayload(&message), 1);
}
