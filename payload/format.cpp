// Facts of the bundle format and of Windows file names that every layer
// shares: the writer, the readers, the launcher and the tools use these and
// keep no copy of their own.
#include <string.h>

#include "payload.h"

uint16_t ReadU16LE(const unsigned char *at) { return (uint16_t)(at[0] | at[1] << 8); }

uint32_t ReadU32LE(const unsigned char *at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

void WriteU32LE(unsigned char *at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = (unsigned char)(value >> (8 * i));
}

// The header's layout: magic, four u32 fields, the CRC-32 (zlib's crc32
// from 0) of the 32 bytes in front of it.
enum {
  kEntryCountAt = PAYLOAD_MAGIC_SIZE,
  kTocCompressedAt = kEntryCountAt + 4,
  kTocUncompressedAt = kTocCompressedAt + 4,
  kEntryDataAt = kTocUncompressedAt + 4,
  kCrcAt = kEntryDataAt + 4
};

int DecodePayloadHeader(const unsigned char *block, PayloadHeader *header) {
  if (memcmp(block, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) != 0) return PAYLOAD_HEADER_ABSENT;
  header->fileEntryCount = ReadU32LE(block + kEntryCountAt);
  header->tocCompressedSize = ReadU32LE(block + kTocCompressedAt);
  header->tocUncompressedSize = ReadU32LE(block + kTocUncompressedAt);
  header->entryDataSize = ReadU32LE(block + kEntryDataAt);
  header->headerCrc = ReadU32LE(block + kCrcAt);
  return crc32(0, block, kCrcAt) == header->headerCrc ? PAYLOAD_HEADER_FOUND
                                                      : PAYLOAD_HEADER_BAD_CRC;
}

void EncodePayloadHeader(const PayloadHeader *header, unsigned char *out) {
  memcpy(out, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE);
  WriteU32LE(out + kEntryCountAt, header->fileEntryCount);
  WriteU32LE(out + kTocCompressedAt, header->tocCompressedSize);
  WriteU32LE(out + kTocUncompressedAt, header->tocUncompressedSize);
  WriteU32LE(out + kEntryDataAt, header->entryDataSize);
  WriteU32LE(out + kCrcAt, (uint32_t)crc32(0, out, kCrcAt));
}

// Sequences are checked as the second byte arrives: the lead byte alone does
// not tell an overlong form, a surrogate or a value past U+10FFFF, the second
// byte does, so that the ill-formed prefix is as short as the system's
// converter makes it.
// The one decoder behind DecodeUtf8 and DecodeModifiedUtf8: `modified`
// also takes what modified UTF-8 adds, U+0000 as C0 80 and surrogates as
// three-byte sequences of their own.
static uint32_t DecodeSequence(const unsigned char *text, size_t length, size_t *used, bool modified) {
  unsigned char b = text[0];
  *used = 1;
  if (b < 0x80) return b;
  size_t need;
  uint32_t c;
  if (modified && b == 0xC0 && length > 1 && text[1] == 0x80) {
    *used = 2;
    return 0;
  }
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1, c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2, c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3, c = b & 0x07;
  } else {
    return UTF8_ILL_FORMED;
  }
  for (size_t k = 1; k <= need; k++) {
    if (k >= length || (text[k] & 0xC0) != 0x80) return UTF8_ILL_FORMED;
    if (k == 1 && ((b == 0xE0 && text[1] < 0xA0) || (b == 0xED && text[1] > 0x9F && !modified) ||
                   (b == 0xF0 && text[1] < 0x90) || (b == 0xF4 && text[1] > 0x8F)))
      return UTF8_ILL_FORMED;
    c = (c << 6) | (text[k] & 0x3F);
    *used = k + 1;
  }
  return c;
}

uint32_t DecodeUtf8(const unsigned char *text, size_t length, size_t *used) {
  return DecodeSequence(text, length, used, false);
}

uint32_t DecodeModifiedUtf8(const unsigned char *text, size_t length, size_t *used) {
  return DecodeSequence(text, length, used, true);
}

