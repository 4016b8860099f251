// Scenario documents, the command line and the panning of the scenario runner.
#include "scenario.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "options.h"
#include "render.h"
#include "terrain.h"

namespace halcyra::sim {
namespace {

using Json = nlohmann::json;

Json MinimalScenario() {
  return Json::parse(R"({
    "duration": 20,
    "local": {"nickname": "Lead", "radios": [{"frequency": "251.000"}],
              "track": [{"t": 0, "lat": 42.0, "lon": 41.0, "alt": 10000}]},
    "remotes": [{"nickname": "Two", "radios": [{"frequency": "251.000"}],
                 "track": [{"t": 0, "lat": 42.1, "lon": 41.0, "alt": 8000},
                           {"t": 10, "lat": 42.3, "lon": 41.2, "alt": 6000}],
                 "calls": [{"from": 2, "to": 10, "every": 4}, {"at": 15}]}]
  })");
}

std::string ErrorOf(const Json& document) {
  std::string error;
  EXPECT_FALSE(ParseScenario(document.dump(), &error).has_value());
  return error;
}

TEST(ScenarioDocument, EveryBuiltInScenarioParses) {
  for (const std::string& name : BuiltInScenarioNames()) {
    std::string error;
    std::optional<Scenario> scenario = ParseScenario(BuiltInScenarioJson(name), &error);
    ASSERT_TRUE(scenario) << name << ": " << error;
    EXPECT_EQ(name, scenario->name);
    EXPECT_FALSE(scenario->remotes.empty());
    EXPECT_LE(ScenarioTiles(*scenario).size(), kMaxTiles) << name;
  }
  EXPECT_EQ("", BuiltInScenarioJson("no-such"));
}

TEST(ScenarioDocument, ReadsCallsTracksAndDefaults) {
  std::string error;
  std::optional<Scenario> scenario = ParseScenario(MinimalScenario().dump(), &error);
  ASSERT_TRUE(scenario) << error;
  EXPECT_EQ((std::vector<double>{2, 6, 10, 15}), scenario->remotes[0].callStarts);
  EXPECT_EQ("000.000", scenario->local.panel.frequencies[1]);
  EXPECT_EQ(1, scenario->attenuation);
  EXPECT_EQ(5, scenario->logLevel);

  Position halfway = PositionAt(scenario->remotes[0].station, 5);
  EXPECT_DOUBLE_EQ(42.2, halfway.latitude);
  EXPECT_DOUBLE_EQ(41.1, halfway.longitude);
  EXPECT_DOUBLE_EQ(7000, halfway.altitude);
  EXPECT_DOUBLE_EQ(42.3, PositionAt(scenario->remotes[0].station, 99).latitude);  // stays at the end
}

TEST(ScenarioDocument, MissingOrWrongFieldsAreNamed) {
  Json noDuration = MinimalScenario();
  noDuration.erase("duration");
  EXPECT_EQ("duration: missing", ErrorOf(noDuration));

  Json noLatitude = MinimalScenario();
  noLatitude["remotes"][0]["track"][1].erase("lat");
  EXPECT_EQ("remotes[0].track[1].lat: missing", ErrorOf(noLatitude));

  Json textAltitude = MinimalScenario();
  textAltitude["local"]["track"][0]["alt"] = "high";
  EXPECT_EQ("local.track[0].alt: must be a number", ErrorOf(textAltitude));

  Json noCalls = MinimalScenario();
  noCalls["remotes"][0].erase("calls");
  EXPECT_EQ("remotes[0].calls: missing", ErrorOf(noCalls));

  Json longFrequency = MinimalScenario();
  longFrequency["remotes"][0]["radios"][0]["frequency"] = "251.0000";
  EXPECT_NE(std::string::npos, ErrorOf(longFrequency).find("remotes[0].radios[0].frequency: "));

  Json longName = MinimalScenario();
  longName["remotes"][0]["nickname"] = std::string(31, 'a');
  EXPECT_NE(std::string::npos, ErrorOf(longName).find("remotes[0].nickname: at most 30 characters"));

  Json twice = MinimalScenario();
  twice["remotes"][0]["nickname"] = "Lead";
  EXPECT_NE(std::string::npos, ErrorOf(twice).find("remotes[0].nickname: \"Lead\" is used twice"));

  Json backwards = MinimalScenario();
  backwards["remotes"][0]["track"][1]["t"] = 0;
  EXPECT_NE(std::string::npos, ErrorOf(backwards).find("remotes[0].track[1].t: "));

  Json endlessCalls = MinimalScenario();
  endlessCalls["remotes"][0]["calls"][0]["every"] = 0;
  EXPECT_NE(std::string::npos, ErrorOf(endlessCalls).find("remotes[0].calls[0].every: "));

  std::string error;
  EXPECT_FALSE(ParseScenario("{\"duration\": ", &error));
  EXPECT_NE(std::string::npos, error.find("not valid JSON"));
  EXPECT_FALSE(ParseScenario("[1, 2]", &error));
}

TEST(ScenarioDocument, PanelChangesApplyFromTheirTime) {
  Json document = MinimalScenario();
  document["remotes"][0]["crypto"] = {{"frequency", "251.000"}, {"key", 12}};
  document["remotes"][0]["changes"] =
      Json::parse(R"([{"t": 8, "crypto": {"key": 37}}, {"t": 4, "active": 2}])");
  std::string error;
  std::optional<Scenario> scenario = ParseScenario(document.dump(), &error);
  ASSERT_TRUE(scenario) << error;
  const Station& two = scenario->remotes[0].station;
  EXPECT_EQ(12, PanelAt(two, 7.9).cryptoKey);
  EXPECT_EQ(2, PanelAt(two, 7.9).active);
  EXPECT_EQ(37, PanelAt(two, 8).cryptoKey);
  EXPECT_EQ("251.000", PanelAt(two, 8).cryptoFrequency);
  EXPECT_EQ(1, PanelAt(two, 3).active);
}

TEST(ScenarioDocument, ScalingShortensEveryTime) {
  std::string error;
  Scenario scenario = *ParseScenario(MinimalScenario().dump(), &error);
  ScaleDuration(scenario, 0.5);
  EXPECT_DOUBLE_EQ(10, scenario.duration);
  EXPECT_EQ((std::vector<double>{1, 3, 5, 7.5}), scenario.remotes[0].callStarts);
  EXPECT_DOUBLE_EQ(5, scenario.remotes[0].station.track[1].t);
  EXPECT_DOUBLE_EQ(42.3, PositionAt(scenario.remotes[0].station, 5).latitude);
}

TEST(SimCommandLine, UnknownScenarioNamesTheChoices) {
  ParsedSimOptions parsed = ParseSimOptions({"--scenario", "three-ship"});
  EXPECT_EQ("unknown scenario \"three-ship\"; the built-in scenarios are two-ship, crypto, ground, ears",
            parsed.error);
  EXPECT_EQ("", ParseSimOptions({"--scenario=crypto"}).error);
  EXPECT_EQ("two-ship", ParseSimOptions({}).options.scenario);
  EXPECT_NE("", ParseSimOptions({"--duration-scale", "0"}).error);
  EXPECT_NE("", ParseSimOptions({"--duration-scale", "fast"}).error);
  EXPECT_NE("", ParseSimOptions({"--voice"}).error);
  EXPECT_NE("", ParseSimOptions({"--frobnicate"}).error);
  EXPECT_DOUBLE_EQ(0.25, ParseSimOptions({"--duration-scale=0.25"}).options.durationScale);
  EXPECT_FALSE(ParseSimOptions({}).options.fast) << "real time unless asked";
  EXPECT_TRUE(ParseSimOptions({"--fast"}).options.fast);
}

TEST(Panning, FarIsSilentEarsAreSidedFrontIsCentred) {
  StereoGains far = GainsFor({0.0f, 100.0f, 0.0f});
  EXPECT_EQ(0.0f, far.left);
  EXPECT_EQ(0.0f, far.right);
  EXPECT_TRUE(IsSilentPosition({0.0f, 100.0f, 0.0f}));

  StereoGains left = GainsFor({-1.001f, 0.1f, 0.0f});
  EXPECT_GT(left.left, 0.95f);
  EXPECT_LT(left.right, 0.05f);
  StereoGains right = GainsFor({1.001f, 0.1f, 0.0f});
  EXPECT_GT(right.right, 0.95f);
  EXPECT_LT(right.left, 0.05f);

  for (TS3_VECTOR centred : {TS3_VECTOR{0, 0, 0}, TS3_VECTOR{0, 1, 0}}) {
    StereoGains gains = GainsFor(centred);
    EXPECT_FLOAT_EQ(gains.left, gains.right);
    EXPECT_GT(gains.left, 0.7f);
    EXPECT_FALSE(IsSilentPosition(centred));
  }
}

TEST(SyntheticTerrain, RidgeStandsOnTheBaseAndTilesCoverTheTracks) {
  Terrain terrain;
  terrain.baseMetres = 300;
  terrain.ridges.push_back({42.5, 40.0, 42.5, 42.0, 3000, 2});
  EXPECT_NEAR(3300, TerrainElevation(terrain, 42.5, 41.0), 1);
  EXPECT_NEAR(300, TerrainElevation(terrain, 42.0, 41.0), 1);  // 30 NM away
  EXPECT_NEAR(300 + 3000 * 0.6065, TerrainElevation(terrain, 42.5 + 2 / kNMPerDegree, 41.0), 5);

  std::string error;
  Scenario scenario = *ParseScenario(BuiltInScenarioJson("two-ship"), &error);
  std::vector<std::pair<int, int>> tiles = ScenarioTiles(scenario);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{41, 41}, {42, 41}, {43, 41}}), tiles);
  EXPECT_EQ("N42E041.HGT", TileFileName(42, 41));
  EXPECT_EQ("S05W116.HGT", TileFileName(-5, -116));
}

}  // namespace
}  // namespace halcyra::sim
