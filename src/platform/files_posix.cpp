#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/env.h"
#include "platform/files.h"

namespace halcyra::platform {

std::filesystem::path PathFromWide(const std::wstring& path) {
  return std::filesystem::path(WideToUtf8(path));
}

std::wstring WideFromPath(const std::filesystem::path& path) { return Utf8ToWide(path.string()); }

std::string PathText(const std::filesystem::path& path) { return path.string(); }

bool CanRewriteFile(const std::filesystem::path& file, std::string* reason) {
  std::error_code error;
  std::filesystem::perms perms = std::filesystem::status(file, error).permissions();
  // The write bit is looked at, not access(): the super-user may write anything, yet a file the
  // user marked read-only stays untouched.
  if (error || (perms & std::filesystem::perms::owner_write) == std::filesystem::perms::none) {
    *reason = error ? error.message() : "read-only";
    return false;
  }
  std::FILE* opened = std::fopen(file.c_str(), "r+b");
  if (opened == nullptr) {
    *reason = std::strerror(errno);
    return false;
  }
  std::fclose(opened);
  return true;
}

}  // namespace halcyra::platform
