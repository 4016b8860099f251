// CHGTFiles, the elevation tile store, and the sight-line test over it.
//
// Tiles are SRTM3 ".HGT" files: 1201 x 1201 big-endian 16-bit samples in metres, rows from north to
// south, one file per whole-degree square, named like N42E041.HGT. SRTM1 files of the same name
// (3601 x 3601 samples, 1 arc-second) are read at SRTM3 resolution: every third sample of every
// third row. A tile is loaded the first time a position inside it is asked for and kept until
// Terminate. Samples above 8900 m (voids, negative values) read as 0.
//
// At start SetTileFolder says in one level 0 line which folder the tiles come from and how many it
// holds. A square whose file is missing gets one level 0 line per session naming it, and its name
// goes to the missing tile list (RecordMissingSquaresIn), as does a square whose file is defective.
//
// Guarding: tileLock_ is held from the list walk through the load to the append, so a tile is
// loaded once and mapCount stays exact; tiles already loaded are found without the lock (the list
// only grows until Terminate, which runs after every user thread has stopped). A load is logged
// and a missing square queued with tileLock_ held, so tileLock_ comes before the log's locks (Clog)
// and the missing tile list's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "foundation/log.h"
#include "foundation/tile_folder_sink.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "propagation/missing_tile_list.h"

namespace halcyra {

// A point of the sight-line test: degrees, degrees, feet.
struct LLAltPoint {
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
};

class CHGTFiles : public TileFolderSink {
 public:
  static constexpr int kTileSize = 1201;               // samples per row and per column
  static constexpr uint16_t kMaximumElevation = 8900;  // metres; higher samples read as 0

  CHGTFiles(platform::Env& env, Clog& log);
  ~CHGTFiles() override;

  // Sets the folder (UTF-8; empty = no tiles), forgets every loaded tile and logs what the folder
  // holds. Called at start only.
  void SetTileFolder(const std::string& folderUtf8) override EXCLUDES(tileLock_);
  // From now on the squares without a usable tile are recorded in this file (missing-tiles.txt,
  // a full path) until Terminate. Called at start, before any look-up.
  void RecordMissingSquaresIn(const std::wstring& file);

  // Terrain elevation in metres (0..8900) at the point; 0 when no tile can be had there.
  uint16_t GetElevationFromLL(const LLAltPoint& point) EXCLUDES(tileLock_);
  // 1 when terrain rises above the straight line from `from` to `to` (hidden), 0 when clear.
  // sharpness is the step in degrees between samples. May nudge from.longitude by 1e-7.
  int CheckSightLineFromLLToLL(LLAltPoint& from, const LLAltPoint& to, double sharpness) EXCLUDES(tileLock_);

  int MapCount() const;
  // Logs "CHGTFiles::Terminate" (level 2) and releases every tile and the folder.
  void Terminate() EXCLUDES(tileLock_);

 private:
  struct HGTMap;
  struct SightLine;
  bool CanWalk(const SightLine& line, double sharpness);  // logs why not
  int WalkSightLine(const SightLine& path, double sharpness) EXCLUDES(tileLock_);
  // The tile used last, tried first (a sight-line test mostly stays inside one tile), and the last
  // square whose tile could not be had: a walk does not try that file again for its next samples.
  struct TileCursor {
    HGTMap* map = nullptr;
    double south = 0;  // whole degrees of the tile's edges
    double west = 0;
    bool missing = false;
    double missingSouth = 0;
    double missingWest = 0;
  };
  uint16_t ElevationAt(double latitude, double longitude, TileCursor& cursor) EXCLUDES(tileLock_);
  // Loaded, or loaded now; null when not loadable.
  HGTMap* TileFor(int latitude, int longitude) EXCLUDES(tileLock_);
  HGTMap* FindLoaded(int latitude, int longitude) const;
  // Tiles are named by the whole degrees of their southern and western edges.
  HGTMap* FindOrAddMap(int latitude, int longitude) EXCLUDES(tileLock_);
  HGTMap* AddMap(int latitude, int longitude) REQUIRES(tileLock_);
  int LoadMatrix(HGTMap& map) REQUIRES(tileLock_);
  std::string TileFileName(const HGTMap& map, bool* fits) const REQUIRES(tileLock_);
  const char* ReadSamples(std::FILE* file, HGTMap& map, bool* srtm1);
  const char* ReadSrtm1Samples(std::FILE* file, HGTMap& map);
  void LogTileLine(const char* format, const HGTMap& map, const std::string& fileName);
  void ReportBadFile(const std::string& fileName, const char* problem) REQUIRES(tileLock_);
  void NoteUnusableSquare(const HGTMap& map, bool fileMissing) REQUIRES(tileLock_);
  void ReportTileFolder(const std::string& folderUtf8);
  void ReleaseTiles() REQUIRES(tileLock_);  // or by the destructor

  platform::Env& env_;
  Clog& log_;
  platform::Mutex tileLock_;                   // serialises look-up misses, loads and appends
  std::string hgtPath_ GUARDED_BY(tileLock_);  // set at start
  std::atomic<HGTMap*> head_{nullptr};         // loaded tiles, in load order; appended under tileLock_
  std::atomic<int> mapCount_{0};
  std::set<std::string> reportedBadFiles_ GUARDED_BY(tileLock_);  // defective files already logged
  std::set<std::string> reportedSquares_ GUARDED_BY(tileLock_);   // squares noted as unusable
  MissingTileList missingList_;
};

}  // namespace halcyra
