#include <windows.h>

#include <cstdio>

#include "platform/env.h"
#include "platform/files.h"

namespace halcyra::platform {
namespace {

std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : L"error " + std::to_wstring(code);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
    text.pop_back();
  return WideToUtf8(text);
}

}  // namespace

std::filesystem::path PathFromWide(const std::wstring& path) { return std::filesystem::path(path); }

std::wstring WideFromPath(const std::filesystem::path& path) { return path.wstring(); }

std::string PathText(const std::filesystem::path& path) { return WideToUtf8(path.wstring()); }

bool CanRewriteFile(const std::filesystem::path& file, std::string* reason) {
  DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *reason = SystemMessage(GetLastError());
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    *reason = "read-only";
    return false;
  }
  // Asks for write access without sharing it: fails while another program has the file open.
  HANDLE opened = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *reason = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ? "in use by another program"
                                                                              : SystemMessage(code);
    return false;
  }
  CloseHandle(opened);
  return true;
}

bool MakeFolders(const std::filesystem::path& folder, std::string* reason) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (FolderExists(folder)) return true;
  *reason = error ? error.message() : "not a folder";
  return false;
}

bool FolderExists(const std::filesystem::path& folder) {
  DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

NewFileResult WriteNewFile(const std::filesystem::path& file, const std::string& content,
                           std::string* reason) {
  HANDLE created =
      CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFileResult::kExists;
    *reason = SystemMessage(code);
    return NewFileResult::kFailed;
  }
  DWORD written = 0;
  bool ok = WriteFile(created, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
            written == content.size();
  DWORD code = ok ? 0 : GetLastError();
  ok = CloseHandle(created) && ok;
  if (!ok) {
    *reason = code != 0 ? SystemMessage(code) : "the file could not be completed";
    DeleteFileW(file.c_str());
    return NewFileResult::kFailed;
  }
  return NewFileResult::kWritten;
}

bool ReplaceFileContent(const std::filesystem::path& file, const std::string& content, std::string* reason) {
  std::filesystem::path next = file;
  next += L".halcyra-new";
  DeleteFileW(next.c_str());  // left over by a write that was cut short
  switch (WriteNewFile(next, content, reason)) {
    case NewFileResult::kWritten:
      break;
    case NewFileResult::kExists:
      *reason = PathText(next) + " is in the way";
      return false;
    case NewFileResult::kFailed:
      return false;
  }
  if (!MoveFileExW(next.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *reason = SystemMessage(GetLastError());
    DeleteFileW(next.c_str());
    return false;
  }
  return true;
}

}  // namespace halcyra::platform
