// One line of progress on standard error for long work: bytes done of the
// total, the rate and the time left, redrawn in place a few times a second
// and cleared at the end.  Shown only when standard error is a terminal and
// the work has run past about a second; nothing is ever written otherwise.
#ifndef SATCHEL_PROGRESS_LINE_H
#define SATCHEL_PROGRESS_LINE_H

#include <stdint.h>

struct ProgressLine;

// A line for work of `total` bytes (0: not known), described by `what`
// ("packing", "extracting": a constant text).  Null when no line is wanted:
// `quiet`, or standard error is not a terminal.  The other calls take null
// and then do nothing.
ProgressLine *StartProgressLine(const char *what, uint64_t total, bool quiet);

// `done` bytes of the work are done; redraws the line when it is due.
void AdvanceProgressLine(ProgressLine *line, uint64_t done);

// Clears the line (the terminal is left as it was before it) and frees it.
// Call before printing anything else to standard error.
void EndProgressLine(ProgressLine *line);

#endif  // SATCHEL_PROGRESS_LINE_H
