// The progress window that a bundle may ask for (pack --progress): its text
// and a bar, shown once extraction has run for a while, until it ends.
//
// The window is made of the system's own static controls (a frame and a
// filled rectangle that widens), so it needs no window procedure and no
// further library.  No button: extraction cannot be cancelled from it.
#include "launcher.h"
#include "payload.h"

// The window's size and the bar's full width, in pixels.
#define PROGRESS_WIDTH 360
#define PROGRESS_HEIGHT 104
#define PROGRESS_BAR_WIDTH 316

// The progress state, written by StartProgress, AdvanceProgress and
// EndProgress on the main thread, read by nothing else.
static const char *progressText;  // null: no window is shown (any more)
static DWORD progressStart;       // GetTickCount when extraction started
static DWORD progressTotal;       // KiB of all file entries, at least 1
static DWORD progressDone;        // bytes written so far
static HWND progressWindow;       // the window once shown, else null
static HWND progressBar;          // the filled rectangle inside it

static void AddEntrySize(const FileEntry *entry, void *) {
  progressTotal += entry->uncompressedSize >> 10;
}

void StartProgress(const char *text) {
  progressText = text;
  progressTotal = 1;
  ForEachFileEntry(AddEntrySize, NULL);
  progressStart = GetTickCount();
}

// The parts of the window, in order: the window, the text, the bar's frame
// and the bar itself (which starts empty).
struct ProgressPart {
  DWORD style;
  short x, y, width, height;
};

static const ProgressPart progressParts[] = {
    {WS_POPUP | WS_DLGFRAME, 0, 0, PROGRESS_WIDTH, PROGRESS_HEIGHT},
    {WS_CHILD | SS_CENTER, 20, 16, PROGRESS_BAR_WIDTH + 4, 40},
    {WS_CHILD | SS_BLACKFRAME, 20, 60, PROGRESS_BAR_WIDTH + 4, 20},
    {WS_CHILD | SS_BLACKRECT, 22, 62, 0, 16},
};

// Makes the window in the middle of the screen, or none (a text that does
// not convert, a window the system refuses: extraction goes on without).
static void ShowProgressWindow(void) {
  WCHAR text[LAUNCHER_PROGRESS_TEXT_CAPACITY];
  if (MultiByteToWideChar(CP_UTF8, 0, progressText, -1, text, LAUNCHER_PROGRESS_TEXT_CAPACITY) ==
      0) {
    return;
  }
  HWND made = NULL;
  for (const ProgressPart &part : progressParts) {
    int x = part.x, y = part.y;
    if (progressWindow == NULL) {
      x = (GetSystemMetrics(SM_CXSCREEN) - PROGRESS_WIDTH) / 2;
      y = (GetSystemMetrics(SM_CYSCREEN) - PROGRESS_HEIGHT) / 2;
    }
    // Every part carries the text: the window's names it on the task bar,
    // the label shows it, the frame and the bar draw none.
    made = CreateWindowExW(progressWindow == NULL ? WS_EX_TOPMOST : 0, L"STATIC", text,
                           part.style | WS_VISIBLE, x, y, part.width, part.height, progressWindow,
                           NULL, NULL, NULL);
    if (made == NULL) {
      EndProgress();
      return;
    }
    if (progressWindow == NULL) {
      progressWindow = made;
    }
  }
  progressBar = made;
}

void AdvanceProgress(DWORD bytes) {
  if (progressText == NULL) {
    return;
  }
  progressDone += bytes;
  if (progressWindow == NULL) {
    if (GetTickCount() - progressStart < LAUNCHER_PROGRESS_DELAY_MS) {
      return;
    }
    ShowProgressWindow();
    if (progressWindow == NULL) {
      progressText = NULL;
      return;
    }
  }
  MoveWindow(progressBar, 22, 62, MulDiv(PROGRESS_BAR_WIDTH, progressDone >> 10, progressTotal),
             16, TRUE);
  // The window's own messages (painting) are handled here, between blocks.
  MSG message;
  while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

void EndProgress(void) {
  if (progressWindow != NULL) {
    DestroyWindow(progressWindow);
    progressWindow = NULL;
  }
  progressText = NULL;
}
