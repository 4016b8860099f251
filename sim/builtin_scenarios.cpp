// The built-in scenarios, as scenario documents. Latitudes grow by 1/60.11 degree per nautical mile
// (the radio model's Earth radius of 3444 NM).
#include <map>

#include "scenario.h"

namespace halcyra::sim {
namespace {

// A wingman flies north from 5 to 70 NM at 1 NM/s, 1200 ft below the leader (range 54.7 NM), calling
// every 5 s: his voice gets noisier, goes silent in the middle of his call at 26 s as he drops behind
// the ridge at 32 NM, comes back very noisy beyond 45 NM and is lost out of range after 49 s.
constexpr char kTwoShip[] = R"({
  "name": "two-ship",
  "description": "A wingman flies out from 5 to 70 NM: his voice gets noisier, cuts out in the middle of his call at 26 s as he drops behind a ridge, comes back very noisy from 41 s and is lost out of range after 50 s.",
  "duration": 65,
  "ears": [0, 1, -1],
  "local": {
    "nickname": "Leader",
    "radios": [{"frequency": "251.000"}, {"frequency": "124.000"}],
    "active": 1,
    "track": [{"t": 0, "lat": 42.05, "lon": 41.5, "alt": 11200}]
  },
  "remotes": [{
    "nickname": "Wingman",
    "say": "Leader, two, ops normal, fuel four point two, how copy?",
    "radios": [{"frequency": "251.000"}],
    "active": 1,
    "track": [
      {"t": 0, "lat": 42.1332, "lon": 41.5, "alt": 10000},
      {"t": 65, "lat": 43.2145, "lon": 41.5, "alt": 10000}
    ],
    "calls": [{"from": 1, "to": 61, "every": 5}]
  }],
  "terrain": {
    "baseMetres": 300,
    "ridges": [{"from": {"lat": 42.5824, "lon": 40.8}, "to": {"lat": 42.5824, "lon": 42.2},
                "heightMetres": 2854, "widthNM": 2}]
  },
  "profiles": [20, 30, 42]
})";

// The wingman changes his encryption key, then flies out of range: the leader hears the tone of
// the key's digits while the keys differ, and never his plain voice once he cannot be received.
constexpr char kCrypto[] = R"({
  "name": "crypto",
  "description": "Both start on key 12 (clear). At 14 s the wingman changes to key 37: the leader hears the tone of the digits 3 and 7, as loud as his voice. At 24 s the leader changes to key 37 too: clear again. At 34 s the wingman changes to key 25: the tone of 2 and 5, noisier as he flies away, until he leaves range in the middle of his call at 46 s: silence, never his plain voice.",
  "duration": 60,
  "local": {
    "nickname": "Leader",
    "radios": [{"frequency": "251.000"}],
    "crypto": {"frequency": "251.000", "key": 12},
    "track": [{"t": 0, "lat": 42.05, "lon": 41.5, "alt": 12000}],
    "changes": [{"t": 24, "crypto": {"key": 37}}]
  },
  "remotes": [{
    "nickname": "Wingman",
    "say": "Leader, two, fence in, music on, going secure, how copy?",
    "radios": [{"frequency": "251.000"}],
    "crypto": {"frequency": "251.000", "key": 12},
    "track": [{"t": 0, "lat": 42.2995, "lon": 41.5, "alt": 10000},
              {"t": 30, "lat": 42.2995, "lon": 41.5, "alt": 10000},
              {"t": 60, "lat": 43.8268, "lon": 41.5, "alt": 10000}],
    "changes": [{"t": 14, "crypto": {"key": 37}}, {"t": 34, "crypto": {"key": 25}}],
    "calls": [{"from": 1, "to": 56, "every": 5}]
  }],
  "terrain": {"baseMetres": 200},
  "profiles": [10, 45]
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
