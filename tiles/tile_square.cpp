#include "tile_square.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace halcyra::tiles {
namespace {

std::string Part(char positive, char negative, int degrees, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%0*d", degrees >= 0 ? positive : negative, digits, std::abs(degrees));
  return text;
}

// Reads exactly `digits` decimal digits at text[*at].
bool ReadDigits(const std::string& text, size_t* at, int digits, int* value) {
  if (*at + digits > text.size()) return false;
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    char c = text[*at + i];
    if (c < '0' || c > '9') return false;
    *value = *value * 10 + (c - '0');
  }
  *at += digits;
  return true;
}

}  // namespace

std::string LatitudePart(const Square& square) { return Part('N', 'S', square.latitude, 2); }
std::string LongitudePart(const Square& square) { return Part('E', 'W', square.longitude, 3); }
std::string SquareName(const Square& square) { return LatitudePart(square) + LongitudePart(square); }
std::string TileFileName(const Square& square) { return SquareName(square) + ".HGT"; }

std::optional<Square> ParseSquareName(const std::string& text) {
  std::string name;
  for (char c : text) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name.size() == 11 && name.compare(7, 4, ".HGT") == 0) name.resize(7);
  if (name.size() != 7) return std::nullopt;
  size_t at = 1;
  int latitude = 0;
  int longitude = 0;
  if ((name[0] != 'N' && name[0] != 'S') || !ReadDigits(name, &at, 2, &latitude)) return std::nullopt;
  char east = name[at++];
  if ((east != 'E' && east != 'W') || !ReadDigits(name, &at, 3, &longitude)) return std::nullopt;
  Square square{name[0] == 'N' ? latitude : -latitude, east == 'E' ? longitude : -longitude};
  if (square.latitude < -90 || square.latitude > 89 || square.longitude < -180 || square.longitude > 179)
    return std::nullopt;
  return square;
}

std::vector<Square> SquaresOf(const SquareBox& box) {
  std::vector<Square> squares;
  for (int latitude = box.south; latitude <= box.north; ++latitude) {
    for (int longitude = box.west; longitude <= box.east; ++longitude)
      squares.push_back({latitude, longitude});
  }
  return squares;
}

std::optional<SquareBox> BoxOfArea(double south, double west, double north, double east, std::string* error) {
  if (!std::isfinite(south) || !std::isfinite(north) || south < -90 || north > 90) {
    *error = "latitudes run from -90 to 90";
    return std::nullopt;
  }
  if (!std::isfinite(west) || !std::isfinite(east) || west < -180 || east > 180) {
    *error = "longitudes run from -180 to 180";
    return std::nullopt;
  }
  if (!(south < north) || !(west < east)) {
    *error = "SOUTH must be below NORTH and WEST below EAST";
    return std::nullopt;
  }
  // The last square is the one whose southern (western) edge lies below the northern (eastern)
  // edge of the area.
  return SquareBox{static_cast<int>(std::floor(south)), static_cast<int>(std::floor(west)),
                   static_cast<int>(std::ceil(north)) - 1, static_cast<int>(std::ceil(east)) - 1};
}

}  // namespace halcyra::tiles
