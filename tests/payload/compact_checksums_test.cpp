// The stub's compact crc32 and adler32 (built here under other names, beside
// zlib's own) give zlib's results for every start value, length and
// alignment that matters, including the header's 32 bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

extern "C" uLong compact_crc32(uLong crc, const Bytef *buf, uInt len);
extern "C" uLong compact_adler32(uLong adler, const Bytef *buf, uInt len);

TEST(CompactChecksums, MatchZlib) {
  std::mt19937 random(7);
  std::vector<Bytef> data(70000);
  for (auto &b : data) b = (Bytef)random();
  for (uInt len : {0u, 1u, 31u, 32u, 36u, 511u, 5552u, 5553u, 65536u, 70000u}) {
    for (uLong start : {0ul, 1ul, 0xFFFFFFFFul, 0x12345678ul}) {
      EXPECT_EQ(compact_crc32(start, data.data(), len), crc32(start, data.data(), len)) << len;
      uLong adlerStart = start & 0xFFF0FFF0ul;  // a valid Adler-32 state
      EXPECT_EQ(compact_adler32(adlerStart, data.data(), len),
                adler32(adlerStart, data.data(), len))
          << len;
    }
  }
  // Bytes of 0xFF everywhere stress the modulo of Adler-32.
  std::vector<Bytef> ones(100000, 0xFF);
  EXPECT_EQ(compact_adler32(1, ones.data(), (uInt)ones.size()),
            adler32(1, ones.data(), (uInt)ones.size()));
  EXPECT_EQ(compact_crc32(0, Z_NULL, 0), crc32(0, Z_NULL, 0));
  EXPECT_EQ(compact_adler32(0, Z_NULL, 0), adler32(0, Z_NULL, 0));
  // The known check value of CRC-32.
  const Bytef check[] = "123456789";
  EXPECT_EQ(compact_crc32(0, check, 9), 0xCBF43926ul);
}
