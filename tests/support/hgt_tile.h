// Writes elevation tiles for tests: 1201 x 1201 (SRTM3) or 3601 x 3601 (SRTM1) big-endian 16-bit
// samples, rows north to south.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace halcyra::testing {

class HgtTile {
 public:
  static constexpr int kSize = 1201;
  static constexpr int kSrtm1Size = 3601;

  // Every sample holds `fill` (a raw 16-bit value, as stored in the file); size samples a side.
  explicit HgtTile(uint16_t fill = 0, int size = kSize)
      : size_(size), samples_(static_cast<size_t>(size) * size, fill) {}

  HgtTile& Set(int row, int column, uint16_t raw) {
    samples_[static_cast<size_t>(row) * size_ + column] = raw;
    return *this;
  }

  std::string Bytes() const {
    std::string bytes(samples_.size() * 2, '\0');
    for (size_t i = 0; i < samples_.size(); ++i) {
      bytes[2 * i] = static_cast<char>(samples_[i] >> 8);
      bytes[2 * i + 1] = static_cast<char>(samples_[i] & 0xFF);
    }
    return bytes;
  }

  void WriteTo(const std::filesystem::path& file) const { WriteFile(file, Bytes()); }

 private:
  int size_;
  std::vector<uint16_t> samples_;
};

// A latitude inside row `row` of the tile whose southern edge is `tileLatitude`, and a longitude
// inside column `column` of the tile whose western edge is `tileLongitude` (sample centres).
inline double LatitudeOfRow(int tileLatitude, int row) {
  return tileLatitude + 1.0 - (row + 0.5) / HgtTile::kSize;
}
inline double LongitudeOfColumn(int tileLongitude, int column) {
  return tileLongitude + (column + 0.5) / HgtTile::kSize;
}

}  // namespace halcyra::testing
