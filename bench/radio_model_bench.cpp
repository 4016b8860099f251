// The radio model's costs on the voice path: the sight-line test and CalculateDBLost with tiles
// loaded (both run for every voice buffer of an audible talker), and loading one tile compared with
// reading the same file into memory with one plain read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "hgt_tile.h"
#include "platform/env.h"
#include "plugin/log.h"
#include "propagation/hgt_files.h"
#include "station/halcyra.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

// A folder with one flat tile N42E041, which holds both stations of the worked example.
struct TileFolder {
  TileFolder() { testing::HgtTile(120).WriteTo(dir.path() / "N42E041.HGT"); }
  std::string Utf8() const { return platform::WideToUtf8(dir.path().wstring()); }
  std::wstring TilePath() const { return (dir.path() / "N42E041.HGT").wstring(); }
  testing::TempDir dir;
};

TileFolder& Folder() {
  static TileFolder folder;
  return folder;
}

platform::Env& Env() { return platform::Env::Default(); }

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

// A fresh store loads the tile at its first look-up and releases it when destroyed.
void BM_LoadOneTile(benchmark::State& state) {
  Clog log(Env());
  std::string folder = Folder().Utf8();
  for (auto _ : state) {
    CHGTFiles tiles(Env(), log);
    tiles.SetTileFolder(folder);
    benchmark::DoNotOptimize(tiles.GetElevationFromLL({42.5, 41.5, 0}));
  }
}
BENCHMARK(BM_LoadOneTile)->Unit(benchmark::kMicrosecond);

// The floor for loading: the same file read into a fresh buffer of the same size in one read.
void BM_PlainReadOfTheSameFile(benchmark::State& state) {
  constexpr size_t kSamples = static_cast<size_t>(CHGTFiles::kTileSize) * CHGTFiles::kTileSize;
  std::wstring path = Folder().TilePath();
  for (auto _ : state) {
    std::FILE* file = Env().OpenFile(path, "rb");
    std::unique_ptr<uint16_t[]> buffer(new uint16_t[kSamples]);
    benchmark::DoNotOptimize(std::fread(buffer.get(), sizeof(uint16_t), kSamples, file));
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.get());
  }
}
BENCHMARK(BM_PlainReadOfTheSameFile)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace halcyra

