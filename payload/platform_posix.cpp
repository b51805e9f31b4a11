// The POSIX stand-in for the Windows calls that the payload library and Java
// hosting make.  Each call keeps the Windows contract that the library relies
// on (results, failure values, what GetLastError then says); nothing more.
#define PLATFORM_DEFINES_TABLE
#include "platform.h"
#include "payload.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <mutex>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// A file handle is a small heap record around a descriptor, so that
// INVALID_HANDLE_VALUE and null never collide with a real one.
struct PlatformFile {
  int fd;
};

// Test seams.  Written only by tests, between calls.
char *modulePathOverride = nullptr;
int faultSkip[PLATFORM_CALL_COUNT] = {-1, -1, -1, -1};
int faultSticky[PLATFORM_CALL_COUNT];
int callCount[PLATFORM_CALL_COUNT];

// Decides whether this call of `call` is to fail, and counts it.
bool InjectedFault(PlatformCall call) {
  callCount[call]++;
  if (faultSkip[call] < 0) return false;
  if (faultSkip[call] > 0) {
    faultSkip[call]--;
    return false;
  }
  if (!faultSticky[call]) faultSkip[call] = -1;
  return true;
}

// UTF-16 to UTF-8 for paths handed to the system; unpaired surrogates become
// U+FFFD.  Returns a heap string, or null when out of memory.
char *Utf16ToUtf8(const WCHAR *text) {
  size_t units = 0;
  while (text[units]) units++;
  char *out = (char *)malloc(units * 3 + 1);
  if (!out) return nullptr;
  size_t n = 0;
  for (size_t i = 0; i < units; i++) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out[n++] = (char)c;
    } else if (c < 0x800) {
      out[n++] = (char)(0xC0 | (c >> 6));
      out[n++] = (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[n++] = (char)(0xE0 | (c >> 12));
      out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
      out[n++] = (char)(0x80 | (c & 0x3F));
    } else {
      out[n++] = (char)(0xF0 | (c >> 18));
      out[n++] = (char)(0x80 | ((c >> 12) & 0x3F));
      out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
      out[n++] = (char)(0x80 | (c & 0x3F));
    }
  }
  out[n] = 0;
  return out;
}

// ---- registry table ----

struct RegistryValue {
  char *key;
  char *name;
  BYTE *data;
  DWORD size;
  RegistryValue *next;
};

struct PlatformRegistryKeyRecord {
  char *path;
};

std::mutex registryMutex;
RegistryValue *registryValues = nullptr;
char **registryKeys = nullptr;
size_t registryKeyCount = 0;
int openRegistryKeys = 0;

char *JoinKeyPath(const char *parent, const char *sub) {
  size_t a = parent ? strlen(parent) : 0, b = strlen(sub);
  char *out = (char *)malloc(a + b + 2);
  if (!out) return nullptr;
  size_t n = 0;
  if (a) {
    memcpy(out, parent, a);
    n = a;
    if (b) out[n++] = '\\';
  }
  memcpy(out + n, sub, b + 1);
  return out;
}

// True when `path` names a key that was added, or a prefix of one that was.
bool RegistryKeyExists(const char *path) {
  size_t len = strlen(path);
  auto covers = [&](const char *known) {
    return strncasecmp(known, path, len) == 0 && (known[len] == 0 || known[len] == '\\');
  };
  for (size_t i = 0; i < registryKeyCount; i++)
    if (covers(registryKeys[i])) return true;
  for (RegistryValue *v = registryValues; v; v = v->next)
    if (covers(v->key)) return true;
  return false;
}

const char *KeyPathOf(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "";
  return ((PlatformRegistryKeyRecord *)key)->path;
}

