// The simulator's theatres as boxes of whole-degree squares (approximate, with a margin).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tile_square.h"

namespace halcyra::tiles {

struct Theatre {
  std::string name;  // as given to --theatre: "caucasus"
  SquareBox box;
  std::string note;  // empty, or what the user should know
};

const std::vector<Theatre>& Theatres();
// By name, letters of either case; nothing when unknown.
std::optional<Theatre> FindTheatre(const std::string& name);

}  // namespace halcyra::tiles
