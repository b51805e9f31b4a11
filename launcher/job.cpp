// Starting the packaged program in a job and waiting for the job to empty.
#include "launcher.h"
#include "startup.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

// The records handed to the system have the sizes of the 32-bit build.  The
// 64-bit build (what the tests run) uses its platform's own sizes.
#ifndef _WIN64
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES is 12 bytes on i686");
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW is 68 bytes on i686");
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 is 296 bytes on i686");
#endif

// Rights that suffice to wait for a process and to ask about its job.
#define JOB_MEMBER_ACCESS (SYNCHRONIZE | PROCESS_QUERY_INFORMATION)

// The text of a refused assignment, with the system's error code; the
// longest is 52 bytes with its NUL.  Returned to WinMain, so it outlives the
// call that formats it.
static char assignMessage[100];

// The 8-bit-character process walk is used: only the process id is read.
HANDLE FindJobProcess(HANDLE job, DWORD *enumerationFailed, const char **message) {
  PROCESSENTRY32 process;

  *enumerationFailed = 1;
  *message = MSG_SNAPSHOT_FAILED;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return NULL;
  }
  *enumerationFailed = 0;
  *message = NULL;
  memset(&process, 0, sizeof process);
  process.dwSize = sizeof process;

  BOOL listed = Process32First(snapshot, &process);
  while (listed) {
    // A process that cannot be opened with these rights is passed over.
    HANDLE candidate = OpenProcess(JOB_MEMBER_ACCESS, FALSE, process.th32ProcessID);
    if (candidate != NULL) {
      // A member that has ended but is still held open (the launcher keeps
      // its program's handle for the exit code) is no longer waited for.
      BOOL member = FALSE;
      if (IsProcessInJob(candidate, job, &member) && member &&
          WaitForSingleObject(candidate, 0) == WAIT_TIMEOUT) {
        CloseHandle(snapshot);
        return candidate;
      }
      CloseHandle(candidate);
    }
    listed = Process32Next(snapshot, &process);
  }

  // The walkers report the normal end of the list as ERROR_NO_MORE_FILES;
  // anything else means that the list could not be read to its end.
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    *enumerationFailed = 1;
  }
  CloseHandle(snapshot);
  return NULL;
}

// The command line that hands `arguments` on: the program's quoted path, and
// a space and the arguments unless there are none.  0 when it is longer than
// the system takes.
static int BuildCommandLine(WCHAR *commandLine, const WCHAR *exePath, const WCHAR *arguments) {
  DWORD length = 0;
  return AppendText(commandLine, LAUNCHER_COMMAND_LINE_CAPACITY, &length, L"\"") &&
         AppendText(commandLine, LAUNCHER_COMMAND_LINE_CAPACITY, &length, exePath) &&
         AppendText(commandLine, LAUNCHER_COMMAND_LINE_CAPACITY, &length, L"\"") &&
         (*arguments == 0 ||
          (AppendText(commandLine, LAUNCHER_COMMAND_LINE_CAPACITY, &length, L" ") &&
           AppendText(commandLine, LAUNCHER_COMMAND_LINE_CAPACITY, &length, arguments)));
}

// Ends the program that was started suspended and could not be let run, and
// waits until it has gone, so that its file can be deleted (one that cannot
// be ended is not waited for: it would never end); closes both of its
// handles.
static void EndSuspendedProgram(PROCESS_INFORMATION *process) {
  if (TerminateProcess(process->hProcess, 1)) {
    WaitForSingleObject(process->hProcess, INFINITE);
  }
  CloseHandle(process->hThread);
  CloseHandle(process->hProcess);
}

const char *LaunchAndWait(const WCHAR *folderPath, const WCHAR *exePath, const WCHAR *arguments,
                          DWORD *exitCode, DWORD *programMayRun) {
  SECURITY_ATTRIBUTES security;
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  WCHAR commandLine[LAUNCHER_COMMAND_LINE_CAPACITY];
  WCHAR *passed = NULL;
  const char *failure = NULL;

  *programMayRun = 0;

  // One record for the job and for the new process and thread: default
  // security, not inheritable.
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = NULL;
  security.bInheritHandle = FALSE;

  // The job gets no limits and no settings: it is only the set of processes
  // to wait for, and closing it ends none of them.
  HANDLE job = CreateJobObjectA(&security, NULL);
  if (job == NULL) {
    return MSG_CREATE_JOB_FAILED;
  }

  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;

  // Without arguments to hand on there is no command line: the program sees
  // only its own path.  It starts suspended, so that it is a member of the
  // job before it can start anything of its own, and breaks away from any job
  // the launcher is in.  A job of the launcher's own that forbids breaking
  // away (CI agents, some shells) refuses that with ERROR_ACCESS_DENIED: the
  // program then starts inside it, and our job nests within that one.
  DWORD flags = CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB;
  if (arguments != NULL) {
    passed = commandLine;
    if (!BuildCommandLine(commandLine, exePath, arguments)) {
      failure = MSG_LAUNCH_FAILED;
    }
  }
  while (failure == NULL && !CreateProcessW(exePath, passed, &security, &security, FALSE, flags,
                                            NULL, folderPath, &startup, &process)) {
    if (flags == CREATE_SUSPENDED || GetLastError() != ERROR_ACCESS_DENIED) {
      failure = MSG_LAUNCH_FAILED;
    }
    flags = CREATE_SUSPENDED;
  }
  if (failure != NULL) {
    CloseHandle(job);
    return failure;
  }

  // A program that cannot be made a member or resumed never runs: it is
  // ended rather than left suspended for good, holding its own file.
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    sprintf(assignMessage, MSG_ASSIGN_FAILED_FORMAT, (int)GetLastError());
    failure = assignMessage;
  } else if ((int32_t)ResumeThread(process.hThread) < 0) {
    failure = MSG_RESUME_FAILED;
  }
  if (failure != NULL) {
    EndSuspendedProgram(&process);
    CloseHandle(job);
    return failure;
  }
  // The process handle stays open for the exit code; everything else is
  // found through the job.
  CloseHandle(process.hThread);

  // Every pass takes a new snapshot, so processes that members start while we
  // wait are waited for too.  Without a readable list the members run on
  // unwatched, and the wait ends.
  for (;;) {
    HANDLE member = FindJobProcess(job, programMayRun, &failure);
    if (member == NULL) {
      break;
    }
    WaitForSingleObject(member, INFINITE);
    CloseHandle(member);
  }
  CloseHandle(job);

  // The program's own process has ended by now, unless the process list
  // broke off first; its exit code becomes the launcher's.  Without a
  // snapshot there is no end to wait for.
  if (failure == NULL) {
    *exitCode = 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, exitCode);
  }
  CloseHandle(process.hProcess);
  return failure;
}
