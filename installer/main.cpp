// halcyra-dcs-install: installs (or with --remove takes out) Halcyra's export script for DCS World.
#include <cstdio>
#include <string>
#include <vector>

#include "export_installer.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

void WriteLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halcyra;
  installer::ParsedInstallerOptions parsed =
      installer::ParseInstallerOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    WriteLine(stderr, "halcyra-dcs-install: " + parsed.error + " (see --help)");
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(installer::InstallerUsage().c_str(), stdout);
    return 0;
  }
  std::filesystem::path savedGames = parsed.options.savedGames;
  if (savedGames.empty()) {
    std::wstring folder;
    if (!platform::Env::Default().SavedGamesFolder(&folder)) {
      WriteLine(stderr,
                "halcyra-dcs-install: cannot find your Saved Games folder; name it with --saved-games");
      return 1;
    }
    savedGames = platform::PathFromWide(folder);
  }
  installer::InstallerOutput output{
      [](const std::string& line) { WriteLine(stdout, line); },
      [](const std::string& line) { WriteLine(stderr, "halcyra-dcs-install: " + line); }};
  if (parsed.options.remove) return installer::RemoveExportScript(savedGames, output);
  std::filesystem::path source = parsed.options.scriptSource;
  if (source.empty()) source = platform::PathFromWide(platform::Utf8ToWide(platform::ExecutableFolder()));
  return installer::InstallExportScript(savedGames, source, output);
}
