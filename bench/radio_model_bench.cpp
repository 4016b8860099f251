// The radio model's costs on the voice path: the sight-line test and CalculateDBLost with tiles
// loaded (both run for every voice buffer of an audible talker), and loading one tile - SRTM3, and
// SRTM1 read on the SRTM3 grid - compared with reading the same file into memory with one plain
// read (goal: at most twice that).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "foundation/log.h"
#include "hgt_tile.h"
#include "platform/env.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

platform::Env& Env() { return platform::Env::Default(); }

// A folder with one flat tile N42E041, which holds both stations of the worked example: SRTM3, or
// SRTM1 (3601 x 3601 samples).
struct TileFolder {
  explicit TileFolder(int size) { testing::HgtTile(120, size).WriteTo(dir.path() / "N42E041.HGT"); }
  std::string Utf8() const { return platform::WideToUtf8(dir.path().wstring()); }
  std::wstring TilePath() const { return (dir.path() / "N42E041.HGT").wstring(); }
  testing::TempDir dir;
};

TileFolder& Folder() {
  static TileFolder folder(testing::HgtTile::kSize);
  return folder;
}

TileFolder& Srtm1Folder() {
  static TileFolder folder(testing::HgtTile::kSrtm1Size);
  return folder;
}

// A fresh store loads the tile at its first look-up and releases it when destroyed.
void LoadOneTile(benchmark::State& state, const TileFolder& tiles) {
  Clog log(Env());
  std::string folder = tiles.Utf8();
  for (auto _ : state) {
    CHGTFiles store(Env(), log);
    store.SetTileFolder(folder);
    benchmark::DoNotOptimize(store.GetElevationFromLL({42.5, 41.5, 0}));
  }
}

// The floor for loading: the same file read into a fresh buffer of its size in one read.
void PlainRead(benchmark::State& state, const TileFolder& tiles, size_t samples) {
  std::wstring path = tiles.TilePath();
  for (auto _ : state) {
    std::FILE* file = Env().OpenFile(path, "rb");
    std::unique_ptr<uint16_t[]> buffer(new uint16_t[samples]);
    benchmark::DoNotOptimize(std::fread(buffer.get(), sizeof(uint16_t), samples, file));
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.get());
  }
}

// 42.0 N 41.0 E at 10000 ft to 42.5 N 41.5 E at 4000 ft: 250 samples, all clear.
void BM_SightLineHalfDegreeTilesLoaded(benchmark::State& state) {
  Clog log(Env());
  CHGTFiles tiles(Env(), log);
  tiles.SetTileFolder(Folder().Utf8());
  tiles.GetElevationFromLL({42.5, 41.5, 0});
  for (auto _ : state) {
    LLAltPoint from{42.0, 41.0, 10000};
    benchmark::DoNotOptimize(tiles.CheckSightLineFromLLToLL(from, {42.5, 41.5, 4000}, 0.002));
  }
}
BENCHMARK(BM_SightLineHalfDegreeTilesLoaded);

void BM_CalculateDBLostInRangeTilesLoaded(benchmark::State& state) {
  Clog log(Env());
  CHGTFiles tiles(Env(), log);
  tiles.SetTileFolder(Folder().Utf8());
  CHalcyra model(log, tiles);
  model.Initialize();
  model.UpdateLocalStation([](StationRecord& local) {
    local.latitude = 42.0f;
    local.longitude = 41.0f;
    local.altitude = 10000.0f;
  });
  StationRecord remote;
  CopyText(remote.nickname, "Viper");
  CopyText(remote.frequency1, "251.000");
  CopyText(remote.activeMarks, "X__");
  remote.latitude = 42.5f;
  remote.longitude = 41.5f;
  remote.altitude = 4000.0f;
  model.AddOrUpdateStation(remote);
  tiles.GetElevationFromLL({42.5, 41.5, 0});
  for (auto _ : state) benchmark::DoNotOptimize(model.CalculateDBLost(remote, 1, 20.0f));
}
BENCHMARK(BM_CalculateDBLostInRangeTilesLoaded);

void BM_LoadOneTile(benchmark::State& state) { LoadOneTile(state, Folder()); }
BENCHMARK(BM_LoadOneTile)->Unit(benchmark::kMicrosecond);

void BM_PlainReadOfTheSameFile(benchmark::State& state) {
  PlainRead(state, Folder(), static_cast<size_t>(CHGTFiles::kTileSize) * CHGTFiles::kTileSize);
}
BENCHMARK(BM_PlainReadOfTheSameFile)->Unit(benchmark::kMicrosecond);

void BM_LoadOneSrtm1Tile(benchmark::State& state) { LoadOneTile(state, Srtm1Folder()); }
BENCHMARK(BM_LoadOneSrtm1Tile)->Unit(benchmark::kMicrosecond);

void BM_PlainReadOfTheSameSrtm1File(benchmark::State& state) {
  PlainRead(state, Srtm1Folder(),
            static_cast<size_t>(testing::HgtTile::kSrtm1Size) * testing::HgtTile::kSrtm1Size);
}
BENCHMARK(BM_PlainReadOfTheSameSrtm1File)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace halcyra
