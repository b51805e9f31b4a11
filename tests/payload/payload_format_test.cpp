// Where the header may stand, what counts as one, and the table of contents
// as bytes: valid layouts from any builder, and malformed ones that must fail
// without reading outside the inflated records.
#include <string.h>

#include "payload_fixture.h"

using hand::Bytes;
using hand::HandBundle;

namespace {

const char kNoHeader[] = "Failed to find start of compressed data";

std::string Str(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

// A small bundle with two files and a property, for the placement tests.
HandBundle SmallBundle() {
  HandBundle b;
  b.AddFile("first.txt", hand::ToBytes("the first entry"));
  b.AddProperty("msi", "Setup.msi");
  b.AddFile("second.bin", hand::PseudoRandom(3000, 7, false));
  return b;
}

}  // namespace

class PayloadFormatTest : public PayloadTest {
 protected:
  void ExpectSmallBundle() {
    EXPECT_EQ(Str(ReadEntry("first.txt")), "the first entry");
    EXPECT_EQ(ReadEntry("second.bin"), hand::PseudoRandom(3000, 7, false));
    ASSERT_NE(FindProperty("msi"), nullptr);
    EXPECT_STREQ(FindProperty("msi"), "Setup.msi");
  }
};

TEST_F(PayloadFormatTest, HeaderBehindAStubOfAnyLengthIsFound) {
  for (size_t stubSize : {0u, 1u, 511u, 512u, 513u, 1024u, 4000u}) {
    SCOPED_TRACE(stubSize);
    HandBundle b = SmallBundle();
    b.stub = hand::PseudoRandom(stubSize, (uint32_t)stubSize, false);
    b.filler = 0xA5;
    OpenOrFail(b.Build());
    size_t headerAt = (stubSize + 511) / 512 * 512;
    Bytes toc = hand::RawDeflate(b.records);
    EXPECT_EQ(GetPayloadEntryDataStart(), (int32_t)(headerAt + 36 + toc.size()));
    ExpectSmallBundle();
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, HeaderOffTheBlockGridIsNeverFound) {
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  Bytes header = hand::HeaderBytes(b.Fields(toc));
  for (size_t at : {1u, 35u, 100u, 256u, 511u, 513u, 1000u, 1023u, 1025u}) {
    SCOPED_TRACE(at);
    Bytes file = hand::PseudoRandom(at, 3, false);
    hand::Append(file, header);
    hand::Append(file, toc);
    hand::Append(file, b.entryData);
    // Plenty of bytes behind, so that every block start is a full block.
    hand::Append(file, Bytes(2048, 0));
    EXPECT_EQ(OpenFailure(file), kNoHeader);
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, MagicWithWrongCrcIsPassedOver) {
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  hand::HeaderFields fields = b.Fields(toc);
  // Block 0: the magic with sensible fields but a CRC off by one, followed by
  // the real table, so a reader that skipped the CRC would even succeed here.
  Bytes file = hand::HeaderBytes(fields, false);
  hand::Append(file, toc);
  hand::Append(file, b.entryData);
  while (file.size() % 512) file.push_back(0);
  // Block 1: the magic alone, then garbage.
  hand::Append(file, hand::ToBytes("_kestrel_Header_"));
  hand::Append(file, hand::PseudoRandom(496, 9, false));
  // Block 2: the valid header.
  size_t headerAt = file.size();
  hand::Append(file, hand::HeaderBytes(fields));
  hand::Append(file, toc);
  hand::Append(file, b.entryData);
  OpenOrFail(file);
  EXPECT_EQ(GetPayloadEntryDataStart(), (int32_t)(headerAt + 36 + toc.size()));
  ExpectSmallBundle();
}

TEST_F(PayloadFormatTest, OnlyAMagicWithWrongCrcMeansNoPayload) {
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  Bytes file = hand::PseudoRandom(1024, 1, false);
  hand::Append(file, hand::HeaderBytes(b.Fields(toc), false));
  hand::Append(file, toc);
  hand::Append(file, b.entryData);
  EXPECT_EQ(OpenFailure(file), kNoHeader);
}

TEST_F(PayloadFormatTest, EveryCrcBitCounts) {
  HandBundle b = SmallBundle();
  Bytes good = b.Build();
  for (int bit = 0; bit < 32; bit++) {
    Bytes bad = good;
    bad[32 + bit / 8] ^= (unsigned char)(1 << (bit % 8));
    EXPECT_EQ(OpenFailure(bad), kNoHeader) << bit;
    ClosePayload();
  }
  // Bytes 0 to 31 are covered too: a changed count breaks the CRC.
  Bytes bad = good;
  bad[16] ^= 1;
  EXPECT_EQ(OpenFailure(bad), kNoHeader);
}

TEST_F(PayloadFormatTest, ValidHeaderAtAnOddOffsetBeforeTheRealOneIsIgnored) {
  // A complete header with a correct CRC, but 10 bytes into the file, whose
  // table would fail; the real header at 512 must win.
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  hand::HeaderFields decoy;
  decoy.tocCompressedSize = 5;
  decoy.tocUncompressedSize = 5;
  Bytes file(10, 'x');
  hand::Append(file, hand::HeaderBytes(decoy));
  hand::Append(file, Bytes(5, 0xFF));
  while (file.size() % 512) file.push_back(0);
  hand::Append(file, hand::HeaderBytes(b.Fields(toc)));
  hand::Append(file, toc);
  hand::Append(file, b.entryData);
  OpenOrFail(file);
  ExpectSmallBundle();
}

TEST_F(PayloadFormatTest, HeaderInTheLastBlockNeedsAll36Bytes) {
  hand::HeaderFields fields;
  fields.tocCompressedSize = 2;  // an empty raw deflate stream
  fields.tocUncompressedSize = 0;
  Bytes header = hand::HeaderBytes(fields);
  // Exactly 36 bytes of the last block: the header is found, and only the
  // table of contents behind it is missing.
  Bytes file(512, 'S');
  hand::Append(file, header);
  EXPECT_EQ(OpenFailure(file), "Failed to read table of contents");
  ClosePayload();
  // 35 bytes: no header.
  file.pop_back();
  EXPECT_EQ(OpenFailure(file), kNoHeader);
  ClosePayload();
  // The whole payload inside the last, partial block.
  HandBundle b;
  b.stub = Bytes(512, 'S');
  b.AddFile("tiny", hand::ToBytes("tiny entry"));
  b.AddProperty("msi", "Setup.msi");
  Bytes whole = b.Build();
  ASSERT_LT(whole.size(), 1024u);
  OpenOrFail(whole);
  EXPECT_EQ(ReadEntry("tiny"), hand::ToBytes("tiny entry"));
  EXPECT_STREQ(FindProperty("msi"), "Setup.msi");
}

TEST_F(PayloadFormatTest, EmptyFileHasNoPayload) { EXPECT_EQ(OpenFailure(Bytes()), kNoHeader); }

TEST_F(PayloadFormatTest, WrongEntryDataSizeChangesNothing) {
  for (uint32_t size : {0u, 1u, 12345u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    HandBundle b = SmallBundle();
    b.entryDataSizeOverride = true;
    b.entryDataSize = size;
    OpenOrFail(b.Build());
    ExpectSmallBundle();
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, EntriesStoredOutOfOrderWithGapsReadTheSame) {
  // Entry data in reverse table order, with junk between and before entries,
  // records and properties interleaved.
  Bytes a = hand::PseudoRandom(5000, 1, true), c = hand::PseudoRandom(20000, 2, false);
  Bytes za = hand::RawDeflate(a), zc = hand::RawDeflate(c);
  HandBundle b;
  b.stub = hand::ToBytes("MZ not really a program");
  b.filler = 0xFF;
  b.AddProperty("exe", "setup.exe");
  b.AppendData(hand::PseudoRandom(77, 5, false));
  uint32_t offsetC = b.AppendData(zc);
  b.AppendData(Bytes(3, 0xEE));
  uint32_t offsetA = b.AppendData(za);
  b.AppendData(hand::PseudoRandom(1000, 6, false));
  b.AddFileRecord("a", offsetA, (uint32_t)za.size(), (uint32_t)a.size());
  b.AddProperty("msi", "product.msi");
  b.AddFileRecord("c", offsetC, (uint32_t)zc.size(), (uint32_t)c.size());
  OpenOrFail(b.Build());
  EXPECT_EQ(ReadEntry("a"), a);
  EXPECT_EQ(ReadEntry("c", nullptr, 4096), c);
  EXPECT_STREQ(FindProperty("exe"), "setup.exe");
  EXPECT_STREQ(FindProperty("msi"), "product.msi");
  EXPECT_STREQ(GetConcatenatedNames(), "ac");
}

TEST_F(PayloadFormatTest, EmptyTableOfContentsOpens) {
  HandBundle b;
  OpenOrFail(b.Build());
  EXPECT_EQ(GetConcatenatedNames(), nullptr);
  EXPECT_EQ(FindProperty("msi"), nullptr);
  FileEntry *entry = nullptr;
  const char *message = nullptr;
  EXPECT_EQ(FindFileEntry("msi", &entry, &message), 0);
  EXPECT_STREQ(message, "File not found");
}

TEST_F(PayloadFormatTest, TableInflatingToMoreThanDeclaredIsRejected) {
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  hand::HeaderFields fields = b.Fields(toc);
  fields.tocUncompressedSize -= 1;
  EXPECT_EQ(OpenFailure(hand::Assemble({}, 0, hand::HeaderBytes(fields), toc, b.entryData)),
            "Decompression failed");
}

TEST_F(PayloadFormatTest, CorruptTableIsRejected) {
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  // Block type 3 does not exist in deflate.
  Bytes bad = {0x07, 0x00, 0x00, 0x00};
  hand::HeaderFields fields = b.Fields(toc);
  fields.tocCompressedSize = (uint32_t)bad.size();
  EXPECT_EQ(OpenFailure(hand::Assemble({}, 0, hand::HeaderBytes(fields), bad, b.entryData)),
            "Decompression failed");
  ClosePayload();
  // A table cut short: the stream never ends.
  Bytes cut(toc.begin(), toc.begin() + toc.size() / 2);
  fields = b.Fields(toc);
  fields.tocCompressedSize = (uint32_t)cut.size();
  EXPECT_EQ(OpenFailure(hand::Assemble({}, 0, hand::HeaderBytes(fields), cut, {})),
            "Decompression failed");
}

TEST_F(PayloadFormatTest, TableInflatingToFewerBytesThanDeclaredFails) {
  HandBundle b = SmallBundle();
  Bytes toc = hand::RawDeflate(b.records);
  for (uint32_t extra : {1u, 13u, 4096u}) {
    SCOPED_TRACE(extra);
    hand::HeaderFields fields = b.Fields(toc);
    fields.tocUncompressedSize += extra;
    std::string failure =
        OpenFailure(hand::Assemble({}, 0, hand::HeaderBytes(fields), toc, b.entryData));
    EXPECT_NE(failure, "");
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, ShortTableFailsWhateverTheUnwrittenBytesHold) {
  // The bytes behind a short table were never written.  Fill fresh heap
  // blocks with empty property records (2, 0, 0), so that a reader that
  // walked them would find only valid records: the shortfall itself must be
  // what fails the open.
  HandBundle b;
  b.AddFile("f", hand::ToBytes("x"));
  // A property record takes 4 bytes plus its value: pad to a multiple of 3.
  b.AddProperty("p", std::string((3 - (b.records.size() + 4) % 3) % 3, 'w'));
  ASSERT_EQ(b.records.size() % 3, 0u);
  Bytes toc = hand::RawDeflate(b.records);
  static const unsigned char emptyProperty[3] = {2, 0, 0};
  for (uint32_t extra : {3u, 30u, 3000u}) {
    SCOPED_TRACE(extra);
    hand::HeaderFields fields = b.Fields(toc);
    fields.tocUncompressedSize += extra;
    Bytes file = hand::Assemble({}, 0, hand::HeaderBytes(fields), toc, b.entryData);
    SetAllocationFill(emptyProperty, sizeof emptyProperty);
    std::string failure = OpenFailure(file);
    SetAllocationFill(nullptr, 0);
    EXPECT_NE(failure, "");
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, UnknownRecordTypeAfterGoodRecordsRejectsThePayload) {
  for (unsigned char type : {0, 3, 0x81, 0xFF}) {
    SCOPED_TRACE((int)type);
    HandBundle b = SmallBundle();
    b.records.push_back(type);
    hand::Append(b.records, hand::ToBytes("name"));
    b.records.push_back(0);
    EXPECT_EQ(OpenFailure(b.Build()), "Invalid TOC entry type");
    ClosePayload();
  }
  // Also as the very first record.
  HandBundle b;
  b.records.push_back(0);
  EXPECT_EQ(OpenFailure(b.Build()), "Invalid TOC entry type");
}

TEST_F(PayloadFormatTest, FileRecordCutShortAnywhereFails) {
  Bytes good = hand::FileRecord("cut.bin", 0, 10, 20);
  // Every proper prefix of a file record, behind one good property: the walk
  // must stop inside the inflated bytes.
  for (size_t keep = 1; keep < good.size(); keep++) {
    SCOPED_TRACE(keep);
    HandBundle b;
    b.AddProperty("k", "v");
    b.records.insert(b.records.end(), good.begin(), good.begin() + keep);
    EXPECT_NE(OpenFailure(b.Build()), "");
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, PropertyWithoutItsNulsFails) {
  // Key without NUL, value without NUL, and a value that swallows the rest.
  std::vector<Bytes> tails = {
      {2, 'k', 'e', 'y'},
      {2, 'k', 'e', 'y', 0},
      {2, 'k', 'e', 'y', 0, 'v', 'a', 'l'},
      {2},
  };
  for (size_t i = 0; i < tails.size(); i++) {
    SCOPED_TRACE(i);
    HandBundle b = SmallBundle();
    hand::Append(b.records, tails[i]);
    EXPECT_NE(OpenFailure(b.Build()), "");
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, PropertyKeyLengthLimit) {
  std::string key31(31, 'k');
  HandBundle ok;
  ok.AddProperty(key31, "fits");
  OpenOrFail(ok.Build());
  EXPECT_STREQ(FindProperty(key31.c_str()), "fits");
  ClosePayload();

  for (size_t length : {32u, 33u, 200u}) {
    SCOPED_TRACE(length);
    HandBundle b;
    b.AddProperty(std::string(length, 'k'), "too long");
    std::string failure = OpenFailure(b.Build());
    EXPECT_NE(failure, "");
    ClosePayload();
  }
}

TEST_F(PayloadFormatTest, AFailedOpenLeavesTheNextOneUnaffected) {
  HandBundle bad = SmallBundle();
  bad.records.push_back(3);
  EXPECT_EQ(OpenFailure(bad.Build()), "Invalid TOC entry type");
  ClosePayload();
  HandBundle good;
  good.AddFile("only", hand::ToBytes("one"));
  OpenOrFail(good.Build());
  EXPECT_EQ(FileEntryNames(), std::vector<std::string>{"only"});
  EXPECT_STREQ(GetConcatenatedNames(), "only");
  EXPECT_EQ(FindProperty("msi"), nullptr);
}

// The one header codec meets the header bytes written by hand here: what it
// encodes is those bytes, and what it decodes from them is the fields, with
// the verdict on the magic and the CRC.
TEST_F(PayloadFormatTest, HeaderCodecMeetsHandWrittenHeaders) {
  hand::HeaderFields fields;
  fields.fileEntryCount = 3;
  fields.tocCompressedSize = 0x12345678;
  fields.tocUncompressedSize = 0x80000001;
  fields.entryDataSize = 0xFFFFFFFF;
  Bytes good = hand::HeaderBytes(fields);
  PayloadHeader header = {fields.fileEntryCount, fields.tocCompressedSize,
                          fields.tocUncompressedSize, fields.entryDataSize, 0};
  unsigned char encoded[PAYLOAD_HEADER_SIZE];
  EncodePayloadHeader(&header, encoded);
  EXPECT_EQ(Bytes(encoded, encoded + PAYLOAD_HEADER_SIZE), good);

  PayloadHeader decoded = {};
  ASSERT_EQ(DecodePayloadHeader(good.data(), &decoded), PAYLOAD_HEADER_FOUND);
  EXPECT_EQ(decoded.fileEntryCount, 3u);
  EXPECT_EQ(decoded.tocCompressedSize, 0x12345678u);
  EXPECT_EQ(decoded.tocUncompressedSize, 0x80000001u);
  EXPECT_EQ(decoded.entryDataSize, 0xFFFFFFFFu);

  Bytes badCrc = hand::HeaderBytes(fields, false);
  EXPECT_EQ(DecodePayloadHeader(badCrc.data(), &decoded), PAYLOAD_HEADER_BAD_CRC);
  EXPECT_EQ(decoded.tocCompressedSize, 0x12345678u);
  Bytes noMagic = good;
  noMagic[15] ^= 0x20;  // "_kestrel_header_"
  EXPECT_EQ(DecodePayloadHeader(noMagic.data(), &decoded), PAYLOAD_HEADER_ABSENT);
}

// The one text decoder: UTF-8, and with DecodeModifiedUtf8 also what JNI's
// modified UTF-8 adds; and the modified UTF-8 encoder meeting it.
struct TextCase {
  const char *bytes;
  uint32_t utf8;      // DecodeUtf8's code point
  uint32_t modified;  // DecodeModifiedUtf8's
  size_t modifiedUsed;
};

TEST(TextCodingTest, DecodersTakeWhatTheirFormsAllow) {
  const TextCase cases[] = {
      {"A", 0x41, 0x41, 1},
      {"\xC3\xA9", 0xE9, 0xE9, 2},
      {"\xF0\x9F\x99\x82", 0x1F642, 0x1F642, 4},       // UTF-8 in both
      {"\xED\xA0\xBD", UTF8_ILL_FORMED, 0xD83D, 3},     // a surrogate by itself
      {"\xC0\x80", UTF8_ILL_FORMED, 0, 2},              // U+0000 in two bytes
      {"\xE0\x80\x80", UTF8_ILL_FORMED, UTF8_ILL_FORMED, 1},  // overlong
      {"\xFF", UTF8_ILL_FORMED, UTF8_ILL_FORMED, 1},
      {"\xC3", UTF8_ILL_FORMED, UTF8_ILL_FORMED, 1},    // cut short
  };
  for (const TextCase &c : cases) {
    const unsigned char *bytes = (const unsigned char *)c.bytes;
    size_t used = 0;
    EXPECT_EQ(DecodeUtf8(bytes, strlen(c.bytes), &used), c.utf8) << c.bytes;
    EXPECT_EQ(DecodeModifiedUtf8(bytes, strlen(c.bytes), &used), c.modified) << c.bytes;
    EXPECT_EQ(used, c.modifiedUsed) << c.bytes;
  }
}

TEST(TextCodingTest, ModifiedUtf8ReadsBackWhatItWrites) {
  for (uint32_t point : {0x0u, 0x41u, 0x7FFu, 0x800u, 0xFFFDu, 0x10000u, 0x1F642u, 0x10FFFFu}) {
    char out[8];
    size_t length = (size_t)(PutModifiedUtf8(out, point) - out);
    EXPECT_EQ(memchr(out, 0, length), nullptr) << point;  // never a zero byte
    // Supplementary characters come as two surrogates of three bytes each.
    EXPECT_EQ(length, point >= 0x10000 ? 6u : point == 0 || point >= 0x80 ? (point < 0x800 ? 2u : 3u) : 1u);
    const unsigned char *bytes = (const unsigned char *)out;
    size_t used;
    uint32_t first = DecodeModifiedUtf8(bytes, length, &used);
    if (point < 0x10000) {
      EXPECT_EQ(first, point);
      EXPECT_EQ(used, length);
    } else {
      uint32_t second = DecodeModifiedUtf8(bytes + used, length - used, &used);
      EXPECT_EQ(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), point);
    }
  }
}
