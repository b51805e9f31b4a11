// Raw deflate in blocks on several threads (see block_deflate.h).
//
// The calling thread fills a ring of slots with blocks from the producer,
// the workers take them in order and compress them, and the calling thread
// hands the oldest to the consumer as soon as it is done and fills its slot
// again.  Two slots per worker keep every worker busy while the oldest block
// is still being compressed.
#include "block_deflate.h"

#include <string.h>
#include <zlib.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "payload.h"

namespace {

const size_t kWindowSize = PAYLOAD_DICTIONARY_WINDOW;
const int kMemLevel = 9;

// One worker's deflate state, made once and reset for every block: a fresh
// state per block would cost its 384 KiB of allocation each time, and a reset
// state compresses exactly as a fresh one.
struct Deflater {
  z_stream stream;
  bool ready = false;
};

bool StartDeflater(Deflater *deflater, int level) {
  memset(&deflater->stream, 0, sizeof deflater->stream);
  deflater->ready = deflateInit2(&deflater->stream, level, Z_DEFLATED, -15, kMemLevel,
                                 Z_DEFAULT_STRATEGY) == Z_OK;
  return deflater->ready;
}

void EndDeflater(Deflater *deflater) {
  if (deflater->ready) deflateEnd(&deflater->stream);
  deflater->ready = false;
}

// Compresses one block into its `output` and takes its CRC-32; sets `failed`
// when zlib refuses.
void CompressBlock(Deflater *deflater, DeflateBlock *block) {
  block->output.clear();
  block->crc = (uint32_t)crc32(crc32(0, nullptr, 0), block->data, (uInt)block->size);
  z_stream *stream = &deflater->stream;
  block->failed = !deflater->ready || deflateReset(stream) != Z_OK;
  if (!block->failed && block->windowSize > 0) {
    const unsigned char *window = block->window;
    size_t windowSize = block->windowSize;
    if (windowSize > kWindowSize) {
      window += windowSize - kWindowSize;
      windowSize = kWindowSize;
    }
    block->failed = deflateSetDictionary(stream, window, (uInt)windowSize) != Z_OK;
  }
  if (block->failed) return;
  // deflateBound covers one Z_FINISH call; a sync flush adds an empty stored
  // block of at most 5 bytes and the bits before it.
  block->output.resize(deflateBound(stream, (uLong)block->size) + 16);
  stream->next_in = const_cast<Bytef *>(block->data);
  stream->avail_in = (uInt)block->size;
  int flush = block->last ? Z_FINISH : Z_SYNC_FLUSH;
  size_t produced = 0;
  for (;;) {
    stream->next_out = block->output.data() + produced;
    stream->avail_out = (uInt)(block->output.size() - produced);
    int result = deflate(stream, flush);
    produced = block->output.size() - stream->avail_out;
    if (result == Z_STREAM_END || (flush == Z_SYNC_FLUSH && result == Z_OK &&
                                   stream->avail_in == 0 && stream->avail_out > 0))
      break;
    if (result != Z_OK && result != Z_BUF_ERROR) {
      block->failed = true;
      return;
    }
    // Out of room (never with the bound above, but zlib says to call again).
    block->output.resize(block->output.size() * 2);
  }
  block->output.resize(produced);
}

// The ring of blocks between the calling thread and the workers.  Block
// number n (counted from 0 in the order produced) lives in slot n % count.
struct BlockRing {
  std::vector<DeflateBlock> slots;
  std::vector<char> done;        // per slot: compressed, ready for the consumer
  uint64_t produced = 0;         // blocks put in so far
  uint64_t taken = 0;            // blocks a worker has started on
  bool stopping = false;         // no more blocks will come: workers leave
  int level = kDeflateLevelBest;
  std::mutex lock;
  std::condition_variable work;  // a block was put in, or stopping was set
  std::condition_variable finished;  // a block was compressed
};

void RunWorker(BlockRing *ring) {
  Deflater deflater;
  StartDeflater(&deflater, ring->level);
  std::unique_lock<std::mutex> held(ring->lock);
  for (;;) {
    ring->work.wait(held, [ring] { return ring->stopping || ring->taken < ring->produced; });
    if (ring->taken == ring->produced) break;  // stopping, nothing left
    size_t slot = (size_t)(ring->taken++ % ring->slots.size());
    held.unlock();
    CompressBlock(&deflater, &ring->slots[slot]);
    held.lock();
    ring->done[slot] = 1;
    ring->finished.notify_all();
  }
  held.unlock();
  EndDeflater(&deflater);
}

// One thread alone: produce, compress, consume, one block after the other.
DeflateRunOutcome DeflateOnThisThread(int level, DeflateProducer produce,
                                      DeflateConsumer consume, void *context) {
  Deflater deflater;
  if (!StartDeflater(&deflater, level)) return kDeflateRunZlibFailed;
  DeflateBlock block;
  DeflateRunOutcome outcome = kDeflateRunDone;
  for (;;) {
    int got = produce(&block, context);
    if (got <= 0) {
      if (got < 0) outcome = kDeflateRunProducerFailed;
      break;
    }
    CompressBlock(&deflater, &block);
    if (block.failed) {
      outcome = kDeflateRunZlibFailed;
      break;
    }
    if (!consume(block, context)) {
      outcome = kDeflateRunConsumerFailed;
      break;
    }
  }
  EndDeflater(&deflater);
  return outcome;
}

}  // namespace

