#include "export_hook/export_hook.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <system_error>

namespace halcyra::exporthook {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kScriptPaths[] = {"Scripts/Halcyra/HalcyraExport.lua",
                                             "Scripts\\Halcyra\\HalcyraExport.lua",
                                             "Scripts\\\\Halcyra\\\\HalcyraExport.lua"};

bool StartsWithDcs(const std::string& name) {
  return name.size() >= 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'D' &&
         std::toupper(static_cast<unsigned char>(name[1])) == 'C' &&
         std::toupper(static_cast<unsigned char>(name[2])) == 'S';
}

// One line of a text: [begin, end) without its break, and the break's length (0 for a last line
// without one).
struct Line {
  size_t begin;
  size_t end;
  size_t breakLength;
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t newline = text.find('\n', begin);
    if (newline == std::string::npos) {
      lines.push_back({begin, text.size(), 0});
      break;
    }
    size_t end = newline > begin && text[newline - 1] == '\r' ? newline - 1 : newline;
    lines.push_back({begin, end, newline + 1 - end});
    begin = newline + 1;
  }
  return lines;
}

}  // namespace

fs::path ExportLuaPath(const fs::path& simulatorFolder) { return simulatorFolder / "Scripts" / "Export.lua"; }

fs::path ScriptFolder(const fs::path& simulatorFolder) { return simulatorFolder / "Scripts" / "Halcyra"; }

std::vector<fs::path> FindSimulatorFolders(const fs::path& savedGames) {
  std::vector<fs::path> folders;
  std::error_code error;
  for (fs::directory_iterator entry(savedGames, error), end; !error && entry != end; entry.increment(error)) {
    std::error_code kind;
    if (entry->is_directory(kind) && StartsWithDcs(entry->path().filename().string()))
      folders.push_back(entry->path());
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

bool IsHookLine(std::string_view line) {
  size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos || line.substr(first, 2) == "--") return false;
  if (line.find("dofile") == std::string_view::npos) return false;
  return std::any_of(std::begin(kScriptPaths), std::end(kScriptPaths),
                     [line](std::string_view path) { return line.find(path) != std::string_view::npos; });
}

bool HoldsHook(std::string_view exportLua) {
  std::string text(exportLua);
  for (const Line& line : SplitLines(text)) {
    if (IsHookLine(std::string_view(text).substr(line.begin, line.end - line.begin))) return true;
  }
  return false;
}

bool ReadWholeFile(const fs::path& file, std::string* content) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return false;
  std::ostringstream buffer;
  buffer << stream.rdbuf();
  if (stream.bad()) return false;
  *content = buffer.str();
  return true;
}

bool HookInstalled(const fs::path& simulatorFolder) {
  std::string text;
  std::error_code error;
  return ReadWholeFile(ExportLuaPath(simulatorFolder), &text) && HoldsHook(text) &&
         fs::is_regular_file(ScriptFolder(simulatorFolder) / kScriptFiles[0], error);
}

bool AnyHookInstalled(const fs::path& savedGames) {
  for (const fs::path& folder : FindSimulatorFolders(savedGames)) {
    if (HookInstalled(folder)) return true;
  }
  return false;
}

std::string AddHookLine(const std::string& exportLua) {
  std::string lineBreak = exportLua.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  if (exportLua.empty() || exportLua.back() == '\n') return exportLua + kHookLine + lineBreak;
  return exportLua + lineBreak + kHookLine;
}

std::string RemoveHookLines(const std::string& exportLua) {
  std::vector<Line> lines = SplitLines(exportLua);
  std::string result;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (IsHookLine(std::string_view(exportLua).substr(line.begin, line.end - line.begin))) {
      // A last line without a break of its own came after one that was added for it.
      if (line.breakLength == 0 && !result.empty()) {
        result.erase(result.size() - (result.size() >= 2 && result[result.size() - 2] == '\r' ? 2 : 1));
      }
      continue;
    }
    result.append(exportLua, line.begin, line.end + line.breakLength - line.begin);
  }
  return result;
}

}  // namespace halcyra::exporthook
