// Entry streams: inflate one file entry on demand, straight into the caller's
// buffer, fetching its compressed bytes from the shared file handle in chunks
// of at most 4096 bytes.  Every fetch is a positioned read (seek, then read)
// between the lock hooks, since any number of streams share the one handle.
#include <stdlib.h>
#include <string.h>

#include "payload_internal.h"

namespace {

void SetStatus(EntryStream *stream, int32_t status, const char *message) {
  stream->status = status;
  stream->message = message;
}

// Refills the input buffer with the entry's next compressed bytes.  Runs
// between the lock hooks.  0 with status 1 or 2 on failure; nothing is
// consumed then, so the next read tries again.
int Fetch(EntryStream *stream) {
  const FileEntry *entry = stream->entry;
  // File offsets are signed 32-bit; a position beyond that is no position.
  int64_t position = (int64_t)payloadState.entryDataStart + stream->consumed + entry->offset;
  if (position < 0 || position > INT32_MAX ||
      SetFilePointer(payloadState.file, (LONG)position, nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER) {
    SetStatus(stream, ENTRY_STATUS_SEEK_FAILED, PAYLOAD_MSG_STREAM_SEEK_FAILED);
    return 0;
  }
  DWORD wanted = entry->compressedSize - (uint32_t)stream->consumed;
  if (wanted > ENTRY_STREAM_CHUNK) wanted = ENTRY_STREAM_CHUNK;
  DWORD got = 0;
  if (!ReadFile(payloadState.file, stream->inputBuffer, wanted, &got, nullptr)) {
    SetStatus(stream, ENTRY_STATUS_READ_FAILED, PAYLOAD_MSG_STREAM_READ_FAILED);
    return 0;
  }
  // A file that ends early delivers less or nothing; the inflater then runs
  // dry and reports it.
  stream->consumed += (int32_t)got;
  stream->inflater.next_in = stream->inputBuffer;
  stream->inflater.avail_in = got;
  return 1;
}

}  // namespace

void SetLockHooks(LockHook newLockHook, UnlockHook newUnlockHook) {
  payloadState.lockHook = newLockHook;
  payloadState.unlockHook = newUnlockHook;
}

EntryStream *OpenEntryStream(const char *name, const void *dictionary, int dictionaryLength,
                             const char **message) {
  *message = nullptr;
  FileEntry *entry;
  if (!FindFileEntry(name, &entry, message)) return nullptr;
  EntryStream *stream = (EntryStream *)calloc(1, sizeof(EntryStream));
  if (!stream) {
    *message = PAYLOAD_MSG_ALLOCATION_ERROR;
    return nullptr;
  }
  stream->entry = entry;
  if (inflateInit2(&stream->inflater, -15) != Z_OK) {
    free(stream);
    *message = PAYLOAD_MSG_INFLATE_INIT_FAILED;
    return nullptr;
  }
  // zlib copies the dictionary's last 32 KiB into the stream's own window,
  // so the caller's buffer may change afterwards.
  if (dictionary && (dictionaryLength < 0 ||
                     inflateSetDictionary(&stream->inflater, (const Bytef *)dictionary,
                                          (uInt)dictionaryLength) != Z_OK)) {
    inflateEnd(&stream->inflater);
    free(stream);
    *message = PAYLOAD_MSG_DICTIONARY_FAILED;
    return nullptr;
  }
  return stream;
}

int ReadEntryStream(EntryStream *stream, void *buffer, uint32_t length, void *context) {
  const FileEntry *entry = stream->entry;
  uint32_t produced = (uint32_t)stream->inflater.total_out;
  // A damaged entry stays damaged: whatever followed the damage would be
  // read with a hole in front of it.
  if (stream->status >= ENTRY_STATUS_DECOMPRESSION_FAILED) return -1;
  // The end is the declared size, tested first: an empty entry ends here
  // without touching the file, the hooks or the inflater.
  if (produced == entry->uncompressedSize) {
    SetStatus(stream, ENTRY_STATUS_EOF, PAYLOAD_MSG_STREAM_EOF);
    return 0;
  }
  if (length == 0) return 0;

  // Fetch only when the previous chunk is used up.
  if (stream->inflater.avail_in == 0 && stream->consumed < (int32_t)entry->compressedSize) {
    if (payloadState.lockHook && !payloadState.lockHook(context)) {
      SetStatus(stream, ENTRY_STATUS_LOCK_FAILED, PAYLOAD_MSG_STREAM_LOCK_FAILED);
      return -1;
    }
    int fetched = Fetch(stream);
    if (payloadState.unlockHook) payloadState.unlockHook(context);
    if (!fetched) return -1;
  }

  // Never more than the entry has left: a stream that would inflate past its
  // declared size is cut there, and the next read reports the end.
  uint32_t room = entry->uncompressedSize - produced;
  if (room > length) room = length;
  if (room > INT32_MAX) room = INT32_MAX;
  stream->inflater.next_out = (Bytef *)buffer;
  stream->inflater.avail_out = room;
  int result = inflate(&stream->inflater, Z_NO_FLUSH);
  int count = (int)(room - stream->inflater.avail_out);
  // Callers take 0 for the end of the entry, so a read returns 0 only there.
  // A deflate stream that ends before the declared size, or a step that
  // yields nothing before it, is a damaged entry: failing here keeps every
  // caller from taking a truncated entry for a whole one.
  if ((result != Z_OK && result != Z_STREAM_END) ||
      (result == Z_STREAM_END && stream->inflater.total_out != entry->uncompressedSize) ||
      count == 0) {
    SetStatus(stream, ENTRY_STATUS_DECOMPRESSION_FAILED, PAYLOAD_MSG_DECOMPRESSION_FAILED);
    return -1;
  }
  // With entry checksums, the read that produces the last byte checks the
  // whole content (an empty entry's CRC is 0, checked when indexing).
  if (payloadState.entryChecksums) {
    stream->crc = crc32(stream->crc, (const Bytef *)buffer, (uInt)count);
    if (stream->inflater.total_out == entry->uncompressedSize && stream->crc != entry->crc) {
      SetStatus(stream, ENTRY_STATUS_CHECKSUM_MISMATCH, PAYLOAD_MSG_STREAM_CHECKSUM);
      return -1;
    }
  }
  return count;
}

uint32_t GetEntryStreamRemaining(EntryStream *stream) {
  return stream->entry->uncompressedSize - (uint32_t)stream->inflater.total_out;
}

int GetEntryStreamStatus(EntryStream *stream, const char **message) {
  *message = stream->message;
  return stream->status;
}

void CloseEntryStream(EntryStream *stream) {
  inflateEnd(&stream->inflater);
  free(stream);
}
