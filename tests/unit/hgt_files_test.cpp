#include "propagation/hgt_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "propagation_fixture.h"

namespace halcyra::testing {
namespace {

using TileStoreTest = PropagationTest;
using SightLineTest = PropagationTest;

std::string InFolder(const std::string& folder, const char* name) {
  return folder + platform::PathSeparator() + name;
}

TEST_F(TileStoreTest, FirstLookupLoadsTheTileOnceAndLaterLookupsStayInMemory) {
  HgtTile().Set(360, 360, 1234).Set(0, 0, 42).WriteTo(TilePath("N42E041.HGT"));
  EXPECT_EQ(1234, tiles_.GetElevationFromLL({42.7, 41.3, 0}));
  EXPECT_EQ(1, tiles_.MapCount());

  std::filesystem::remove(TilePath("N42E041.HGT"));
  EXPECT_EQ(1234, tiles_.GetElevationFromLL({42.7, 41.3, 0}));
  EXPECT_EQ(42, tiles_.GetElevationFromLL({LatitudeOfRow(42, 0), LongitudeOfColumn(41, 0), 0}));
  EXPECT_EQ(1u, env_.Opened().size());
  EXPECT_EQ(1, tiles_.MapCount());
}

// Downloaded tiles are often named in lower case; Windows opens them by either name.
TEST_F(TileStoreTest, TileNamedInLowerCaseLoads) {
  HgtTile(321).WriteTo(TilePath("N42E041.hgt"));
  EXPECT_EQ(321, tiles_.GetElevationFromLL({42.7, 41.3, 0}));
  EXPECT_EQ(1, tiles_.MapCount());
}

TEST_F(TileStoreTest, MissingFileGivesZeroAndIsTriedAgainAtTheNextLookup) {
  EXPECT_EQ(0, tiles_.GetElevationFromLL({42.7, 41.3, 0}));
  EXPECT_EQ(0, tiles_.MapCount());
  HgtTile(500).WriteTo(TilePath("N42E041.HGT"));
  EXPECT_EQ(500, tiles_.GetElevationFromLL({42.7, 41.3, 0}));
  EXPECT_EQ(2u, env_.Opened().size());
  EXPECT_EQ(1, tiles_.MapCount());
}

TEST_F(TileStoreTest, FileNamesCarryHemispheresAndWholeDegrees) {
  tiles_.GetElevationFromLL({0.5, -0.5, 0});
  tiles_.GetElevationFromLL({-0.2, 0.2, 0});
  tiles_.GetElevationFromLL({-4.3, -115.2, 0});
  tiles_.GetElevationFromLL({42.7, 41.3, 0});
  std::vector<std::string> expected;
  for (const char* name : {"N00W001.HGT", "S01E000.HGT", "S05W116.HGT", "N42E041.HGT"}) {
    expected.push_back(InFolder(Folder(), name));
  }
  EXPECT_EQ(expected, env_.Opened());
}

TEST_F(TileStoreTest, SamplesAboveTheHighestElevationReadZero) {
  HgtTile()
      .Set(0, 0, 0x8000)
      .Set(0, 1, 0xFFFF)
      .Set(0, 2, 9000)
      .Set(0, 3, 8900)
      .Set(0, 4, 8901)
      .WriteTo(TilePath("N42E041.HGT"));
  auto at = [&](int column) {
    return tiles_.GetElevationFromLL({LatitudeOfRow(42, 0), LongitudeOfColumn(41, column), 0});
  };
  EXPECT_EQ(0, at(0));
  EXPECT_EQ(0, at(1));
  EXPECT_EQ(0, at(2));
  EXPECT_EQ(8900, at(3));
  EXPECT_EQ(0, at(4));
}

TEST_F(TileStoreTest, WholeDegreeLatitudeReadsTheSouthernEdgeRow) {
  HgtTile().Set(1200, 0, 777).Set(1200, 1200, 888).WriteTo(TilePath("N42E041.HGT"));
  EXPECT_EQ(777, tiles_.GetElevationFromLL({42.0, 41.0, 0}));
  EXPECT_EQ(888, tiles_.GetElevationFromLL({42.0, 41.99999999999999, 0}));
}

TEST_F(TileStoreTest, ShortOrOversizedFileIsNotLoadableAndSaysWhy) {
  StartLog(0);
  std::string bytes = HgtTile(100).Bytes();
  WriteFile(TilePath("N42E041.HGT"), bytes.substr(0, bytes.size() - 2));
  WriteFile(TilePath("N43E041.HGT"), bytes + "xx");
  EXPECT_EQ(0, tiles_.GetElevationFromLL({42.5, 41.5, 0}));
  EXPECT_EQ(0, tiles_.GetElevationFromLL({42.6, 41.5, 0}));
  EXPECT_EQ(0, tiles_.GetElevationFromLL({43.5, 41.5, 0}));
  EXPECT_EQ(0, tiles_.MapCount());
  EXPECT_EQ(3u, env_.Opened().size());

  auto lines = LogLines();
  ASSERT_EQ(3u, lines.size());  // set-up line and one line per defective file
  EXPECT_NE(std::string::npos, lines[1].find("shorter than 1201 x 1201 samples"));
  EXPECT_NE(std::string::npos, lines[1].find("N42E041.HGT"));
  EXPECT_NE(std::string::npos, lines[2].find("longer than 1201 x 1201 samples"));
}

// A sight line samples its squares hundreds of times for every voice block: a square whose file is
// missing or defective is tried once per walk, not once per sample, and again at the next walk.
TEST_F(TileStoreTest, SightLineTriesAnUnloadableSquareOncePerWalk) {
  std::string bytes = HgtTile(100).Bytes();
  WriteFile(TilePath("N42E041.HGT"), bytes + "xx");
  for (int walk = 1; walk <= 2; ++walk) {
    LLAltPoint from{42.1, 41.1, 10};
    EXPECT_EQ(0, tiles_.CheckSightLineFromLLToLL(from, {42.9, 41.9, 10}, 0.002));
    EXPECT_EQ(static_cast<size_t>(walk), env_.Opened().size());
  }
  // A walk across two squares without files tries each of them once.
  LLAltPoint from{43.5, 40.9, 10};
  EXPECT_EQ(0, tiles_.CheckSightLineFromLLToLL(from, {43.5, 41.2, 10}, 0.002));
  EXPECT_EQ(4u, env_.Opened().size());
  EXPECT_EQ(0, tiles_.MapCount());
}

TEST_F(TileStoreTest, FolderTooLongForAFileNameIsLikeAMissingFile) {
  tiles_.SetTileFolder(std::string(250, 'a'));
  EXPECT_EQ(0, tiles_.GetElevationFromLL({42.7, 41.3, 0}));
  EXPECT_TRUE(env_.Opened().empty());
}

TEST_F(TileStoreTest, LoadAndFailureLinesInOrder) {
  StartLog(4);
  HgtTile().WriteTo(TilePath("N42E041.HGT"));
  tiles_.GetElevationFromLL({42.7, 41.3, 0});
  tiles_.GetElevationFromLL({-0.2, -0.2, 0});
  std::string file = InFolder(Folder(), "N42E041.HGT");
  std::string missing = InFolder(Folder(), "S01W001.HGT");
  auto lines = LogLines();
  ASSERT_EQ(9u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("CHGTFiles::AddMap : Add Map for Lat : 42 , Long : 41 "));
  EXPECT_NE(
      std::string::npos,
      lines[2].find("CHGTFiles::LoadMatrix : Try to load HGT Map for Lat: 42 , Long: 41 (" + file + ")"));
  EXPECT_NE(std::string::npos,
            lines[3].find("CHGTFiles::LoadMatrix : SRTM3 tile (1201 x 1201 samples) loaded for 42 , 41 (" +
                          file + ")"));
  EXPECT_NE(std::string::npos, lines[4].find("CHGTFiles::LoadMatrix : Matrix of map Loaded"));
  EXPECT_NE(std::string::npos, lines[5].find("Add Map for Lat : -1 , Long : -1 "));
  EXPECT_NE(std::string::npos,
            lines[7].find("CHGTFiles::LoadMatrix : Can not load HGT Map for -1 , -1 (" + missing + ") !"));
  EXPECT_NE(std::string::npos,
            lines[8].find("CHGTFiles::LoadMatrix : No elevation tile S01W001 in " + Folder() +
                          ": terrain there is not masked; halcyra-tiles --missing fetches it"));
}

// The start names the folder and its tiles. A square without a file is named once a session in the
// log and once ever in missing-tiles.txt, whatever the look-ups and the list held before; a
// defective file's square is listed too (fetching it again replaces the file).
TEST_F(TileStoreTest, StartCountsTheTilesAndMissingSquaresAreNamedOnce) {
  StartLog(0);
  HgtTile().WriteTo(TilePath("N44E041.hgt"));
  WriteFile(TilePath("N45E041.HGT"), "short");
  WriteFile(TilePath("readme.txt"), "");
  tiles_.SetTileFolder(Folder());
  TempDir halcyra;
  std::filesystem::path list = halcyra / "missing-tiles.txt";
  WriteFile(list, "N40E040\r\n  N43E041");  // by an earlier session on Windows, no final line break
  tiles_.RecordMissingSquaresIn(list.wstring());

  for (int walk = 0; walk < 3; ++walk) {
    LLAltPoint from{42.5, 40.9, 10};
    tiles_.CheckSightLineFromLLToLL(from, {42.5, 41.2, 10}, 0.002);  // N42E040 and N42E041
  }
  tiles_.GetElevationFromLL({43.5, 41.5, 0});
  tiles_.GetElevationFromLL({45.5, 41.5, 0});
  tiles_.GetElevationFromLL({45.6, 41.5, 0});
  tiles_.Terminate();

  auto lines = LogLines();
  auto count = [&](const std::string& text) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.find(text) != std::string::npos; });
  };
  EXPECT_EQ(1, count("CHGTFiles::SetTileFolder : Elevation tile folder " + Folder() +
                     " holds 2 tiles (.hgt files)"));
  EXPECT_EQ(1, count("No elevation tile N42E040 in " + Folder()));
  EXPECT_EQ(1, count("No elevation tile N42E041 in " + Folder()));
  EXPECT_EQ(1, count("No elevation tile N43E041"));
  EXPECT_EQ(0, count("No elevation tile N45E041"));
  std::string text = ReadFile(list);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ("N40E040\n  N43E041\nN42E040\nN42E041\nN45E041\n", text);

  std::string absent = InFolder(Folder(), "absent");
  tiles_.SetTileFolder(absent);
  tiles_.SetTileFolder("");
  lines = LogLines();
  EXPECT_EQ(1, count("Elevation tile folder " + absent +
                     " cannot be read: terrain is not masked; halcyra-tiles --theatre NAME fetches"));
  EXPECT_EQ(1, count("No elevation tile folder: terrain is not masked"));
}

