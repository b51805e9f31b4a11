// Compact checksums for the stub.  Linked ahead of the static zlib, these
// take the place of zlib's own crc32 and adler32: those are table-driven and
// unrolled for throughput (about 10 KiB of code and tables in the stub), while
// the stub checksums 32 header bytes once and never inflates a zlib- or
// gzip-wrapped stream (entries are raw deflate, which carries no checksum).
// Same names, same signatures, same results.
#include <stdint.h>
#include <zlib.h>

extern "C" {

// CRC-32 of ISO 3309 (the one of gzip and PNG), reflected polynomial
// 0xEDB88320, started from `crc` as zlib's crc32 is.  One table lookup per
// byte (entry checksums cover every extracted byte); the table is computed
// bit by bit at the first call into .bss, so it costs no file bytes.  The
// stub runs on one thread.
uLong ZEXPORT crc32(uLong crc, const Bytef *buf, uInt len) {
  static uint32_t table[256];
  if (buf == Z_NULL) return 0;
  if (table[1] == 0) {
    for (uint32_t n = 0; n < 256; n++) {
      uint32_t c = n;
      for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
      table[n] = c;
    }
  }
  uint32_t c = ~(uint32_t)crc;
  while (len--) c = table[(c ^ *buf++) & 0xFFu] ^ (c >> 8);
  return ~c;
}

// Adler-32 as zlib defines it (modulo 65521, started from `adler`).
uLong ZEXPORT adler32(uLong adler, const Bytef *buf, uInt len) {
  if (buf == Z_NULL) return 1;
  uint32_t a = (uint32_t)adler & 0xFFFF, b = ((uint32_t)adler >> 16) & 0xFFFF;
  while (len--) {
    a = (a + *buf++) % 65521u;
    b = (b + a) % 65521u;
  }
  return (uLong)((b << 16) | a);
}

}  // extern "C"
