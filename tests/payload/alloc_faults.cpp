#include "alloc_faults.h"

#include <stddef.h>

#include <atomic>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
}

namespace {

// Armed by the test thread only, between calls into the library; the count
// is also bumped by library calls on other threads.
int allocationSkip = -1;
std::atomic<int> allocationCalls{0};
bool failureHappened = false;
const unsigned char *fillPattern = nullptr;
size_t fillLength = 0;

void Fill(void *block, size_t size) {
  if (!block || !fillPattern) return;
  unsigned char *bytes = static_cast<unsigned char *>(block);
  for (size_t i = 0; i < size; i++) bytes[i] = fillPattern[i % fillLength];
}

bool ShouldFail() {
  allocationCalls++;
  if (allocationSkip < 0) return false;
  if (allocationSkip > 0) {
    allocationSkip--;
    return false;
  }
  allocationSkip = -1;
  failureHappened = true;
  return true;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
  if (ShouldFail()) return nullptr;
  void *block = __real_malloc(size);
  Fill(block, size);
  return block;
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
  return ShouldFail() ? nullptr : __real_calloc(count, size);
}

extern "C" void *__wrap_realloc(void *block, size_t size) {
  return ShouldFail() ? nullptr : __real_realloc(block, size);
}

void FailAllocationAfter(int skip) {
  allocationSkip = skip;
  failureHappened = false;
}

void DisarmAllocationFaults() { allocationSkip = -1; }

int AllocationCalls() { return allocationCalls; }

void ResetAllocationCalls() { allocationCalls = 0; }

bool AllocationFailureHappened() { return failureHappened; }

void SetAllocationFill(const unsigned char *pattern, size_t length) {
  fillPattern = length ? pattern : nullptr;
  fillLength = length;
}
