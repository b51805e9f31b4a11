// The commands of the bundle tool.  Each takes its own arguments (argv[0] is
// the command's name, the rest UTF-8) and returns the tool's exit status:
// 0 on success, 1 when the work failed (a refused input, a broken bundle),
// 2 for a usage error.
#ifndef SATCHEL_COMMANDS_H
#define SATCHEL_COMMANDS_H

#include "shown_text.h"

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

int PackCommand(int argc, char **argv);
int ListCommand(int argc, char **argv);
int ExtractCommand(int argc, char **argv);
int VerifyCommand(int argc, char **argv);

// Prints "satchel: " and a message of tool_messages.h to standard error,
// with a newline.
void PrintError(const char *format, ...) TOOL_PRINTF_FORMAT(1, 2);

#endif  // SATCHEL_COMMANDS_H
