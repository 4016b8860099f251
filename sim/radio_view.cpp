#include "radio_view.h"

#include "network/simulator_commands.h"
#include "propagation/range_gain.h"
#include "wire/simulator_command_text.h"
#include "wire/station_messages.h"

namespace halcyra::sim {
namespace {
constexpr float kGainLimit = 20.0f;
}

RadioView::RadioView(const std::string& tileFolder)
    : env_(platform::Env::Default()),
      log_(std::make_unique<Clog>(env_)),
      tiles_(std::make_unique<CHGTFiles>(env_, *log_)),
      model_(std::make_unique<CHalcyra>(*log_, *tiles_)) {
  tiles_->SetTileFolder(tileFolder);
  model_->Initialize();
}

RadioView::~RadioView() {
  model_.reset();
  tiles_.reset();
}

StationRecord RadioView::RecordAt(const Station& station, double t) {
  Position position = PositionAt(station, t);
  RadioPanel panel = PanelAt(station, t);
  StationRecord record = DefaultStation();
  CopyText(record.nickname, station.nickname.c_str());
  CopyText(record.latitudeText, wire::DegreesText(position.latitude).c_str());
  CopyText(record.longitudeText, wire::DegreesText(position.longitude).c_str());
  CopyText(record.altitudeText, wire::FeetText(position.altitude).c_str());
  CopyText(record.frequency1, panel.frequencies[0].c_str());
  CopyText(record.frequency2, panel.frequencies[1].c_str());
  CopyText(record.frequency3, panel.frequencies[2].c_str());
  CopyText(record.activeMarks, wire::ActiveMarks(panel.active).c_str());
  CopyText(record.cryptoFrequency, panel.cryptoFrequency.c_str());
  record.cryptoKey = panel.cryptoKey;
  record.radioClass = station.radioClass;
  record.volume1 = panel.volumes[0];
  record.volume2 = panel.volumes[1];
  record.volume3 = panel.volumes[2];
  record.latitude = wire::DecimalValue(record.latitudeText);
  record.longitude = wire::DecimalValue(record.longitudeText);
  record.altitude = wire::DecimalValue(record.altitudeText);
  if (record.radioClass == 1 || record.radioClass == 2) {
    LLAltPoint point{record.latitude, record.longitude, 0};
    PlaceOnTerrain(record, tiles_->GetElevationFromLL(point));
  }
  return record;
}

StationRecord RadioView::FetchedRecord(const StationRecord& published) {
  std::string reply = wire::FormatPublish(published).substr(wire::kPublishPrefix.size());
  StationRecord fetched = DefaultStation();
  wire::ParseReply(reply, &fetched);
  return fetched;
}

Figures RadioView::Judge(const StationRecord& local, const StationRecord& remoteRecord) {
  StationRecord remote = remoteRecord;
  model_->UpdateLocalStation([&local](StationRecord& station) { station = local; });
  Figures figures;
  figures.audible = model_->IsAudible(remote, &figures.remoteRadio, &figures.localRadio) == 1;
  float altitudeDifference = 0;
  figures.distance = model_->CalculateDistance(local, remote, &altitudeDifference);
  int radio = figures.audible ? figures.remoteRadio : 1;
  for (int r = 1; r <= 3 && !figures.audible; ++r) {
    if (remote.activeMarks[r - 1] == 'X') radio = r;
  }
  propagation::RadioClassFigures classFigures = propagation::FiguresOfClass(remote.radioClass);
  float term = propagation::FrequencyTerm(propagation::ReadFrequency(RadioFrequency(remote, radio)));
  figures.range = propagation::RadioRange(classFigures, term, altitudeDifference);
  figures.hidden = model_->IsHiddenByRelief(local, remote) == 1;
  if (figures.audible) {
    figures.gain = model_->CalculateDBLost(remote, figures.remoteRadio, kGainLimit);
    figures.encrypted = model_->IsEncrypted(remote) == 1;
  }
  return figures;
}

double RadioView::ElevationMetres(double latitude, double longitude) {
  return tiles_->GetElevationFromLL(LLAltPoint{latitude, longitude, 0});
}

}  // namespace halcyra::sim
