// Points the real Env's Saved Games and installer folders somewhere for the current process, as a
// user's machine would have them. POSIX: the variables HALCYRA_SAVED_GAMES (and HOME) and
// HALCYRA_INSTALL_DIR; Windows: the values in the (test prefix's) current-user registry.
// The previous state comes back when the object goes away.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace halcyra::testing {

class ScopedSavedGames {
 public:
  // folder empty: no Saved Games folder can be found at all.
  explicit ScopedSavedGames(const std::string& folderUtf8);
  ~ScopedSavedGames();
  ScopedSavedGames(const ScopedSavedGames&) = delete;
  ScopedSavedGames& operator=(const ScopedSavedGames&) = delete;

 private:
  std::optional<std::string> saved_;
  std::optional<std::string> home_;
};

class ScopedInstallDir {
 public:
  // folder empty: the value is missing.
  explicit ScopedInstallDir(const std::string& folderUtf8);
  ~ScopedInstallDir();
  ScopedInstallDir(const ScopedInstallDir&) = delete;
  ScopedInstallDir& operator=(const ScopedInstallDir&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Makes a folder refuse new files, whoever the test runs as: by its permissions for a user, by the
// immutable attribute for root (whom permissions do not stop). Undone at the end. ok() tells
// whether the folder does refuse them.
class ScopedUnwritableFolder {
 public:
  explicit ScopedUnwritableFolder(const std::filesystem::path& folder);
  ~ScopedUnwritableFolder();
  ScopedUnwritableFolder(const ScopedUnwritableFolder&) = delete;
  ScopedUnwritableFolder& operator=(const ScopedUnwritableFolder&) = delete;
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  bool Set(bool unwritable);  // false with error_ set when it could not be done
  std::filesystem::path folder_;
  std::string error_;
};

// Switches this process's C locale to German, whose numbers have a decimal comma (as a host
// program may do), and back at the end. POSIX builds the locale from the system's locale sources
// (Debian's locales package) into a temporary folder; Windows has it. ok() tells whether it is on.
class ScopedCommaDecimalLocale {
 public:
  ScopedCommaDecimalLocale();
  ~ScopedCommaDecimalLocale();
  ScopedCommaDecimalLocale(const ScopedCommaDecimalLocale&) = delete;
  ScopedCommaDecimalLocale& operator=(const ScopedCommaDecimalLocale&) = delete;
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::string previous_;
  std::optional<std::string> locPath_;
  std::filesystem::path folder_;
  std::string error_;
};

// Where the test program finds the built plug-in library.
std::string PluginLibraryPath();
// Whether the plug-in library is loaded in this process now (after its last unload: not).
bool PluginLibraryIsLoaded();
// The number of threads of this process now.
int ThreadsOfThisProcess();

}  // namespace halcyra::testing
