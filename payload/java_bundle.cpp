// The one rule of a Java bundle that is code rather than a name (the rest is
// in java_bundle.h).
#include "java_bundle.h"

#include <string.h>

int PayloadDictionaryStage(const char *name) {
  if (strcmp(name, PAYLOAD_INPUT_STREAM_ENTRY) == 0) return JAVA_DICTIONARY_NAMES;
  if (strcmp(name, PAYLOAD_CLASS_LOADER_ENTRY) == 0) return JAVA_DICTIONARY_WITH_INPUT_STREAM;
  return JAVA_DICTIONARY_WITH_BOTH;
}
