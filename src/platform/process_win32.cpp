#include <windows.h>
#include <winver.h>

#include <vector>

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

namespace {

// The full path of the running program's executable, however long; empty when it cannot be told.
std::wstring ExecutablePath() {
  constexpr size_t kLongestPath = 32768;  // the limit of Windows' long paths, in characters
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() <= kLongestPath) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);  // cut short: the buffer was too small
  }
  return L"";
}

}  // namespace

std::optional<ProgramVersion> RunningProgramVersion() {
  std::wstring path = ExecutablePath();
  if (path.empty()) return std::nullopt;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;  // no version resource
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
  void* block = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &block, &length) || block == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
  if (fixed->dwSignature != VS_FFI_SIGNATURE) return std::nullopt;
  return ProgramVersion{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                        HIWORD(fixed->dwFileVersionLS)};
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
