// TalkHandler with its real collaborators and a fake host, for the states that take the running
// plug-in many seconds to reach: a simulator silent for six refresh ticks, and the alive flag down.
#include "audio/talk_handler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fake_env.h"
#include "fake_host.h"
#include "propagation/hgt_files.h"
#include "temp_dir.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

using testing::FakeEnv;
using testing::FakeHost;
using testing::TempDir;

constexpr uint64 kConnection = 0x42;
constexpr anyID kTalker = 9;
constexpr char kTalkerReply[] = "Viper@42.000000 41.000000 10000 251.000 124.000 030.000 X__ 251.000 7 0 ";

class TalkHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_unique<Clog>(env_);
    ASSERT_EQ(0, log_->Init(LogFile().wstring(), 5));
    tiles_ = std::make_unique<CHGTFiles>(env_, *log_);
    model_ = std::make_unique<CHalcyra>(*log_, *tiles_);
    clients_ = std::make_unique<CTS3ClientsBase>(*log_, [](const char*) {});
    hostCalls_ = std::make_unique<HostCallRelay>(env_, table_);
    exchange_ =
        std::make_unique<StationServerExchange>(env_, *log_, settings_, *model_, *clients_, *hostCalls_);
    handler_ = std::make_unique<TalkHandler>(*log_, settings_, simulator_, *clients_, *model_, *exchange_,
                                             table_, *hostCalls_);

    // A clear talker at a fifth of his range, received on local radio 1.
    clients_->AddCDB_item("Viper", kTalker);
    StationRecord talker = DefaultStation();
    wire::ParseReply(kTalkerReply, &talker);
    model_->AddOrUpdateStation(talker);
    model_->UpdateLocalStation([](StationRecord& local) {
      local.latitude = 42.058158f;
      local.longitude = 41.0f;
      local.altitude = 10000.0f;
      CopyText(local.frequency1, "251.000");
      local.cryptoKey = 7;
    });
  }

  std::filesystem::path LogFile() const { return dir_.path() / "Halcyra.log"; }

  // The texts of the talk event's lines. Releases everything, users of the log first, so that the
  // log writes what it still has queued.
  std::vector<std::string> TalkTexts() {
    handler_.reset();
    exchange_.reset();
    clients_.reset();
    model_.reset();
    tiles_.reset();
    log_.reset();
    const std::string tag = "ts3plugin_onTalkStatusChangeEvent : ";
    std::vector<std::string> texts;
    std::istringstream lines(testing::ReadFile(LogFile()));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t at = line.find(tag);
      if (at != std::string::npos) texts.push_back(line.substr(at + tag.size()));
    }
    return texts;
  }

  std::vector<short> Voice(std::vector<short> block) {
    handler_->OnEditPlaybackVoiceData(kTalker, block.data(), static_cast<int>(block.size()), 1);
    return block;
  }

  TempDir dir_;
  FakeEnv env_;
  FakeHost host_;
  TS3Functions table_ = host_.Table();
  Settings settings_;
  SimulatorStatus simulator_;
  std::unique_ptr<Clog> log_;
  std::unique_ptr<CHGTFiles> tiles_;
  std::unique_ptr<CHalcyra> model_;
  std::unique_ptr<CTS3ClientsBase> clients_;
  std::unique_ptr<HostCallRelay> hostCalls_;
  std::unique_ptr<StationServerExchange> exchange_;
  std::unique_ptr<TalkHandler> handler_;
};

TEST_F(TalkHandlerTest, SimulatorSilentForSixTicksIgnoresTheEventAfterTwoLines) {
  simulator_.watchdogCounter = 6;
  handler_->OnTalkStatusChange(kConnection, 1, kTalker);
  EXPECT_EQ(0, host_.TotalCalls());
  EXPECT_EQ(0u, clients_->CurrentServerConnectionHandlerID());
  EXPECT_EQ((std::vector<std::string>{"Event", "No DCS update. Do not manage TS3 clients"}), TalkTexts());
}

TEST_F(TalkHandlerTest, SimulatorSilentForFiveTicksStillHandlesTheEvent) {
  simulator_.watchdogCounter = 5;
  handler_->OnTalkStatusChange(kConnection, 1, kTalker + 1);  // nobody in the channel has this id
  EXPECT_EQ(kConnection, clients_->CurrentServerConnectionHandlerID());
  EXPECT_EQ(0, host_.TotalCalls());
  EXPECT_EQ((std::vector<std::string>{"Event"}), TalkTexts());
}

// Blocks are edited (treated or silenced) only for a client with a station, while the simulator lives.
TEST_F(TalkHandlerTest, VoiceOfClientsWithoutAStationAndWhileTheSimulatorIsSilentIsUntouched) {
  std::vector<short> block(480);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<short>(9000 * std::sin(i * 0.05));
  EXPECT_NE(block, Voice(block));

  clients_->AddCDB_item("Ghost", kTalker + 1);  // in the channel, but never published a station
  std::vector<short> ghost = block;
  handler_->OnEditPlaybackVoiceData(kTalker + 1, ghost.data(), static_cast<int>(ghost.size()), 1);
  EXPECT_EQ(block, ghost);

  model_->UpdateLocalStation([](StationRecord& local) { local.latitude = 43.0f; });  // out of range
  EXPECT_EQ(std::vector<short>(block.size(), 0), Voice(block));
  simulator_.alive = 0;
  EXPECT_EQ(block, Voice(block));
}

TEST(EarPositionTest, EarSettingsOfEachRadioAtDistanceOne) {
  struct Case {
    int localRadio;
    int ear1, ear2, ear3;
    TS3_VECTOR expected;
  };
  const Case cases[] = {
      {1, -1, 1, 0, {-1.001f, 0.1f, 0.0f}}, {2, -1, 1, 0, {1.001f, 0.1f, 0.0f}},
      {3, -1, 1, 0, {0.0f, 1.0f, 0.0f}},    {3, -1, 1, 2, {0.0f, 1.0f, 0.0f}},
      {1, 7, -1, -1, {0.0f, 1.0f, 0.0f}},   {0, -1, -1, -1, {0.0f, 0.0f, 0.0f}},
      {4, 1, 1, 1, {0.0f, 0.0f, 0.0f}},
  };
  for (const Case& c : cases) {
    TS3_VECTOR position = EarPosition(c.localRadio, 1.0f, c.ear1, c.ear2, c.ear3);
    EXPECT_FLOAT_EQ(c.expected.x, position.x) << "radio " << c.localRadio;
    EXPECT_FLOAT_EQ(c.expected.y, position.y) << "radio " << c.localRadio;
    EXPECT_EQ(0.0f, position.z);
  }
}

}  // namespace
}  // namespace halcyra
