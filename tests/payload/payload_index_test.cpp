// Lookups in the index: the name hash, the bucket table, duplicates, case,
// ConcatenatedNames and properties.
#include <string.h>

#include "payload_fixture.h"

using hand::Bytes;
using hand::HandBundle;

namespace {

// The hash written out from its definition, as an oracle for names beyond
// the fixed examples: signed bytes, weights at the even positions of the
// table, times 5 after each byte.
uint32_t OracleHash(const std::string &name) {
  static const int weights[8] = {61, 53, 43, 37, 29, 17, 11, 3};
  uint32_t h = 0;
  for (size_t i = 0; i < name.size(); i++) {
    int32_t c = (signed char)name[i];
    h = (h + (uint32_t)(weights[i % 8] * c)) * 5u;
  }
  return h;
}

// A bundle of `files` small entries with the header announcing `count`.
Bytes CountedBundle(int files, uint32_t count) {
  HandBundle b;
  for (int i = 0; i < files; i++)
    b.AddFile("entry" + std::to_string(i), hand::ToBytes("content " + std::to_string(i)));
  b.countOverride = true;
  b.fileEntryCount = count;
  return b.Build();
}

}  // namespace

class PayloadIndexTest : public PayloadTest {};

TEST_F(PayloadIndexTest, HashOfFixedNames) {
  EXPECT_EQ(HashEntryName(""), 0u);
  EXPECT_EQ(HashEntryName("abc"), 890760u);
  EXPECT_EQ(HashEntryName("abc") % 7, 3u);
  EXPECT_EQ(HashEntryName("\xC3\xA9"), 4294851216u);
  EXPECT_EQ(HashEntryName("\xC3\xA9") % 7, 5u);
  // One letter: (61 * c) * 5.
  EXPECT_EQ(HashEntryName("a"), 61u * 97u * 5u);
}

TEST_F(PayloadIndexTest, HashWeightsRepeatEveryEightCharacters) {
  // The 9th character has the 1st one's weight: moving a byte between those
  // two positions changes the hash only through the factors of 5 between them.
  std::vector<std::string> names = {"abcdefgh",  "abcdefghi",  "com/example/Main.class",
                                    "\x80\xFF\x7F", std::string(40, 'z'),
                                    "na\xC3\xAFve/r\xC3\xA9sum\xC3\xA9.txt"};
  for (const std::string &name : names) EXPECT_EQ(HashEntryName(name.c_str()), OracleHash(name)) << name;
  EXPECT_NE(HashEntryName("abcdefghX"), HashEntryName("abcdefgh"));
}

TEST_F(PayloadIndexTest, BucketCountFollowsTheAnnouncedCount) {
  struct Case {
    uint32_t count;
    uint32_t buckets;
  } cases[] = {{0, 7},          {1, 7},          {13, 7},         {14, 15},
               {29, 15},        {30, 31},        {61, 31},        {62, 63},
               {126, 127},      {254, 255},      {510, 511},      {1022, 1023},
               {2046, 2047},    {4093, 2047},    {4094, 4095},    {8189, 4095},
               {8190, 8191},    {16381, 8191},   {16382, 16383},  {100000, 16383},
               {0x7FFFFFFF, 16383}, {0x80000000u, 7}, {0xFFFFFFFFu, 7}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    OpenOrFail(CountedBundle(3, c.count));
    EXPECT_EQ(GetPayloadBucketCount(), c.buckets);
    ClosePayload();
  }
}

// A header that announces fewer records than the table holds would leave a
// few long chains (and lookups and appends as slow as the table is large):
// the table is sized for the records then, as a truthful header sizes it.
// A header that announces more keeps its own size.
TEST_F(PayloadIndexTest, MoreRecordsThanAnnouncedSizeTheTableForTheRecords) {
  struct Case {
    uint32_t count;
    uint32_t buckets;
  } cases[] = {{0, 2047}, {1, 2047}, {14, 2047}, {3000, 2047}, {0x80000000u, 2047},
               {0xFFFFFFFFu, 2047}, {100000, 16383}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    OpenOrFail(CountedBundle(3000, c.count));
    EXPECT_EQ(GetPayloadBucketCount(), c.buckets);
    for (int i = 0; i < 3000; i += 299) {
      std::string name = "entry" + std::to_string(i);
      FileEntry *entry = nullptr;
      const char *message = nullptr;
      ASSERT_EQ(FindFileEntry(name.c_str(), &entry, &message), 1) << name;
      EXPECT_EQ(hand::ToBytes("content " + std::to_string(i)), ReadEntry(name));
    }
    EXPECT_EQ(FileEntryNames().size(), 3000u);
    ClosePayload();
  }
}

