// The bundle tool's own files: inputs checked and stamped, scratch files, and
// output files written atomically through a temporary file beside them.
#include "tool_files.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "payload.h"
#include "shown_text.h"
#include "tool_messages.h"

namespace {

const uint64_t kEntryLimit = PAYLOAD_ENTRY_SIZE_LIMIT;  // an entry's size is a u32

void RemoveFile(const std::string &path) {
#ifdef _WIN32
  _wremove(Widen(path).c_str());
#else
  unlink(path.c_str());
#endif
}

#ifndef _WIN32
mode_t CurrentUmask() {
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// A new file named `base` plus ".XXXXXX" made unique, with mode 0600: its
// descriptor, or -1 with errno set.  `name` receives the name it got.
int MakeUniqueFile(const std::string &base, std::string *name) {
  std::string pattern = base + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd = mkstemp(buffer.data());
  *name = buffer.data();
  return fd;
}
#endif

}  // namespace

#ifdef _WIN32
std::wstring Widen(const std::string &text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n);
  return out;
}

std::string Utf8Text(const wchar_t *text, size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, (int)length, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, (int)length, &out[0], n, nullptr, nullptr);
  return out;
}
#endif

std::string ErrnoText(int error) { return strerror(error); }

bool BeginAtomicOutputWithMode(const std::string &path, int mode, AtomicOutput *output,
                               std::string *error) {
  output->path = path;
  output->tempPath.clear();
  output->file = nullptr;
  // The rename at the end replaces a regular file; a device, a pipe or a
  // socket under that name (/dev/null) would be replaced by a regular file.
#ifdef _WIN32
  struct _stat64 existing;
  bool exists = _wstat64(Widen(path).c_str(), &existing) == 0;
#else
  struct stat existing;
  bool exists = stat(path.c_str(), &existing) == 0;
#endif
  if (exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    *error = MessageText(TOOL_MSG_OUTPUT_NOT_A_FILE, path.c_str());
    return false;
  }
#ifdef _WIN32
  (void)mode;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = path + ".tmp" + std::to_string(_getpid()) + "-" + std::to_string(counter++);
    int fd = _wopen(Widen(temp).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = MessageText(TOOL_MSG_TEMP_FILE_FAILED, path.c_str(), ErrnoText(errno).c_str());
      return false;
    }
    output->file = _fdopen(fd, "wb");
    if (!output->file) {
      int saved = errno;
      _close(fd);
      RemoveFile(temp);
      *error = MessageText(TOOL_MSG_AT_FILE, path.c_str(), ErrnoText(saved).c_str());
      return false;
    }
    output->tempPath = temp;
    return true;
  }
  *error = MessageText(TOOL_MSG_NO_TEMP_FILE, path.c_str());
  return false;
