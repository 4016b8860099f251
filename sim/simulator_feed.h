// The simulator side of a scenario: the commands the simulator sends for the local pilot's radio
// panel and position (sent with testing::SimulatorSender).
#pragma once

#include <string>

#include "scenario.h"

namespace halcyra::sim {

std::string SetRadioCommand(const RadioPanel& panel);
// Degrees with six decimals, whole feet.
std::string SetLLAltCommand(const Position& position, int radioClass);
std::string SetActiveCommand(const RadioPanel& panel);
std::string SetVolumeCommand(const RadioPanel& panel);

}  // namespace halcyra::sim
