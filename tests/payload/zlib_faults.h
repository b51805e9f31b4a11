// Inflater failures for the tests.  The test executable is linked with
// --wrap=inflateInit2_,--wrap=inflateSetDictionary, so the payload library's
// calls pass through the wrappers here, which fail once when armed.
#ifndef SATCHEL_TESTS_ZLIB_FAULTS_H
#define SATCHEL_TESTS_ZLIB_FAULTS_H

enum ZlibCall { ZLIB_INFLATE_INIT, ZLIB_SET_DICTIONARY, ZLIB_CALL_COUNT };

// The named call succeeds `skip` more times and then fails once.  A negative
// skip disarms.
void FailZlibCall(ZlibCall call, int skip);
void ResetZlibFaults();
// Calls seen since the last reset.
int ZlibCallCount(ZlibCall call);

#endif  // SATCHEL_TESTS_ZLIB_FAULTS_H
