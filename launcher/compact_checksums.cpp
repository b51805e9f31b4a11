// Compact checksums for the stub.  Linked ahead of the static zlib, these
// take the place of zlib's own crc32 and adler32: those are table-driven and
// unrolled for throughput (about 10 KiB of code and tables in the stub), while
// the stub checksums 32 header bytes once and never inflates a zlib- or
// gzip-wrapped stream (entries are raw deflate, which carries no checksum).
// Same names, same signatures, same results.
#include <stdint.h>
#include <zlib.h>

extern "C" {

// CRC-32 of ISO 3309 (the one of gzip and PNG), bit by bit, reflected
// polynomial 0xEDB88320, started from `crc` as zlib's crc32 is.
uLong ZEXPORT crc32(uLong crc, const Bytef *buf, uInt len) {
  if (buf == Z_NULL) return 0;
  uint32_t c = ~(uint32_t)crc;
  while (len--) {
    c ^= *buf++;
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
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
