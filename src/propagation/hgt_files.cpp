#include "propagation/hgt_files.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>

#include "foundation/format.h"
#include "platform/files.h"

namespace halcyra {
namespace {

constexpr size_t kSampleCount = static_cast<size_t>(CHGTFiles::kTileSize) * CHGTFiles::kTileSize;
// SRTM1 (1 arc-second) tiles: 3601 x 3601 samples. Every third sample of every third row lies on
// the SRTM3 grid, row 0 and column 0 included.
constexpr int kSrtm1Size = 3601;
constexpr int kSrtm1Step = 3;
constexpr long kSrtm1Bytes = static_cast<long>(kSrtm1Size) * kSrtm1Size * sizeof(uint16_t);  // 25,934,402
static_assert((kSrtm1Size - 1) / kSrtm1Step + 1 == CHGTFiles::kTileSize);
constexpr size_t kFileNameCapacity = 260;  // terminator included
constexpr double kFeetPerMetre = 3.28;
constexpr double kSameLongitudeNudge = 0.0000001;  // degrees
// Beyond this many degrees a coordinate names no tile (and would not fit a whole-degree int).
constexpr double kLargestCoordinate = 1000000.0;
// Sight lines are tested between positions on the globe only (longitudes get some slack).
constexpr double kLargestLatitude = 90.0;
constexpr double kLargestLongitude = 360.0;
constexpr double kMostSamples = 1000000.0;  // per sight line

constexpr char kLoadTag[] = "CHGTFiles::LoadMatrix";
constexpr char kSightTag[] = "CHGTFiles::CheckSightLineFromLLToLL";

// A tile keeps its samples as the file holds them (big-endian) so that loading is one plain read;
// a sample becomes an elevation when it is looked up: host order, and everything above the
// highest elevation (voids, negative values) reads as 0.
uint16_t ToElevation(uint16_t sample) {
  if constexpr (std::endian::native == std::endian::little) {
    sample = static_cast<uint16_t>((sample >> 8) | (sample << 8));
  }
  return sample > CHGTFiles::kMaximumElevation ? 0 : sample;
}

// floor() without a library call. The value must fit an int, which NamesATile and OnTheGlobe
// ensure.
int WholeDegree(double value) {
  int truncated = static_cast<int>(value);
  return truncated > value ? truncated - 1 : truncated;
}

// Row or column of a point inside its tile from the fraction of the degree that it covers (0..1),
// scaled by 1201. A whole-degree latitude gives row 1201, which lies on the tile's southern edge:
// row 1200 holds it. The column is kept inside too.
int TileIndex(double fraction) {
  int index = static_cast<int>(fraction * CHGTFiles::kTileSize);  // fraction >= 0: truncation floors
  if (index < 0) return 0;
  if (index > CHGTFiles::kTileSize - 1) return CHGTFiles::kTileSize - 1;
  return index;
}

// Index of the sample at the given fractions of the tile's degree, counted from its southern and
// western edges (0..1).
size_t SampleIndex(double northOfSouthEdge, double eastOfWestEdge) {
  int row = TileIndex(1.0 - northOfSouthEdge);
  int column = TileIndex(eastOfWestEdge);
  return static_cast<size_t>(row) * CHGTFiles::kTileSize + static_cast<size_t>(column);
}

// Every sample of a sight line between two points on the globe names a tile too.
bool OnTheGlobe(const LLAltPoint& point) {
  return std::fabs(point.latitude) <= kLargestLatitude && std::fabs(point.longitude) <= kLargestLongitude;
}

bool NamesATile(double latitude, double longitude) {
  return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) < kLargestCoordinate &&
         std::fabs(longitude) < kLargestCoordinate;
}

// "N42E041": the hemispheres and the whole degrees of the square's southern and western edges.
std::string SquareName(int latitude, int longitude) {
  return Format("%c%02d%c%03d", latitude >= 0 ? 'N' : 'S', std::abs(latitude), longitude >= 0 ? 'E' : 'W',
                std::abs(longitude));
}

double FlatDistance(double deltaLatitude, double deltaLongitude) {
  return std::sqrt(deltaLatitude * deltaLatitude + deltaLongitude * deltaLongitude);
}

}  // namespace