char *PutModifiedUtf8(char *out, uint32_t c) {
  if (c >= 0x10000) {
    uint32_t v = c - 0x10000;
    out = PutModifiedUtf8(out, 0xD800 + (v >> 10));
    return PutModifiedUtf8(out, 0xDC00 + (v & 0x3FF));
  }
  if (c != 0 && c < 0x80) {
    *out++ = (char)c;
  } else if (c < 0x800) {
    *out++ = (char)(0xC0 | (c >> 6));
    *out++ = (char)(0x80 | (c & 0x3F));
  } else {
    *out++ = (char)(0xE0 | (c >> 12));
    *out++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *out++ = (char)(0x80 | (c & 0x3F));
  }
  return out;
}

static int IsReservedDeviceName(const char *base, size_t length) {
  static const char *const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  char upper[8];
  if (length > 7) return 0;
  for (size_t i = 0; i < length; i++)
    upper[i] = (base[i] >= 'a' && base[i] <= 'z') ? (char)(base[i] - 32) : base[i];
  upper[length] = 0;
  for (size_t i = 0; i < sizeof names / sizeof names[0]; i++)
    if (strcmp(upper, names[i]) == 0) return 1;
  if (length < 4 || (memcmp(upper, "COM", 3) != 0 && memcmp(upper, "LPT", 3) != 0)) return 0;
  // COM0..COM9 and LPT0..LPT9 (current Windows reserves the 0 as well), and
  // the same with a superscript 1, 2 or 3.
  const char *digit = upper + 3;
  size_t digits = length - 3;
  return (digits == 1 && digit[0] >= '0' && digit[0] <= '9') ||
         (digits == 2 && (unsigned char)digit[0] == 0xC2 &&
          ((unsigned char)digit[1] == 0xB9 || (unsigned char)digit[1] == 0xB2 ||
           (unsigned char)digit[1] == 0xB3));
}

int CheckPlainWindowsFileName(const char *name, size_t length, PlainNameCheck *check) {
  memset(check, 0, sizeof *check);
  if (length == 0) {
    check->problem = PLAIN_NAME_EMPTY;
    return 0;
  }
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) {
    check->problem = PLAIN_NAME_DOTS;
    return 0;
  }
  const unsigned char *text = (const unsigned char *)name;
  size_t units = 0;
  // Well-formedness first, over the whole name; then the characters.
  for (size_t at = 0, used; at < length; at += used)
    if (DecodeUtf8(text + at, length - at, &used) == UTF8_ILL_FORMED) {
      check->problem = PLAIN_NAME_NOT_UTF8;
      return 0;
    }
  for (size_t at = 0, used; at < length; at += used) {
    uint32_t point = DecodeUtf8(text + at, length - at, &used);
    if (point < 0x20 || (point >= 0x7F && point <= 0x9F)) {
      check->problem = PLAIN_NAME_CONTROL;
      return 0;
    }
    if (point < 0x80 && strchr("\\/:*?\"<>|", (int)point)) {
      check->problem = PLAIN_NAME_CHARACTER;
      check->character = (char)point;
      return 0;
    }
    units += point > 0xFFFF ? 2 : 1;
  }
  char last = name[length - 1];
  if (last == '.' || last == ' ') {
    check->problem = last == '.' ? PLAIN_NAME_ENDS_WITH_DOT : PLAIN_NAME_ENDS_WITH_SPACE;
    return 0;
  }
  if (units > PLAIN_NAME_MAX_UNITS) {
    check->problem = PLAIN_NAME_TOO_LONG;
    check->units = units;
    return 0;
  }
  // Device names are reserved in every folder, also with an extension
  // ("con.txt") and with spaces before the extension.
  const char *dot = (const char *)memchr(name, '.', length);
  size_t base = dot ? (size_t)(dot - name) : length;
  while (base > 0 && name[base - 1] == ' ') base--;
  if (IsReservedDeviceName(name, base)) {
    check->problem = PLAIN_NAME_RESERVED;
    check->baseLength = base;
    return 0;
  }
  return 1;
}