TEST_F(PayloadIndexTest, WrongCountChangesNoLookup) {
  for (uint32_t count : {0u, 1u, 14u, 100000u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(count);
    OpenOrFail(CountedBundle(40, count));
    for (int i = 0; i < 40; i++) {
      std::string name = "entry" + std::to_string(i);
      FileEntry *entry = nullptr;
      const char *message = nullptr;
      ASSERT_EQ(FindFileEntry(name.c_str(), &entry, &message), 1) << name;
      EXPECT_STREQ(entry->name, name.c_str());
      EXPECT_EQ(hand::ToBytes("content " + std::to_string(i)), ReadEntry(name));
    }
    EXPECT_EQ(FileEntryNames().size(), 40u);
    ClosePayload();
  }
}

TEST_F(PayloadIndexTest, FoundRecordCarriesItsFields) {
  HandBundle b;
  b.AddFileRecord("x", 123, 456, 789);
  b.AddFileRecord("y", 0xFFFFFFFFu, 0, 0x80000000u);
  OpenOrFail(b.Build());
  FileEntry *entry = nullptr;
  const char *message = reinterpret_cast<const char *>(1);
  ASSERT_EQ(FindFileEntry("x", &entry, &message), 1);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(entry->offset, 123u);
  EXPECT_EQ(entry->compressedSize, 456u);
  EXPECT_EQ(entry->uncompressedSize, 789u);
  ASSERT_EQ(FindFileEntry("y", &entry, &message), 1);
  EXPECT_EQ(entry->offset, 0xFFFFFFFFu);
  EXPECT_EQ(entry->compressedSize, 0u);
  EXPECT_EQ(entry->uncompressedSize, 0x80000000u);
}

TEST_F(PayloadIndexTest, DuplicateFileNamesFirstWinsBothConcatenated) {
  HandBundle b;
  b.AddFile("dup", hand::ToBytes("first"));
  b.AddFile("other", hand::ToBytes("o"));
  b.AddFile("dup", hand::ToBytes("second"));
  OpenOrFail(b.Build());
  EXPECT_EQ(ReadEntry("dup"), hand::ToBytes("first"));
  EXPECT_STREQ(GetConcatenatedNames(), "dupotherdup");
  EXPECT_EQ(FileEntryNames(), (std::vector<std::string>{"dup", "other", "dup"}));
}

TEST_F(PayloadIndexTest, DuplicatePropertyKeysLastWins) {
  HandBundle b;
  b.AddProperty("exe", "old.exe");
  b.AddProperty("msi", "a.msi");
  b.AddProperty("exe", "new.exe");
  OpenOrFail(b.Build());
  EXPECT_STREQ(FindProperty("exe"), "new.exe");
  EXPECT_STREQ(FindProperty("msi"), "a.msi");
  // The list holds the properties newest first.
  std::vector<std::string> seen;
  ForEachProperty(
      [](const PropertyEntry *property, void *context) {
        static_cast<std::vector<std::string> *>(context)->push_back(std::string(property->key) +
                                                                    "=" + property->value);
      },
      &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"exe=new.exe", "msi=a.msi", "exe=old.exe"}));
}

TEST_F(PayloadIndexTest, PropertyKeyFieldIsZeroPadded) {
  HandBundle b;
  b.AddProperty("Main-Class", "com.example.Main");
  OpenOrFail(b.Build());
  const PropertyEntry *found = nullptr;
  ForEachProperty([](const PropertyEntry *property,
                     void *context) { *static_cast<const PropertyEntry **>(context) = property; },
                  &found);
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->key, "Main-Class");
  for (size_t i = strlen("Main-Class"); i < sizeof found->key; i++) EXPECT_EQ(found->key[i], 0);
}

TEST_F(PayloadIndexTest, LookupsAreCaseSensitive) {
  HandBundle b;
  b.AddProperty("Main-Class", "app.Main");
  b.AddFile("Setup.MSI", hand::ToBytes("x"));
  OpenOrFail(b.Build());
  EXPECT_STREQ(FindProperty("Main-Class"), "app.Main");
  EXPECT_EQ(FindProperty("main-class"), nullptr);
  EXPECT_EQ(FindProperty("MAIN-CLASS"), nullptr);
  EXPECT_EQ(FindProperty("Main-Clas"), nullptr);
  EXPECT_EQ(FindProperty("Main-Classes"), nullptr);
  FileEntry *entry = nullptr;
  const char *message = nullptr;
  EXPECT_EQ(FindFileEntry("setup.msi", &entry, &message), 0);
  EXPECT_STREQ(message, "File not found");
  EXPECT_EQ(FindFileEntry("Setup.MSI", &entry, &message), 1);
  EXPECT_EQ(message, nullptr);
}

