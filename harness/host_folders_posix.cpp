#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host_folders.h"

namespace halcyra::testing {
namespace {

std::optional<std::string> Get(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void Put(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

ScopedSavedGames::ScopedSavedGames(const std::string& folder)
    : saved_(Get("HALCYRA_SAVED_GAMES")), home_(Get("HOME")) {
  if (folder.empty()) {
    unsetenv("HALCYRA_SAVED_GAMES");
    unsetenv("HOME");
  } else {
    setenv("HALCYRA_SAVED_GAMES", folder.c_str(), 1);
  }
}

ScopedSavedGames::~ScopedSavedGames() {
  Put("HALCYRA_SAVED_GAMES", saved_);
  Put("HOME", home_);
}

ScopedInstallDir::ScopedInstallDir(const std::string& folder) : saved_(Get("HALCYRA_INSTALL_DIR")) {
  Put("HALCYRA_INSTALL_DIR", folder.empty() ? std::nullopt : std::optional<std::string>(folder));
}

ScopedInstallDir::~ScopedInstallDir() { Put("HALCYRA_INSTALL_DIR", saved_); }

bool ScopedUnwritableFolder::Set(bool unwritable) {
  std::string path = folder_.string();
  if (geteuid() != 0) {
    if (chmod(path.c_str(), unwritable ? 0555 : 0755) == 0) return true;
    error_ = "chmod " + path + ": " + std::strerror(errno);
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int flags = 0;
  bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = unwritable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  if (!done) error_ = "the immutable attribute cannot be set on " + path + ": " + std::strerror(errno);
  if (fd >= 0) close(fd);
  return done;
}

ScopedCommaDecimalLocale::ScopedCommaDecimalLocale() : locPath_(Get("LOCPATH")) {
  const char* current = std::setlocale(LC_ALL, nullptr);
  previous_ = current ? current : "C";
  folder_ = std::filesystem::temp_directory_path() / ("halcyra-locale-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder_);
  std::string command = "localedef -i de_DE -f UTF-8 '" + (folder_ / "de_DE.UTF-8").string() + "' 2>&1";
  int status = std::system(command.c_str());
  if (status != 0) {
    error_ = "localedef could not build de_DE.UTF-8 (is Debian's locales package installed?): " + command;
    return;
  }
  setenv("LOCPATH", folder_.c_str(), 1);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) error_ = "setlocale de_DE.UTF-8 failed";
}

ScopedCommaDecimalLocale::~ScopedCommaDecimalLocale() {
  std::setlocale(LC_ALL, previous_.c_str());
  Put("LOCPATH", locPath_);
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

bool PluginLibraryIsLoaded() {
  void* handle = dlopen(PluginLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

int ThreadsOfThisProcess() {
  int threads = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++threads;
  return threads;
}

}  // namespace halcyra::testing
