#include "simulator_feed.h"

#include "wire/simulator_command_text.h"

namespace halcyra::sim {

std::string SetRadioCommand(const RadioPanel& panel) {
  return wire::SetRadioCommand(panel.frequencies[0], panel.frequencies[1], panel.frequencies[2],
                               panel.cryptoFrequency, panel.cryptoKey);
}

std::string SetLLAltCommand(const Position& position, int radioClass) {
  return wire::SetLLAltCommand(wire::DegreesText(position.latitude), wire::DegreesText(position.longitude),
                               wire::FeetText(position.altitude), radioClass);
}

std::string SetActiveCommand(const RadioPanel& panel) {
  return wire::SetActivCommand(wire::ActiveMarks(panel.active));
}

std::string SetVolumeCommand(const RadioPanel& panel) {
  return wire::SetVolumCommand(panel.volumes[0], panel.volumes[1], panel.volumes[2]);
}

}  // namespace halcyra::sim
