// Helpers shared by the native tests of VM creation: access to the stand-in
// JVM library and to the allocation watch.
#ifndef SATCHEL_TESTS_JAVAHOST_VM_SUPPORT_H
#define SATCHEL_TESTS_JAVAHOST_VM_SUPPORT_H

#include <stddef.h>

#include <string>

#include "stub_jvm.h"

// The stand-in JVM library, loaded (once) by path.  Aborts the test program
// when it cannot be loaded: nothing else would work.
struct StubJvm {
  StubJvmRecordFunction record;
  StubJvmSetResultFunction setResult;
  StubJvmHandlesFunction handles;
};
const StubJvm &LoadStubJvm();

// Paths of the test libraries, from the build.
const char *StubJvmPath();
const char *NoEntryLibraryPath();

// A path naming the same file as `path`, padded with "./" components (and
// one doubled slash if need be) to exactly `length` bytes.  `path` is
// absolute.
std::string PadPath(const std::string &path, size_t length);

// The allocation watch (malloc, calloc and free of the test program are
// wrapped).  While it is armed, the allocation numbered `failAt` (1 for the
// first one after arming; 0 for none) fails, and every allocation that
// succeeds is remembered until it is freed.
void ArmAllocationWatch(int failAt);
// Disarms and tells how many allocations were asked for while armed.
int DisarmAllocationWatch();
// Allocations made while armed and not freed since.
size_t LiveWatchedAllocations();
bool IsLiveWatchedAllocation(const void *block);

#endif  // SATCHEL_TESTS_JAVAHOST_VM_SUPPORT_H