#else
  std::string name;
  int fd = MakeUniqueFile(path, &name);
  if (fd < 0) {
    *error = MessageText(TOOL_MSG_TEMP_FILE_FAILED, path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  fchmod(fd, (mode_t)mode & ~CurrentUmask());
  output->file = fdopen(fd, "wb");
  if (!output->file) {
    int saved = errno;
    close(fd);
    unlink(name.c_str());
    *error = MessageText(TOOL_MSG_AT_FILE, path.c_str(), ErrnoText(saved).c_str());
    return false;
  }
  output->tempPath = name;
  return true;
#endif
}

bool BeginAtomicOutput(const std::string &path, AtomicOutput *output, std::string *error) {
  return BeginAtomicOutputWithMode(path, 0666, output, error);
}

bool WriteAtomicOutput(AtomicOutput *output, const void *data, size_t size, std::string *error) {
  if (!output->file) {
    *error = MessageText(TOOL_MSG_NOT_OPEN_FOR_WRITING, output->path.c_str());
    return false;
  }
  if (size && fwrite(data, 1, size, output->file) != size) {
    int saved = errno;
    *error = MessageText(TOOL_MSG_WRITE_FAILED, output->path.c_str(), ErrnoText(saved).c_str());
    AbortAtomicOutput(output);
    return false;
  }
  return true;
}

bool PatchAtomicOutput(AtomicOutput *output, uint64_t offset, const void *data, size_t size,
                       std::string *error) {
  if (!output->file) {
    *error = MessageText(TOOL_MSG_NOT_OPEN_FOR_WRITING, output->path.c_str());
    return false;
  }
  bool written = fflush(output->file) == 0 && SeekFile(output->file, (int64_t)offset) &&
                 fwrite(data, 1, size, output->file) == size && fflush(output->file) == 0 &&
                 FileSize(output->file) >= 0;
  if (!written) {
    int saved = errno;
    *error = MessageText(TOOL_MSG_WRITE_FAILED, output->path.c_str(), ErrnoText(saved).c_str());
    AbortAtomicOutput(output);
    return false;
  }
  return true;
}

bool CommitAtomicOutput(AtomicOutput *output, std::string *error) {
  if (!output->file) {
    *error = MessageText(TOOL_MSG_NOT_OPEN_FOR_WRITING, output->path.c_str());
    return false;
  }
  FILE *file = output->file;
  output->file = nullptr;
  bool written = fflush(file) == 0;
  int saved = errno;
#ifndef _WIN32
  if (written && fsync(fileno(file)) != 0) {
    written = false;
    saved = errno;
  }
#endif
  if (fclose(file) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written) {
    *error = MessageText(TOOL_MSG_WRITE_FAILED, output->path.c_str(), ErrnoText(saved).c_str());
    RemoveFile(output->tempPath);
    return false;
  }
#ifdef _WIN32
  if (!MoveFileExW(Widen(output->tempPath).c_str(), Widen(output->path).c_str(),
                   MOVEFILE_REPLACE_EXISTING)) {
    *error = MessageText(TOOL_MSG_REPLACE_FAILED, output->path.c_str(),
                         (unsigned long)GetLastError());
    RemoveFile(output->tempPath);
    return false;
  }
#else
  if (rename(output->tempPath.c_str(), output->path.c_str()) != 0) {
    *error = MessageText(TOOL_MSG_RENAME_FAILED, output->path.c_str(), ErrnoText(errno).c_str());
    RemoveFile(output->tempPath);
    return false;
  }
#endif
  return true;
}

void AbortAtomicOutput(AtomicOutput *output) {
  if (output->file) {
    fclose(output->file);
    output->file = nullptr;
  }
  if (!output->tempPath.empty()) RemoveFile(output->tempPath);
  output->tempPath.clear();
}

bool CheckInputFile(const std::string &path, uint64_t *size, std::string *error,
                    bool *regular) {
#ifdef _WIN32
  struct _stat64 info;
  int failed = _wstat64(Widen(path).c_str(), &info);
#else
  struct stat info;
  int failed = stat(path.c_str(), &info);
#endif
  if (failed != 0) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    *error = MessageText(TOOL_MSG_IS_A_FOLDER, path.c_str());
    return false;
  }
  *size = (uint64_t)info.st_size;
  if (regular) *regular = S_ISREG(info.st_mode);
  if (S_ISREG(info.st_mode) && *size >= kEntryLimit) {
    *error = MessageText(TOOL_MSG_INPUT_TOO_LARGE, path.c_str(), (unsigned long long)*size);
    return false;
  }
  return true;
}

