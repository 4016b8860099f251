#include "propagation/station_model.h"

#include <gtest/gtest.h>

#include <thread>

#include "propagation_fixture.h"

namespace halcyra::testing {
namespace {

using StationModelTest = PropagationTest;

std::vector<std::string> Nicknames(const std::vector<StationRecord>& stations) {
  std::vector<std::string> names;
  for (const StationRecord& station : stations) names.emplace_back(station.nickname);
  return names;
}

TEST_F(StationModelTest, InitializeGivesTheLocalDefaults) {
  model_.UpdateLocalStation([](StationRecord& local) { local.volume2 = 5; });
  model_.Initialize();
  StationRecord local = model_.LocalStation();
  EXPECT_STREQ("(unknown)", local.nickname);
  EXPECT_STREQ("0.000000", local.latitudeText);
  EXPECT_STREQ("0.000000", local.longitudeText);
  EXPECT_STREQ("0", local.altitudeText);
  EXPECT_EQ(0.0f, local.latitude + local.longitude + local.altitude);
  EXPECT_STREQ("000.000", local.frequency1);
  EXPECT_STREQ("000.000", local.frequency2);
  EXPECT_STREQ("000.000", local.frequency3);
  EXPECT_EQ(300, local.volume1 + local.volume2 + local.volume3);
  EXPECT_STREQ("___", local.activeMarks);
  EXPECT_STREQ("000.000", local.cryptoFrequency);
  EXPECT_EQ(0, local.cryptoKey);
  EXPECT_EQ(0, local.radioClass);
  EXPECT_EQ(0, model_.Count());
}

TEST_F(StationModelTest, UpdateInPlaceKeepsOrderCountVolumesAndDistance) {
  EXPECT_EQ(1, model_.AddOrUpdateStation(Remote("Viper", 42.5f, 41.5f, 4000)));
  EXPECT_EQ(2, model_.AddOrUpdateStation(Remote("Cobra", 43.0f, 41.0f, 3000)));
  StationRecord viper = Remote("Viper", 42.5f, 41.5f, 4000);
  model_.CalculateDistance(model_.LocalStation(), viper, nullptr);  // stores a distance in the list
  float stored = model_.FindStation("Viper")->distance;
  ASSERT_GT(stored, 0.0f);

  StationRecord moved = Remote("Viper", 44.0f, 40.0f, 9000);
  CopyText(moved.activeMarks, "X");
  moved.volume1 = 1;
  moved.distance = 999;
  moved.radioClass = 100;
  EXPECT_EQ(2, model_.AddOrUpdateStation(moved));

  EXPECT_EQ((std::vector<std::string>{"Viper", "Cobra"}), Nicknames(model_.Stations()));
  StationRecord listed = *model_.FindStation("Viper");
  EXPECT_EQ(44.0f, listed.latitude);
  EXPECT_EQ(100, listed.radioClass);
  EXPECT_EQ(std::string("X\0\0", 3), std::string(listed.activeMarks, 3));  // old marks cleared
  EXPECT_EQ(100, listed.volume1);
  EXPECT_EQ(stored, listed.distance);
}

TEST_F(StationModelTest, NicknamesAreCaseSensitiveAndOverlongOnesAreCut) {
  model_.AddOrUpdateStation(Remote("viper", 0, 0, 0));
  model_.AddOrUpdateStation(Remote("Viper", 0, 0, 0));
  StationRecord longName = Remote("", 0, 0, 0);
  std::memset(longName.nickname, 'n', sizeof longName.nickname);  // no terminator
  model_.AddOrUpdateStation(longName);
  EXPECT_EQ(3, model_.AddOrUpdateStation(longName));
  EXPECT_EQ(std::string(127, 'n'), Nicknames(model_.Stations()).back());
}

TEST_F(StationModelTest, ClearStartsANewListAndStillWantedFalseStoresNothing) {
  model_.AddOrUpdateStation(Remote("Viper", 0, 0, 0));
  model_.ClearStationList();
  EXPECT_EQ(0, model_.Count());
  EXPECT_EQ(-1, model_.AddOrUpdateStation(Remote("Cobra", 0, 0, 0), [] { return false; }));
  EXPECT_FALSE(model_.FindStation("Cobra").has_value());
  EXPECT_EQ(1, model_.AddOrUpdateStation(Remote("Cobra", 0, 0, 0), [] { return true; }));
}

TEST_F(StationModelTest, ConcurrentAddsOfTheSameNicknamesLeaveOneRecordEach) {
  auto addAll = [this](float altitude) {
    for (int round = 0; round < 200; ++round) {
      for (const char* name : {"Viper", "Cobra", "Hawk"})
        model_.AddOrUpdateStation(Remote(name, 0, 0, altitude));
    }
  };
  std::thread first(addAll, 1000.0f);
  std::thread second(addAll, 2000.0f);
  first.join();
  second.join();
  EXPECT_EQ(3, model_.Count());
  EXPECT_EQ(3u, model_.Stations().size());
}

TEST_F(StationModelTest, TerminateLogsAndEmptiesTheList) {
  StartLog(2);
  model_.AddOrUpdateStation(Remote("Viper", 0, 0, 0));
  model_.Terminate();
  EXPECT_EQ(0, model_.Count());
  auto lines = LogLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("CHalcyra::Terminate"));
}

}  // namespace
}  // namespace halcyra::testing
