// Finding the tool's data folder and the stubs in it.
#include "default_stubs.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef SATCHEL_DATA_FOLDER_FROM_TOOL
#define SATCHEL_DATA_FOLDER_FROM_TOOL "../share/satchel"
#endif

namespace {

// The tool's own executable (UTF-8), or empty when the system does not say.
std::string ToolExecutablePath() {
#ifdef _WIN32
  std::vector<wchar_t> buffer(32768);
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), (DWORD)buffer.size());
  if (length == 0 || length >= buffer.size()) return std::string();
  return Utf8Text(buffer.data(), length);
#else
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if ((size_t)length < buffer.size()) return std::string(buffer.data(), (size_t)length);
    buffer.resize(buffer.size() * 2);
  }
#endif
}

bool IsFile(const std::string &path) {
  FILE *file = OpenFileForReading(path);
  if (file == nullptr) return false;
  fclose(file);
  return true;
}

uint32_t LittleEndian(const unsigned char *at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; i--) value = (value << 8) | at[i];
  return value;
}

}  // namespace

bool FindDefaultStub(const std::string &name, std::string *path, std::string *error) {
  std::string tool = ToolExecutablePath();
  std::string fileName = PathFileName(tool);
  if (tool.empty() || fileName.size() == tool.size()) {
    *error = MessageText(TOOL_MSG_NO_OWN_FOLDER, name.c_str());
    return false;
  }
  std::string folder = tool.substr(0, tool.size() - fileName.size());
  *path = folder + SATCHEL_DATA_FOLDER_FROM_TOOL "/" + name;
  if (!IsFile(*path)) {
    *error = MessageText(TOOL_MSG_NO_DEFAULT_STUB, path->c_str(), name.c_str());
    return false;
  }
  return true;
}

bool ReadPeMachine(const std::string &path, uint16_t *machine, std::string *error) {
  FILE *file = OpenFileForReading(path);
  if (file == nullptr) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, path.c_str(), strerror(errno));
    return false;
  }
  unsigned char dos[64], pe[6];
  bool ok = fread(dos, 1, sizeof dos, file) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z';
  if (ok) {
    // The PE signature and the file header's machine field, at e_lfanew.
    uint32_t at = LittleEndian(dos + 0x3c, 4);
    ok = fseek(file, (long)at, SEEK_SET) == 0 && fread(pe, 1, sizeof pe, file) == sizeof pe &&
         memcmp(pe, "PE\0\0", 4) == 0;
  }
  fclose(file);
  if (!ok) {
    *error = MessageText(TOOL_MSG_NOT_A_PE, path.c_str());
    return false;
  }
  *machine = (uint16_t)LittleEndian(pe + 4, 2);
  return true;
}

bool FindBootstrapFor(const std::string &stubPath, std::string *path, std::string *error) {
  uint16_t machine = 0;
  if (!ReadPeMachine(stubPath, &machine, error)) {
    *error = MessageText(TOOL_MSG_BOOTSTRAP_NEEDS_MACHINE, error->c_str());
    return false;
  }
  if (machine == PE_MACHINE_I386) return FindDefaultStub(STUB_BOOTSTRAP, path, error);
  if (machine == PE_MACHINE_AMD64) return FindDefaultStub("x86_64/" STUB_BOOTSTRAP, path, error);
  *error = MessageText(TOOL_MSG_NO_BOOTSTRAP_FOR_MACHINE, stubPath.c_str(), (unsigned)machine);
  return false;
}