bool StampOpenFile(FILE *file, InputStamp *stamp) {
  *stamp = InputStamp();
#ifdef _WIN32
  // The handle's own times, in 100-nanosecond steps, rather than _fstat's
  // whole seconds.
  HANDLE handle = (HANDLE)_get_osfhandle(_fileno(file));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  stamp->regular = !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  stamp->size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
  uint64_t ticks = (uint64_t)info.ftLastWriteTime.dwHighDateTime << 32 |
                   info.ftLastWriteTime.dwLowDateTime;
  stamp->modifiedSeconds = (int64_t)(ticks / 10000000);
  stamp->modifiedNanoseconds = (long)(ticks % 10000000) * 100;
  return true;
#else
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return false;
  stamp->regular = S_ISREG(info.st_mode);
  stamp->size = (uint64_t)info.st_size;
  stamp->modifiedSeconds = (int64_t)info.st_mtim.tv_sec;
  stamp->modifiedNanoseconds = info.st_mtim.tv_nsec;
  return true;
#endif
}

bool SameStamp(const InputStamp &a, const InputStamp &b) {
  return a.regular == b.regular && a.size == b.size && a.modifiedSeconds == b.modifiedSeconds &&
         a.modifiedNanoseconds == b.modifiedNanoseconds;
}

FILE *OpenScratchFile(const std::string &beside, std::string *error) {
#ifdef _WIN32
  // Deleted by the system when its last handle closes, also when the tool
  // is ended from outside.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp =
        beside + ".scratch" + std::to_string(_getpid()) + "-" + std::to_string(counter++);
    int fd = _wopen(Widen(temp).c_str(),
                    _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = MessageText(TOOL_MSG_NO_SCRATCH_FILE_BECAUSE, beside.c_str(), ErrnoText(errno).c_str());
      return nullptr;
    }
    FILE *file = _fdopen(fd, "w+b");
    if (!file) {
      *error = MessageText(TOOL_MSG_AT_FILE, beside.c_str(), ErrnoText(errno).c_str());
      _close(fd);
    }
    return file;
  }
  *error = MessageText(TOOL_MSG_NO_SCRATCH_FILE, beside.c_str());
  return nullptr;
#else
  // Unlinked at once: the open descriptor is the only way to it.
  std::string name;
  int fd = MakeUniqueFile(beside, &name);
  if (fd < 0) {
    *error = MessageText(TOOL_MSG_NO_SCRATCH_FILE_BECAUSE, beside.c_str(), ErrnoText(errno).c_str());
    return nullptr;
  }
  unlink(name.c_str());
  FILE *file = fdopen(fd, "w+b");
  if (!file) {
    *error = MessageText(TOOL_MSG_AT_FILE, beside.c_str(), ErrnoText(errno).c_str());
    close(fd);
  }
  return file;
#endif
}

bool SameFile(const std::string &a, const std::string &b) {
#ifdef _WIN32
  wchar_t fullA[32768], fullB[32768];
  if (!_wfullpath(fullA, Widen(a).c_str(), 32768) || !_wfullpath(fullB, Widen(b).c_str(), 32768))
    return false;
  if (CompareStringOrdinal(fullA, -1, fullB, -1, TRUE) == CSTR_EQUAL) return true;
  // Two names of one file (a hard link, another drive letter): the volume
  // and the file index tell.
  HANDLE first = CreateFileW(fullA, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  HANDLE second = CreateFileW(fullB, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION x, y;
  bool same = first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE &&
              GetFileInformationByHandle(first, &x) && GetFileInformationByHandle(second, &y) &&
              x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
              x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
  if (first != INVALID_HANDLE_VALUE) CloseHandle(first);
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  return same;
#else
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
#endif
}

std::string PathFileName(const std::string &path) {
#ifdef _WIN32
  size_t cut = path.find_last_of("/\\:");
#else
  size_t cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

FILE *OpenFileForReading(const std::string &path) {
#ifdef _WIN32
  return _wfopen(Widen(path).c_str(), L"rb");
#else
  return fopen(path.c_str(), "rb");
#endif
}

bool SeekFile(FILE *file, int64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, offset, SEEK_SET) == 0;
#else
  return fseeko(file, (off_t)offset, SEEK_SET) == 0;
#endif
}

int64_t FileSize(FILE *file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return (int64_t)ftello(file);
#endif
}
