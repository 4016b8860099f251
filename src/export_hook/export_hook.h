// The simulator's side of a user's Saved Games folder: the DCS* folders the simulator writes to,
// and the one line of their Scripts/Export.lua that loads Halcyra's export script from
// Scripts/Halcyra/. Shared by the plug-in (which says at start when no folder loads the script) and
// by halcyra-dcs-install (which writes and removes that line).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace halcyra::exporthook {

// The line the installer adds to Export.lua. pcall keeps a missing script from stopping the lines
// of other tools that follow; forward slashes work on Windows and in the tests' Linux simulator.
inline constexpr char kHookLine[] =
    "pcall(dofile, lfs.writedir() .. \"Scripts/Halcyra/HalcyraExport.lua\") -- Halcyra";

// The files of the export script, installed into Scripts/Halcyra/ of each DCS* folder. The user's
// settings file beside them (kSettingsFile) is written by the script and never installed or removed.
inline constexpr const char* kScriptFiles[] = {"HalcyraExport.lua", "HalcyraAircraft.lua",
                                               "HalcyraConfig.default.lua"};
inline constexpr char kSettingsFile[] = "HalcyraConfig.lua";

// Scripts/Export.lua and Scripts/Halcyra/ of one DCS* folder.
std::filesystem::path ExportLuaPath(const std::filesystem::path& simulatorFolder);
std::filesystem::path ScriptFolder(const std::filesystem::path& simulatorFolder);

// The folders of savedGames whose names begin with "DCS" (any letter case), sorted by name;
// empty when there are none or savedGames cannot be read.
std::vector<std::filesystem::path> FindSimulatorFolders(const std::filesystem::path& savedGames);

// True for a line that loads Halcyra's export script: it calls dofile on
// Scripts/Halcyra/HalcyraExport.lua (either separator) and is not a comment.
bool IsHookLine(std::string_view line);
bool HoldsHook(std::string_view exportLua);

// True when Export.lua of the folder holds the line and the script file is there.
bool HookInstalled(const std::filesystem::path& simulatorFolder);
bool AnyHookInstalled(const std::filesystem::path& savedGames);

// Export.lua's text with kHookLine added as its last line: after a final line break of the file's
// own kind ("\r\n" when it has any, else "\n"), or, when the file does not end with one, after a
// new one and without one of its own, so that RemoveHookLines gives back the very same bytes.
std::string AddHookLine(const std::string& exportLua);
// The text without its hook lines, each taken out with its own line break (or, for a last line
// without one, the line break before it).
std::string RemoveHookLines(const std::string& exportLua);

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::filesystem::path& file, std::string* content);

}  // namespace halcyra::exporthook
