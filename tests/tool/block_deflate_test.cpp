// Raw deflate in blocks on several threads: one stream per entry that any
// inflater reads, the same bytes for any number of threads.
#include <string.h>
#include <zlib.h>

#include "block_deflate.h"
#include "tool_test_util.h"

namespace {

// Inflates a whole stream and expects it to end exactly at its last byte.
void ExpectInflatesTo(const Bytes &compressed, const Bytes &dictionary, const Bytes &expected) {
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  ASSERT_EQ(Z_OK, inflateInit2(&stream, -15));
  if (!dictionary.empty()) {
    ASSERT_EQ(Z_OK, inflateSetDictionary(&stream, dictionary.data(), (uInt)dictionary.size()));
  }
  Bytes out(expected.size() + 1);
  stream.next_in = const_cast<unsigned char *>(compressed.data());
  stream.avail_in = (uInt)compressed.size();
  stream.next_out = out.data();
  stream.avail_out = (uInt)out.size();
  int result = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  EXPECT_EQ(Z_STREAM_END, result) << stream.msg;
  EXPECT_EQ(0u, stream.avail_in) << "bytes behind the end of the stream";
  out.resize(out.size() - stream.avail_out);
  EXPECT_TRUE(expected == out) << "inflated " << out.size() << " bytes of " << expected.size();
}

Bytes Blocks(const Bytes &data, const Bytes &dictionary, int threads, int level = 9,
             uint32_t *crc = nullptr) {
  Bytes out;
  uint32_t sum = 0;
  EXPECT_TRUE(DeflateStreamInBlocks(data.data(), data.size(), dictionary.data(),
                                    dictionary.size(), threads, level, &out, &sum));
  if (crc) *crc = sum;
  return out;
}

// Text with runs of noise: matches everywhere, and some reach back across
// block boundaries.
Bytes MixedContent(size_t size, unsigned seed) {
  Bytes out;
  for (unsigned i = 0; out.size() < size; ++i) {
    Bytes piece = i % 4 == 3 ? NoiseContent(20000, seed + i) : TextContent(50000, seed + i % 3);
    out.insert(out.end(), piece.begin(), piece.end());
  }
  out.resize(size);
  return out;
}

// Every boundary case of the block size: empty, one byte, one block less a
// byte, exactly one, one over, several and a piece.
class BlockBoundaries : public ::testing::TestWithParam<size_t> {};

TEST_P(BlockBoundaries, OneStreamTheSameForAnyNumberOfThreads) {
  const size_t size = GetParam();
  Bytes data = MixedContent(size, 7), dictionary = TextContent(40000, 8);
  for (const Bytes &dict : {Bytes(), dictionary}) {
    SCOPED_TRACE(dict.empty() ? "no dictionary" : "dictionary");
    uint32_t crc = 0;
    Bytes one = Blocks(data, dict, 1, 9, &crc);
    EXPECT_EQ(crc32(0, data.data(), (uInt)data.size()), crc);
    ASSERT_NO_FATAL_FAILURE(ExpectInflatesTo(one, dict, data));
    for (int threads : {2, 3, 8}) {
      uint32_t again = 0;
      EXPECT_TRUE(one == Blocks(data, dict, threads, 9, &again)) << threads << " threads";
      EXPECT_EQ(crc, again);
    }
    // The blocks as zlib alone makes them; up to one block, the stream that
    // one deflate call makes.
    EXPECT_TRUE(DeflateInBlocks(data, kDeflateBlockSize, dict) == one);
    if (size <= kDeflateBlockSize) {
      EXPECT_TRUE(Deflate(data, dict) == one);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockBoundaries,
                         ::testing::Values(0, 1, kDeflateBlockSize - 1, kDeflateBlockSize,
                                           kDeflateBlockSize + 1, 5 * kDeflateBlockSize + 4321));

TEST(BlockDeflate, SizeStaysWithinOnePercentOfOneStream) {
  Bytes data = MixedContent(24 * kDeflateBlockSize + 999, 3);
  Bytes whole = Deflate(data), blocks = Blocks(data, Bytes(), 2);
  EXPECT_LT(blocks.size(), whole.size() + whole.size() / 100)
      << blocks.size() << " bytes in blocks, " << whole.size() << " in one stream";
  // A block refers back into the one before: noise repeated across the
  // boundary, 20000 bytes back, costs next to nothing the second time.
  Bytes noise = NoiseContent(kDeflateBlockSize - 10000, 4), repeated = noise;
  repeated.insert(repeated.end(), noise.end() - 20000, noise.end());
  EXPECT_LT(Blocks(repeated, Bytes(), 2).size(), noise.size() + 1000);
}

TEST(BlockDeflate, EveryLevelReadsBack) {
  Bytes data = MixedContent(3 * kDeflateBlockSize + 5, 11);
  Bytes fastest = Blocks(data, Bytes(), 2, kDeflateLevelFastest);
  ASSERT_NO_FATAL_FAILURE(ExpectInflatesTo(fastest, Bytes(), data));
  EXPECT_TRUE(fastest == Blocks(data, Bytes(), 1, kDeflateLevelFastest));
  EXPECT_GT(fastest.size(), Blocks(data, Bytes(), 2, kDeflateLevelBest).size());
}

// Many streams in one run, small and large mixed, each with its own
// dictionary: every stream is whole and the run the same on any threads.
struct Streams {
  std::vector<Bytes> inputs, dictionaries, outputs;
  size_t stream = 0, at = 0;
  bool started = false;
  uint64_t blocksSeen = 0;
  int failAtBlock = -1;   // the producer fails when it reaches this block
  int refuseAtBlock = -1; // the consumer refuses this block
};

int ProduceStreams(DeflateBlock *block, void *context) {
  Streams *s = static_cast<Streams *>(context);
  if (s->started && s->at == s->inputs[s->stream].size()) {
    s->stream++;
    s->at = 0;
    s->started = false;
  }
  if (s->stream == s->inputs.size()) return 0;
  if ((int)s->blocksSeen++ == s->failAtBlock) return -1;
  const Bytes &input = s->inputs[s->stream];
  size_t size = std::min(kDeflateBlockSize, input.size() - s->at);
  // Copied, as a producer reading files does; the window from the
  // dictionary or the input before.
  block->input.assign(input.begin() + s->at, input.begin() + s->at + size);
  block->data = block->input.data();
  block->size = size;
  const Bytes &dictionary = s->dictionaries[s->stream];
  block->window = s->at == 0 ? dictionary.data() : input.data() + s->at - std::min<size_t>(s->at, 32768);
  block->windowSize = s->at == 0 ? dictionary.size() : std::min<size_t>(s->at, 32768);
  block->tag = s->stream;
  s->at += size;
  s->started = true;
  block->last = s->at == input.size();
  return 1;
}

bool ConsumeStreams(const DeflateBlock &block, void *context) {
  Streams *s = static_cast<Streams *>(context);
  if (s->refuseAtBlock-- == 0) return false;
  Bytes &out = s->outputs[block.tag];
  out.insert(out.end(), block.output.begin(), block.output.end());
  return true;
}

Streams ManyStreams() {
  Streams s;
  for (unsigned i = 0; i < 40; ++i) {
    size_t size = i % 7 == 0 ? 2 * kDeflateBlockSize + i : i * 311;
    s.inputs.push_back(MixedContent(size, i));
    s.dictionaries.push_back(i % 2 ? TextContent(1000 + 2000 * i, i) : Bytes());
  }
  s.outputs.resize(s.inputs.size());
  return s;
}

TEST(BlockDeflate, ManyStreamsInOneRun) {
  std::vector<Bytes> first;
  for (int threads : {1, 2, 8}) {
    SCOPED_TRACE(threads);
    Streams s = ManyStreams();
    ASSERT_EQ(kDeflateRunDone, DeflateBlocks(threads, 9, ProduceStreams, ConsumeStreams, &s));
    for (size_t i = 0; i < s.inputs.size(); ++i)
      ASSERT_NO_FATAL_FAILURE(ExpectInflatesTo(s.outputs[i], s.dictionaries[i], s.inputs[i]));
    if (first.empty()) first = s.outputs;
    EXPECT_TRUE(first == s.outputs);
  }
}

TEST(BlockDeflate, AFailureOnEitherSideStopsTheRun) {
  for (int threads : {1, 2, 8}) {
    SCOPED_TRACE(threads);
    Streams producerFails = ManyStreams();
    producerFails.failAtBlock = 17;
    EXPECT_EQ(kDeflateRunProducerFailed,
              DeflateBlocks(threads, 9, ProduceStreams, ConsumeStreams, &producerFails));
    Streams consumerRefuses = ManyStreams();
    consumerRefuses.refuseAtBlock = 5;
    EXPECT_EQ(kDeflateRunConsumerFailed,
              DeflateBlocks(threads, 9, ProduceStreams, ConsumeStreams, &consumerRefuses));
    EXPECT_LT(consumerRefuses.blocksSeen, 5u + 2 * threads + 1)
        << "the run went on producing after the consumer stopped it";
  }
}

TEST(BlockDeflate, AnImpossibleLevelFailsAsZlibDoes) {
  Bytes data = TextContent(1000, 1), out;
  uint32_t crc;
  for (int threads : {1, 2})
    EXPECT_FALSE(DeflateStreamInBlocks(data.data(), data.size(), nullptr, 0, threads, 10, &out, &crc));
}

}  // namespace
