// pack's and pack-java's compression options (see compression_options.h).
#include "compression_options.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "block_deflate.h"
#include "satchel_commands.h"
#include "tool_messages.h"

namespace {

// More threads than any machine that packs has cores would only cost memory.
const int kMostThreads = 1024;

// The value of "NAME VALUE", "NAME=VALUE" or, for a short option, "NAMEVALUE".
// 0 when argv[*i] is not the option; -1 when its value is missing.
int TakeValueOf(int argc, char **argv, int *i, const char *name, bool joined,
                std::string *value) {
  const char *argument = argv[*i];
  size_t length = strlen(name);
  if (strncmp(argument, name, length) != 0) return 0;
  if (argument[length] == '=' || (joined && argument[length] != 0)) {
    *value = argument + length + (argument[length] == '=');
  } else if (argument[length] != 0) {
    return 0;
  } else if (*i + 1 >= argc) {
    return -1;
  } else {
    *value = argv[++*i];
  }
  return 1;
}

// A whole number from `least` to `most`, else 0.
int NumberIn(const std::string &text, int least, int most) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  int number = atoi(text.c_str());
  return number >= least && number <= most ? number : 0;
}

}  // namespace

int TakeCompressionOption(int argc, char **argv, int *i, const char *command,
                          BundleWriteOptions *options) {
  if (strcmp(argv[*i], "--quiet") == 0) {
    options->progress = false;
    return 1;
  }
  std::string value;
  const char *name = "-j";
  int taken = TakeValueOf(argc, argv, i, "-j", true, &value);
  if (!taken) taken = TakeValueOf(argc, argv, i, name = "--jobs", false, &value);
  if (taken) {
    options->threads = taken > 0 ? NumberIn(value, 1, kMostThreads) : 0;
    if (options->threads == 0) {
      PrintError(TOOL_MSG_BAD_JOBS, command, name, kMostThreads, value.c_str());
      return -1;
    }
    return 1;
  }
  taken = TakeValueOf(argc, argv, i, name = "--level", false, &value);
  if (!taken) return 0;
  options->level = taken > 0 ? NumberIn(value, kDeflateLevelFastest, kDeflateLevelBest) : 0;
  if (options->level == 0) {
    PrintError(TOOL_MSG_BAD_LEVEL, command, kDeflateLevelFastest, kDeflateLevelBest,
               value.c_str());
    return -1;
  }
  return 1;
}
