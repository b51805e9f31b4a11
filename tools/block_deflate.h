// Raw deflate on several threads, one stream per entry, in blocks.
//
// A stream longer than one block is cut into blocks of kDeflateBlockSize
// input bytes.  Each block is compressed on its own, with the 32 KiB of input
// in front of it (or, for a stream's first block, the stream's preset
// dictionary) handed to deflateSetDictionary, so that it refers back as far
// as one long stream would.  Every block but a stream's last ends with an
// empty stored block (Z_SYNC_FLUSH), which leaves it on a byte boundary
// without ending the stream; the last ends the stream (Z_FINISH).  Joined in
// order, the blocks of a stream are one raw deflate stream that any inflater
// reads as it reads a stream made in one piece, and a stream of at most one
// block is exactly the stream that one deflate call makes.
//
// What a block compresses to depends only on its bytes, its window, whether
// it is last and the level: a run gives the same bytes whatever the number
// of threads.
//
// Memory: a run holds at most two blocks per thread in flight (with -j 1,
// one), each with its input, its compressed bytes and a 32 KiB window, and
// one deflate state (about 384 KiB at memLevel 9) per thread.
#ifndef SATCHEL_BLOCK_DEFLATE_H
#define SATCHEL_BLOCK_DEFLATE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

// Input bytes per block: the unit of work of one thread.
const size_t kDeflateBlockSize = 128 * 1024;

// The levels that a run takes (zlib's), and the one the tool uses unless told.
const int kDeflateLevelFastest = 1;
const int kDeflateLevelBest = 9;

// One block of one stream.  The producer sets the first group and may keep
// its bytes in `input` and `windowCopy` (their storage is reused from block
// to block); the compressor sets the second.
struct DeflateBlock {
  const unsigned char *data = nullptr;    // the block's input (may be empty)
  size_t size = 0;
  const unsigned char *window = nullptr;  // what precedes it: at most 32 KiB
  size_t windowSize = 0;                  // are used; 0 for none
  bool last = true;                       // ends its stream
  uint64_t tag = 0;                       // the producer's own (which stream)
  std::vector<unsigned char> input;       // storage for `data`, if wanted
  std::vector<unsigned char> windowCopy;  // storage for `window`, if wanted

  std::vector<unsigned char> output;      // the compressed bytes
  uint32_t crc = 0;                       // CRC-32 of the input
  bool failed = false;                    // zlib refused
};

// Fills in the next block: 1 when it did, 0 when there is none left, -1 on a
// failure (the producer keeps its reason).  The bytes that `data` and
// `window` point at must stay unchanged until the block has been consumed.
typedef int (*DeflateProducer)(DeflateBlock *block, void *context);
// Takes each compressed block, in the order produced, on the calling thread;
// false stops the run.
typedef bool (*DeflateConsumer)(const DeflateBlock &block, void *context);

enum DeflateRunOutcome {
  kDeflateRunDone,
  kDeflateRunProducerFailed,
  kDeflateRunConsumerFailed,
  kDeflateRunZlibFailed
};

// Compresses every block the producer gives on `threads` threads (1: on the
// calling thread alone) at `level` (1 to 9), memLevel 9, window bits -15,
// and hands them to the consumer in order.  The producer and the consumer
// run on the calling thread only.  When a thread cannot be started, the run
// goes on with those that could (the bytes are the same).
DeflateRunOutcome DeflateBlocks(int threads, int level, DeflateProducer produce,
                                DeflateConsumer consume, void *context);

// Every core of the machine (at least 1): the number of threads that a run
// takes unless told.
int DefaultDeflateThreads();

// One stream of bytes in memory, in blocks, with the preset dictionary's last
// 32 KiB: appended to *out, its CRC-32 to *crc.  False when zlib fails.
bool DeflateStreamInBlocks(const unsigned char *data, size_t size,
                           const unsigned char *dictionary, size_t dictionarySize, int threads,
                           int level, std::vector<unsigned char> *out, uint32_t *crc);

#endif  // SATCHEL_BLOCK_DEFLATE_H
