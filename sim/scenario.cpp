#include "scenario.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "wire/station_messages.h"

namespace halcyra::sim {
namespace {

using Json = nlohmann::json;

// The longest nickname the plug-in takes from a station server's reply.
constexpr size_t kMaxReplyNickname = wire::kReplyNicknameSearchLength - 1;
constexpr size_t kMaxFrequencyText = 7;
constexpr double kMaxDuration = 6 * 3600;

// Reads fields of one JSON object and remembers the first problem with the path of its field.
class FieldReader {
 public:
  FieldReader(const Json& object, std::string path, std::string* error)
      : object_(object), path_(std::move(path)), error_(error) {}

  bool ok() const { return error_->empty(); }
  std::string PathOf(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
  void Fail(const std::string& key, const std::string& problem) {
    if (error_->empty()) *error_ = PathOf(key) + ": " + problem;
  }
  const Json* Find(const std::string& key) const {
    auto found = object_.find(key);
    return found == object_.end() ? nullptr : &*found;
  }

  // A number; required unless a default is given.
  double Number(const std::string& key, std::optional<double> fallback = std::nullopt) {
    const Json* value = Find(key);
    if (value == nullptr) {
      if (!fallback) Fail(key, "missing");
      return fallback.value_or(0);
    }
    if (!value->is_number()) {
      Fail(key, "must be a number");
      return 0;
    }
    double number = value->get<double>();
    if (!std::isfinite(number)) Fail(key, "must be a finite number");
    return number;
  }
  int Integer(const std::string& key, std::optional<int> fallback = std::nullopt) {
    const Json* value = Find(key);
    if (value == nullptr) {
      if (!fallback) Fail(key, "missing");
      return fallback.value_or(0);
    }
    if (!value->is_number_integer()) {
      Fail(key, "must be a whole number");
      return 0;
    }
    int64_t number = value->get<int64_t>();
    if (number < INT32_MIN || number > INT32_MAX) Fail(key, "out of range");
    return static_cast<int>(number);
  }
  std::string Text(const std::string& key, std::optional<std::string> fallback = std::nullopt) {
    const Json* value = Find(key);
    if (value == nullptr) {
      if (!fallback) Fail(key, "missing");
      return fallback.value_or("");
    }
    if (!value->is_string()) {
      Fail(key, "must be a text");
      return "";
    }
    return value->get<std::string>();
  }
  // An array (possibly empty); required unless optional.
  const Json* Array(const std::string& key, bool required) {
    const Json* value = Find(key);
    if (value == nullptr) {
      if (required) Fail(key, "missing");
      return nullptr;
    }
    if (!value->is_array()) {
      Fail(key, "must be a list");
      return nullptr;
    }
    return value;
  }
  const Json* Object(const std::string& key, bool required) {
    const Json* value = Find(key);
    if (value == nullptr) {
      if (required) Fail(key, "missing");
      return nullptr;
    }
    if (!value->is_object()) {
      Fail(key, "must be an object");
      return nullptr;
    }
    return value;
  }
  // The element at index of an array field, which must be an object.
  std::optional<FieldReader> Element(const Json& array, const std::string& key, size_t index) {
    std::string path = PathOf(key) + "[" + std::to_string(index) + "]";
    if (!array[index].is_object()) {
      if (error_->empty()) *error_ = path + ": must be an object";
      return std::nullopt;
    }
    return FieldReader(array[index], path, error_);
  }
  FieldReader Child(const Json& object, const std::string& key) {
    return FieldReader(object, PathOf(key), error_);
  }

 private:
  const Json& object_;
  std::string path_;
  std::string* error_;
};

void CheckFrequency(FieldReader& reader, const std::string& key, const std::string& text) {
  if (text.empty() || text.size() > kMaxFrequencyText)
    reader.Fail(key, "must be 1 to 7 characters, like 251.000");
  if (text.find_first_of(" \t\r\n") != std::string::npos) reader.Fail(key, "must not hold blanks");
}

void CheckRange(FieldReader& reader, const std::string& key, double value, double low, double high) {
  if (value < low || value > high) {
    reader.Fail(key, "must be between " + Json(low).dump() + " and " + Json(high).dump());
  }
}

// "radios": [{"frequency": "251.000", "volume": 100}, ...] (1 to 3), "active", "crypto".
void ReadPanel(FieldReader& reader, RadioPanel& panel) {
  if (const Json* radios = reader.Array("radios", true)) {
    if (radios->empty() || radios->size() > 3) reader.Fail("radios", "must hold 1 to 3 radios");
    for (size_t i = 0; i < radios->size() && i < 3 && reader.ok(); ++i) {
      auto radio = reader.Element(*radios, "radios", i);
      if (!radio) return;
      panel.frequencies[i] = radio->Text("frequency");
      CheckFrequency(*radio, "frequency", panel.frequencies[i]);
      panel.volumes[i] = radio->Integer("volume", 100);
      CheckRange(*radio, "volume", panel.volumes[i], 0, 1000);
    }
  }
  panel.active = reader.Integer("active", 1);
  CheckRange(reader, "active", panel.active, 1, 3);
  if (const Json* crypto = reader.Object("crypto", false)) {
    FieldReader cryptoReader = reader.Child(*crypto, "crypto");
    panel.cryptoFrequency = cryptoReader.Text("frequency");
    CheckFrequency(cryptoReader, "frequency", panel.cryptoFrequency);
    panel.cryptoKey = cryptoReader.Integer("key");
  }
}

void ReadChange(FieldReader& reader, PanelChange& change) {
  change.t = reader.Number("t");
  if (const Json* radios = reader.Array("radios", false)) {
    if (radios->size() > 3) reader.Fail("radios", "must hold at most 3 radios");
    for (size_t i = 0; i < radios->size() && i < 3 && reader.ok(); ++i) {
      auto radio = reader.Element(*radios, "radios", i);
      if (!radio) return;
      if (radio->Find("frequency")) {
        change.frequencies[i] = radio->Text("frequency");
        CheckFrequency(*radio, "frequency", *change.frequencies[i]);
      }
      if (radio->Find("volume")) {
        change.volumes[i] = radio->Integer("volume");
        CheckRange(*radio, "volume", *change.volumes[i], 0, 1000);
      }
    }
  }
  if (reader.Find("active")) {
    change.active = reader.Integer("active");
    CheckRange(reader, "active", *change.active, 1, 3);
  }
  if (const Json* crypto = reader.Object("crypto", false)) {
    FieldReader cryptoReader = reader.Child(*crypto, "crypto");
    if (cryptoReader.Find("frequency")) {
      change.cryptoFrequency = cryptoReader.Text("frequency");
      CheckFrequency(cryptoReader, "frequency", *change.cryptoFrequency);
    }
    if (cryptoReader.Find("key")) change.cryptoKey = cryptoReader.Integer("key");
  }
}

void ReadTrack(FieldReader& reader, std::vector<TrackPoint>& track) {
  const Json* points = reader.Array("track", true);
  if (!points) return;
  if (points->empty()) reader.Fail("track", "must hold at least one point");
  for (size_t i = 0; i < points->size() && reader.ok(); ++i) {
    auto point = reader.Element(*points, "track", i);
    if (!point) return;
    TrackPoint p;
    p.t = point->Number("t", 0.0);
    p.latitude = point->Number("lat");
    p.longitude = point->Number("lon");
    p.altitude = point->Number("alt");
    CheckRange(*point, "lat", p.latitude, -89.0, 89.0);
    CheckRange(*point, "lon", p.longitude, -180.0, 179.999);
    CheckRange(*point, "alt", p.altitude, -1000.0, 60000.0);
    if (!track.empty() && p.t <= track.back().t) point->Fail("t", "must be later than the previous point's");
    track.push_back(p);
  }
}

void CheckNickname(FieldReader& reader, const std::string& nickname) {
  if (nickname.empty()) reader.Fail("nickname", "must not be empty");
  if (nickname.size() > kMaxReplyNickname) {
    reader.Fail("nickname", "at most " + std::to_string(kMaxReplyNickname) +
                                " characters (the plug-in cannot receive longer ones)");
  }
  if (nickname.find('@') != std::string::npos) reader.Fail("nickname", "must not hold \"@\"");
  for (unsigned char c : nickname) {
    if (c < 0x20) reader.Fail("nickname", "must not hold control characters");
  }
}

void ReadStation(FieldReader& reader, Station& station) {
  station.nickname = reader.Text("nickname");
  CheckNickname(reader, station.nickname);
  station.radioClass = reader.Integer("radioClass", 0);
  ReadPanel(reader, station.panel);
  ReadTrack(reader, station.track);
  if (const Json* changes = reader.Array("changes", false)) {
    for (size_t i = 0; i < changes->size() && reader.ok(); ++i) {
      auto change = reader.Element(*changes, "changes", i);
      if (!change) return;
      PanelChange parsed;
      ReadChange(*change, parsed);
      station.changes.push_back(parsed);
    }
    std::stable_sort(station.changes.begin(), station.changes.end(),
                     [](const PanelChange& a, const PanelChange& b) { return a.t < b.t; });
  }
}

// "calls": [{"at": 3}, {"from": 10, "to": 60, "every": 5}, ...]
void ReadCalls(FieldReader& reader, double duration, std::vector<double>& starts) {
  const Json* calls = reader.Array("calls", true);
  if (!calls) return;
  for (size_t i = 0; i < calls->size() && reader.ok(); ++i) {
    auto call = reader.Element(*calls, "calls", i);
    if (!call) return;
    if (call->Find("at")) {
      starts.push_back(call->Number("at"));
      continue;
    }
    double from = call->Number("from");
    double to = call->Number("to", duration);
    double every = call->Number("every");
    if (!call->ok()) return;
    if (every < 0.5) call->Fail("every", "must be at least 0.5 seconds");
    if (to < from) call->Fail("to", "must not be before \"from\"");
    for (double t = from; call->ok() && t <= to + 1e-9; t += every) starts.push_back(t);
  }
  std::sort(starts.begin(), starts.end());
}

void ReadTerrain(FieldReader& reader, Terrain& terrain) {
  terrain.baseMetres = reader.Number("baseMetres", 0.0);
  CheckRange(reader, "baseMetres", terrain.baseMetres, 0, 8900);
  if (const Json* ridges = reader.Array("ridges", false)) {
    for (size_t i = 0; i < ridges->size() && reader.ok(); ++i) {
      auto ridge = reader.Element(*ridges, "ridges", i);
      if (!ridge) return;
      Ridge r;
      const Json* from = ridge->Object("from", true);
      const Json* to = ridge->Object("to", true);
      if (!from || !to) return;
      FieldReader fromReader = ridge->Child(*from, "from");
      FieldReader toReader = ridge->Child(*to, "to");
      r.fromLatitude = fromReader.Number("lat");
      r.fromLongitude = fromReader.Number("lon");
      r.toLatitude = toReader.Number("lat");
      r.toLongitude = toReader.Number("lon");
      r.heightMetres = ridge->Number("heightMetres");
      r.widthNM = ridge->Number("widthNM", 2.0);
      CheckRange(*ridge, "heightMetres", r.heightMetres, 0, 8900);
      CheckRange(*ridge, "widthNM", r.widthNM, 0.05, 100);
      terrain.ridges.push_back(r);
    }
  }
  if (const Json* hills = reader.Array("hills", false)) {
    for (size_t i = 0; i < hills->size() && reader.ok(); ++i) {
      auto hill = reader.Element(*hills, "hills", i);
      if (!hill) return;
      Hill h;
      h.latitude = hill->Number("lat");
      h.longitude = hill->Number("lon");
      h.heightMetres = hill->Number("heightMetres");
      h.radiusNM = hill->Number("radiusNM", 2.0);
      CheckRange(*hill, "heightMetres", h.heightMetres, 0, 8900);
      CheckRange(*hill, "radiusNM", h.radiusNM, 0.05, 100);
      terrain.hills.push_back(h);
    }
  }
}

void ReadScenario(FieldReader& reader, Scenario& scenario) {
  scenario.name = reader.Text("name", "scenario");
  scenario.description = reader.Text("description", "");
  scenario.duration = reader.Number("duration");
  CheckRange(reader, "duration", scenario.duration, 1, kMaxDuration);
  scenario.logLevel = reader.Integer("logLevel", 5);
  CheckRange(reader, "logLevel", scenario.logLevel, -1, 6);
  scenario.attenuation = reader.Integer("attenuation", 1);
  if (const Json* ears = reader.Array("ears", false)) {
    if (ears->size() != 3) reader.Fail("ears", "must hold three numbers (-1 left, 1 right, 0 front)");
    for (size_t i = 0; i < ears->size() && i < 3 && reader.ok(); ++i) {
      if (!(*ears)[i].is_number_integer())
        reader.Fail("ears[" + std::to_string(i) + "]", "must be a whole number");
      else
        scenario.ears[i] = (*ears)[i].get<int>();
    }
  }
  if (const Json* local = reader.Object("local", true)) {
    FieldReader localReader = reader.Child(*local, "local");
    ReadStation(localReader, scenario.local);
  }
  if (const Json* remotes = reader.Array("remotes", true)) {
    if (remotes->empty()) reader.Fail("remotes", "must hold at least one remote pilot");
    for (size_t i = 0; i < remotes->size() && reader.ok(); ++i) {
      auto remoteReader = reader.Element(*remotes, "remotes", i);
      if (!remoteReader) return;
      Remote remote;
      ReadStation(*remoteReader, remote.station);
      remote.say = remoteReader->Text("say", "Radio check");
      ReadCalls(*remoteReader, scenario.duration, remote.callStarts);
      scenario.remotes.push_back(remote);
    }
  }
  if (const Json* terrain = reader.Object("terrain", false)) {
    FieldReader terrainReader = reader.Child(*terrain, "terrain");
    ReadTerrain(terrainReader, scenario.terrain);
  }
  if (const Json* moments = reader.Array("profiles", false)) {
    for (size_t i = 0; i < moments->size() && reader.ok(); ++i) {
      if (!(*moments)[i].is_number())
        reader.Fail("profiles[" + std::to_string(i) + "]", "must be a number");
      else
        scenario.profileMoments.push_back((*moments)[i].get<double>());
    }
  }
}

void CheckNamesAreUnique(const Scenario& scenario, std::string* error) {
  std::vector<std::string> names{scenario.local.nickname};
  for (size_t i = 0; i < scenario.remotes.size(); ++i) {
    const std::string& name = scenario.remotes[i].station.nickname;
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      *error = "remotes[" + std::to_string(i) + "].nickname: \"" + name + "\" is used twice";
      return;
    }
    names.push_back(name);
  }
}

double Interpolate(double a, double b, double fraction) { return a + (b - a) * fraction; }

}  // namespace

std::optional<Scenario> ParseScenario(const std::string& json, std::string* error) {
  std::string problem;
  Json document;
  try {
    document = Json::parse(json);
  } catch (const Json::parse_error& parseError) {
    *error = std::string("not valid JSON: ") + parseError.what();
    return std::nullopt;
  }
  if (!document.is_object()) {
    *error = "the scenario must be a JSON object";
    return std::nullopt;
  }
  Scenario scenario;
  FieldReader reader(document, "", &problem);
  ReadScenario(reader, scenario);
  if (problem.empty()) CheckNamesAreUnique(scenario, &problem);
  if (!problem.empty()) {
    *error = problem;
    return std::nullopt;
  }
  return scenario;
}

void ScaleDuration(Scenario& scenario, double factor) {
  auto scaleStation = [factor](Station& station) {
    for (TrackPoint& point : station.track) point.t *= factor;
    for (PanelChange& change : station.changes) change.t *= factor;
  };
  scenario.duration = std::max(1.0, scenario.duration * factor);
  scaleStation(scenario.local);
  for (Remote& remote : scenario.remotes) {
    scaleStation(remote.station);
    for (double& start : remote.callStarts) start *= factor;
  }
  for (double& moment : scenario.profileMoments) moment *= factor;
}

Position PositionAt(const Station& station, double t) {
  const std::vector<TrackPoint>& track = station.track;
  if (track.empty()) return {};
  if (t <= track.front().t) return {track.front().latitude, track.front().longitude, track.front().altitude};
  for (size_t i = 1; i < track.size(); ++i) {
    if (t <= track[i].t) {
      const TrackPoint& a = track[i - 1];
      const TrackPoint& b = track[i];
      double fraction = (t - a.t) / (b.t - a.t);
      return {Interpolate(a.latitude, b.latitude, fraction), Interpolate(a.longitude, b.longitude, fraction),
              Interpolate(a.altitude, b.altitude, fraction)};
    }
  }
  return {track.back().latitude, track.back().longitude, track.back().altitude};
}

RadioPanel PanelAt(const Station& station, double t) {
  RadioPanel panel = station.panel;
  for (const PanelChange& change : station.changes) {
    if (change.t > t) break;
    for (int i = 0; i < 3; ++i) {
      if (change.frequencies[i]) panel.frequencies[i] = *change.frequencies[i];
      if (change.volumes[i]) panel.volumes[i] = *change.volumes[i];
    }
    if (change.active) panel.active = *change.active;
    if (change.cryptoFrequency) panel.cryptoFrequency = *change.cryptoFrequency;
    if (change.cryptoKey) panel.cryptoKey = *change.cryptoKey;
  }
  return panel;
}

}  // namespace halcyra::sim
