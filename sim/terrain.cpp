#include "terrain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>

namespace halcyra::sim {
namespace {

constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;
constexpr double kTileMargin = 0.2;  // degrees around every track point

// Positions in nautical miles on a plane tangent near the point (x east, y north).
struct Flat {
  double x, y;
};
Flat ToFlat(double latitude, double longitude, double referenceLatitude) {
  return {longitude * kNMPerDegree * std::cos(referenceLatitude * kDegreesToRadians),
          latitude * kNMPerDegree};
}

double DistanceToSegment(Flat p, Flat a, Flat b) {
  double dx = b.x - a.x, dy = b.y - a.y;
  double lengthSquared = dx * dx + dy * dy;
  double t =
      lengthSquared > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared, 0.0, 1.0) : 0.0;
  double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
  return std::sqrt(ex * ex + ey * ey);
}

double Bump(double distance, double height, double width) {
  if (distance > 6 * width) return 0;
  return height * std::exp(-distance * distance / (2 * width * width));
}

}  // namespace

double TerrainElevation(const Terrain& terrain, double latitude, double longitude) {
  double height = terrain.baseMetres;
  Flat p = ToFlat(latitude, longitude, latitude);
  for (const Ridge& ridge : terrain.ridges) {
    Flat a = ToFlat(ridge.fromLatitude, ridge.fromLongitude, latitude);
    Flat b = ToFlat(ridge.toLatitude, ridge.toLongitude, latitude);
    height += Bump(DistanceToSegment(p, a, b), ridge.heightMetres, ridge.widthNM);
  }
  for (const Hill& hill : terrain.hills) {
    Flat c = ToFlat(hill.latitude, hill.longitude, latitude);
    height += Bump(std::hypot(p.x - c.x, p.y - c.y), hill.heightMetres, hill.radiusNM);
  }
  return std::clamp(height, 0.0, 8900.0);
}

std::vector<std::pair<int, int>> ScenarioTiles(const Scenario& scenario) {
  std::set<std::pair<int, int>> squares;
  auto add = [&squares](const Station& station) {
    for (const TrackPoint& point : station.track) {
      for (double dLat : {-kTileMargin, 0.0, kTileMargin}) {
        for (double dLon : {-kTileMargin, 0.0, kTileMargin}) {
          squares.insert({static_cast<int>(std::floor(point.latitude + dLat)),
                          static_cast<int>(std::floor(point.longitude + dLon))});
        }
      }
    }
  };
  add(scenario.local);
  for (const Remote& remote : scenario.remotes) add(remote.station);
  // Squares between the track points of a leg are covered too: fill the bounding box.
  if (squares.empty()) return {};
  int south = squares.begin()->first, north = squares.rbegin()->first;
  int west = 180, east = -180;
  for (const auto& square : squares) {
    west = std::min(west, square.second);
    east = std::max(east, square.second);
  }
  std::vector<std::pair<int, int>> tiles;
  for (int lat = south; lat <= north; ++lat) {
    for (int lon = west; lon <= east; ++lon) tiles.push_back({lat, lon});
  }
  return tiles;
}

std::string TileFileName(int latitude, int longitude) {
  char name[32];
  std::snprintf(name, sizeof name, "%c%02d%c%03d.HGT", latitude >= 0 ? 'N' : 'S', std::abs(latitude),
                longitude >= 0 ? 'E' : 'W', std::abs(longitude));
  return name;
}

bool WriteScenarioTiles(const Scenario& scenario, const std::string& folder, std::string* error) {
  std::vector<std::pair<int, int>> tiles = ScenarioTiles(scenario);
  if (tiles.size() > kMaxTiles) {
    *error = "the tracks span " + std::to_string(tiles.size()) + " elevation tiles; at most " +
             std::to_string(kMaxTiles) + " are made (keep the tracks within a few degrees)";
    return false;
  }
  std::string bytes(static_cast<size_t>(kTileSize) * kTileSize * 2, '\0');
  for (const auto& [south, west] : tiles) {
    for (int row = 0; row < kTileSize; ++row) {
      double latitude = south + 1.0 - static_cast<double>(row) / (kTileSize - 1);
      for (int column = 0; column < kTileSize; ++column) {
        double longitude = west + static_cast<double>(column) / (kTileSize - 1);
        auto metres =
            static_cast<uint16_t>(std::lround(TerrainElevation(scenario.terrain, latitude, longitude)));
        size_t at = (static_cast<size_t>(row) * kTileSize + column) * 2;
        bytes[at] = static_cast<char>(metres >> 8);
        bytes[at + 1] = static_cast<char>(metres & 0xFF);
      }
    }
    std::string path = folder + "/" + TileFileName(south, west);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      *error = path + ": cannot be written";
      return false;
    }
  }
  return true;
}

}  // namespace halcyra::sim