int DefaultDeflateThreads() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : (int)cores;
}

DeflateRunOutcome DeflateBlocks(int threads, int level, DeflateProducer produce,
                                DeflateConsumer consume, void *context) {
  if (threads <= 1) return DeflateOnThisThread(level, produce, consume, context);

  BlockRing ring;
  ring.level = level;
  ring.slots.resize(2 * (size_t)threads);
  ring.done.assign(ring.slots.size(), 0);
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; i++) {
    // A thread the system will not give (no memory for its stack) leaves the
    // work to the others.
    try {
      workers.emplace_back(RunWorker, &ring);
    } catch (const std::system_error &) {
      break;
    }
  }
  if (workers.empty()) return DeflateOnThisThread(level, produce, consume, context);

  DeflateRunOutcome outcome = kDeflateRunDone;
  uint64_t consumed = 0;  // blocks handed to the consumer
  bool more = true;       // the producer may have more
  for (;;) {
    // Fill every free slot.  A slot is free once its block was consumed, and
    // no worker touches a slot that holds no block put in and not taken.
    while (more && ring.produced - consumed < ring.slots.size()) {
      size_t slot = (size_t)(ring.produced % ring.slots.size());
      int got = produce(&ring.slots[slot], context);
      if (got <= 0) {
        more = false;
        if (got < 0) outcome = kDeflateRunProducerFailed;
        break;
      }
      std::lock_guard<std::mutex> held(ring.lock);
      ring.done[slot] = 0;
      ring.produced++;
      ring.work.notify_one();
    }
    if (outcome != kDeflateRunDone || consumed == ring.produced) break;
    size_t slot = (size_t)(consumed % ring.slots.size());
    {
      std::unique_lock<std::mutex> held(ring.lock);
      ring.finished.wait(held, [&] { return ring.done[slot] != 0; });
    }
    const DeflateBlock &block = ring.slots[slot];
    if (block.failed) {
      outcome = kDeflateRunZlibFailed;
      break;
    }
    if (!consume(block, context)) {
      outcome = kDeflateRunConsumerFailed;
      break;
    }
    consumed++;
  }
  {
    // Workers finish the block in hand, if any, take no other, and leave.
    std::lock_guard<std::mutex> held(ring.lock);
    ring.stopping = true;
    ring.produced = ring.taken;
    ring.work.notify_all();
  }
  for (std::thread &worker : workers) worker.join();
  return outcome;
}

namespace {

// A stream in memory, cut into blocks whose windows lie in the stream itself
// (or, for the first, in the dictionary).
struct MemoryStream {
  const unsigned char *data;
  size_t size;
  size_t next;  // where the next block starts
  bool started;
  const unsigned char *dictionary;
  size_t dictionarySize;
  std::vector<unsigned char> *out;
  uint32_t crc;
};

int ProduceFromMemory(DeflateBlock *block, void *context) {
  MemoryStream *stream = static_cast<MemoryStream *>(context);
  if (stream->started && stream->next == stream->size) return 0;
  size_t start = stream->next;
  block->data = stream->data + start;
  block->size = stream->size - start < kDeflateBlockSize ? stream->size - start : kDeflateBlockSize;
  if (start == 0) {
    block->window = stream->dictionary;
    block->windowSize = stream->dictionarySize;
  } else {
    size_t back = start < kWindowSize ? start : kWindowSize;
    block->window = stream->data + start - back;
    block->windowSize = back;
  }
  stream->next = start + block->size;
  stream->started = true;
  block->last = stream->next == stream->size;
  return 1;
}

bool ConsumeIntoMemory(const DeflateBlock &block, void *context) {
  MemoryStream *stream = static_cast<MemoryStream *>(context);
  stream->out->insert(stream->out->end(), block.output.begin(), block.output.end());
  stream->crc = (uint32_t)crc32_combine(stream->crc, block.crc, (z_off_t)block.size);
  return true;
}

}  // namespace

bool DeflateStreamInBlocks(const unsigned char *data, size_t size,
                           const unsigned char *dictionary, size_t dictionarySize, int threads,
                           int level, std::vector<unsigned char> *out, uint32_t *crc) {
  MemoryStream stream = {data, size, 0, false, dictionary, dictionarySize, out,
                         (uint32_t)crc32(0, nullptr, 0)};
  bool done = DeflateBlocks(threads, level, ProduceFromMemory, ConsumeIntoMemory, &stream) ==
              kDeflateRunDone;
  *crc = stream.crc;
  return done;
}
