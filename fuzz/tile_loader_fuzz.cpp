// The elevation tile loader: CHGTFiles reads N42E041.HGT from a temporary folder whose file has
// any size and content the input describes (or is a folder, or is missing). Input: a mode byte, a
// 32-bit size parameter, then a byte pattern repeated over the whole file. Only a file of exactly
// 1201 x 1201 samples loads; its samples read back as written (0 above 8900 m), and every other
// file gives elevation 0 and no tile. Sight lines above the highest terrain stay clear and lines
// below the ground are hidden, whatever the file held.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz_support.h"
#include "hgt_tile.h"
#include "propagation/hgt_files.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

constexpr size_t kTileBytes = static_cast<size_t>(CHGTFiles::kTileSize) * CHGTFiles::kTileSize * 2;

enum Mode { kExact, kShort, kLong, kSmall, kFolder, kMissing, kModeCount };

std::string FileOfSize(size_t size, const uint8_t* pattern, size_t patternSize) {
  std::string bytes(size, '\0');
  if (patternSize == 0) return bytes;
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(pattern[i % patternSize]);
  return bytes;
}

uint16_t ExpectedElevation(const std::string& bytes, int row, int column) {
  size_t offset = (static_cast<size_t>(row) * CHGTFiles::kTileSize + column) * 2;
  uint16_t sample = static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) << 8 |
                                          static_cast<uint8_t>(bytes[offset + 1]));
  return sample > CHGTFiles::kMaximumElevation ? 0 : sample;
}

}  // namespace
}  // namespace halcyra

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace halcyra;
  // The folder lives for one input only, so a fuzzer run that ends without destructors leaves
  // nothing behind.
  testing::TempDir folder;
  static std::unique_ptr<Clog> log = fuzzing::DetailedNullLog();
  if (size < 5) return 0;
  Mode mode = static_cast<Mode>(data[0] % kModeCount);
  uint32_t parameter = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                       static_cast<uint32_t>(data[3]) << 16 | static_cast<uint32_t>(data[4]) << 24;
  const uint8_t* pattern = data + 5;
  size_t patternSize = size - 5;

  std::filesystem::path file = folder.path() / "N42E041.HGT";
  std::error_code error;
  std::string bytes;
  switch (mode) {
    case kExact:
      bytes = FileOfSize(kTileBytes, pattern, patternSize);
      break;
    case kShort:
      bytes = FileOfSize(kTileBytes - 1 - parameter % 4096, pattern, patternSize);
      break;
    case kLong:
      bytes = FileOfSize(kTileBytes + 1 + parameter % 4096, pattern, patternSize);
      break;
    case kSmall:
      bytes = FileOfSize(parameter % 65536, pattern, patternSize);
      break;
    case kFolder:
      std::filesystem::create_directory(file, error);
      break;
    case kMissing:
    case kModeCount:
      break;
  }
  if (mode == kExact || mode == kShort || mode == kLong || mode == kSmall) testing::WriteFile(file, bytes);

  CHGTFiles tiles(platform::Env::Default(), *log);
  tiles.SetTileFolder(platform::WideToUtf8(folder.path().wstring()));
  bool loads = mode == kExact;
  for (int probe = 0; probe < 3; ++probe) {
    uint32_t mixed = parameter * 2654435761u + static_cast<uint32_t>(probe) * 40503u;
    int row = static_cast<int>(mixed % CHGTFiles::kTileSize);
    int column = static_cast<int>((mixed / CHGTFiles::kTileSize) % CHGTFiles::kTileSize);
    LLAltPoint point{testing::LatitudeOfRow(42, row), testing::LongitudeOfColumn(41, column), 0};
    uint16_t elevation = tiles.GetElevationFromLL(point);
    FUZZ_CHECK(elevation == (loads ? ExpectedElevation(bytes, row, column) : 0));
  }
  FUZZ_CHECK(tiles.MapCount() == (loads ? 1 : 0));
  FUZZ_CHECK(tiles.GetElevationFromLL({43.5, 41.5, 0}) == 0);  // no file for that square

  constexpr double kAboveEverything = 8900 * 3.28 + 1;
  LLAltPoint high{42.1, 41.05, kAboveEverything};
  FUZZ_CHECK(tiles.CheckSightLineFromLLToLL(high, {42.9, 41.95, kAboveEverything}, 0.002) == 0);
  LLAltPoint underground{42.1, 41.05, -1};
  FUZZ_CHECK(tiles.CheckSightLineFromLLToLL(underground, {42.9, 41.95, -1}, 0.002) == 1);
  FUZZ_CHECK(tiles.MapCount() == (loads ? 1 : 0));
  return 0;
}
