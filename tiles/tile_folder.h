// Where halcyra-tiles puts the tiles and where it finds the squares the plug-in missed, by the
// plug-in's own rules:
//   the tile folder: [HGT] Path of <Saved Games>/Halcyra/Halcyra.ini when it is set; else the
//     installer's folder (registry value of the local machine, then of the current user) + HGT;
//     else the folder HGT beside this program (which ships in the plug-in folder's halcyra folder,
//     so it is <plug-ins>/halcyra/HGT, where the plug-in looks last);
//   the list of missing squares: <Saved Games>/Halcyra/missing-tiles.txt, one name a line.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tile_square.h"

namespace halcyra::tiles {

struct TileFolder {
  std::filesystem::path folder;
  std::string origin;  // how it was chosen, for the user: "[HGT] Path of .../Halcyra.ini"
};

// The plug-in's tile folder; programFolder is this program's folder (UTF-8). Nothing when no rule
// gives one; error says why.
std::optional<TileFolder> PluginTileFolder(platform::Env& env, const std::string& programFolder,
                                           std::string* error);

// <Saved Games>/Halcyra/missing-tiles.txt; nothing when the Saved Games folder is not found.
std::optional<std::filesystem::path> MissingListFile(platform::Env& env);

struct MissingList {
  std::vector<Square> squares;          // in the file's order, each once
  std::vector<std::string> unreadable;  // lines that name no square
};

// A list that does not exist is empty. False when it cannot be read.
bool ReadMissingList(const std::filesystem::path& file, MissingList* list, std::string* error);

// Takes the squares off the list and keeps every other line; the file is replaced whole (written
// beside it, then renamed). False when it cannot be rewritten.
bool RemoveFromMissingList(const std::filesystem::path& file, const std::set<Square>& squares,
                           std::string* error);

}  // namespace halcyra::tiles