// The straight line from the from-point to the to-point in the latitude/longitude plane (longitude
// not scaled by latitude), walked along latitude when it is steeper than 1, else along longitude.
struct CHGTFiles::SightLine {
  SightLine(const LLAltPoint& a, const LLAltPoint& b)
      : from(a),
        to(b),
        slope((b.latitude - a.latitude) / (b.longitude - a.longitude)),
        alongLatitude(std::fabs(slope) > 1),
        start(alongLatitude ? a.latitude : a.longitude),
        end(alongLatitude ? b.latitude : b.longitude),
        length(FlatDistance(b.latitude - a.latitude, b.longitude - a.longitude)) {}

  double LatitudeAt(double t) const {
    return alongLatitude ? t : from.latitude + slope * (t - from.longitude);
  }
  double LongitudeAt(double t) const {
    return alongLatitude ? from.longitude + (t - from.latitude) / slope : t;
  }
  // Feet, interpolated by the flat distance from the from-point.
  double AltitudeAt(double latitude, double longitude) const {
    if (!(length > 0)) return from.altitude;
    double covered = FlatDistance(latitude - from.latitude, longitude - from.longitude);
    return from.altitude + (to.altitude - from.altitude) * covered / length;
  }

  LLAltPoint from;
  LLAltPoint to;
  double slope;
  bool alongLatitude;
  double start;  // coordinate of the from-point on the stepping axis
  double end;    // coordinate of the to-point on the stepping axis
  double length;
};

struct CHGTFiles::HGTMap {
  int latitude = 0;   // whole degree of the southern edge
  int longitude = 0;  // whole degree of the western edge
  // kTileSize x kTileSize samples as in the file (big-endian metres), row 0 = northern edge
  std::unique_ptr<uint16_t[]> matrix;
  std::atomic<HGTMap*> next{nullptr};  // set once, under tileLock_
};

CHGTFiles::CHGTFiles(platform::Env& env, Clog& log) : env_(env), log_(log), missingList_(env, log) {}

CHGTFiles::~CHGTFiles() {
  missingList_.Stop();
  ReleaseTiles();
}

void CHGTFiles::SetTileFolder(const std::string& folderUtf8) {
  ReportTileFolder(folderUtf8);
  platform::MutexLock lock(tileLock_);
  ReleaseTiles();
  hgtPath_ = folderUtf8;
  reportedBadFiles_.clear();
  reportedSquares_.clear();
}

void CHGTFiles::RecordMissingSquaresIn(const std::wstring& file) { missingList_.Start(file); }

// Without tiles the radios hear through mountains and nothing else tells: the start says so.
void CHGTFiles::ReportTileFolder(const std::string& folderUtf8) {
  constexpr char kTag[] = "CHGTFiles::SetTileFolder";
  constexpr char kNotMasked[] =
      ": terrain is not masked; halcyra-tiles --theatre NAME fetches the tiles of a theatre into it";
  if (folderUtf8.empty()) {
    LogNarrow(log_, kTag, "No elevation tile folder: terrain is not masked", 0);
    return;
  }
  std::optional<size_t> count =
      platform::CountFilesEndingWith(platform::PathFromWide(platform::Utf8ToWide(folderUtf8)), ".hgt");
  if (!count) {
    LogNarrow(log_, kTag, "Elevation tile folder " + folderUtf8 + " cannot be read" + kNotMasked, 0);
  } else {
    LogNarrow(log_, kTag,
              "Elevation tile folder " + folderUtf8 + " holds " + std::to_string(*count) +
                  " tiles (.hgt files)" + (*count == 0 ? kNotMasked : ""),
              0);
  }
}

int CHGTFiles::MapCount() const { return mapCount_.load(); }

void CHGTFiles::Terminate() {
  LogNarrow(log_, "CHGTFiles::Terminate", "", 2);
  missingList_.Stop();
  platform::MutexLock lock(tileLock_);
  ReleaseTiles();
  hgtPath_.clear();
  reportedBadFiles_.clear();
  reportedSquares_.clear();
}

void CHGTFiles::ReleaseTiles() {
  HGTMap* map = head_.exchange(nullptr);
  while (map != nullptr) {
    HGTMap* next = map->next.load();
    delete map;
    --mapCount_;
    map = next;
  }
}

