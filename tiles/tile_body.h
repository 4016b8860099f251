// What a tile source sends: an .hgt file as it is, gzipped (.hgt.gz) or in a zip archive
// (.hgt.zip), of an SRTM3 (1201 x 1201 samples) or an SRTM1 tile (3601 x 3601). Decoded, it becomes
// the SRTM3 grid the plug-in reads: an SRTM1 tile keeps every third row and column (0, 3, ...
// 3600). Anything else (a web page with status 200, a truncated file, broken compression) is
// refused with the reason.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace halcyra::tiles {

inline constexpr size_t kSrtm3Bytes = 1201 * 1201 * 2;  // 2,884,802
inline constexpr size_t kSrtm1Bytes = 3601 * 3601 * 2;  // 25,934,402

struct DecodedTile {
  std::string samples;  // kSrtm3Bytes: big-endian samples, rows north to south
  std::string kind;     // what it was, e.g. "gzip of an SRTM1 tile"
};

// Decodes the body saved in the file. squareName ("N42E041") picks the entry of a zip archive
// that holds several. Nothing when it is no tile; reason says why.
std::optional<DecodedTile> DecodeTileBody(const std::filesystem::path& body, const std::string& squareName,
                                          std::string* reason);

// "2,884,802"
std::string WithThousands(unsigned long long value);

}  // namespace halcyra::tiles
