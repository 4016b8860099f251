// The plug-in's INI file as a test or the scenario runner writes it into a Saved Games folder,
// and where the plug-in keeps its files there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace halcyra::testing {

struct IniSettings {
  int logLevel = 0;
  std::string tileFolder;  // empty: "[HGT] Path" is not written
  std::string host = "127.0.0.1";
  uint16_t port = 10600;  // the station server's UDP port
  int ear1 = -1;
  int ear2 = 1;
  int ear3 = 0;
  int attenuation = 1;
  std::string selector1 = "-1 -1";  // all three empty: no [SELECTOR] section
  std::string selector2 = "-1 -1";
  std::string selector3 = "-1 -1";
};

inline std::string IniText(const IniSettings& s) {
  std::string text = "[LOG]\nLOGLEVEL=" + std::to_string(s.logLevel) + "\n";
  if (!s.tileFolder.empty()) text += "[HGT]\nPath=" + s.tileFolder + "\n";
  text += "[HCS]\nHOST=" + s.host + "\nUDP=" + std::to_string(s.port) + "\n";
  text += "[EAR]\nRADIO1=" + std::to_string(s.ear1) + "\nRADIO2=" + std::to_string(s.ear2) +
          "\nRADIO3=" + std::to_string(s.ear3) + "\n";
  text += "[SYSTEM]\nATTN=" + std::to_string(s.attenuation) + "\n";
  if (s.selector1.empty() && s.selector2.empty() && s.selector3.empty()) return text;
  text += "[SELECTOR]\nRADIO1=" + s.selector1 + "\nRADIO2=" + s.selector2 + "\nRADIO3=" + s.selector3 + "\n";
  return text;
}

// Saved Games folder layout: <saved games>/Halcyra/Halcyra.ini and Halcyra.log.
inline std::filesystem::path IniFile(const std::filesystem::path& savedGames) {
  return savedGames / "Halcyra" / "Halcyra.ini";
}
inline std::filesystem::path LogFile(const std::filesystem::path& savedGames) {
  return savedGames / "Halcyra" / "Halcyra.log";
}

}  // namespace halcyra::testing
