#include <cstdlib>

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

ScopedSavedGames::ScopedSavedGames(const std::string& folder) : saved_(Get("HALCYRA_SAVED_GAMES")), home_(Get("HOME")) {
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

std::string PluginLibraryPath() { return HALCYRA_PLUGIN_PATH; }

}  // namespace halcyra::testing
