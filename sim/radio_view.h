// The runner's own copy of the radio model (the plug-in's code, linked from halcyra_runtime, over the
// same tiles): builds the station records as the plug-in holds them and computes the figures of the
// table and the report. What the local pilot actually hears comes from the loaded plug-in; these
// figures explain it.
#pragma once

#include <memory>
#include <string>

#include "foundation/log.h"
#include "platform/env.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "scenario.h"

namespace halcyra::sim {

struct Figures {
  bool audible = false;  // a local radio carries the frequency he transmits on
  int remoteRadio = 0;   // 1..3, 0 when not audible
  int localRadio = 0;    // 1..3, 0 when not audible
  double distance = 0;   // NM
  double range = 0;      // NM, of his radio class and transmitting frequency
  bool hidden = false;   // terrain cuts the sight line
  double gain = 20;      // 0 (perfect) .. 20 (not receivable); 20 when not audible
  bool encrypted = false;
};

class RadioView {
 public:
  explicit RadioView(const std::string& tileFolder);
  ~RadioView();

  // A station's record at time t as its plug-in holds it after the simulator's commands (ground
  // classes placed on the terrain): the local station, or what a remote pilot's plug-in publishes.
  StationRecord RecordAt(const Station& station, double t);
  // That record as the local plug-in stores it after fetching it from the station server.
  static StationRecord FetchedRecord(const StationRecord& published);

  Figures Judge(const StationRecord& local, const StationRecord& remote);
  // Terrain elevation in metres from the tiles the plug-in reads (0 where there is none).
  double ElevationMetres(double latitude, double longitude);
  int TilesLoaded() const { return tiles_->MapCount(); }

 private:
  platform::Env& env_;
  std::unique_ptr<Clog> log_;  // never set up: drops every line
  std::unique_ptr<CHGTFiles> tiles_;
  std::unique_ptr<CHalcyra> model_;
};

}  // namespace halcyra::sim
