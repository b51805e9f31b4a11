// The progress line (see progress_line.h).  The line is redrawn with a
// carriage return and cleared by writing spaces over it, which every
// terminal and the Windows console understand without escape sequences.
#include "progress_line.h"

#include <stdio.h>
#include <string.h>

#include <chrono>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

typedef std::chrono::steady_clock Clock;

// The line appears once the work has run this long, and is redrawn at most
// this often.
const double kFirstShownAfter = 1.0;
const double kRedrawEvery = 0.25;

// Bytes as the line shows them: KiB, MiB or GiB with one decimal.
void FormatBytes(char *out, size_t size, double bytes) {
  const char *unit = "KiB";
  double value = bytes / 1024;
  if (value >= 1024) value /= 1024, unit = "MiB";
  if (value >= 1024) value /= 1024, unit = "GiB";
  snprintf(out, size, "%.1f %s", value, unit);
}

void FormatSeconds(char *out, size_t size, double seconds) {
  long whole = (long)(seconds + 0.5);
  if (whole >= 3600)
    snprintf(out, size, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    snprintf(out, size, "%ld:%02ld", whole / 60, whole % 60);
}

}  // namespace

struct ProgressLine {
  const char *what;
  uint64_t total;
  Clock::time_point start;
  double lastDrawn;  // seconds from the start; negative until first drawn
  size_t width;      // characters of the line now on the terminal
};

ProgressLine *StartProgressLine(const char *what, uint64_t total, bool quiet) {
  if (quiet || !isatty(fileno(stderr))) return nullptr;
  ProgressLine *line = new ProgressLine;
  line->what = what;
  line->total = total;
  line->start = Clock::now();
  line->lastDrawn = -1;
  line->width = 0;
  return line;
}

void AdvanceProgressLine(ProgressLine *line, uint64_t done) {
  if (!line) return;
  double elapsed = std::chrono::duration<double>(Clock::now() - line->start).count();
  if (elapsed < kFirstShownAfter || (line->lastDrawn >= 0 && elapsed - line->lastDrawn < kRedrawEvery))
    return;
  line->lastDrawn = elapsed;
  double rate = done / elapsed;
  char doneText[32], totalText[32], rateText[32], leftText[32];
  FormatBytes(doneText, sizeof doneText, (double)done);
  FormatBytes(rateText, sizeof rateText, rate);
  char text[160];
  if (line->total > 0) {
    uint64_t total = done > line->total ? done : line->total;
    FormatBytes(totalText, sizeof totalText, (double)total);
    if (rate > 0)
      FormatSeconds(leftText, sizeof leftText, (double)(total - done) / rate);
    else
      snprintf(leftText, sizeof leftText, "?");
    snprintf(text, sizeof text, "satchel: %s %s of %s (%d%%), %s/s, %s left", line->what,
             doneText, totalText, (int)(100.0 * done / total), rateText, leftText);
  } else {
    snprintf(text, sizeof text, "satchel: %s %s, %s/s", line->what, doneText, rateText);
  }
  size_t length = strlen(text);
  // Spaces over whatever a longer line before left behind.
  fprintf(stderr, "\r%s%*s", text, (int)(line->width > length ? line->width - length : 0), "");
  fflush(stderr);
  if (length > line->width) line->width = length;
}

void EndProgressLine(ProgressLine *line) {
  if (!line) return;
  if (line->width > 0) {
    fprintf(stderr, "\r%*s\r", (int)line->width, "");
    fflush(stderr);
  }
  delete line;
}
