// Whole-degree squares of elevation tiles and their names.
//
// A square is named after its south-west corner: N42E041 covers latitudes 42..43 and longitudes
// 41..42, S46W070 covers -46..-45 and -70..-69. Latitudes of squares run -90..89, longitudes
// -180..179.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace halcyra::tiles {

struct Square {
  int latitude = 0;   // whole degrees of the southern edge, -90..89
  int longitude = 0;  // whole degrees of the western edge, -180..179

  friend bool operator==(const Square&, const Square&) = default;
  friend auto operator<=>(const Square&, const Square&) = default;
};

std::string SquareName(const Square& square);     // "N42E041"
std::string LatitudePart(const Square& square);   // "N42"
std::string LongitudePart(const Square& square);  // "E041"
std::string TileFileName(const Square& square);   // "N42E041.HGT", as the plug-in opens it

// "N42E041" or "n42e041" (letters of either case, an ".hgt" ending allowed); nothing when the text
// names no square.
std::optional<Square> ParseSquareName(const std::string& text);

// A box of whole-degree squares, both corners included: south..north, west..east (the south-west
// corners of its first and last squares).
struct SquareBox {
  int south = 0;
  int west = 0;
  int north = 0;
  int east = 0;
  int Count() const { return (north - south + 1) * (east - west + 1); }
};

std::vector<Square> SquaresOf(const SquareBox& box);  // south to north, west to east in each row

// The squares an area in degrees touches (south < north, west < east; an edge on a whole degree
// takes no square beyond it). Nothing when the area is off the globe or empty; error says why.
std::optional<SquareBox> BoxOfArea(double south, double west, double north, double east, std::string* error);

}  // namespace halcyra::tiles
