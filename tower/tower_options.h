// The settings of halcyra-tower, from its command line and an optional settings file.
//
// Command line: "--name value" or "--name=value". Settings file (--file): one "name = value" a
// line with the same names, "#" or ";" starting a comment; the command line wins over the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wire/simulator_command_text.h"

namespace halcyra::tower {

struct TowerOptions {
  double latitude = 0;    // degrees, -90..90
  double longitude = 0;   // degrees, -180..180
  long altitudeFeet = 0;  // feet; the plug-in puts class 1 and 2 stations on its terrain instead
  int radioClass = 2;
  std::string frequencies[3] = {"000.000", "000.000", "000.000"};  // MHz as %07.3f
  int activeRadio = 1;  // 1..3, selected in the first round; 0 = never selected from here
  std::string cryptoFrequency = "000.000";
  int cryptoKey = 0;
  int volumes[3] = {100, 100, 100};           // percent
  uint32_t pluginAddress = kLoopbackAddress;  // IPv4, host order
  uint16_t pluginPort = wire::kSimulatorPort;
  int count = 0;  // rounds to send; 0 = until stopped
  bool help = false;
};

struct ParsedTowerOptions {
  TowerOptions options;
  std::string error;  // names the bad argument; empty when valid
};

ParsedTowerOptions ParseTowerOptions(const std::vector<std::string>& arguments);
std::string TowerUsage();

// The commands of one round, in the order they are sent: SET_VOLUM, SET_LLALT, SET_ACTIV (with
// withSelection, when an active radio is set) and SET_RADIO. The selection goes out in the first
// round only (and in the rounds after it until one could be sent), so that a radio selected
// afterwards with the plug-in's joystick buttons stays selected.
std::vector<std::string> TowerCommands(const TowerOptions& options, bool withSelection);

}  // namespace halcyra::tower
