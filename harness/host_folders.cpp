// What the POSIX and Win32 fixtures (host_folders_posix.cpp, host_folders_win32.cpp) share.
#include "host_folders.h"

namespace halcyra::testing {

ScopedUnwritableFolder::ScopedUnwritableFolder(const std::filesystem::path& folder) : folder_(folder) {
  if (!Set(true)) return;
  std::error_code error;
  if (std::filesystem::create_directory(folder_ / "probe", error)) {
    std::filesystem::remove(folder_ / "probe", error);
    error_ = "the folder still takes new files";
  }
}

ScopedUnwritableFolder::~ScopedUnwritableFolder() { Set(false); }

std::string PluginLibraryPath() { return HALCYRA_PLUGIN_PATH; }

}  // namespace halcyra::testing
