// windows.h before the headers that use its types.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <clocale>
#include <filesystem>
#include <fstream>

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
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
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
  Write(kShellFolders, kSavedGames,
        folder.empty() ? std::nullopt : std::optional<std::string>(WindowsPath(folder)));
}

ScopedSavedGames::~ScopedSavedGames() { Write(kShellFolders, kSavedGames, saved_); }

ScopedInstallDir::ScopedInstallDir(const std::string& folder) : saved_(Read(kInstaller, kInstallDir)) {
  Write(kInstaller, kInstallDir,
        folder.empty() ? std::nullopt : std::optional<std::string>(WindowsPath(folder)));
}

ScopedInstallDir::~ScopedInstallDir() { Write(kInstaller, kInstallDir, saved_); }

ScopedCommaDecimalLocale::ScopedCommaDecimalLocale() {
  const char* current = std::setlocale(LC_ALL, nullptr);
  previous_ = current ? current : "C";
  if (std::setlocale(LC_ALL, "German_Germany.1252") == nullptr)
    error_ = "setlocale German_Germany.1252 failed";
}

ScopedCommaDecimalLocale::~ScopedCommaDecimalLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

// Under wine the folder is a Unix folder, and the file system decides: the attribute or the
// permissions are set by a Unix shell that wine starts.
bool ScopedUnwritableFolder::Set(bool unwritable) {
  using UnixFileName = char* (*)(const wchar_t*);
  auto unixFileName = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixFileName == nullptr) {
    error_ = "making a folder unwritable is done through wine's Unix side; this is no wine";
    return false;
  }
  char* unixPath = unixFileName(folder_.wstring().c_str());
  if (unixPath == nullptr) {
    error_ = "no Unix path for " + folder_.string();
    return false;
  }
  std::wstring path = platform::Utf8ToWide(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  // Wine gives no handle of a Unix process to wait on: the shell leaves its exit status in a file
  // beside the folder.
  std::filesystem::path status = folder_.parent_path() / (folder_.filename().wstring() + L".status");
  std::error_code ignored;
  std::filesystem::remove(status, ignored);
  std::wstring script =
      unwritable ? L"if [ $(id -u) = 0 ]; then chattr +i '" + path + L"'; else chmod 555 '" + path + L"'; fi"
                 : L"chattr -i '" + path + L"' 2>/dev/null; chmod 755 '" + path + L"'";
  std::wstring command =
      L"/bin/sh -c \"PATH=/usr/sbin:/usr/bin:/sbin:/bin; " + script + L"; echo $? > '" + path + L".status'\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    error_ = "cannot start /bin/sh (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::string code;
  for (int waited = 0; waited < 10000 && code.empty(); waited += 10) {
    Sleep(10);
    std::ifstream file(status);
    std::getline(file, code);
  }
  std::filesystem::remove(status, ignored);
  if (code != "0") error_ = "the Unix shell could not change " + folder_.string() + " (" + code + ")";
  return code == "0";
}

bool PluginLibraryIsLoaded() {
  std::wstring name = std::filesystem::path(platform::Utf8ToWide(PluginLibraryPath())).filename().wstring();
  return GetModuleHandleW(name.c_str()) != nullptr;
}

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int threads = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
  }
  CloseHandle(snapshot);
  return threads;
}

}  // namespace halcyra::testing
