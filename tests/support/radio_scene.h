// The radio scene shared by the tests that drive the whole plug-in: our own client "Me" and the
// talkers of the channel, their records as the station server sends them, the simulator datagrams
// that tune our radios, and the INI file that points the plug-in at a temporary folder.
//
// Positions: every station sits over 42..43 N 41..42 E, within radio range of each other. Radio 1
// of every station is on 251.000 MHz; talkers transmit on radio 1 ("X__").
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "temp_dir.h"

namespace halcyra::testing {

inline constexpr uint64 kConnection = 1;
inline constexpr uint64 kChannel = 7;
inline constexpr anyID kOwnClient = 1;
inline constexpr char kOwnNickname[] = "Me";

struct Talker {
  anyID clientID;
  std::string nickname;
};

inline const std::vector<Talker>& Talkers() {
  static const std::vector<Talker> talkers = {
      {2, "Viper"}, {3, "Cobra"}, {4, "Hornet 1-1"}, {5, "Mustang"}, {6, "Falcon"}};
  return talkers;
}

// A talker's record: "nick@lat lon alt 251.000 000.000 000.000 X__ <crypto> <key> 0 ".
inline std::string TalkerRecord(const std::string& nickname, double latitude, double longitude,
                                int altitudeFeet, const char* frequency1 = "251.000",
                                const char* cryptoFrequency = "000.000", int cryptoKey = 0) {
  char fields[160];
  std::snprintf(fields, sizeof fields, "@%.6f %.6f %d %s 000.000 000.000 X__ %s %d 0 ", latitude, longitude,
                altitudeFeet, frequency1, cryptoFrequency, cryptoKey);
  return nickname + fields;
}

// Our radios: 251.000, 124.000, 030.000; encryption 251.000 with key 12.
inline std::string TuneRadios() { return "SET_RADIO 251.000 124.000 030.000 251.000 12 "; }
inline std::string Position(double latitude, double longitude, int altitudeFeet, int radioClass = 0) {
  char text[96];
  std::snprintf(text, sizeof text, "SET_LLALT %.6f %.6f %d %d", latitude, longitude, altitudeFeet, radioClass);
  return text;
}

struct IniSettings {
  int logLevel = 0;
  std::string tileFolder;  // empty: "[HGT] Path" is not written
  std::string host = "127.0.0.1";
  int ear1 = -1;
  int ear2 = 1;
  int ear3 = 0;
  int attenuation = 1;
  std::string selector1 = "-1 -1";
  std::string selector2 = "-1 -1";
  std::string selector3 = "-1 -1";
};

inline std::string IniText(const IniSettings& s) {
  std::string text = "[LOG]\nLOGLEVEL=" + std::to_string(s.logLevel) + "\n";
  if (!s.tileFolder.empty()) text += "[HGT]\nPath=" + s.tileFolder + "\n";
  text += "[HCS]\nHOST=" + s.host + "\nUDP=10600\n";
  text += "[EAR]\nRADIO1=" + std::to_string(s.ear1) + "\nRADIO2=" + std::to_string(s.ear2) +
          "\nRADIO3=" + std::to_string(s.ear3) + "\n";
  text += "[SYSTEM]\nATTN=" + std::to_string(s.attenuation) + "\n";
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
