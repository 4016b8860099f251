#include <gtest/gtest.h>

#include "propagation_fixture.h"

namespace halcyra::testing {
namespace {

class AudibilityTest : public PropagationTest {
 protected:
  void SetLocalRadios(const char* f1, const char* f2, const char* f3, const char* marks = "X__",
                      int key = 0) {
    model_.UpdateLocalStation([&](StationRecord& local) {
      CopyText(local.frequency1, f1);
      CopyText(local.frequency2, f2);
      CopyText(local.frequency3, f3);
      CopyText(local.activeMarks, marks);
      local.cryptoKey = key;
    });
  }
  static StationRecord Talker(const char* f1, const char* f2, const char* f3, const char* marks) {
    StationRecord remote = Remote("Viper", 42.5f, 41.5f, 4000.0f);
    CopyText(remote.frequency1, f1);
    CopyText(remote.frequency2, f2);
    CopyText(remote.frequency3, f3);
    CopyText(remote.activeMarks, marks);
    return remote;
  }
  // "result remoteRadio localRadio", so one comparison shows all three.
  std::string Audible(const StationRecord& remote) {
    int remoteRadio = -1;
    int localRadio = -1;
    int result = model_.IsAudible(remote, &remoteRadio, &localRadio);
    return std::to_string(result) + " " + std::to_string(remoteRadio) + " " + std::to_string(localRadio);
  }
};

TEST_F(AudibilityTest, RemoteIsHeardOnlyOnTheRadioHeMarks) {
  SetLocalRadios("251.000", "124.000", "000.000");
  EXPECT_EQ("0 0 0", Audible(Talker("251.000", "124.000", "000.000", "___")));
  EXPECT_EQ("1 2 2", Audible(Talker("251.000", "124.000", "000.000", "_X_")));
  EXPECT_EQ("0 0 0", Audible(Talker("251.000", "000.000", "000.000", "_X_")));  // both off
  EXPECT_EQ("1 1 1", Audible(Talker("251.000", "124.000", "000.000", "XX_")));  // lowest wins
  EXPECT_EQ("1 3 1", Audible(Talker("000.000", "000.000", "251.000", "__X")));
}

TEST_F(AudibilityTest, FrequenciesAreComparedAsTexts) {
  SetLocalRadios("251.00", "000.000", "000.000");
  EXPECT_EQ("0 0 0", Audible(Talker("251.000", "000.000", "000.000", "X__")));
}

TEST_F(AudibilityTest, LowestLocalRadioReceivesWhateverTheLocalSelection) {
  SetLocalRadios("251.000", "124.000", "251.000", "__X");
  EXPECT_EQ("1 1 1", Audible(Talker("251.000", "000.000", "000.000", "X__")));
}

TEST_F(AudibilityTest, MarksBehindTheTerminatorDoNotCount) {
  SetLocalRadios("251.000", "000.000", "000.000");
  StationRecord remote = Talker("000.000", "000.000", "251.000", "_");
  remote.activeMarks[2] = 'X';  // left over from a longer, older text
  EXPECT_EQ("0 0 0", Audible(remote));
}

TEST_F(AudibilityTest, LogLineNamesRadiosAndResult) {
  StartLog(5);
  SetLocalRadios("251.000", "124.000", "000.000", "_X_");
  Audible(Talker("251.000", "000.000", "000.000", "X__"));
  auto lines = LogLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(
      std::string::npos,
      lines[1].find("CHalcyra::IsAudible : Remote Nickname \"Viper\" : Radio #1 is 1 (1=ON/0=OFF) {X__}. "
                    "Local radio is [1:251.000|2:124.000|3:000.000(_X_)] Active : 1"))
      << lines[1];
}

TEST_F(AudibilityTest, EncryptionNeedsAMarkedRadioAFrequencyAndDifferentKeys) {
  StationRecord remote = Talker("000.000", "251.000", "000.000", "_X_");
  CopyText(remote.cryptoFrequency, "251.000");
  remote.cryptoKey = 5;

  SetLocalRadios("251.000", "000.000", "000.000", "X__", 1);
  EXPECT_EQ(0, model_.IsEncrypted(remote));  // his mark 1 is "_"
  SetLocalRadios("000.000", "251.000", "000.000", "X__", 1);
  EXPECT_EQ(1, model_.IsEncrypted(remote));
  SetLocalRadios("000.000", "251.000", "000.000", "X__", 5);
  EXPECT_EQ(0, model_.IsEncrypted(remote));  // same code: clear

  CopyText(remote.cryptoFrequency, "000.000");
  SetLocalRadios("000.000", "000.000", "000.000", "X__", 1);
  EXPECT_EQ(0, model_.IsEncrypted(remote));  // off radios never carry encryption
}

}  // namespace
}  // namespace halcyra::testing
