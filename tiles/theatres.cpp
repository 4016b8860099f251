#include "theatres.h"

#include <cctype>

namespace halcyra::tiles {

const std::vector<Theatre>& Theatres() {
  // south, west, north, east: the south-west corners of the first and the last square.
  static const std::vector<Theatre> theatres = {
      {"caucasus", {40, 36, 46, 46}, ""},
      {"persian-gulf", {22, 51, 30, 58}, ""},
      {"syria", {30, 30, 37, 42}, ""},
      {"nevada", {34, -119, 38, -114}, ""},
      {"marianas", {12, 144, 20, 146}, ""},
      {"sinai", {27, 29, 32, 35}, ""},
      {"south-atlantic", {-56, -76, -46, -57}, ""},
      {"normandy", {48, -4, 51, 2}, ""},
      {"channel", {50, -1, 51, 2}, ""},
      {"kola", {65, 15, 70, 40}, "north of 60 N: the aws source has it, sources of SRTM data only do not"},
      {"afghanistan", {29, 60, 38, 71}, ""},
      {"iraq", {29, 38, 37, 48}, ""},
      {"germany", {50, 7, 54, 14}, ""},
  };
  return theatres;
}

std::optional<Theatre> FindTheatre(const std::string& name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Theatre& theatre : Theatres()) {
    if (theatre.name == lower) return theatre;
  }
  return std::nullopt;
}

}  // namespace halcyra::tiles
