#include "network/simulator_commands.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wire/field_scanner.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

// "%f" of the altitude when it fits the text, else with fewer decimals, and for values no fixed
// form can hold, the exponent form; the number keeps its value.
void WriteClassOneAltitude(char (&text)[kPositionTextCapacity], float altitude) {
  for (int decimals = 6; decimals >= 0; --decimals) {
    int length = std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(altitude));
    if (length >= 0 && static_cast<size_t>(length) < sizeof text) return;
  }
  std::snprintf(text, sizeof text, "%.4e", static_cast<double>(altitude));
}

// The whole feet of an altitude, clamped to the int range (a far-off simulator altitude must not
// make the conversion undefined).
int WholeFeet(float altitude) {
  double floored = std::floor(static_cast<double>(altitude));
  if (std::isnan(floored)) return 0;
  if (floored >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (floored <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(floored);
}

}  // namespace

void PlaceOnTerrain(StationRecord& station, uint16_t elevationMetres) {
  double metresInFeet = static_cast<double>(elevationMetres) * 3.28;
  float feet = static_cast<float>(static_cast<uint16_t>(static_cast<int32_t>(metresInFeet)));
  if (feet == 0.0f) {
    station.altitude = wire::DecimalValue(station.altitudeText);
  } else {
    station.altitude = feet + (station.radioClass == 1 ? 5.0f : 15.0f);
  }
  if (station.radioClass == 1) {
    WriteClassOneAltitude(station.altitudeText, station.altitude);
  } else {
    // Whole feet, signed: a ground station just below sea level reads -4, not 65532.
    std::snprintf(station.altitudeText, sizeof station.altitudeText, "%d", WholeFeet(station.altitude));
  }
}

SimulatorCommands::SimulatorCommands(Clog& log, CHalcyra& model, CHGTFiles& tiles,
                                     std::function<int()> publish)
    : log_(log), model_(model), tiles_(tiles), publish_(std::move(publish)) {}

const char* SimulatorCommands::Arguments(const char* text, const char* tag) {
  size_t length = std::strlen(text);
  if (length > kMaximumTextLength) return nullptr;
  const char* arguments = length > 10 ? text + 10 : "";
  log_.Write(tag, arguments, 5);
  return arguments;
}

void SimulatorCommands::PublishIfNamed(const StationRecord& station) {
  if (std::strcmp(station.nickname, kUnknownNickname) != 0 && publish_) publish_();
}

void SimulatorCommands::CommandSetRadio(const char* text) {
  const char* arguments = Arguments(text, "CommandSetRadio");
  if (!arguments) return;
  StationRecord station = model_.UpdateLocalStation([arguments](StationRecord& local) {
    wire::FieldScanner(arguments)
        .Text(local.frequency1)
        .Text(local.frequency2)
        .Text(local.frequency3)
        .Text(local.cryptoFrequency)
        .Int(local.cryptoKey);
  });
  PublishIfNamed(station);
}

void SimulatorCommands::CommandSetLLAltType(const char* text) {
  const char* arguments = Arguments(text, "CommandSetLLAltType");
  if (!arguments) return;
  StationRecord station = model_.UpdateLocalStation([arguments](StationRecord& local) {
    wire::FieldScanner(arguments)
        .Text(local.latitudeText)
        .Text(local.longitudeText)
        .Text(local.altitudeText)
        .Int(local.radioClass);
    local.latitude = wire::DecimalValue(local.latitudeText);
    local.longitude = wire::DecimalValue(local.longitudeText);
    if (local.radioClass != 1 && local.radioClass != 2)
      local.altitude = wire::DecimalValue(local.altitudeText);
  });
  if (station.radioClass == 1 || station.radioClass == 2) {
    // The tile may have to be loaded from disk: look it up outside the model lock. This thread is
    // the only writer of the position, so nothing changes it in between.
    LLAltPoint point{static_cast<double>(station.latitude), static_cast<double>(station.longitude), 0.0};
    uint16_t elevation = tiles_.GetElevationFromLL(point);
    station =
        model_.UpdateLocalStation([elevation](StationRecord& local) { PlaceOnTerrain(local, elevation); });
  }
  PublishIfNamed(station);
}

void SimulatorCommands::CommandSetActive(const char* text) {
  const char* arguments = Arguments(text, "CommandSetActive");
  if (!arguments) return;
  StationRecord station = model_.UpdateLocalStation(
      [arguments](StationRecord& local) { wire::FieldScanner(arguments).Text(local.activeMarks); });
  PublishIfNamed(station);
}

void SimulatorCommands::CommandSetVolume(const char* text) {
  const char* arguments = Arguments(text, "CommandSetVolume");
  if (!arguments) return;
  model_.UpdateLocalStation([arguments](StationRecord& local) {
    wire::FieldScanner(arguments).Int(local.volume1).Int(local.volume2).Int(local.volume3);
  });
}

}  // namespace halcyra
