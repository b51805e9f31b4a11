// The common frame of the payload tests: every test starts with no payload
// open, no hooks, no injected faults, and leaves the process that way, so
// that each test can open a bundle of its own in the same process.
#ifndef SATCHEL_TESTS_PAYLOAD_FIXTURE_H
#define SATCHEL_TESTS_PAYLOAD_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc_faults.h"
#include "hand_bundle.h"
#include "payload.h"
#include "zlib_faults.h"

class PayloadTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    Reset();
    hand::RemoveTempFiles();
  }

  static void Reset() {
    DisarmAllocationFaults();
    SetAllocationFill(nullptr, 0);
    ResetZlibFaults();
    SetLockHooks(nullptr, nullptr);
    ClosePayload();
    PlatformResetFaults();
    PlatformSetModulePath(nullptr);
  }

  // Writes the bundle to a file and indexes it through OpenPayload itself,
  // with the running executable's path pointed at that file.  Returns
  // OpenPayload's result; *message receives its message.
  int OpenBundle(const hand::Bytes &bundle, const char **message) {
    std::string path = hand::WriteTempFile(bundle);
    PlatformSetModulePath(path.c_str());
    return OpenPayload(message);
  }

  // The message of a failing OpenPayload over these bytes ("" on success).
  std::string OpenFailure(const hand::Bytes &bundle) {
    const char *message = reinterpret_cast<const char *>(1);
    int ok = OpenBundle(bundle, &message);
    if (ok) {
      EXPECT_EQ(message, nullptr);
      return "";
    }
    EXPECT_NE(message, nullptr);
    return message ? message : "(null message)";
  }

  // Opens the bundle and fails the test unless that succeeds.
  void OpenOrFail(const hand::Bytes &bundle) {
    const char *message = nullptr;
    ASSERT_EQ(OpenBundle(bundle, &message), 1) << (message ? message : "");
    ASSERT_EQ(message, nullptr);
  }

  // Reads the whole entry through a stream with reads of `chunk` bytes.
  // Fails the test on an open or read failure.
  static hand::Bytes ReadEntry(const std::string &name, const hand::Bytes *dictionary = nullptr,
                               uint32_t chunk = 512) {
    const char *message = nullptr;
    EntryStream *stream = OpenEntryStream(
        name.c_str(), dictionary ? dictionary->data() : nullptr,
        dictionary ? (int)dictionary->size() : 0, &message);
    EXPECT_NE(stream, nullptr) << name << ": " << (message ? message : "");
    if (!stream) return {};
    hand::Bytes out;
    std::vector<unsigned char> buffer(chunk);
    for (;;) {
      int n = ReadEntryStream(stream, buffer.data(), chunk, nullptr);
      if (n < 0) {
        const char *status = nullptr;
        GetEntryStreamStatus(stream, &status);
        ADD_FAILURE() << name << ": read failed: " << (status ? status : "");
        break;
      }
      if (n == 0) break;
      EXPECT_LE((uint32_t)n, chunk);
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    CloseEntryStream(stream);
    return out;
  }

  static std::vector<std::string> FileEntryNames() {
    std::vector<std::string> names;
    ForEachFileEntry(
        [](const FileEntry *entry, void *context) {
          static_cast<std::vector<std::string> *>(context)->push_back(entry->name);
        },
        &names);
    return names;
  }
};

#endif  // SATCHEL_TESTS_PAYLOAD_FIXTURE_H
