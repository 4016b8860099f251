#include "tile_folder.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/files.h"

namespace halcyra::tiles {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> HalcyraFolder(platform::Env& env) {
  std::wstring savedGames;
  if (!env.SavedGamesFolder(&savedGames)) return std::nullopt;
  return platform::PathFromWide(savedGames) / "Halcyra";
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::istringstream stream(content);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ReadText(const fs::path& file, std::string* content, std::string* error) {
  std::error_code missing;
  if (!fs::exists(file, missing)) {
    content->clear();
    return true;
  }
  std::ifstream stream(file, std::ios::binary);
  if (!stream.is_open()) {
    *error = "cannot read " + platform::PathText(file);
    return false;
  }
  std::ostringstream text;
  text << stream.rdbuf();
  *content = text.str();
  return true;
}

}  // namespace

std::optional<TileFolder> PluginTileFolder(platform::Env& env, const std::string& programFolder,
                                           std::string* error) {
  if (std::optional<fs::path> halcyra = HalcyraFolder(env)) {
    fs::path ini = *halcyra / "Halcyra.ini";
    std::wstring path = env.ReadIniString(platform::WideFromPath(ini), L"HGT", L"Path", L"");
    if (!path.empty())
      return TileFolder{platform::PathFromWide(path), "[HGT] Path of " + platform::PathText(ini)};
  }
  for (auto [root, name] : {std::pair{platform::RegistryRoot::kLocalMachine, "local machine"},
                            std::pair{platform::RegistryRoot::kCurrentUser, "current user"}}) {
    std::wstring installFolder;
    if (env.InstallFolder(root, &installFolder) == platform::RegistryResult::kOk && !installFolder.empty()) {
      return TileFolder{platform::PathFromWide(installFolder) / "HGT",
                        std::string("the installer's folder (") + name + ") + HGT"};
    }
  }
  if (programFolder.empty()) {
    *error = "cannot tell where the tiles go: name the folder with --out";
    return std::nullopt;
  }
  return TileFolder{platform::PathFromWide(platform::Utf8ToWide(programFolder)) / "HGT",
                    "the HGT folder beside halcyra-tiles, where the plug-in looks last"};
}

std::optional<fs::path> MissingListFile(platform::Env& env) {
  std::optional<fs::path> halcyra = HalcyraFolder(env);
  if (!halcyra) return std::nullopt;
  return *halcyra / "missing-tiles.txt";
}

bool ReadMissingList(const fs::path& file, MissingList* list, std::string* error) {
  std::string content;
  if (!ReadText(file, &content, error)) return false;
  std::set<Square> seen;
  for (const std::string& line : Lines(content)) {
    std::string name = Trim(line);
    if (name.empty()) continue;
    std::optional<Square> square = ParseSquareName(name);
    if (!square) {
      list->unreadable.push_back(name);
    } else if (seen.insert(*square).second) {
      list->squares.push_back(*square);
    }
  }
  return true;
}

bool RemoveFromMissingList(const fs::path& file, const std::set<Square>& squares, std::string* error) {
  std::string content;
  if (!ReadText(file, &content, error)) return false;
  std::string kept;
  bool removed = false;
  for (const std::string& line : Lines(content)) {
    std::optional<Square> square = ParseSquareName(Trim(line));
    if (square && squares.count(*square)) {
      removed = true;
      continue;
    }
    if (!Trim(line).empty()) kept += line + "\n";
  }
  if (!removed) return true;
  fs::path temporary = file;
  temporary += ".new";
  {
    std::ofstream stream(temporary, std::ios::trunc);  // text mode: the system's line ends
    stream << kept;
    stream.close();
    if (!stream) {
      *error = "cannot write " + platform::PathText(temporary);
      return false;
    }
  }
  std::error_code renamed;
  fs::rename(temporary, file, renamed);
  if (renamed) {
    *error = "cannot replace " + platform::PathText(file) + ": " + renamed.message();
    fs::remove(temporary, renamed);
    return false;
  }
  return true;
}

}  // namespace halcyra::tiles
