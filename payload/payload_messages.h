// Every text that the payload library reports, in one place.  Operations hand
// these out as their constant message; the entry paths of the programs decide
// whether and how a user sees them.
#ifndef SATCHEL_PAYLOAD_MESSAGES_H
#define SATCHEL_PAYLOAD_MESSAGES_H

// Opening and indexing (OpenPayload, OpenPayloadFile).
#define PAYLOAD_MSG_OPEN_FAILED "Failed to open file"
#define PAYLOAD_MSG_NO_HEADER "Failed to find start of compressed data"
#define PAYLOAD_MSG_SEEK_FAILED "Failed to seek in file"
#define PAYLOAD_MSG_TOC_READ_FAILED "Failed to read table of contents"
#define PAYLOAD_MSG_OFFSET_FAILED "Failed to get file offset"
#define PAYLOAD_MSG_TOC_TRUNCATED "Truncated table of contents"
#define PAYLOAD_MSG_ENTRY_TRUNCATED "Truncated TOC entry"
#define PAYLOAD_MSG_KEY_TOO_LONG "Property key too long"
#define PAYLOAD_MSG_BAD_ENTRY_TYPE "Invalid TOC entry type"
#define PAYLOAD_MSG_BAD_CHECKSUMS "Invalid entry checksums"

// Records of the index and entry streams that cannot be allocated.  Two
// texts: the table of contents and ConcatenatedNames report "failed", every
// other record "error".
#define PAYLOAD_MSG_ALLOCATION_ERROR "Memory allocation error"
#define PAYLOAD_MSG_ALLOCATION_FAILED "Memory allocation failed"

// The inflater (table of contents and entry streams).
#define PAYLOAD_MSG_INFLATE_INIT_FAILED "Failed to initialize decompressor"
#define PAYLOAD_MSG_DECOMPRESSION_FAILED "Decompression failed"
#define PAYLOAD_MSG_DICTIONARY_FAILED "Failed to set dictionary"

// Entry stream statuses (ENTRY_STATUS_*).
#define PAYLOAD_MSG_STREAM_SEEK_FAILED "Seek failed"
#define PAYLOAD_MSG_STREAM_READ_FAILED "Read failed"
#define PAYLOAD_MSG_STREAM_EOF "EOF"
#define PAYLOAD_MSG_STREAM_LOCK_FAILED "Lock failed"
#define PAYLOAD_MSG_STREAM_CHECKSUM "Checksum mismatch"

// A name that the payload does not hold.  FindFileEntry and OpenEntryStream
// report it with this very object, so that a caller tells the case by
// comparing the pointer (message == PayloadFileNotFound), never the text.
#define PAYLOAD_MSG_FILE_NOT_FOUND "File not found"
extern const char PayloadFileNotFound[];

#endif  // SATCHEL_PAYLOAD_MESSAGES_H
