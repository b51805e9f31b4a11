// satchel: makes and inspects bundles (a launcher stub with a payload behind
// it).  This file holds the entry point and the command dispatch; each
// command has a file of its own (pack_command.cpp, pack_java.cpp,
// list_command.cpp, extract_command.cpp, verify_command.cpp).
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "pack_java.h"
#include "satchel_commands.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const char kUsage[] =
    "usage: satchel <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  pack       make an installer bundle from a launcher stub, an msi and an exe\n"
    "  pack-java  make a Java application bundle from jars\n"
    "  list       show a bundle's header, entries and properties\n"
    "  extract    write one entry of a bundle to a file\n"
    "  verify     check that every part of a bundle can be read and that it would run\n"
    "\n"
    "satchel <command> --help describes each command; satchel --version\n"
    "prints the version.\n";

}  // namespace

void PrintError(const char *format, ...) {
  fputs("satchel: ", stderr);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

namespace {

int PackJava(int argc, char **argv) {
#ifdef SATCHEL_HAVE_PACK_JAVA
  return PackJavaCommand(argc, argv);
#else
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs("usage: satchel pack-java --stub STUB -o OUT app.jar [more.jar ...] "
            "[--main-class NAME]\n\nNot available in this build of satchel (it was built "
            "without a zip library).\n",
            stdout);
      return EXIT_OK;
    }
  }
  PrintError(TOOL_MSG_NO_PACK_JAVA);
  return EXIT_FAILED;
#endif
}

int Run(int argc, char **argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return EXIT_USAGE;
  }
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, stdout);
    return EXIT_OK;
  }
  if (command == "--version") {
    fputs("satchel " SATCHEL_VERSION "\n", stdout);
    return EXIT_OK;
  }
  struct {
    const char *name;
    int (*run)(int argc, char **argv);
  } commands[] = {{"pack", PackCommand},
                  {"pack-java", PackJava},
                  {"list", ListCommand},
                  {"extract", ExtractCommand},
                  {"verify", VerifyCommand}};
  for (const auto &entry : commands)
    if (command == entry.name) return entry.run(argc - 1, argv + 1);
  PrintError(TOOL_MSG_UNKNOWN_COMMAND, command.c_str());
  fputs(kUsage, stderr);
  return EXIT_USAGE;
}

}  // namespace

#ifdef _WIN32
// Windows hands the command line over in UTF-16; the tool works in UTF-8
// throughout and converts back only where it names a file to the system.
int wmain(int argc, wchar_t **wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8Text(wargv[i], wcslen(wargv[i])));
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return Run(argc, argv.data());
}
#else
int main(int argc, char **argv) { return Run(argc, argv); }
#endif
