// The satchel-java front end's command line: the process's arguments turned
// into the vector that StartJavaVm splits, and what the road needs to know of
// it before then (the "-jvm" path, the size of the main thread's stack).
#include "front_end.h"

#include <stdlib.h>
#include <string.h>

#include "javahost.h"
#include "satchel_java.h"

// Stack of the thread that runs the application when no "-JXss" says
// otherwise: twice the 1 MiB that the virtual machine gives its own threads
// on 64-bit systems, as our native frames sit below main's.
#define DEFAULT_MAIN_STACK_SIZE (2u * 1024u * 1024u)

int argumentCount;
char **argumentVector;
size_t mainStackSize;
int userSetStackSize;

char *JoinStrings(const char *a, const char *b, const char *c, const char *d) {
  const char *parts[4] = {a, b, c, d};
  size_t length = 0;
  for (int i = 0; i < 4; i++) length += parts[i] ? strlen(parts[i]) : 0;
  char *joined = (char *)malloc(length + 1);
  if (!joined) return NULL;
  size_t at = 0;
  for (int i = 0; i < 4; i++) {
    if (!parts[i]) continue;
    size_t n = strlen(parts[i]);
    memcpy(joined + at, parts[i], n);
    at += n;
  }
  joined[at] = 0;
  return joined;
}

// The size that an "-Xss" option asks for (the text behind "-Xss"), plus room
// for our own frames; the size so far when it is below what the runtime
// accepts or absurdly large (the runtime then judges the option itself).
size_t MainStackSizeFor(const char *text) {
  char *end = NULL;
  double size = strtod(text, &end);
  double unit = 1;
  if (end && (*end == 'k' || *end == 'K')) unit = 1024.0;
  if (end && (*end == 'm' || *end == 'M')) unit = 1024.0 * 1024.0;
  if (end && (*end == 'g' || *end == 'G')) unit = 1024.0 * 1024.0 * 1024.0;
  if (size * unit >= 64.0 * 1024.0 && size * unit <= 1024.0 * 1024.0 * 1024.0)
    return (size_t)(size * unit) + 256u * 1024u;
  return mainStackSize;
}

// Builds the vector for StartJavaVm from the process's own arguments, without
// the program name: "-J" options as the runtime expects them, the path behind
// "-jvm" in UTF-8, application arguments in modified UTF-8.  The walk is
// StartJavaVm's own (RoleOfArgument), so each argument is converted for the
// role that it will play there.  Also notes the last "-JXss" size.  0 when
// out of memory.
int BuildArgumentVector(int argc, char **argv) {
  mainStackSize = DEFAULT_MAIN_STACK_SIZE;
  int total = OpenCommandLine(argc, argv);
  if (total < 0) return 0;
  argumentVector = (char **)calloc((size_t)total + 1, sizeof(char *));
  if (!argumentVector) return 0;
  argumentCount = total;
  ArgumentRole role = kApplicationArgument;
  for (int i = 0; i < total; i++) {
    char *given = CommandLineArgument(i);
    if (!given) return 0;
    role = RoleOfArgument(given, role);
    char *converted;
    if (role == kVmOption) {
      converted = VmOptionArgument(i, given);
      if (strncmp(given, "-JXss", 5) == 0) {
        mainStackSize = MainStackSizeFor(given + 5);
        userSetStackSize = 1;
      }
    } else if (role == kApplicationArgument) {
      converted = ApplicationArgument(given);
    } else {
      converted = JoinStrings(given, NULL, NULL, NULL);
    }
    free(given);
    if (!converted) return 0;
    argumentVector[i] = converted;
  }
  CloseCommandLine();
  return 1;
}

int FindExplicitJvm(const char **path) {
  int found = 0;
  *path = NULL;
  ArgumentRole role = kApplicationArgument;
  for (int i = 0; i < argumentCount; i++) {
    role = RoleOfArgument(argumentVector[i], role);
    if (role == kLibraryPathSwitch) {
      found = 1;
      *path = argumentVector[i + 1];  // the ending null entry when "-jvm" is last
    }
  }
  return found;
}
