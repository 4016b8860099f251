// The radio scene shared by the tests that drive the whole plug-in: our own client "Me" and the
// talkers of the channel, their records as the station server sends them, the simulator datagrams
// that tune our radios; the INI file that points the plug-in at a temporary folder is plugin_ini.h's.
//
// Positions: every station sits over 42..43 N 41..42 E, within radio range of each other. Radio 1
// of every station is on 251.000 MHz; talkers transmit on radio 1 ("X__").
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "plugin_ini.h"
#include "temp_dir.h"
#include "wire/simulator_command_text.h"

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
inline std::string TuneRadios() {
  return wire::SetRadioCommand("251.000", "124.000", "030.000", "251.000", 12);
}
inline std::string Position(double latitude, double longitude, int altitudeFeet, int radioClass = 0) {
  return wire::SetLLAltCommand(wire::DegreesText(latitude), wire::DegreesText(longitude),
                               std::to_string(altitudeFeet), radioClass);
}

}  // namespace halcyra::testing