TEST_F(PayloadIndexTest, PropertiesOnly) {
  HandBundle b;
  b.AddProperty("msi", "a.msi");
  b.AddProperty("exe", "a.exe");
  OpenOrFail(b.Build());
  EXPECT_EQ(GetConcatenatedNames(), nullptr);
  EXPECT_TRUE(FileEntryNames().empty());
  for (const char *name : {"msi", "exe", "", "a.msi"}) {
    FileEntry *entry = nullptr;
    const char *message = nullptr;
    EXPECT_EQ(FindFileEntry(name, &entry, &message), 0) << name;
    EXPECT_STREQ(message, "File not found");
    const char *streamMessage = nullptr;
    EXPECT_EQ(OpenEntryStream(name, nullptr, 0, &streamMessage), nullptr);
    EXPECT_STREQ(streamMessage, "File not found");
  }
}

TEST_F(PayloadIndexTest, EmptyNameAndEmptyValues) {
  HandBundle b;
  b.AddFile("", hand::ToBytes("nameless"));
  b.AddProperty("", "");
  b.AddProperty("empty", "");
  OpenOrFail(b.Build());
  EXPECT_EQ(ReadEntry(""), hand::ToBytes("nameless"));
  ASSERT_NE(GetConcatenatedNames(), nullptr);
  EXPECT_STREQ(GetConcatenatedNames(), "");
  ASSERT_NE(FindProperty(""), nullptr);
  EXPECT_STREQ(FindProperty(""), "");
  ASSERT_NE(FindProperty("empty"), nullptr);
  EXPECT_STREQ(FindProperty("empty"), "");
}

TEST_F(PayloadIndexTest, NamesWithHighBytes) {
  std::vector<std::string> names = {"\xC3\xA9", "caf\xC3\xA9.txt", "\xFF\xFE\x80", "\x01\x7F"};
  HandBundle b;
  for (const std::string &name : names) b.AddFile(name, hand::ToBytes("<" + name + ">"));
  OpenOrFail(b.Build());
  for (const std::string &name : names) EXPECT_EQ(ReadEntry(name), hand::ToBytes("<" + name + ">"));
  FileEntry *entry = nullptr;
  const char *message = nullptr;
  EXPECT_EQ(FindFileEntry("\xC3\x89", &entry, &message), 0);
  EXPECT_EQ(FindFileEntry("caf\xC3\xA9", &entry, &message), 0);
}

TEST_F(PayloadIndexTest, ManyEntriesInOneTableAllFound) {
  // 6000 entries announced as 6000 (4095 buckets, chains of one or two) and a
  // second time announced as 0 (7 buckets, long chains): every name finds its
  // own record, and ConcatenatedNames joins them all in table order.
  for (uint32_t count : {6000u, 0u}) {
    SCOPED_TRACE(count);
    HandBundle b;
    std::string joined;
    const int n = 6000;
    for (int i = 0; i < n; i++) {
      std::string name = "com/example/pkg" + std::to_string(i % 37) + "/C" + std::to_string(i) + ".class";
      b.AddFileRecord(name, (uint32_t)i, (uint32_t)(i * 3), (uint32_t)(i * 7));
      joined += name;
    }
    b.countOverride = true;
    b.fileEntryCount = count;
    OpenOrFail(b.Build());
    for (int i = 0; i < n; i++) {
      std::string name = "com/example/pkg" + std::to_string(i % 37) + "/C" + std::to_string(i) + ".class";
      FileEntry *entry = nullptr;
      const char *message = nullptr;
      ASSERT_EQ(FindFileEntry(name.c_str(), &entry, &message), 1) << name;
      EXPECT_EQ(entry->offset, (uint32_t)i);
      EXPECT_EQ(entry->compressedSize, (uint32_t)(i * 3));
      EXPECT_EQ(entry->uncompressedSize, (uint32_t)(i * 7));
    }
    ASSERT_NE(GetConcatenatedNames(), nullptr);
    EXPECT_EQ(std::string(GetConcatenatedNames()), joined);
    ClosePayload();
  }
}

TEST_F(PayloadIndexTest, ReopeningShowsOnlyTheNewPayload) {
  HandBundle first;
  first.AddFile("old", hand::ToBytes("old content"));
  first.AddProperty("msi", "old.msi");
  OpenOrFail(first.Build());
  ClosePayload();
  HandBundle second;
  second.AddFile("new", hand::ToBytes("new content"));
  OpenOrFail(second.Build());
  FileEntry *entry = nullptr;
  const char *message = nullptr;
  EXPECT_EQ(FindFileEntry("old", &entry, &message), 0);
  EXPECT_EQ(FindProperty("msi"), nullptr);
  EXPECT_STREQ(GetConcatenatedNames(), "new");
  EXPECT_EQ(ReadEntry("new"), hand::ToBytes("new content"));
}

TEST_F(PayloadIndexTest, BadRecordAfterGoodOnesStillFails) {
  HandBundle b;
  b.AddFile("good1", hand::ToBytes("1"));
  b.AddProperty("msi", "x.msi");
  b.AddFile("good2", hand::ToBytes("2"));
  b.records.push_back(0);
  b.AddFile("never", hand::ToBytes("3"));
  EXPECT_EQ(OpenFailure(b.Build()), "Invalid TOC entry type");
}
