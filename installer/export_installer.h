// halcyra-dcs-install: puts Halcyra's export script into every DCS* folder of the user's Saved Games
// (Scripts/Halcyra/ and one line in Scripts/Export.lua) and takes it out again.
//
// Every file is checked before anything is written: a read-only or locked Export.lua (or script
// file) is reported and nothing changes anywhere. Files are replaced whole (written beside, then
// renamed over), and a failure while writing undoes what was written before it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace halcyra::installer {

struct InstallerOptions {
  bool remove = false;
  bool help = false;
  std::filesystem::path savedGames;    // empty: the user's Saved Games folder
  std::filesystem::path scriptSource;  // empty: the folder of the program
};

struct ParsedInstallerOptions {
  InstallerOptions options;
  std::string error;  // empty when the command line is valid
};

ParsedInstallerOptions ParseInstallerOptions(const std::vector<std::string>& arguments);
std::string InstallerUsage();

// Where messages go: report for what was done, problem for what went wrong.
struct InstallerOutput {
  std::function<void(const std::string&)> report;
  std::function<void(const std::string&)> problem;
};

// The name of the backup of Export.lua kept beside it, written before the line is added.
inline constexpr char kBackupName[] = "Export.lua.halcyra-backup";

// Both return the exit code: 0 done (or nothing to do), 1 nothing changed because of a problem.
int InstallExportScript(const std::filesystem::path& savedGames, const std::filesystem::path& scriptSource,
                        const InstallerOutput& output);
int RemoveExportScript(const std::filesystem::path& savedGames, const InstallerOutput& output);

}  // namespace halcyra::installer
