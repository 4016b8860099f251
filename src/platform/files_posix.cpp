#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool MakeFolders(const std::filesystem::path& folder, std::string* reason) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (std::filesystem::is_directory(folder)) return true;
  *reason = error ? error.message() : "not a folder";
  return false;
}

bool FolderExists(const std::filesystem::path& folder) {
  std::error_code error;
  return std::filesystem::is_directory(folder, error);
}

NewFileResult WriteNewFile(const std::filesystem::path& file, const std::string& content,
                           std::string* reason) {
  int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    if (errno == EEXIST) return NewFileResult::kExists;
    *reason = std::strerror(errno);
    return NewFileResult::kFailed;
  }
  size_t written = 0;
  while (written < content.size()) {
    ssize_t count = ::write(descriptor, content.data() + written, content.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      *reason = count < 0 ? std::strerror(errno) : "nothing written";
      ::close(descriptor);
      ::unlink(file.c_str());
      return NewFileResult::kFailed;
    }
    written += static_cast<size_t>(count);
  }
  if (::close(descriptor) != 0) {
    *reason = std::strerror(errno);
    ::unlink(file.c_str());
    return NewFileResult::kFailed;
  }
  return NewFileResult::kWritten;
}

bool ReplaceFileContent(const std::filesystem::path& file, const std::string& content, std::string* reason) {
  std::filesystem::path next = file;
  next += ".halcyra-new";
  ::unlink(next.c_str());  // left over by a write that was cut short
  switch (WriteNewFile(next, content, reason)) {
    case NewFileResult::kWritten:
      break;
    case NewFileResult::kExists:
      *reason = next.string() + " is in the way";
      return false;
    case NewFileResult::kFailed:
      return false;
  }
  struct stat original {};
  if (::stat(file.c_str(), &original) == 0) ::chmod(next.c_str(), original.st_mode & 07777);
  if (::rename(next.c_str(), file.c_str()) != 0) {
    *reason = std::strerror(errno);
    ::unlink(next.c_str());
    return false;
  }
  return true;
}

}  // namespace halcyra::platform
