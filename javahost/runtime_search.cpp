// The satchel-java front end's search for a Java runtime: beside the
// executable, JAVA_HOME, then what the system knows of (the system's half,
// FindInstalledRuntime); runtimes older than the bundle asks for are passed
// over; and the messages that say what was found and why it did not do.
#include "front_end.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "javahost.h"
#include "satchel_java.h"

// Runtimes bundled beside the executable, in the order tried.
static const char *const kRuntimeFolders[] = {"jre", "runtime"};

int minimumRelease;
int chosenRelease;
// The places looked at for a runtime, and the runtimes found but too old
// (each with its release), for the messages; written by the search.
static char lookedAt[8192];
static char passedOver[2048];

// Appends text to the list of places looked at (in lookedAt), with a
// comma before every entry but the first; cut quietly when full.
void NoteLookedAt(const char *text) {
  size_t used = strlen(lookedAt);
  snprintf(lookedAt + used, sizeof lookedAt - used, "%s%s", used ? ", " : "", text);
}

// The JVM library under a runtime's home folder (which may or may not end in
// a separator), as a heap string; null when there is none, and then the
// label goes to the list of places looked at.
static char *FindLibraryUnder(const char *home, const char *label) {
  size_t length = strlen(home);
  int hasSeparator = length > 0 && (home[length - 1] == '/' || home[length - 1] == '\\');
  for (size_t i = 0; i < jvmLibraryCount; i++) {
    char *candidate = JoinStrings(home, hasSeparator ? "" : pathSeparator, jvmLibraries[i], NULL);
    if (!candidate) return NULL;
    if (IsFile(candidate)) return candidate;
    free(candidate);
  }
  NoteLookedAt(label);
  return NULL;
}

int ReleaseOfVersion(const char *version) {
  if (strncmp(version, "1.", 2) == 0) version += 2;
  int release = 0;
  while (*version >= '0' && *version <= '9' && release < 100000) release = release * 10 + (*version++ - '0');
  return release;
}

// The release of the runtime under `home`, from the JAVA_VERSION line of its
// "release" file; 0 when that cannot be told.
static int RuntimeRelease(const char *home) {
  size_t length = strlen(home);
  int hasSeparator = length > 0 && (home[length - 1] == '/' || home[length - 1] == '\\');
  char *path = JoinStrings(home, hasSeparator ? "" : pathSeparator, "release", NULL);
  FILE *file = path ? OpenForReading(path) : NULL;
  free(path);
  if (!file) return 0;
  int release = 0;
  char line[512];
  while (!release && fgets(line, sizeof line, file))
    if (strncmp(line, "JAVA_VERSION=\"", 14) == 0) release = ReleaseOfVersion(line + 14);
  fclose(file);
  return release;
}

int RecentEnough(const char *label, int release) {
  if (!minimumRelease || !release || release >= minimumRelease) return 1;
  size_t used = strlen(passedOver);
  snprintf(passedOver + used, sizeof passedOver - used, "%s%s (Java %d)", used ? ", " : "", label, release);
  return 0;
}

char *TryRuntimeHome(const char *home, const char *label, int release) {
  char *library = FindLibraryUnder(home, label);
  if (!library) return NULL;
  if (!release) release = RuntimeRelease(home);
  if (RecentEnough(label, release)) {
    chosenRelease = release;
    return library;
  }
  free(library);
  return NULL;
}

// Looks for a runtime bundled beside the executable (jre, then runtime), then
// under JAVA_HOME, then where the system keeps them; runtimes older than the
// bundle asks for are passed over.  The JVM library's path as a heap string,
// or null with lookedAt listing the places looked at and passedOver the
// runtimes too old (or, on Windows, *legacyKey set: see FindInstalledRuntime).
char *FindJavaRuntime(int *legacyKey) {
  lookedAt[0] = 0;
  passedOver[0] = 0;
  *legacyKey = 0;
  char *folder = ExecutableFolder();
  if (folder) {
    for (size_t i = 0; i < sizeof kRuntimeFolders / sizeof kRuntimeFolders[0]; i++) {
      char *home = JoinStrings(folder, kRuntimeFolders[i], NULL, NULL);
      char *library = home ? TryRuntimeHome(home, home, 0) : NULL;
      free(home);
      if (library) {
        free(folder);
        return library;
      }
    }
    free(folder);
  }
  char *javaHome = JavaHome();
  if (!javaHome) {
    NoteLookedAt("JAVA_HOME (not set)");
  } else {
    char *label = JoinStrings("JAVA_HOME (", javaHome, ")", NULL);
    char *library = label ? TryRuntimeHome(javaHome, label, 0) : NULL;
    free(label);
    free(javaHome);
    if (library) return library;
  }
  return FindInstalledRuntime(legacyKey);
}

// Why the JVM library at `path` does not load: it is not there, its header
// names another machine, or the system's own reason.
const char *LoadFailureReason(const char *path) {
  static char reason[256];
  if (!IsFile(path)) return JAVA_MSG_LIBRARY_NOT_FOUND;
  unsigned char head[4096];
  FILE *file = OpenForReading(path);
  size_t got = file ? fread(head, 1, sizeof head, file) : 0;
  if (file) fclose(file);
  const char *machine = LibraryMachine(head, got);
  if (machine && strcmp(machine, ownMachine) != 0) {
    snprintf(reason, sizeof reason, JAVA_MSG_WRONG_MACHINE_FORMAT, machine, ownMachine);
    return reason;
  }
  return SystemLoadError(path);
}

const char *OnlyOldRuntimesMessage(void) {
  if (!passedOver[0]) return NULL;
  static char composed[sizeof lookedAt + sizeof passedOver + 512];
  snprintf(composed, sizeof composed, JAVA_MSG_ONLY_OLD_RUNTIMES_FORMAT, minimumRelease, passedOver, jvmLibraryNames,
           lookedAt[0] ? lookedAt : JAVA_MSG_NOWHERE_ELSE, minimumRelease);
  return composed;
}

const char *PlacesLookedAt(void) { return lookedAt; }

// The message for a failed StartJavaVm: its own text, with the library's
// path when that could not be loaded, or with the places looked at when no
// runtime was found (`looked`, null when "-jvm" was given).
const char *VmFailureMessage(const char *message, const char *library, const char *looked) {
  static char composed[sizeof lookedAt + 2048];
  if (library && message == JavaVmCannotLoadLibrary) {
    snprintf(composed, sizeof composed, JAVA_MSG_LIBRARY_NOT_LOADED_FORMAT, message, library,
             LoadFailureReason(library));
    return composed;
  }
  if (library && message == JavaVmNoEntryPoint) {
    snprintf(composed, sizeof composed, JAVA_MSG_LIBRARY_FAILED_FORMAT, message, library);
    return composed;
  }
  if (!library && looked) {
    snprintf(composed, sizeof composed, JAVA_MSG_NO_RUNTIME_FOUND_FORMAT, message, jvmLibraryNames, looked);
    return composed;
  }
  return message;
}

