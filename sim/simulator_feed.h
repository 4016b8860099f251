// The simulator side: the four commands a flight simulator sends to the plug-in over UDP
// 127.0.0.1:10602, formatted as the simulator formats them.
#pragma once

#include <memory>
#include <string>

#include "platform/env.h"
#include "scenario.h"

namespace halcyra::sim {

inline constexpr uint16_t kSimulatorPort = 10602;

// "SET_RADIO f1 f2 f3 cryptoFrequency key"
std::string SetRadioCommand(const RadioPanel& panel);
// "SET_LLALT lat lon altitude class": degrees with six decimals, whole feet.
std::string SetLLAltCommand(const Position& position, int radioClass);
// "SET_ACTIV X__" with the X at the active radio.
std::string SetActiveCommand(const RadioPanel& panel);
// "SET_VOLUM v1 v2 v3"
std::string SetVolumeCommand(const RadioPanel& panel);

// The texts a station's record carries for a position: "%.6f" degrees, whole feet.
std::string LatitudeText(double latitude);
std::string LongitudeText(double longitude);
std::string AltitudeText(double altitude);
std::string ActiveMarks(int activeRadio);

class SimulatorFeed {
 public:
  static std::unique_ptr<SimulatorFeed> Open(platform::Env& env);
  bool Send(const std::string& command);

 private:
  std::unique_ptr<platform::UdpSocket> socket_;
};

}  // namespace halcyra::sim
