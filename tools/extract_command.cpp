// satchel extract: one entry's content, read through the payload library's
// entry streams (the launcher's own read path), into a file or standard output.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bundle_reading.h"
#include "payload.h"
#include "progress_line.h"
#include "satchel_commands.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kExtractUsage[] =
    "usage: satchel extract BUNDLE NAME -o FILE [--quiet]\n"
    "\n"
    "Writes the content of the entry NAME to FILE (\"-\" for standard output),\n"
    "read through the payload library's entry streams with the preset\n"
    "dictionary that the entry's reader uses.  FILE appears only when complete.\n"
    "On a terminal, a line shows the progress of work that takes more than a\n"
    "second; --quiet leaves it out.\n";

}  // namespace

int ExtractCommand(int argc, char **argv) {
  std::string path, name, out;
  bool haveName = false, quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kExtractUsage, stdout);
      return EXIT_OK;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) {
        PrintError(TOOL_MSG_NEEDS_VALUE, "-o", "extract");
        return EXIT_USAGE;
      }
      out = argv[++i];
    } else if (path.empty()) {
      path = arg;
    } else if (!haveName) {
      name = arg;
      haveName = true;
    } else {
      PrintError(TOOL_MSG_UNEXPECTED_ARGUMENT, "extract", arg.c_str(), "extract");
      return EXIT_USAGE;
    }
  }
  if (path.empty() || !haveName || out.empty()) {
    PrintError(TOOL_MSG_EXTRACT_NEEDS);
    return EXIT_USAGE;
  }
  if (out != "-" && SameFile(out, path)) {
    PrintError(TOOL_MSG_EXTRACT_ONTO_BUNDLE, out.c_str());
    return EXIT_FAILED;
  }
  if (!OpenIndex(path)) return EXIT_FAILED;

  FileEntry *entry;
  const char *message = nullptr;
  if (!FindFileEntry(name.c_str(), &entry, &message)) {
    // Name the entries that there are: an entry is named by its key ("msi"),
    // not by the file name that a property gives it.
    std::string names;
    std::vector<const FileEntry *> entries = AllFileEntries();
    for (size_t i = 0; i < entries.size() && i < 20; ++i)
      names += (i ? ", \"" : "\"") + Shown(entries[i]->name) + "\"";
    if (entries.size() > 20) names += MessageText(TOOL_MSG_MORE_ENTRIES, entries.size());
    PrintError(TOOL_MSG_NO_SUCH_ENTRY, path.c_str(), Shown(name).c_str(),
               entries.empty() ? TOOL_MSG_NO_ENTRIES
                               : MessageText(TOOL_MSG_ITS_ENTRIES, names.c_str()).c_str());
    ClosePayload();
    return EXIT_FAILED;
  }
  ReaderDictionaries dictionaries;
  std::string error;
  if (!BuildDictionaries(&dictionaries, &error)) {
    PrintError(TOOL_MSG_NO_DICTIONARY, path.c_str(), error.c_str());
    ClosePayload();
    return EXIT_FAILED;
  }
  const std::vector<unsigned char> &dictionary = JavaDictionaryStage(dictionaries, name.c_str());
  EntryStream *stream =
      OpenEntryStream(name.c_str(), dictionaries.java && !dictionary.empty() ? dictionary.data() : nullptr,
                      (int)dictionary.size(), &message);
  if (!stream) {
    PrintError(TOOL_MSG_BUNDLE_ENTRY_PROBLEM, path.c_str(), Shown(name).c_str(), message);
    ClosePayload();
    return EXIT_FAILED;
  }

  bool toStdout = out == "-";
  AtomicOutput output;
  if (toStdout) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
  } else if (!BeginAtomicOutput(out, &output, &error)) {
    PrintError("%s", error.c_str());
    CloseEntryStream(stream);
    ClosePayload();
    return EXIT_FAILED;
  }

  // Each read makes at most one 4096-byte fetch and one inflate step, which
  // yields a few KiB; gather many of them before each write.
  const size_t kBufferSize = 256 * 1024;
  std::vector<unsigned char> buffer(kBufferSize);
  size_t filled = 0;
  uint64_t written = 0;
  bool failed = false;
  ProgressLine *progress = StartProgressLine("extracting", entry->uncompressedSize, quiet);
  for (;;) {
    int n = ReadEntryStream(stream, buffer.data() + filled, (uint32_t)(kBufferSize - filled), nullptr);
    if (n > 0) filled += (size_t)n;
    if (filled == kBufferSize || (n <= 0 && filled > 0)) {
      bool whole = toStdout ? fwrite(buffer.data(), 1, filled, stdout) == filled
                            : WriteAtomicOutput(&output, buffer.data(), filled, &error);
      if (!whole) {
        if (toStdout) error = TOOL_MSG_STDOUT_FAILED;
        failed = true;
        break;
      }
      written += filled;
      AdvanceProgressLine(progress, written);
      filled = 0;
    }
    if (n < 0) {
      GetEntryStreamStatus(stream, &message);
      error = MessageText(TOOL_MSG_BUNDLE_ENTRY_PROBLEM, path.c_str(), Shown(name).c_str(),
                          message ? message : TOOL_MSG_READ_FAILED);
      failed = true;
      break;
    }
    if (n == 0) {
      if (GetEntryStreamRemaining(stream) != 0) {
        error = MessageText(TOOL_MSG_ENTRY_SHORT, path.c_str(), Shown(name).c_str(),
                            GetEntryStreamRemaining(stream));
        failed = true;
      }
      break;
    }
  }
  EndProgressLine(progress);
  CloseEntryStream(stream);
  ClosePayload();
  if (!failed) {
    if (toStdout) {
      if (fflush(stdout) != 0) {
        error = TOOL_MSG_STDOUT_FAILED;
        failed = true;
      }
    } else if (!CommitAtomicOutput(&output, &error)) {
      failed = true;
    }
  }
  if (failed) {
    if (!toStdout) AbortAtomicOutput(&output);
    PrintError("%s", error.c_str());
    return EXIT_FAILED;
  }
  return EXIT_OK;
}