// Most elevation data handed out today is SRTM1 (1 arc-second, 3601 x 3601 samples): every third
// sample of every third row lies on the 1201 x 1201 grid and is what the tile holds.
TEST_F(TileStoreTest, Srtm1TileIsReadOnTheSrtm3Grid) {
  StartLog(0);
  auto onGrid = [](int row, int column) { return static_cast<uint16_t>(1 + (row * 7 + column * 3) % 8000); };
  HgtTile srtm1(8500, HgtTile::kSrtm1Size);  // the samples between the grid points must not be used
  for (int row = 0; row < HgtTile::kSize; ++row) {
    for (int column = 0; column < HgtTile::kSize; ++column)
      srtm1.Set(row * 3, column * 3, onGrid(row, column));
  }
  const std::string bytes = srtm1.Bytes();
  ASSERT_EQ(25934402u, bytes.size());
  WriteFile(TilePath("N42E041.HGT"), bytes);
  for (auto [row, column] :
       {std::pair{0, 0}, {0, 1200}, {1200, 0}, {1200, 1200}, {600, 601}, {1, 2}, {1199, 3}}) {
    EXPECT_EQ(onGrid(row, column),
              tiles_.GetElevationFromLL({LatitudeOfRow(42, row), LongitudeOfColumn(41, column), 0}))
        << row << " " << column;
  }
  EXPECT_EQ(1, tiles_.MapCount());
  auto lines = LogLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos,
            lines[1].find("CHGTFiles::LoadMatrix : SRTM1 tile (3601 x 3601 samples, every third one used) "
                          "loaded for 42 , 41 (" +
                          InFolder(Folder(), "N42E041.HGT") + ")"))
      << lines[1];

  // One sample short of an SRTM1 tile is neither kind.
  WriteFile(TilePath("N43E041.HGT"), bytes.substr(0, bytes.size() - 2));
  EXPECT_EQ(0, tiles_.GetElevationFromLL({43.5, 41.5, 0}));
  EXPECT_EQ(1, tiles_.MapCount());
}

