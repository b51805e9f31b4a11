// The options that pack and pack-java share: how many threads compress, at
// which level, and whether a progress line may show.
#ifndef SATCHEL_COMPRESSION_OPTIONS_H
#define SATCHEL_COMPRESSION_OPTIONS_H

#include "bundle_writer.h"

// Their lines of the commands' usage texts.
#define COMPRESSION_OPTIONS_USAGE                                                   \
  "  -j, --jobs N         compress on N threads (default: one per core); the\n"    \
  "                       bundle's bytes are the same for any N\n"                 \
  "  --level N            deflate level from 1 (fastest) to 9 (smallest, the\n"    \
  "                       default)\n"                                               \
  "  --quiet              no progress line of the tool's own (on a terminal, one\n" \
  "                       shows while the work takes more than a second)\n"

// Takes the option at argv[*i] ("-j N", "-jN", "--jobs N", "--jobs=N",
// "--level N", "--level=N", "--quiet") into *options, moving *i past its
// value.  1 when taken, 0 when argv[*i] is none of them, -1 when its value is
// missing or out of range (the error is printed, naming `command`).
int TakeCompressionOption(int argc, char **argv, int *i, const char *command,
                          BundleWriteOptions *options);

#endif  // SATCHEL_COMPRESSION_OPTIONS_H
