#include <windows.h>

#include "host_folders.h"
#include "platform/env.h"

namespace halcyra::testing {
namespace {

constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kSavedGames[] = L"{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}";
constexpr wchar_t kInstaller[] = L"Software\\Qoral\\Halcyra";
constexpr wchar_t kInstallDir[] = L"Install_Dir";

std::optional<std::string> Read(const wchar_t* keyName, const wchar_t* valueName) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  LONG status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return platform::WideToUtf8(buffer);
}

void Write(const wchar_t* keyName, const wchar_t* valueName, const std::optional<std::string>& value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (value) {
    std::wstring wide = platform::Utf8ToWide(*value);
    RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, valueName);
  }
  RegCloseKey(key);
}

// A Unix path (as the tests build them under wine) as the Windows path of wine's Z: drive.
std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

}  // namespace

ScopedSavedGames::ScopedSavedGames(const std::string& folder) : saved_(Read(kShellFolders, kSavedGames)) {
  Write(kShellFolders, kSavedGames, folder.empty() ? std::nullopt : std::optional<std::string>(WindowsPath(folder)));
}

ScopedSavedGames::~ScopedSavedGames() { Write(kShellFolders, kSavedGames, saved_); }

ScopedInstallDir::ScopedInstallDir(const std::string& folder) : saved_(Read(kInstaller, kInstallDir)) {
  Write(kInstaller, kInstallDir, folder.empty() ? std::nullopt : std::optional<std::string>(WindowsPath(folder)));
}

ScopedInstallDir::~ScopedInstallDir() { Write(kInstaller, kInstallDir, saved_); }

std::string PluginLibraryPath() { return HALCYRA_PLUGIN_PATH; }

}  // namespace halcyra::testing