TEST_F(TileStoreTest, ConcurrentFirstLookupsLoadTheTileOnce) {
  HgtTile(321).WriteTo(TilePath("N42E041.HGT"));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int j = 0; j < 50; ++j) {
        if (tiles_.GetElevationFromLL({42.5, 41.5, 0}) != 321) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(1, tiles_.MapCount());
  EXPECT_EQ(1u, env_.Opened().size());
}

TEST_F(TileStoreTest, SetTileFolderAndTerminateForgetLoadedTiles) {
  HgtTile().WriteTo(TilePath("N42E041.HGT"));
  tiles_.GetElevationFromLL({42.7, 41.3, 0});
  tiles_.SetTileFolder(Folder());
  EXPECT_EQ(0, tiles_.MapCount());
  tiles_.GetElevationFromLL({42.7, 41.3, 0});
  EXPECT_EQ(1, tiles_.MapCount());
  tiles_.Terminate();
  EXPECT_EQ(0, tiles_.MapCount());
  EXPECT_EQ(0, tiles_.GetElevationFromLL({42.7, 41.3, 0}));  // no folder any more
}

// The worked example: A (42.0, 41.0, 10000 ft) to B (42.5, 41.5, 4000 ft) steps along longitude;
// the sample at longitude 41.2 (row 960, column 240) has a line altitude of about 7600 ft.
TEST_F(SightLineTest, TerrainJustAboveTheLineHidesJustBelowDoesNot) {
  for (uint16_t metres : {2317, 2318}) {
    HgtTile().Set(960, 240, metres).WriteTo(TilePath("N42E041.HGT"));
    CHGTFiles tiles(env_, log_);
    tiles.SetTileFolder(Folder());
    LLAltPoint from{42.0, 41.0, 10000};
    EXPECT_EQ(metres == 2318 ? 1 : 0, tiles.CheckSightLineFromLLToLL(from, {42.5, 41.5, 4000}, 0.002))
        << metres;
  }
}

