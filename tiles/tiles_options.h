// The command line of halcyra-tiles: what to fetch (--theatre, --area, --missing), from where
// (--source), into which folder (--out) and how (--jobs, --retries, --stall-seconds).
// Options take their value as "--name value" or "--name=value"; --area takes four.
#pragma once

#include <string>
#include <vector>

#include "tile_square.h"

namespace halcyra::tiles {

struct TilesOptions {
  std::vector<std::string> theatres;  // names of the theatre table, as given
  std::vector<SquareBox> areas;
  bool missing = false;  // the squares of missing-tiles.txt
  bool list = false;
  bool help = false;
  std::string urlTemplate;  // valid (see SourceTemplate)
  std::string outFolder;    // UTF-8; empty: the plug-in's tile folder
  int jobs = 4;             // downloads at once, 1..16
  int retries = 3;          // further tries after a failed download, 0..10; waits 1 s, 2 s, 4 s ...
  int stallSeconds = 60;    // a download that receives nothing for this long fails (and is retried)
};

struct ParsedTilesOptions {
  TilesOptions options;
  std::string error;  // names the bad argument; empty when valid
};

ParsedTilesOptions ParseTilesOptions(const std::vector<std::string>& arguments);
std::string TilesUsage();
// The theatre table: one line each with its box and its number of squares.
std::string TheatreList();

}  // namespace halcyra::tiles
