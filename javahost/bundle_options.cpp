// What a Java bundle asks of the virtual machine (its manifest's module
// options, the packager's "Java-Options", the oldest release it runs on) and
// the vector that StartJavaVm gets: the runtime found, the system loader
// agent, the bundle's options, then the command line.
#include "front_end.h"

#include <stdlib.h>
#include <string.h>

#include "javahost.h"
#include "payload.h"
#include "satchel_java.h"

// "-J" arguments of the bundle's own, put in front of the user's, each with
// the first release that knows it (0: any).  Written by ReadBundleOptions.
static char **bundleOptions;
static int *bundleOptionReleases;
static int bundleOptionCount;

// Adds one "-J" argument for the virtual machine option prefix + middle +
// suffix (the prefix begins with "-"), which runtimes before `release` do not
// know (0: all do).  0 when out of memory.
static int AddBundleOption(int release, const char *prefix, const char *middle, const char *suffix) {
  char **grown = (char **)realloc(bundleOptions, ((size_t)bundleOptionCount + 1) * sizeof(char *));
  if (!grown) return 0;
  bundleOptions = grown;
  int *releases = (int *)realloc(bundleOptionReleases, ((size_t)bundleOptionCount + 1) * sizeof(int));
  if (!releases) return 0;
  bundleOptionReleases = releases;
  bundleOptionReleases[bundleOptionCount] = release;
  // "-J" and the option without its first dash: StartJavaVm puts the dash back.
  char *option = JoinStrings("-J", prefix + 1, middle, suffix);
  if (!option) return 0;
  bundleOptions[bundleOptionCount++] = option;
  return 1;
}

// Adds one option per space-separated item of a property's value.  0 when
// out of memory.
static int AddOptionPerItem(int release, const char *property, const char *prefix, const char *suffix) {
  const char *value = FindProperty(property);
  while (value && *value) {
    while (*value == ' ') value++;
    size_t length = strcspn(value, " ");
    if (length) {
      char *item = (char *)malloc(length + 1);
      if (!item) return 0;
      memcpy(item, value, length);
      item[length] = 0;
      int added = AddBundleOption(release, prefix, item, suffix);
      free(item);
      if (!added) return 0;
    }
    value += length;
  }
  return 1;
}

// The bundle's own options, as java -jar takes them from a manifest (Add-Opens
// and Add-Exports to every unnamed module, Enable-Native-Access; a runtime
// too old to know the option ignores the attribute under java -jar, and
// does not get the option here), then the
// packager's "Java-Options", one per line; also the oldest release that the
// bundle runs on, and the stack of the thread that runs everything when the
// command line does not set it.  0 when out of memory.
int ReadBundleOptions(void) {
  const char *release = FindProperty(JAVA_BUNDLE_MIN_VERSION_KEY);
  minimumRelease = release ? ReleaseOfVersion(release) : 0;
  if (!AddOptionPerItem(9, JAVA_BUNDLE_ADD_OPENS_KEY, "--add-opens=", "=ALL-UNNAMED") ||
      !AddOptionPerItem(9, JAVA_BUNDLE_ADD_EXPORTS_KEY, "--add-exports=", "=ALL-UNNAMED"))
    return 0;
  const char *nativeAccess = FindProperty(JAVA_BUNDLE_NATIVE_ACCESS_KEY);
  if (nativeAccess && strcmp(nativeAccess, "ALL-UNNAMED") == 0 &&
      !AddBundleOption(17, "--enable-native-access=ALL-UNNAMED", NULL, NULL))
    return 0;
  const char *options = FindProperty(JAVA_BUNDLE_OPTIONS_KEY);
  while (options && *options) {
    size_t length = strcspn(options, "\n");
    char *option = (char *)malloc(length + 1);
    if (!option) return 0;
    memcpy(option, options, length);
    option[length] = 0;
    if (strncmp(option, "-Xss", 4) == 0 && !userSetStackSize) mainStackSize = MainStackSizeFor(option + 4);
    int added = option[0] == '-' ? AddBundleOption(0, option, NULL, NULL) : 1;
    free(option);
    if (!added) return 0;
    options += length;
    if (*options == '\n') options++;
  }
  return 1;
}

char **VmArgumentVector(char *runtime, int *count) {
  *count = 0;
  char **vector = (char **)calloc((size_t)argumentCount + (size_t)bundleOptionCount + 4, sizeof(char *));
  if (!vector) return NULL;
  static char jvmOption[] = "-jvm";
  if (runtime) {
    vector[(*count)++] = jvmOption;
    vector[(*count)++] = runtime;
  }
  static char agentOption[] = SYSTEM_LOADER_AGENT_ARGUMENT;
  vector[(*count)++] = agentOption;
  for (int i = 0; i < bundleOptionCount; i++)
    if (!chosenRelease || bundleOptionReleases[i] <= chosenRelease) vector[(*count)++] = bundleOptions[i];
  if (argumentCount) memcpy(vector + *count, argumentVector, (size_t)argumentCount * sizeof(char *));
  *count += argumentCount;
  return vector;
}