// The first sample is the local station's own position, where the line is at its altitude exactly.
// Terrain of 3049 m is 10000 ft (3049 x 3.28 = 10000.72; with 3.2808 it would be 10003): equal to a
// line at 10000 ft it does not cut, one foot above a line at 9999 ft it does.
TEST_F(SightLineTest, TerrainEqualToTheLineInWholeFeetDoesNotCutOneFootMoreDoes) {
  HgtTile().Set(600, 600, 3049).WriteTo(TilePath("N42E041.HGT"));
  double latitude = LatitudeOfRow(42, 600);
  double longitude = LongitudeOfColumn(41, 600);
  LLAltPoint level{latitude, longitude, 10000};
  EXPECT_EQ(0, tiles_.CheckSightLineFromLLToLL(level, {latitude + 0.3, longitude + 0.4, 20000}, 0.002));
  LLAltPoint footLower{latitude, longitude, 9999};
  EXPECT_EQ(1, tiles_.CheckSightLineFromLLToLL(footLower, {latitude + 0.3, longitude + 0.4, 20000}, 0.002));
}

// The remote station's own position is never examined: a peak in its cell alone, higher than both
// stations, hides nothing. The remote lies just inside the western edge of its column, so every
// sample before it falls into an earlier column.
TEST_F(SightLineTest, TheRemotePositionItselfIsNeverExamined) {
  HgtTile().Set(600, 900, 8900).WriteTo(TilePath("N42E041.HGT"));
  double latitude = LatitudeOfRow(42, 600);
  double remoteLongitude = 41.0 + 900.0 / HgtTile::kSize + 1e-9;
  ASSERT_EQ(8900, tiles_.GetElevationFromLL({latitude, remoteLongitude, 0}));
  LLAltPoint from{latitude, 41.1, 100};
  EXPECT_EQ(0, tiles_.CheckSightLineFromLLToLL(from, {latitude, remoteLongitude, 100}, 0.002));
  // The same peak one sample short of the remote does hide him.
  LLAltPoint beyond{latitude, 41.1, 100};
  EXPECT_EQ(1, tiles_.CheckSightLineFromLLToLL(beyond, {latitude, remoteLongitude + 0.01, 100}, 0.002));
}

