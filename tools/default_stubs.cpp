// Finding the tool's data folder and the stubs in it.
#include "default_stubs.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "pe_image.h"
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

bool FindBootstrapFor(const std::string &stubPath, std::string *path, std::string *error) {
  PeImage stub;
  if (!ReadPeImageFile(stubPath, &stub, error)) {
    *error = MessageText(TOOL_MSG_BOOTSTRAP_NEEDS_MACHINE, error->c_str());
    return false;
  }
  uint16_t machine = stub.machine;
  if (machine == PE_MACHINE_I386) return FindDefaultStub(STUB_BOOTSTRAP, path, error);
  if (machine == PE_MACHINE_AMD64) return FindDefaultStub("x86_64/" STUB_BOOTSTRAP, path, error);
  *error = MessageText(TOOL_MSG_NO_BOOTSTRAP_FOR_MACHINE, stubPath.c_str(), (unsigned)machine);
  return false;
}
