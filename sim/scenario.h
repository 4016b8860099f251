// A scenario: the local aircraft, the remote pilots with their tracks, radios and radio calls, and
// the terrain, over a stretch of scenario time. Scenarios are JSON documents; the built-in ones are
// JSON texts too (PrintableScenario shows them), so a scenario file is written the same way.
//
// Units: time in seconds of scenario time, latitude and longitude in degrees, altitude in feet,
// terrain heights in metres, widths and radii in nautical miles, volumes in percent.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace halcyra::sim {

// One point of a track: where the aircraft is at time t. Between points it moves in a straight line
// (latitude, longitude and altitude interpolated linearly); before the first and after the last
// point it stays there.
struct TrackPoint {
  double t = 0;
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
};

struct Position {
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
};

// What a station's radio panel holds. Frequencies are texts of at most 7 characters ("000.000" is
// off), compared as text by the radio model.
struct RadioPanel {
  std::string frequencies[3] = {"000.000", "000.000", "000.000"};
  int active = 1;  // selected (transmitting) radio 1..3
  std::string cryptoFrequency = "000.000";
  int cryptoKey = 0;
  int volumes[3] = {100, 100, 100};  // local station only
};

// A change of the radio panel from time t on; fields not given keep their values.
struct PanelChange {
  double t = 0;
  std::optional<std::string> frequencies[3];
  std::optional<int> active;
  std::optional<std::string> cryptoFrequency;
  std::optional<int> cryptoKey;
  std::optional<int> volumes[3];
};

struct Station {
  std::string nickname;
  int radioClass = 0;  // 0, 1, 2, 100 or 200
  RadioPanel panel;
  std::vector<PanelChange> changes;  // in time order
  std::vector<TrackPoint> track;     // in time order, at least one point
};

struct Remote {
  Station station;
  std::string say;                 // the radio call spoken by the speech synthesiser
  std::vector<double> callStarts;  // start times of his radio calls, in time order
};

// Terrain made for the scenario: a flat base and Gaussian ridges and hills on it.
struct Ridge {
  double fromLatitude = 0, fromLongitude = 0, toLatitude = 0, toLongitude = 0;
  double heightMetres = 0;  // above the base, at the crest
  double widthNM = 0;       // distance from the crest at which the height has fallen to 60 %
};
struct Hill {
  double latitude = 0, longitude = 0;
  double heightMetres = 0;
  double radiusNM = 0;
};
struct Terrain {
  double baseMetres = 0;
  std::vector<Ridge> ridges;
  std::vector<Hill> hills;
};

struct Scenario {
  std::string name;
  std::string description;
  double duration = 0;      // seconds of scenario time, at least 1
  int logLevel = 5;         // LOGLEVEL of the plug-in's INI
  int attenuation = 1;      // [SYSTEM] ATTN
  int ears[3] = {0, 0, 0};  // [EAR] RADIO1..3 of the local pilot
  Station local;
  std::vector<Remote> remotes;
  Terrain terrain;
  std::vector<double> profileMoments;  // times at which the report draws the sight line
};

// Reads a scenario document. On failure returns nothing and error names the field, like
// "remotes[0].track[1].lat: missing" or "duration: must be a number".
std::optional<Scenario> ParseScenario(const std::string& json, std::string* error);

// The names of the built-in scenarios, the default first.
std::vector<std::string> BuiltInScenarioNames();
// The JSON text of a built-in scenario; empty when there is none of that name.
std::string BuiltInScenarioJson(const std::string& name);

// Shortens (factor below 1) or lengthens the scenario: every time (duration, track points, panel
// changes, call starts, profile moments) is multiplied by factor. factor must be above 0.
void ScaleDuration(Scenario& scenario, double factor);

// Where a station is at time t.
Position PositionAt(const Station& station, double t);
// The radio panel of a station at time t, with every change up to t applied.
RadioPanel PanelAt(const Station& station, double t);

}  // namespace halcyra::sim
