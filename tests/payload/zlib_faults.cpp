#include "zlib_faults.h"

#include <zlib.h>

extern "C" {
int __real_inflateInit2_(z_streamp stream, int windowBits, const char *version, int size);
int __real_inflateSetDictionary(z_streamp stream, const Bytef *dictionary, uInt length);
}

namespace {

// Written by the test thread only, between calls into the library.
int skips[ZLIB_CALL_COUNT] = {-1, -1};
int calls[ZLIB_CALL_COUNT];

bool ShouldFail(ZlibCall call) {
  calls[call]++;
  if (skips[call] < 0) return false;
  if (skips[call] > 0) {
    skips[call]--;
    return false;
  }
  skips[call] = -1;
  return true;
}

}  // namespace

// A failing inflateInit2 leaves the stream without state, as zlib does when
// it runs out of memory.
extern "C" int __wrap_inflateInit2_(z_streamp stream, int windowBits, const char *version,
                                    int size) {
  if (ShouldFail(ZLIB_INFLATE_INIT)) {
    stream->state = Z_NULL;
    return Z_MEM_ERROR;
  }
  return __real_inflateInit2_(stream, windowBits, version, size);
}

extern "C" int __wrap_inflateSetDictionary(z_streamp stream, const Bytef *dictionary,
                                           uInt length) {
  if (ShouldFail(ZLIB_SET_DICTIONARY)) return Z_STREAM_ERROR;
  return __real_inflateSetDictionary(stream, dictionary, length);
}

void FailZlibCall(ZlibCall call, int skip) { skips[call] = skip; }

void ResetZlibFaults() {
  for (int i = 0; i < ZLIB_CALL_COUNT; i++) {
    skips[i] = -1;
    calls[i] = 0;
  }
}

int ZlibCallCount(ZlibCall call) { return calls[call]; }