CHGTFiles::HGTMap* CHGTFiles::FindLoaded(int latitude, int longitude) const {
  for (HGTMap* map = head_.load(std::memory_order_acquire); map != nullptr;
       map = map->next.load(std::memory_order_acquire)) {
    if (map->latitude == latitude && map->longitude == longitude) return map;
  }
  return nullptr;
}

// Runs for every sample of a sight-line test: only a change of tile leaves this path, and the
// test for the tile needs no conversion to whole degrees. The point must name a tile (NamesATile,
// or OnTheGlobe for the samples of a sight line).
inline uint16_t CHGTFiles::ElevationAt(double latitude, double longitude, TileCursor& cursor) {
  bool inside = cursor.map != nullptr && latitude >= cursor.south && latitude < cursor.south + 1 &&
                longitude >= cursor.west && longitude < cursor.west + 1;
  if (!inside) [[unlikely]] {
    if (cursor.missing && latitude >= cursor.missingSouth && latitude < cursor.missingSouth + 1 &&
        longitude >= cursor.missingWest && longitude < cursor.missingWest + 1) {
      return 0;
    }
    int tileLatitude = WholeDegree(latitude);
    int tileLongitude = WholeDegree(longitude);
    HGTMap* map = TileFor(tileLatitude, tileLongitude);
    if (map == nullptr) {
      // Missing or defective: 0 for the rest of this walk in that square, and tried again by the
      // next look-up. Re-reading a defective file for every sample would cost a whole file read
      // per sample, and the sight line runs for every voice block.
      cursor.missing = true;
      cursor.missingSouth = tileLatitude;
      cursor.missingWest = tileLongitude;
      return 0;
    }
    cursor = {map, static_cast<double>(tileLatitude), static_cast<double>(tileLongitude)};
  }
  return ToElevation(cursor.map->matrix[SampleIndex(latitude - cursor.south, longitude - cursor.west)]);
}

CHGTFiles::HGTMap* CHGTFiles::TileFor(int latitude, int longitude) {
  HGTMap* map = FindLoaded(latitude, longitude);
  return map != nullptr ? map : FindOrAddMap(latitude, longitude);
}

uint16_t CHGTFiles::GetElevationFromLL(const LLAltPoint& point) {
  if (!NamesATile(point.latitude, point.longitude)) return 0;
  TileCursor cursor;
  return ElevationAt(point.latitude, point.longitude, cursor);
}

// A miss is looked up again under the lock: another thread may have loaded the tile meanwhile.
CHGTFiles::HGTMap* CHGTFiles::FindOrAddMap(int latitude, int longitude) {
  platform::MutexLock lock(tileLock_);
  if (hgtPath_.empty()) return nullptr;  // no folder: no tiles (never files of the root folder)
  HGTMap* map = FindLoaded(latitude, longitude);
  return map != nullptr ? map : AddMap(latitude, longitude);
}

CHGTFiles::HGTMap* CHGTFiles::AddMap(int latitude, int longitude) {
  auto map = std::make_unique<HGTMap>();
  map->latitude = latitude;
  map->longitude = longitude;
  if (log_.Detailed()) {
    LogNarrow(log_, "CHGTFiles::AddMap",
              Format("Add Map for Lat : %d , Long : %d ", map->latitude, map->longitude), 4);
  }
  if (LoadMatrix(*map) != 1) return nullptr;

  HGTMap* added = map.release();
  HGTMap* tail = head_.load();
  if (tail == nullptr) {
    head_.store(added, std::memory_order_release);
  } else {
    while (HGTMap* next = tail->next.load()) tail = next;
    tail->next.store(added, std::memory_order_release);
  }
  ++mapCount_;
  return added;
}

std::string CHGTFiles::TileFileName(const HGTMap& map, bool* fits) const {
  char name[kFileNameCapacity];
  int length = std::snprintf(name, sizeof name, "%s%c%s.HGT", hgtPath_.c_str(), platform::PathSeparator(),
                             SquareName(map.latitude, map.longitude).c_str());
  *fits = length >= 0 && static_cast<size_t>(length) < sizeof name;
  return name;
}

