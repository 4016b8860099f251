#include <windows.h>

#include "platform/env.h"
#include "platform/process.h"

namespace halcyra::platform {

std::string ExecutableFolder() {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
  if (length == 0 || length >= sizeof path / sizeof path[0]) return "";
  std::wstring folder(path, length);
  size_t separator = folder.find_last_of(L"\\/");
  return separator == std::wstring::npos ? "" : WideToUtf8(folder.substr(0, separator));
}

bool SetEnvironmentVariableUtf8(const char* name, const char* value) {
  std::wstring wideName = Utf8ToWide(name);
  if (value == nullptr) return SetEnvironmentVariableW(wideName.c_str(), nullptr) != 0;
  return SetEnvironmentVariableW(wideName.c_str(), Utf8ToWide(value).c_str()) != 0;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace halcyra::platform