LONG QueryValue(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size) {
  std::lock_guard<std::mutex> guard(registryMutex);
  const char *path = KeyPathOf(key);
  for (RegistryValue *v = registryValues; v; v = v->next) {
    if (strcasecmp(v->key, path) != 0 || strcasecmp(v->name, name ? name : "") != 0) continue;
    if (type) *type = 1;  // REG_SZ
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (data && *size < v->size) {
      *size = v->size;
      return ERROR_MORE_DATA;
    }
    if (data) memcpy(data, v->data, v->size);
    *size = v->size;
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

static int StandInMultiByteToWideChar(UINT codePage, DWORD flags, const char *source,
                                      int sourceLength, WCHAR *target, int targetLength);

static DWORD StandInGetLastError(void) { return lastError; }

static DWORD StandInGetModuleFileNameW(HMODULE module, WCHAR *buffer, DWORD size) {
  char real[4096];
  const char *path = modulePathOverride;
  if (!path) {
    ssize_t n = readlink("/proc/self/exe", real, sizeof real - 1);
    if (n < 0) {
      lastError = ERROR_FILE_NOT_FOUND;
      return 0;
    }
    real[n] = 0;
    path = real;
  }
  if (size == 0) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  int n = StandInMultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
  if (n > 0 && (DWORD)n <= size) {
    StandInMultiByteToWideChar(CP_UTF8, 0, path, -1, buffer, (int)size);
    return (DWORD)n - 1;
  }
  // Like the system: the path is cut to the buffer, ended, and the full
  // buffer size is returned.
  WCHAR *whole = (WCHAR *)malloc(sizeof(WCHAR) * (n > 0 ? n : 1));
  if (whole && n > 0) {
    StandInMultiByteToWideChar(CP_UTF8, 0, path, -1, whole, n);
    memcpy(buffer, whole, sizeof(WCHAR) * (size - 1));
  }
  buffer[size - 1] = 0;
  free(whole);
  lastError = ERROR_INSUFFICIENT_BUFFER;
  return size;
}

static HANDLE StandInCreateFileW(const WCHAR *path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES *security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (InjectedFault(PLATFORM_CREATE_FILE)) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  int mode = O_CLOEXEC;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    mode |= O_RDWR;
  else if (access & GENERIC_WRITE)
    mode |= O_WRONLY;
  else
    mode |= O_RDONLY;
  if (disposition == CREATE_NEW)
    mode |= O_CREAT | O_EXCL;
  else if (disposition == CREATE_ALWAYS)
    mode |= O_CREAT | O_TRUNC;
  else if (disposition != OPEN_EXISTING) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  char *name = Utf16ToUtf8(path);
  if (!name) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(name, mode, 0666);
  int openErrno = errno;
  free(name);
  if (fd < 0) {
    lastError = openErrno == EEXIST ? ERROR_FILE_EXISTS : ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  PlatformFile *file = (PlatformFile *)malloc(sizeof *file);
  if (!file) {
    close(fd);
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return INVALID_HANDLE_VALUE;
  }
  file->fd = fd;
  return file;
}

static BOOL StandInReadFile(HANDLE handle, void *buffer, DWORD toRead, DWORD *read, OVERLAPPED *overlapped) {
  if (read) *read = 0;
  if (InjectedFault(PLATFORM_READ_FILE)) {
    lastError = ERROR_READ_FAULT;
    return FALSE;
  }
  PlatformFile *file = (PlatformFile *)handle;
  DWORD done = 0;
  // Like a synchronous read of a disk file: only the end of the file (or an
  // error) delivers fewer bytes than asked.
  while (done < toRead) {
    ssize_t n = ::read(file->fd, (char *)buffer + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      lastError = ERROR_READ_FAULT;
      if (read) *read = done;
      return FALSE;
    }
    if (n == 0) break;
    done += (DWORD)n;
  }
  if (read) *read = done;
  return TRUE;
}

static BOOL StandInWriteFile(HANDLE handle, const void *buffer, DWORD toWrite, DWORD *written, OVERLAPPED *overlapped) {
  if (written) *written = 0;
  if (InjectedFault(PLATFORM_WRITE_FILE)) {
    lastError = ERROR_WRITE_FAULT;
    return FALSE;
  }
  PlatformFile *file = (PlatformFile *)handle;
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t n = ::write(file->fd, (const char *)buffer + done, toWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError = ERROR_WRITE_FAULT;
      if (written) *written = done;
      return FALSE;
    }
    done += (DWORD)n;
  }
  if (written) *written = done;
  return TRUE;
}

static DWORD StandInSetFilePointer(HANDLE handle, LONG distance, LONG *distanceHigh, DWORD method) {
  if (InjectedFault(PLATFORM_SET_FILE_POINTER)) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  PlatformFile *file = (PlatformFile *)handle;
  int64_t move = distanceHigh ? (int64_t)(((uint64_t)(uint32_t)*distanceHigh << 32) | (uint32_t)distance)
                              : (int64_t)distance;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  if (method == FILE_BEGIN && move < 0) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  off_t at = lseek(file->fd, (off_t)move, whence);
  if (at < 0) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = (LONG)((uint64_t)at >> 32);
  lastError = ERROR_SUCCESS;
  return (DWORD)at;
}

static BOOL StandInCloseHandle(HANDLE handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  PlatformFile *file = (PlatformFile *)handle;
  close(file->fd);
  free(file);
  return TRUE;
}

static int StandInMultiByteToWideChar(UINT codePage, DWORD flags, const char *source, int sourceLength,
                        WCHAR *target, int targetLength) {
  if (codePage != CP_UTF8 || !source || targetLength < 0 || (targetLength > 0 && !target)) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t n = sourceLength < 0 ? strlen(source) + 1 : (size_t)sourceLength;
  const unsigned char *s = (const unsigned char *)source;
  int out = 0;
  for (size_t i = 0; i < n;) {
    size_t used;
    uint32_t c = DecodeUtf8(s + i, n - i, &used);
    if (c == UTF8_ILL_FORMED) c = 0xFFFD;
    i += used;
    int units = c >= 0x10000 ? 2 : 1;
    if (targetLength > 0) {
      if (out + units > targetLength) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
      }
      if (units == 2) {
        target[out] = (WCHAR)(0xD800 + ((c - 0x10000) >> 10));
        target[out + 1] = (WCHAR)(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        target[out] = (WCHAR)c;
      }
    }
    out += units;
  }
  if (out == 0) lastError = ERROR_INVALID_PARAMETER;
  return out;
}

static HMODULE StandInLoadLibraryW(const WCHAR *path) {
  char *name = Utf16ToUtf8(path);
  if (!name) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  // An empty name would hand back the main program; the system loader
  // refuses it.
  void *library = name[0] ? dlopen(name, RTLD_NOW | RTLD_GLOBAL) : nullptr;
  free(name);
  if (!library) lastError = ERROR_MOD_NOT_FOUND;
  return library;
}

static FARPROC StandInGetProcAddress(HMODULE module, const char *name) {
  void *symbol = module ? dlsym(module, name) : nullptr;
  if (!symbol) lastError = ERROR_PROC_NOT_FOUND;
  return (FARPROC)symbol;
}

static LONG StandInRegOpenKeyExA(HKEY key, const char *subKey, DWORD options, REGSAM access, HKEY *result) {
  std::lock_guard<std::mutex> guard(registryMutex);
  *result = nullptr;
  char *path = JoinKeyPath(KeyPathOf(key), subKey ? subKey : "");
  if (!path) return ERROR_NOT_ENOUGH_MEMORY;
  if (!RegistryKeyExists(path)) {
    free(path);
    return ERROR_FILE_NOT_FOUND;
  }
  PlatformRegistryKeyRecord *record = (PlatformRegistryKeyRecord *)malloc(sizeof *record);
  if (!record) {
    free(path);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  record->path = path;
  openRegistryKeys++;
  *result = (HKEY)record;
  return ERROR_SUCCESS;
}

static LONG StandInRegQueryValueExA(HKEY key, const char *name, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *size) {
  return QueryValue(key, name, type, data, size);
}

static LONG StandInRegQueryValueExW(HKEY key, const WCHAR *name, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *size) {
  char *narrow = name ? Utf16ToUtf8(name) : nullptr;
  if (name && !narrow) return ERROR_NOT_ENOUGH_MEMORY;
  LONG result = QueryValue(key, narrow, type, data, size);
  free(narrow);
  return result;
}

static LONG StandInRegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (!key) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> guard(registryMutex);
  PlatformRegistryKeyRecord *record = (PlatformRegistryKeyRecord *)key;
  free(record->path);
  free(record);
  openRegistryKeys--;
  return ERROR_SUCCESS;
}

// ---- the tables ----

PlatformCalls platformCalls = {
    StandInGetModuleFileNameW, StandInCreateFileW,   StandInReadFile,
    StandInWriteFile,          StandInSetFilePointer, StandInCloseHandle,
    StandInGetLastError,       StandInMultiByteToWideChar, StandInGetProcAddress,
};

RuntimeCalls runtimeCalls = {StandInLoadLibraryW, StandInRegOpenKeyExA, StandInRegQueryValueExA,
                             StandInRegQueryValueExW, StandInRegCloseKey};

// ---- test seams ----

void PlatformSetModulePath(const char *path) {
  free(modulePathOverride);
  modulePathOverride = path ? strdup(path) : nullptr;
}

void PlatformClearRegistry(void) {
  std::lock_guard<std::mutex> guard(registryMutex);
  while (registryValues) {
    RegistryValue *next = registryValues->next;
    free(registryValues->key);
    free(registryValues->name);
    free(registryValues->data);
    free(registryValues);
    registryValues = next;
  }
  for (size_t i = 0; i < registryKeyCount; i++) free(registryKeys[i]);
  free(registryKeys);
  registryKeys = nullptr;
  registryKeyCount = 0;
}

void PlatformAddRegistryKey(const char *keyPath) {
  std::lock_guard<std::mutex> guard(registryMutex);
  char **grown = (char **)realloc(registryKeys, sizeof(char *) * (registryKeyCount + 1));
  if (!grown) abort();
  registryKeys = grown;
  registryKeys[registryKeyCount++] = strdup(keyPath);
}

void PlatformSetRegistryValue(const char *keyPath, const char *valueName, const void *data,
                              DWORD size) {
  std::lock_guard<std::mutex> guard(registryMutex);
  RegistryValue *value = (RegistryValue *)calloc(1, sizeof *value);
  if (!value) abort();
  value->key = strdup(keyPath);
  value->name = strdup(valueName);
  value->data = (BYTE *)malloc(size ? size : 1);
  memcpy(value->data, data, size);
  value->size = size;
  value->next = registryValues;
  registryValues = value;
}

int PlatformOpenRegistryKeys(void) { return openRegistryKeys; }

void PlatformFailCall(PlatformCall call, int skip, int sticky) {
  faultSkip[call] = skip;
  faultSticky[call] = sticky;
}

int PlatformCallCount(PlatformCall call) { return callCount[call]; }

void PlatformResetFaults(void) {
  for (int i = 0; i < PLATFORM_CALL_COUNT; i++) {
    faultSkip[i] = -1;
    faultSticky[i] = 0;
    callCount[i] = 0;
  }
}