int CHGTFiles::LoadMatrix(HGTMap& map) {
  bool fits = false;
  std::string fileName = TileFileName(map, &fits);
  LogTileLine("Try to load HGT Map for Lat: %d , Long: %d (%s)", map, fileName);
  if (!fits) {
    ReportBadFile(fileName, "HGT file name is longer than 259 characters, the tile is not loaded");
    LogTileLine("Can not load HGT Map for %d , %d (%s) !", map, fileName);
    return 0;
  }
  std::FILE* file = env_.OpenFile(platform::Utf8ToWide(fileName), "rb");
  if (file == nullptr && platform::PathSeparator() == '/') {
    // Tiles are often named in lower case ("N42E041.hgt"); Windows finds them either way, POSIX
    // file systems only under the name itself.
    std::string lowerSuffix = fileName.substr(0, fileName.size() - 4) + ".hgt";
    file = env_.OpenFile(platform::Utf8ToWide(lowerSuffix), "rb");
    if (file != nullptr) fileName = lowerSuffix;
  }
  if (file == nullptr) {
    LogTileLine("Can not load HGT Map for %d , %d (%s) !", map, fileName);
    NoteUnusableSquare(map, true);
    return 0;
  }
  bool srtm1 = false;
  const char* problem = ReadSamples(file, map, &srtm1);
  std::fclose(file);
  if (problem != nullptr) {
    map.matrix.reset();
    ReportBadFile(fileName, problem);
    NoteUnusableSquare(map, false);  // fetched again, the tile replaces the file
    LogTileLine("Can not load HGT Map for %d , %d (%s) !", map, fileName);
    return 0;
  }
  LogNarrow(log_, kLoadTag,
            Format(srtm1 ? "SRTM1 tile (3601 x 3601 samples, every third one used) loaded for %d , %d (%s)"
                         : "SRTM3 tile (1201 x 1201 samples) loaded for %d , %d (%s)",
                   map.latitude, map.longitude, fileName.c_str()),
            0);
  LogNarrow(log_, kLoadTag, "Matrix of map Loaded", 4);
  return 1;
}

// Fills the tile's matrix from the file: an SRTM3 file with one read, an SRTM1 file (recognised by
// its size) by taking every third sample of every third row. Returns null when loaded, else what is
// wrong with the file; nothing half-read is kept then.
const char* CHGTFiles::ReadSamples(std::FILE* file, HGTMap& map, bool* srtm1) {
  map.matrix.reset(new (std::nothrow) uint16_t[kSampleCount]);
  if (!map.matrix) return "Not enough memory for an HGT tile, the tile is not loaded";
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) size = -1;
  *srtm1 = size == kSrtm1Bytes;
  if (*srtm1) return ReadSrtm1Samples(file, map);
  if (std::fread(map.matrix.get(), sizeof(uint16_t), kSampleCount, file) != kSampleCount) {
    return "HGT file is shorter than 1201 x 1201 samples (2884802 bytes), the tile is not loaded";
  }
  if (std::fgetc(file) != EOF) {
    return "HGT file is longer than 1201 x 1201 samples (2884802 bytes) and is no 3601 x 3601 SRTM1 tile "
           "(25934402 bytes) either, the tile is not loaded";
  }
  return nullptr;
}

// Reads the SRTM1 file in runs of whole rows and keeps row 0, 3, 6 ... 3600 of it, and of each such
// row column 0, 3, 6 ... 3600: the samples of the SRTM3 grid, kept as the file holds them.
const char* CHGTFiles::ReadSrtm1Samples(std::FILE* file, HGTMap& map) {
  constexpr int kRowsPerRead = 3 * 32;
  constexpr size_t kRowSamples = kSrtm1Size;
  std::unique_ptr<uint16_t[]> rows(new (std::nothrow) uint16_t[kRowsPerRead * kRowSamples]);
  if (!rows) return "Not enough memory for an HGT tile, the tile is not loaded";
  uint16_t* out = map.matrix.get();
  for (int first = 0; first < kSrtm1Size; first += kRowsPerRead) {
    size_t count = static_cast<size_t>(std::min(kRowsPerRead, kSrtm1Size - first));
    if (std::fread(rows.get(), sizeof(uint16_t) * kRowSamples, count, file) != count) {
      return "HGT file is shorter than its size said (SRTM1, 25934402 bytes), the tile is not loaded";
    }
    for (size_t row = 0; row < count; row += kSrtm1Step) {
      const uint16_t* in = rows.get() + row * kRowSamples;
      for (size_t column = 0; column < kRowSamples; column += kSrtm1Step) *out++ = in[column];
    }
  }
  return nullptr;
}

