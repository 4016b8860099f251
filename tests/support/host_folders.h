// Points the real Env's Saved Games and installer folders somewhere for the current process, as a
// user's machine would have them. POSIX: the variables HALCYRA_SAVED_GAMES (and HOME) and
// HALCYRA_INSTALL_DIR; Windows: the values in the (test prefix's) current-user registry.
// The previous state comes back when the object goes away.
#pragma once

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

// Where the test program finds the built plug-in library.
std::string PluginLibraryPath();

}  // namespace halcyra::testing