TEST_F(SightLineTest, SameLongitudeStepsAlongLatitude) {
  // Column 600 holds longitude 41.5; the sample at latitude 42.2 (row 960) is the one that cuts.
  HgtTile().Set(960, 600, 2318).WriteTo(TilePath("N42E041.HGT"));
  LLAltPoint from{42.0, 41.5, 10000};
  EXPECT_EQ(1, tiles_.CheckSightLineFromLLToLL(from, {42.5, 41.5, 4000}, 0.002));
  EXPECT_DOUBLE_EQ(41.5 + 1e-7, from.longitude);
}

TEST_F(SightLineTest, StationsAtOnePositionExamineOnlyThatPosition) {
  // One step west of A lies column 598: high terrain there would hide B if it were examined.
  HgtTile().Set(600, 600, 100).Set(600, 598, 8000).Set(600, 599, 8000).WriteTo(TilePath("N42E041.HGT"));
  double latitude = LatitudeOfRow(42, 600);
  double longitude = LongitudeOfColumn(41, 600);
  LLAltPoint low{latitude, longitude, 300};  // below 328 ft of terrain
  EXPECT_EQ(1, tiles_.CheckSightLineFromLLToLL(low, {latitude, longitude, 300}, 0.002));
  LLAltPoint high{latitude, longitude, 400};
  EXPECT_EQ(0, tiles_.CheckSightLineFromLLToLL(high, {latitude, longitude, 400}, 0.002));
}

// Terrain that would hide everything: none of these may hang, crash or claim to see it.
TEST_F(SightLineTest, UnusableStepsOrPositionsEndTheTestAsClear) {
  HgtTile(8900).WriteTo(TilePath("N42E041.HGT"));
  auto check = [&](LLAltPoint from, LLAltPoint to, double step) {
    return tiles_.CheckSightLineFromLLToLL(from, to, step);
  };
  EXPECT_EQ(0, check({42.0, 41.0, 100}, {42.5, 41.5, 100}, 0.0));
  EXPECT_EQ(0, check({42.0, 41.0, 100}, {42.5, 41.5, 100}, -0.002));
  EXPECT_EQ(0, check({42.0, 41.0, 100}, {42.5, 41.5, 100}, 1e-12));
  EXPECT_EQ(0, check({42.0, 41.0, 100}, {NAN, 41.5, 100}, 0.002));
  EXPECT_EQ(0, check({42.0, 41.0, 100}, {42.5, 1e7, 100}, 0.002));
  EXPECT_EQ(1, check({42.0, 41.0, 100}, {42.5, 41.5, 100}, 0.002));
}

}  // namespace
}  // namespace halcyra::testing