void CHGTFiles::LogTileLine(const char* format, const HGTMap& map, const std::string& fileName) {
  if (!log_.Accepts(4)) return;
  LogNarrow(log_, kLoadTag, Format(format, map.latitude, map.longitude, fileName.c_str()), 4);
}

// A defective file is retried at every look-up like a missing one; its level 0 line is written
// once per file name, so a sight-line test does not flood the log with it.
void CHGTFiles::ReportBadFile(const std::string& fileName, const char* problem) {
  if (!reportedBadFiles_.insert(fileName).second) return;
  LogNarrow(log_, kLoadTag, Format("%s (%s)", problem, fileName.c_str()), 0);
}

// Once per square and session: the look-ups go on trying the file (it may be fetched meanwhile),
// and the list's writer thread does the file work, never the look-up. A defective file has its own
// line (ReportBadFile).
void CHGTFiles::NoteUnusableSquare(const HGTMap& map, bool fileMissing) {
  if (hgtPath_.empty()) return;  // the start said that there is no folder
  std::string name = SquareName(map.latitude, map.longitude);
  if (!reportedSquares_.insert(name).second) return;
  if (fileMissing) {
    LogNarrow(log_, kLoadTag,
              "No elevation tile " + name + " in " + hgtPath_ +
                  ": terrain there is not masked; halcyra-tiles --missing fetches it",
              0);
  }
  missingList_.Add(name);
}

int CHGTFiles::CheckSightLineFromLLToLL(LLAltPoint& from, const LLAltPoint& to, double sharpness) {
  if (to.longitude == from.longitude) from.longitude += kSameLongitudeNudge;
  if (log_.Detailed()) {
    LogNarrow(log_, kSightTag,
              Format("Check if Sight Line is cut by relief between (%f,%f,%f ft) and (%f,%f,%f ft). "
                     "Sharpness : %f",
                     from.latitude, from.longitude, from.altitude, to.latitude, to.longitude, to.altitude,
                     sharpness),
              4);
  }
  SightLine line(from, to);
  if (!CanWalk(line, sharpness)) return 0;
  int hidden = WalkSightLine(line, sharpness);
  if (log_.Detailed()) {
    LogNarrow(log_, kSightTag, hidden ? "Hidden : Sight Line is cut" : "Visible : Sight Line is clear", 4);
  }
  return hidden;
}

bool CHGTFiles::CanWalk(const SightLine& line, double sharpness) {
  if (!(sharpness > 0) || !std::isfinite(sharpness)) {
    LogNarrow(log_, kSightTag, Format("Sight line step %f is not a positive number of degrees", sharpness),
              0);
    return false;
  }
  if (!OnTheGlobe(line.from) || !OnTheGlobe(line.to)) {
    LogNarrow(log_, kSightTag, "Sight line ends off the globe: no terrain between them", 4);
    return false;
  }
  if (std::fabs(line.end - line.start) / sharpness > kMostSamples) {
    LogNarrow(log_, kSightTag, Format("Sight line step %f is too fine for the distance", sharpness), 0);
    return false;
  }
  return true;
}

// Examines the samples from the start (the from-point itself) towards the end, which is never
// examined; 1 at the first sample whose terrain rises above the line.
int CHGTFiles::WalkSightLine(const SightLine& path, double sharpness) {
  const SightLine line = path;  // a copy of its own stays in registers across the tile loads
  if (line.end == line.start) return 0;
  double step = line.end > line.start ? sharpness : -sharpness;
  TileCursor cursor;
  double t = line.start;
  do {
    double latitude = line.LatitudeAt(t);
    double longitude = line.LongitudeAt(t);
    int terrainFeet = static_cast<int>(ElevationAt(latitude, longitude, cursor) * kFeetPerMetre);
    if (terrainFeet > line.AltitudeAt(latitude, longitude)) return 1;
    t += step;
  } while (step > 0 ? t < line.end : t > line.end);
  return 0;
}

}  // namespace halcyra
