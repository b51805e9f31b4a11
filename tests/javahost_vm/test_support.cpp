#include "test_support.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

const char *StubJvmPath() { return SATCHEL_STUB_JVM_PATH; }
const char *NoEntryLibraryPath() { return SATCHEL_NO_ENTRY_LIBRARY_PATH; }

const StubJvm &LoadStubJvm() {
  static StubJvm stub;
  static bool loaded = false;
  if (loaded) return stub;
  void *library = dlopen(StubJvmPath(), RTLD_NOW | RTLD_GLOBAL);
  if (!library) {
    fprintf(stderr, "cannot load the stand-in JVM %s: %s\n", StubJvmPath(), dlerror());
    abort();
  }
  stub.record = (StubJvmRecordFunction)dlsym(library, "StubJvmGetRecord");
  stub.setResult = (StubJvmSetResultFunction)dlsym(library, "StubJvmSetResult");
  stub.handles = (StubJvmHandlesFunction)dlsym(library, "StubJvmGetHandles");
  if (!stub.record || !stub.setResult || !stub.handles) {
    fprintf(stderr, "the stand-in JVM lacks its test exports\n");
    abort();
  }
  loaded = true;
  return stub;
}

std::string PadPath(const std::string &path, size_t length) {
  if (path.empty() || path[0] != '/' || path.size() > length) abort();
  std::string rest = path.substr(1);
  size_t padding = length - path.size();
  std::string out = "/";
  if (padding % 2) out += "/";
  for (size_t i = 0; i < padding / 2; i++) out += "./";
  out += rest;
  if (out.size() != length) abort();
  return out;
}

// ---- allocation watch ----

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void __real_free(void *block);
}

namespace {

bool armed = false;
int failAtAllocation = 0;
int allocationsSeen = 0;
// Blocks handed out while armed; a fixed table so that the watch itself
// never allocates.
const int kMaxWatched = 4096;
void *watched[kMaxWatched];
int watchedCount = 0;

// Counts one allocation; true when it is the one to fail.
bool NextAllocationFails() {
  allocationsSeen++;
  return failAtAllocation != 0 && allocationsSeen == failAtAllocation;
}

void Remember(void *block) {
  if (!block) return;
  if (watchedCount == kMaxWatched) abort();
  watched[watchedCount++] = block;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
  if (!armed) return __real_malloc(size);
  if (NextAllocationFails()) return nullptr;
  void *block = __real_malloc(size);
  Remember(block);
  return block;
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
  if (!armed) return __real_calloc(count, size);
  if (NextAllocationFails()) return nullptr;
  void *block = __real_calloc(count, size);
  Remember(block);
  return block;
}

extern "C" void __wrap_free(void *block) {
  for (int i = 0; block && i < watchedCount; i++) {
    if (watched[i] == block) {
      watched[i] = watched[--watchedCount];
      break;
    }
  }
  __real_free(block);
}

void ArmAllocationWatch(int failAt) {
  watchedCount = 0;
  allocationsSeen = 0;
  failAtAllocation = failAt;
  armed = true;
}

int DisarmAllocationWatch() {
  armed = false;
  return allocationsSeen;
}

size_t LiveWatchedAllocations() { return (size_t)watchedCount; }

bool IsLiveWatchedAllocation(const void *block) {
  for (int i = 0; i < watchedCount; i++)
    if (watched[i] == block) return true;
  return false;
}
