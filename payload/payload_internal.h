// State that the index and the entry streams share inside the payload
// library.  Not for callers of the library.
#ifndef SATCHEL_PAYLOAD_INTERNAL_H
#define SATCHEL_PAYLOAD_INTERNAL_H

#include "payload.h"

// The bundle's file, open for reading from a successful OpenPayload until
// exit (or ClosePayload).  Written by the index; its file position is moved
// only by entry-stream fetches, between the lock hooks.
extern HANDLE payloadFile;

// File offset of the first byte behind the table of contents; file entry
// offsets count from here.  Written once by OpenPayload.
extern int32_t entryDataStart;

// 1 when every file entry's `crc` holds its content's CRC-32 from the
// checksum property; written once by OpenPayload.
extern int entryChecksums;

#endif  // SATCHEL_PAYLOAD_INTERNAL_H
