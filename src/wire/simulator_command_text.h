// The texts of the four simulator commands, as the simulator sends them to the plug-in's simulator
// link (UDP 127.0.0.1:10602), and of the position fields they carry. network/simulator_commands.h
// reads them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ipv4.h"

namespace halcyra::wire {

inline constexpr uint16_t kSimulatorPort = 10602;

// Degrees with six decimals ("%.6f"), as latitude and longitude travel.
std::string DegreesText(double degrees);
// Whole feet ("%.0f").
std::string FeetText(double feet);
// "X__", "_X_" or "__X" for active radio 1, 2 or 3; "___" for any other.
std::string ActiveMarks(int activeRadio);

// "SET_VOLUM <v1> <v2> <v3>" (percent)
std::string SetVolumCommand(int volume1, int volume2, int volume3);
// "SET_LLALT <latitude> <longitude> <altitude ft> <radioClass>"
std::string SetLLAltCommand(const std::string& latitude, const std::string& longitude,
                            const std::string& altitude, int radioClass);
// "SET_ACTIV <activeMarks>"
std::string SetActivCommand(const std::string& activeMarks);
// "SET_RADIO <f1> <f2> <f3> <cryptoFrequency> <cryptoKey>" (frequencies in MHz as "%07.3f")
std::string SetRadioCommand(const std::string& frequency1, const std::string& frequency2,
                            const std::string& frequency3, const std::string& cryptoFrequency, int cryptoKey);

}  // namespace halcyra::wire
