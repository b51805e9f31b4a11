// The payload library's process-wide state, in one place; shared by the
// index and the entry streams, not for callers of the library.
#ifndef SATCHEL_PAYLOAD_INTERNAL_H
#define SATCHEL_PAYLOAD_INTERNAL_H

#include <stddef.h>

#include "payload.h"

// Written by OpenPayload (and emptied again by ClosePayload); read-only from
// any thread afterwards, so that lookups need no lock.  The one exception is
// the file position, which only entry-stream fetches move, between the lock
// hooks.
struct PayloadState {
  // The bundle's file, open for reading from a successful OpenPayload until
  // exit (or ClosePayload); INVALID_HANDLE_VALUE otherwise.
  HANDLE file;

  // File offset of the first byte behind the table of contents; file entry
  // offsets count from here.
  int32_t entryDataStart;

  // 1 when every file entry's `crc` holds its content's CRC-32 from the
  // checksum property.
  int entryChecksums;

  // The EntryTable: a chained hash table sized once from the header's count
  // (or from the records' own count when the table holds more file records
  // than the header says), never grown; each chain in table order.  One
  // block holds the chains' heads and, behind them, their tails, so that a
  // record is appended in constant time however long its chain.
  uint32_t bucketCount;
  FileEntry **buckets;

  // The PropertyList, newest record first (so the last of a duplicated key is
  // found first).
  PropertyEntry *propertyHead;

  // ConcatenatedNames with its NUL, or null before the first file entry.
  // Grown geometrically: appending every name by copying the whole text again
  // would cost time quadratic in the number of entries.
  char *concatenatedNames;
  size_t concatenatedLength;
  size_t concatenatedCapacity;

  // File entries in table order, for inspection (the bundle tool); the hash
  // chains alone do not keep it.
  FileEntry **entryOrder;
  size_t entryOrderCount;
  size_t entryOrderCapacity;

  // Called around every refill of an entry stream from the file; set once by
  // SetLockHooks before streams are read from more than one thread.  Null
  // hooks are not called.
  LockHook lockHook;
  UnlockHook unlockHook;
};

// Defined in payload_index.cpp.
extern PayloadState payloadState;

#endif  // SATCHEL_PAYLOAD_INTERNAL_H
