// Allocation failures for the tests.  The test executable is linked with
// --wrap=malloc,--wrap=calloc,--wrap=realloc, which reroutes the calls made by
// statically linked objects (the payload library and the tests) through the
// wrappers here; zlib and the C++ runtime are shared libraries and keep the
// real allocator.
#ifndef SATCHEL_TESTS_ALLOC_FAULTS_H
#define SATCHEL_TESTS_ALLOC_FAULTS_H

#include <stddef.h>

// The next `skip` allocations succeed, the one after fails, and all later ones
// succeed again.  A negative skip disarms.
void FailAllocationAfter(int skip);
void DisarmAllocationFaults();
// Allocation calls (malloc, calloc, realloc) seen since the last reset.
int AllocationCalls();
void ResetAllocationCalls();
// Whether the armed failure has happened.
bool AllocationFailureHappened();

// While set, every block from malloc or realloc growth starts out filled with
// this repeating pattern instead of whatever the heap held, so that a test can
// show what a reader makes of bytes that it never wrote.  Null clears it.
void SetAllocationFill(const unsigned char *pattern, size_t length);

#endif  // SATCHEL_TESTS_ALLOC_FAULTS_H
