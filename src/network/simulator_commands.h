// The four simulator commands and what they write into the local station:
//   SET_RADIO "<freq1> <freq2> <freq3> <cryptoFrequency> <cryptoKey>"  (publishes)
//   SET_LLALT "<latitude> <longitude> <altitude ft> <radioClass>"        (publishes)
//   SET_ACTIV "<activeMarks>"                                            (publishes)
//   SET_VOLUM "<volume1> <volume2> <volume3>"                            (percent)
// Fields the text does not supply keep their values; a word too long for its field empties it and
// ends the scan; a word that is no number leaves its integer as it was and ends the scan.
// Publishing happens only once the local station has its nickname.
#pragma once

#include <functional>

#include "foundation/log.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"

namespace halcyra {

// Puts a ground station (class 1 or 2) on the terrain: elevationMetres x 3.28 feet (0 = no terrain
// data: the simulator's altitude text stays the altitude) plus 5 ft (class 1) or 15 ft (class 2),
// and rewrites altitudeText: "%f" for class 1 (fewer decimals when that does not fit 11
// characters), the whole feet for class 2.
void PlaceOnTerrain(StationRecord& station, uint16_t elevationMetres);

class SimulatorCommands {
 public:
  static constexpr size_t kMaximumTextLength = 512;

  // publish sends the local station to the station server (its result is ignored).
  SimulatorCommands(Clog& log, CHalcyra& model, CHGTFiles& tiles, std::function<int()> publish);

  // Each takes the whole zero-terminated datagram (command word, separator, arguments).
  void CommandSetRadio(const char* text);
  void CommandSetLLAltType(const char* text);
  void CommandSetActive(const char* text);
  void CommandSetVolume(const char* text);

 private:
  // The argument text (from byte 10), or null when the datagram is longer than 512 bytes.
  const char* Arguments(const char* text, const char* tag);
  void PublishIfNamed(const StationRecord& station);

  Clog& log_;
  CHalcyra& model_;
  CHGTFiles& tiles_;
  std::function<int()> publish_;
};

}  // namespace halcyra
