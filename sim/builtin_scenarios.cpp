// The built-in scenarios, as scenario documents. Latitudes grow by 1/60.11 degree per nautical mile
// (the radio model's Earth radius of 3444 NM).
#include <map>

#include "scenario.h"

namespace halcyra::sim {
namespace {

// A wingman flies north from 5 to 150 NM, crosses a ridge at 41 NM and drops behind it: his voice
// gets noisier, is masked by the ridge, comes back very noisy and is lost out of range.
constexpr char kTwoShip[] = R"({
  "name": "two-ship",
  "description": "A wingman flies out from 5 to 150 NM behind a ridge: his voice gets noisier, is masked by the ridge, comes back and is lost out of range.",
  "duration": 150,
  "ears": [0, 1, -1],
  "local": {
    "nickname": "Leader",
    "radios": [{"frequency": "251.000"}, {"frequency": "124.000"}],
    "active": 1,
    "track": [{"t": 0, "lat": 42.05, "lon": 41.5, "alt": 20000}]
  },
  "remotes": [{
    "nickname": "Wingman",
    "say": "Leader, two, ops normal, how copy?",
    "radios": [{"frequency": "251.000"}],
    "active": 1,
    "track": [
      {"t": 0, "lat": 42.1332, "lon": 41.5, "alt": 12000},
      {"t": 33, "lat": 42.6822, "lon": 41.5, "alt": 14500},
      {"t": 39, "lat": 42.7820, "lon": 41.5, "alt": 14500},
      {"t": 47, "lat": 42.9151, "lon": 41.5, "alt": 7000},
      {"t": 145, "lat": 44.5454, "lon": 41.5, "alt": 7000}
    ],
    "calls": [{"from": 1, "to": 146, "every": 5}]
  }],
  "terrain": {
    "baseMetres": 300,
    "ridges": [{"from": {"lat": 42.7321, "lon": 40.8}, "to": {"lat": 42.7321, "lon": 42.2},
                "heightMetres": 3700, "widthNM": 2}]
  },
  "profiles": [20, 55, 100]
})";

// The wingman changes his encryption key: the leader hears the tone of the key's digits until he
// changes to the same key.
constexpr char kCrypto[] = R"({
  "name": "crypto",
  "description": "Both start on key 12 (clear). At 20 s the wingman changes to key 37: the leader hears the tone of the digits 3 and 7. At 40 s the leader changes to key 37 too: clear again.",
  "duration": 60,
  "local": {
    "nickname": "Leader",
    "radios": [{"frequency": "251.000"}],
    "crypto": {"frequency": "251.000", "key": 12},
    "track": [{"t": 0, "lat": 42.05, "lon": 41.5, "alt": 20000}],
    "changes": [{"t": 40, "crypto": {"key": 37}}]
  },
  "remotes": [{
    "nickname": "Wingman",
    "say": "Leader, two, fence in, music on.",
    "radios": [{"frequency": "251.000"}],
    "crypto": {"frequency": "251.000", "key": 12},
    "track": [{"t": 0, "lat": 42.2995, "lon": 41.5, "alt": 14000},
              {"t": 60, "lat": 42.2995, "lon": 41.6, "alt": 14000}],
    "changes": [{"t": 20, "crypto": {"key": 37}}],
    "calls": [{"from": 1, "to": 57, "every": 4}]
  }],
  "terrain": {"baseMetres": 200},
  "profiles": [10]
})";

// A tower (a class-2 ground station, placed on the terrain) behind a hill as a helicopter flies past.
constexpr char kGround[] = R"({
  "name": "ground",
  "description": "A helicopter flies north at 4000 ft past a tower, a class-2 ground station on the terrain; a hill between them masks the tower while the helicopter is abeam.",
  "duration": 120,
  "local": {
    "nickname": "Hawk",
    "radios": [{"frequency": "124.000"}],
    "track": [{"t": 0, "lat": 42.25, "lon": 41.55, "alt": 4000},
              {"t": 120, "lat": 42.75, "lon": 41.55, "alt": 4000}]
  },
  "remotes": [{
    "nickname": "Tower",
    "radioClass": 2,
    "say": "Hawk, tower, wind two seven zero at eight, cleared to land.",
    "radios": [{"frequency": "124.000"}],
    "track": [{"t": 0, "lat": 42.50, "lon": 41.80, "alt": 0}],
    "calls": [{"from": 1, "to": 116, "every": 5}]
  }],
  "terrain": {
    "baseMetres": 200,
    "hills": [{"lat": 42.50, "lon": 41.64, "heightMetres": 1300, "radiusNM": 2}]
  },
  "profiles": [20, 60, 100]
})";

// Three radios on three ears: radio 1 on the left, radio 2 on the right, radio 3 in front.
constexpr char kEars[] = R"({
  "name": "ears",
  "description": "Three pilots on the leader's three radios: radio 1 is heard on the left ear, radio 2 on the right, radio 3 in front.",
  "duration": 24,
  "ears": [-1, 1, 0],
  "local": {
    "nickname": "Leader",
    "radios": [{"frequency": "251.000"}, {"frequency": "262.000"}, {"frequency": "124.000"}],
    "track": [{"t": 0, "lat": 42.05, "lon": 41.5, "alt": 20000}]
  },
  "remotes": [
    {"nickname": "Left", "say": "Radio one, on the left ear.", "radios": [{"frequency": "251.000"}],
     "track": [{"t": 0, "lat": 42.20, "lon": 41.4, "alt": 14000}], "calls": [{"at": 1}, {"at": 13}]},
    {"nickname": "Right", "say": "Radio two, on the right ear.", "radios": [{"frequency": "262.000"}],
     "track": [{"t": 0, "lat": 42.20, "lon": 41.6, "alt": 14000}], "calls": [{"at": 5}, {"at": 17}]},
    {"nickname": "Front", "say": "Radio three, in front.", "radios": [{"frequency": "124.000"}],
     "track": [{"t": 0, "lat": 42.25, "lon": 41.5, "alt": 14000}], "calls": [{"at": 9}, {"at": 21}]}
  ],
  "terrain": {"baseMetres": 200},
  "profiles": [3]
})";

const std::map<std::string, const char*>& Documents() {
  static const std::map<std::string, const char*> documents{
      {"two-ship", kTwoShip}, {"crypto", kCrypto}, {"ground", kGround}, {"ears", kEars}};
  return documents;
}

}  // namespace

std::vector<std::string> BuiltInScenarioNames() { return {"two-ship", "crypto", "ground", "ears"}; }

std::string BuiltInScenarioJson(const std::string& name) {
  auto found = Documents().find(name);
  return found == Documents().end() ? std::string() : std::string(found->second) + "\n";
}

}  // namespace halcyra::sim
