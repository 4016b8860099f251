// Synthetic elevation tiles for a scenario: SRTM3 files (1201 x 1201 big-endian 16-bit samples in
// metres, rows from north to south) of every whole-degree square the tracks come near.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "scenario.h"

namespace halcyra::sim {

inline constexpr int kTileSize = 1201;
inline constexpr size_t kMaxTiles = 16;
inline constexpr double kNMPerDegree = 60.11;  // along a meridian, for the model's Earth radius

// Height of the scenario's terrain in metres at a point (base plus ridges and hills), 0..8900.
double TerrainElevation(const Terrain& terrain, double latitude, double longitude);

// South-west corners (whole degrees: latitude, longitude) of the squares within 0.2 degree of any
// track point, in latitude then longitude order.
std::vector<std::pair<int, int>> ScenarioTiles(const Scenario& scenario);

// "N42E041.HGT" for the square whose south-west corner is (42, 41).
std::string TileFileName(int latitude, int longitude);

// Writes the scenario's tiles into folder. False with error when there would be more than
// kMaxTiles or a file cannot be written.
bool WriteScenarioTiles(const Scenario& scenario, const std::string& folder, std::string* error);

}  // namespace halcyra::sim
