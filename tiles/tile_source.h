// Where tiles are fetched from: a URL template with {name} (N42E041), {lat} (N42) and {lon} (E041).
#pragma once

#include <optional>
#include <string>

#include "tile_square.h"

namespace halcyra::tiles {

// AWS Open Data "Terrain Tiles", skadi layout: gzip of an SRTM1-size tile, the whole globe.
inline constexpr char kAwsSourceName[] = "aws";
inline constexpr char kAwsTemplate[] =
    "https://elevation-tiles-prod.s3.amazonaws.com/skadi/{lat}/{name}.hgt.gz";

// "aws" or a template: http:// or https://, naming each square ({name}, or {lat} and {lon}), with no
// other {...}. Nothing when it is neither; error says why.
std::optional<std::string> SourceTemplate(const std::string& source, std::string* error);

// The template's URL of the square.
std::string TileUrl(const std::string& urlTemplate, const Square& square);

}  // namespace halcyra::tiles
