#include "simulator_feed.h"

#include <cstdio>

#include "station_server.h"

namespace halcyra::sim {

std::string LatitudeText(double latitude) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", latitude);
  return text;
}
std::string LongitudeText(double longitude) { return LatitudeText(longitude); }
std::string AltitudeText(double altitude) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", altitude);
  return text;
}
std::string ActiveMarks(int activeRadio) {
  std::string marks = "___";
  if (activeRadio >= 1 && activeRadio <= 3) marks[static_cast<size_t>(activeRadio - 1)] = 'X';
  return marks;
}

std::string SetRadioCommand(const RadioPanel& panel) {
  return "SET_RADIO " + panel.frequencies[0] + " " + panel.frequencies[1] + " " + panel.frequencies[2] + " " +
         panel.cryptoFrequency + " " + std::to_string(panel.cryptoKey);
}

std::string SetLLAltCommand(const Position& position, int radioClass) {
  return "SET_LLALT " + LatitudeText(position.latitude) + " " + LongitudeText(position.longitude) + " " +
         AltitudeText(position.altitude) + " " + std::to_string(radioClass);
}

std::string SetActiveCommand(const RadioPanel& panel) { return "SET_ACTIV " + ActiveMarks(panel.active); }

std::string SetVolumeCommand(const RadioPanel& panel) {
  return "SET_VOLUM " + std::to_string(panel.volumes[0]) + " " + std::to_string(panel.volumes[1]) + " " +
         std::to_string(panel.volumes[2]);
}

std::unique_ptr<SimulatorFeed> SimulatorFeed::Open(platform::Env& env) {
  auto feed = std::unique_ptr<SimulatorFeed>(new SimulatorFeed);
  feed->socket_ = env.CreateUdpSocket();
  if (!feed->socket_ || feed->socket_->Bind(kLoopback, 0) != 0) return nullptr;
  return feed;
}

bool SimulatorFeed::Send(const std::string& command) {
  return socket_->SendTo(command.data(), command.size(), kLoopback, kSimulatorPort) ==
         static_cast<int>(command.size());
}

}  // namespace halcyra::sim
