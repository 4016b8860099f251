// Talk handling and voice effects through the loaded library: the fake host delivers talk and voice
// events, a station server on loopback holds the talker's record, and the simulator's commands
// reach the plug-in on UDP port 10602.
//
// The talker transmits on his radio 1 (251.000, marks X__) from 42.0 N 41.0 E at 10000 ft, class 0,
// encrypted on 251.000 with key 7. At the same altitude his range is 17.48 NM. Each test places the
// local aircraft and tunes its radios; the talker's record never changes, so a talk event's own
// query and the refresh cycle's query always deliver the same record. A ridge of 2500 m (8200 ft)
// runs across his meridian between 42.02 and 42.04 N: it cuts the sight line from a local aircraft
// north of it only when that one flies low.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/voice_effects.h"
#include "hgt_tile.h"
#include "platform/ipv4.h"
#include "plugin_session.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using testing::FakeHost;
using testing::PluginSession;
using testing::SessionOptions;
using testing::SimulatorState;

constexpr char kTalkerRecord[] = "Talker@42.000000 41.000000 10000 251.000 124.000 030.000 X__ 251.000 7 0 ";
constexpr char kTalkTag[] = "ts3plugin_onTalkStatusChangeEvent : ";
constexpr int kTalkerKey = 7;
constexpr int kWaitMs = 10000;

// Local latitudes on the talker's meridian, all at his altitude:
constexpr char kNearLatitude[] = "42.058158";        // att 0.2: gain about 1e-10, the voice share stays 1
constexpr char kEdgeLatitude[] = "42.290750";        // just inside range: gain 19.99
constexpr char kBeyondEdgeLatitude[] = "42.290850";  // just beyond range: gain exactly 20
constexpr char kFarLatitude[] = "43.000000";         // 60 NM away

constexpr char kTalkerFrequency[] = "251.000";
constexpr char kBelowTheRidgeTop[] = "5000";  // feet: from here at kNearLatitude the ridge hides him

constexpr TS3_VECTOR kFar{0.0f, 100.0f, 0.0f};     // inaudible under the host's rolloff
constexpr TS3_VECTOR kListener{0.0f, 0.0f, 0.0f};  // heard unattenuated

SimulatorState Local(const char* latitude, int receivingRadio, int cryptoKey = kTalkerKey) {
  SimulatorState state;
  state.latitude = latitude;
  state.frequency1 = receivingRadio == 1 ? kTalkerFrequency : "125.000";
  state.frequency2 = receivingRadio == 2 ? kTalkerFrequency : "126.000";
  state.frequency3 = receivingRadio == 3 ? kTalkerFrequency : "127.000";
  state.cryptoFrequency = kTalkerFrequency;
  state.cryptoKey = cryptoKey;
  return state;
}

// A speech-like block that doubling clips at its peaks.
std::vector<short> SpeechBlock(int count) {
  std::vector<short> block(count);
  for (int i = 0; i < count; ++i) {
    block[i] = static_cast<short>(20000 * (0.7 * std::sin(i * 0.031) + 0.3 * std::sin(i * 0.21)));
  }
  return block;
}

std::vector<short> LowPassed(std::vector<short> block) {
  LowPassFilter(block.data(), static_cast<int>(block.size()), kVoiceCutoffHz, kVoiceSampleRateHz);
  return block;
}

// Left and right interleaved, frame by frame.
std::vector<short> Stereo(const std::vector<short>& left, const std::vector<short>& right) {
  std::vector<short> block;
  for (size_t i = 0; i < left.size(); ++i) {
    block.push_back(left[i]);
    block.push_back(right[i]);
  }
  return block;
}

std::vector<short> Scaled(std::vector<short> block, float factor) {
  ScaleSamples(block.data(), block.data(), static_cast<int>(block.size()), factor);
  return block;
}

void ExpectAt(const TS3_VECTOR& expected, const FakeHost::Placement& placement) {
  EXPECT_EQ(PluginSession::kConnection, placement.serverConnectionHandlerID);
  EXPECT_EQ(PluginSession::kTalkerClient, placement.clientID);
  EXPECT_FLOAT_EQ(expected.x, placement.position.x);
  EXPECT_FLOAT_EQ(expected.y, placement.position.y);
  EXPECT_FLOAT_EQ(expected.z, placement.position.z);
}

// Tile N42E041 with the ridge across the talker's meridian (column 0), flat 0 m elsewhere.
SessionOptions WithRidge(SessionOptions options, const testing::TempDir& folder) {
  testing::HgtTile tile;
  for (int row = 1152; row <= 1176; ++row) {  // 42.04 .. 42.02 N
    for (int column = 0; column <= 3; ++column) tile.Set(row, column, 2500);
  }
  tile.WriteTo(folder.path() / "N42E041.HGT");
  options.tileFolder = folder.path();
  return options;
}

// One started plug-in per suite: starting one and waiting for its first refresh takes seconds.
class TalkSession {
 public:
  explicit TalkSession(SessionOptions options) : session_(WithRidge(options, tiles_), kTalkerRecord) {}

  std::string Start() {
    std::string error = session_.Start();
    if (!error.empty()) return error;
    if (!session_.Simulate(Local(kNearLatitude, 1))) return "the simulator's commands were not applied";
    session_.KeepSimulatorAlive();
    if (!session_.WaitForTalkerRecord(kWaitMs)) return "the refresh cycle did not store the talker";
    return "";
  }
  PluginSession& session() { return session_; }
  int talkEvents = 0;  // talk events delivered so far; each one logs "Event" first

 private:
  testing::TempDir tiles_;  // before session_: it must exist when the session is made
  PluginSession session_;
};

// ------------------------------------------------------------------ attenuation on

class TalkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SessionOptions options;
    options.ear1 = -1;
    options.ear2 = 1;
    options.ear3 = 0;
    shared_ = new TalkSession(options);
    startError_ = shared_->Start();
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ("", startError_); }

  PluginSession& session() { return shared_->session(); }
  FakeHost& host() { return session().host(); }

  void Simulate(const SimulatorState& state) { ASSERT_TRUE(session().Simulate(state)); }

  // Runs one talk event of the talker and returns the 3D placements it made.
  std::vector<FakeHost::Placement> Talk(int status, anyID client = PluginSession::kTalkerClient) {
    host().ClearPlacements();
    ++shared_->talkEvents;
    session().plugin().onTalkStatusChangeEvent(PluginSession::kConnection, status, 0, client);
    return host().Placements();
  }

  // The texts that the last talk event logged, once lastText is among them.
  std::vector<std::string> TalkLines(const std::string& lastText) {
    std::vector<std::string> texts;
    for (int attempt = 0; attempt < kWaitMs / 10; ++attempt) {
      texts = LastEventTexts();
      if (std::find(texts.begin(), texts.end(), lastText) != texts.end()) return texts;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the talk event did not log \"" << lastText << "\"";
    return texts;
  }

  // Index of the log line "Event" of the last talk event, or the end of the log while it is not written.
  size_t LastEventLine(const std::vector<std::string>& lines) {
    int events = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find(std::string(kTalkTag) + "Event") == std::string::npos) continue;
      if (++events == shared_->talkEvents) return i;
    }
    return lines.size();
  }

  std::vector<std::string> LastEventTexts() {
    std::vector<std::string> lines = session().LogLines();
    std::vector<std::string> texts;
    for (size_t i = LastEventLine(lines); i < lines.size(); ++i) {
      size_t tag = lines[i].find(kTalkTag);
      if (tag != std::string::npos) texts.push_back(lines[i].substr(tag + std::strlen(kTalkTag)));
    }
    return texts;
  }

  // block holds frames of channels interleaved samples.
  std::vector<short> Voice(std::vector<short> block, int channels = 1) {
    session().plugin().onEditPlaybackVoiceDataEvent(PluginSession::kConnection, PluginSession::kTalkerClient,
                                                    block.data(), static_cast<int>(block.size()) / channels,
                                                    channels);
    return block;
  }

  static TalkSession* shared_;
  static std::string startError_;
};

TalkSession* TalkTest::shared_ = nullptr;
std::string TalkTest::startError_;

TEST_F(TalkTest, OwnClientTalkingPlacesNothingAndQueriesNothing) {
  Simulate(Local(kNearLatitude, 1));
  EXPECT_TRUE(Talk(1, PluginSession::kOwnClient).empty());
  EXPECT_TRUE(Talk(0, PluginSession::kOwnClient).empty());
  EXPECT_EQ(0, session().server().CountRequests("GET:Own@ "));
}

TEST_F(TalkTest, TalkerOnNoLocalFrequencyIsPlacedFarWhenStartingAndWhenStopping) {
  Simulate(Local(kNearLatitude, 0));
  auto started = Talk(1);
  ASSERT_EQ(1u, started.size());
  ExpectAt(kFar, started[0]);
  EXPECT_EQ((std::vector<std::string>{"Event", "Client TS3 is known : \"Talker\" ",
                                      "Halcyra Nickname is known : \"Talker\" ", "Cannot ear this Nickname"}),
            TalkLines("Cannot ear this Nickname"));

  auto stopped = Talk(0);
  ASSERT_EQ(1u, stopped.size());
  ExpectAt(kFar, stopped[0]);
}

TEST_F(TalkTest, AudibleClearTalkerIsRefreshedJudgedAndPlacedOnTheLeftEarOfRadio1) {
  Simulate(Local(kNearLatitude, 1));
  size_t requestsBefore = session().server().RequestCount();
  auto placed = Talk(1);
  ASSERT_EQ(1u, placed.size());
  ExpectAt({-1.001f, 0.1f, 0.0f}, placed[0]);
  EXPECT_EQ((std::vector<std::string>{
                "Event", "Client TS3 is known : \"Talker\" ", "Halcyra Nickname is known : \"Talker\" ",
                "3DSound position : x=-1.001 , y=0.100 / Gain=0.000 (Limit=20.000) / Gain for "
                "remote 1.000",
                "Remote is clear"}),
            TalkLines("Remote is clear"));
  // The event had the station server asked for the talker (on the plug-in's query thread).
  EXPECT_TRUE(session().server().WaitForRequest("GET:Talker@ ", requestsBefore, kWaitMs));
  EXPECT_TRUE(
      session().WaitForLogLine("Set3DSoundPositionTS3 : Listening ears : Current 1. #1=-1 / #2=1 / #3=0 "
                               "{x=-1.001000,y=0.100000}",
                               LastEventLine(session().LogLines()), kWaitMs));
}

TEST_F(TalkTest, AudibleTalkerWhoStopsIsJudgedButNotMoved) {
  Simulate(Local(kNearLatitude, 1));
  EXPECT_TRUE(Talk(0).empty());
  std::vector<std::string> lines = TalkLines("Default : (Remote doesn't talk)");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("Default : (Remote doesn't talk)", lines.back());
  EXPECT_EQ(4u, lines.size());
}

TEST_F(TalkTest, EachReceivingRadioPlacesTheTalkerOnItsOwnEar) {
  Simulate(Local(kNearLatitude, 2));
  auto right = Talk(1);
  ASSERT_EQ(1u, right.size());
  ExpectAt({1.001f, 0.1f, 0.0f}, right[0]);

  Simulate(Local(kNearLatitude, 3));
  auto front = Talk(1);  // ear setting 2: in front
  ASSERT_EQ(1u, front.size());
  ExpectAt({0.0f, 1.0f, 0.0f}, front[0]);
}

TEST_F(TalkTest, GainJustBelowTheLimitIsHeardAndExactlyAtTheLimitIsPlacedFar) {
  Simulate(Local(kEdgeLatitude, 1));
  auto inside = Talk(1);
  ASSERT_EQ(1u, inside.size());
  ExpectAt({-1.001f, 0.1f, 0.0f}, inside[0]);
  std::vector<std::string> lines = TalkLines("Remote is clear");
  ASSERT_EQ(5u, lines.size());
  EXPECT_NE(std::string::npos, lines[3].find("Gain=19.99")) << lines[3];

  Simulate(Local(kBeyondEdgeLatitude, 1));
  auto beyond = Talk(1);
  ASSERT_EQ(1u, beyond.size());
  ExpectAt(kFar, beyond[0]);
  lines = TalkLines("Remote is clear");
  ASSERT_EQ(6u, lines.size());
  EXPECT_NE(std::string::npos, lines[3].find("Gain=20.000 (Limit=20.000) / Gain for remote 21.000"))
      << lines[3];
  EXPECT_EQ("Gain > limit. Can not receive it", lines[4]);
}

TEST_F(TalkTest, EncryptedTalkerKeepsHisPlaceBelowTheLimitAndGoesFarAtIt) {
  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  EXPECT_TRUE(Talk(1).empty());
  EXPECT_EQ("Remote is encrypted and muted", TalkLines("Remote is encrypted and muted").back());

  Simulate(Local(kFarLatitude, 1, kTalkerKey + 1));
  auto far = Talk(1);
  ASSERT_EQ(1u, far.size());
  ExpectAt(kFar, far[0]);
  std::vector<std::string> lines = TalkLines("Remote is encrypted and muted");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("Gain > limit. Can not receive it", lines[lines.size() - 2]);
}

// ---- voice effects

TEST_F(TalkTest, PerfectClearReceptionOnRadio1AtFullVolumeIsTheLowPassedBlockDoubled) {
  Simulate(Local(kNearLatitude, 1));
  std::vector<short> block = SpeechBlock(960);
  std::vector<short> expected = Scaled(LowPassed(block), 2.0f);
  EXPECT_EQ(expected, Voice(block));
  EXPECT_EQ(32767, *std::max_element(expected.begin(), expected.end()));  // the doubling clipped
}

TEST_F(TalkTest, VolumeOfTheReceivingRadioScalesTheTreatedBlock) {
  SimulatorState local = Local(kNearLatitude, 2);
  local.volume1 = 200;
  local.volume2 = 50;
  Simulate(local);
  std::vector<short> block = SpeechBlock(960);
  EXPECT_EQ(Scaled(Scaled(LowPassed(block), 2.0f), 0.5f), Voice(block));
}

TEST_F(TalkTest, EncryptedTalkerSoundsAsTheToneOfHisKey) {
  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  std::vector<short> expected = LowPassed(SpeechBlock(960));
  MakeEncryptionTone(expected.data(), static_cast<int>(expected.size()), kTalkerKey);
  EXPECT_EQ(expected, Voice(SpeechBlock(960)));
}

TEST_F(TalkTest, BlocksOfTalkersWhoCannotBeReceivedAreSilenced) {
  std::vector<short> block = SpeechBlock(960);
  const std::vector<short> silence(block.size(), 0);
  Simulate(Local(kNearLatitude, 0));
  EXPECT_EQ(silence, Voice(block)) << "no local radio on his frequency";
  Simulate(Local(kBeyondEdgeLatitude, 1));
  EXPECT_EQ(silence, Voice(block)) << "gain exactly 20";
  EXPECT_TRUE(
      session().WaitForLogLine("ts3plugin_onEditPlaybackVoiceDataEvent : Cannot receive \"Talker\" : voice "
                               "block silenced",
                               0, kWaitMs));
}

// His talk event placed him on an ear; then the local aircraft descends so that the ridge cuts the
// sight line: the blocks of the same call go silent at once, and come back once the line is clear.
TEST_F(TalkTest, TalkerWhoGoesBehindTerrainMidCallIsSilentFromTheNextBlockOn) {
  Simulate(Local(kNearLatitude, 1));
  ASSERT_EQ(1u, Talk(1).size());
  host().ClearPlacements();
  std::vector<short> block = SpeechBlock(960);
  const std::vector<short> silence(block.size(), 0);
  std::vector<short> heard = Scaled(LowPassed(block), 2.0f);
  EXPECT_EQ(heard, Voice(block));

  SimulatorState low = Local(kNearLatitude, 1);
  low.altitude = kBelowTheRidgeTop;
  Simulate(low);
  EXPECT_EQ(silence, Voice(block));
  EXPECT_EQ(silence, Voice(block));

  Simulate(Local(kNearLatitude, 1));
  EXPECT_EQ(heard, Voice(block));
  EXPECT_TRUE(host().Placements().empty()) << "no 3D call outside talk events";
}

// Whatever happens during his call, an encrypted talker is heard as the tone or not at all.
TEST_F(TalkTest, EncryptedTalkerIsNeverHeardInPlainSpeech) {
  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  EXPECT_TRUE(Talk(1).empty());
  std::vector<short> block = SpeechBlock(960);
  const std::vector<short> silence(block.size(), 0);
  std::vector<short> tone = LowPassed(block);
  MakeEncryptionTone(tone.data(), static_cast<int>(tone.size()), kTalkerKey);
  EXPECT_EQ(tone, Voice(block));

  SimulatorState low = Local(kNearLatitude, 1, kTalkerKey + 1);
  low.altitude = kBelowTheRidgeTop;
  Simulate(low);
  EXPECT_EQ(silence, Voice(block)) << "behind the ridge";
  Simulate(Local(kBeyondEdgeLatitude, 1, kTalkerKey + 1));
  EXPECT_EQ(silence, Voice(block)) << "just beyond range";
  Simulate(Local(kFarLatitude, 1, kTalkerKey + 1));
  EXPECT_EQ(silence, Voice(block)) << "far out of range";
  Simulate(Local(kNearLatitude, 0, kTalkerKey + 1));
  EXPECT_EQ(silence, Voice(block)) << "no local radio on his frequency";
}

// On a stereo channel the host hands over frames of two interleaved samples: both halves of the
// block are the talker's voice, each channel treated as a block of its own, or all of it silenced.
TEST_F(TalkTest, StereoBlocksAreTreatedOrSilencedInEveryChannel) {
  std::vector<short> left = SpeechBlock(960);
  std::vector<short> right = Scaled(SpeechBlock(960), -0.25f);
  std::vector<short> block = Stereo(left, right);

  Simulate(Local(kNearLatitude, 1));
  EXPECT_EQ(Stereo(Scaled(LowPassed(left), 2.0f), Scaled(LowPassed(right), 2.0f)), Voice(block, 2));

  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  std::vector<short> leftTone = LowPassed(left);
  std::vector<short> rightTone = LowPassed(right);
  MakeEncryptionTone(leftTone.data(), static_cast<int>(leftTone.size()), kTalkerKey);
  MakeEncryptionTone(rightTone.data(), static_cast<int>(rightTone.size()), kTalkerKey);
  EXPECT_EQ(Stereo(leftTone, rightTone), Voice(block, 2)) << "encrypted: the tone, never his speech";

  const std::vector<short> silence(block.size(), 0);
  Simulate(Local(kFarLatitude, 1));
  EXPECT_EQ(silence, Voice(block, 2)) << "out of range";
  Simulate(Local(kNearLatitude, 0));
  EXPECT_EQ(silence, Voice(block, 2)) << "no local radio on his frequency";
}

TEST_F(TalkTest, EmptyOrMissingBlocksEditNothing) {
  Simulate(Local(kNearLatitude, 1));
  std::vector<short> block = SpeechBlock(16);
  std::vector<short> copy = block;
  auto& plugin = session().plugin();
  plugin.onEditPlaybackVoiceDataEvent(PluginSession::kConnection, PluginSession::kTalkerClient, copy.data(),
                                      0, 1);
  plugin.onEditPlaybackVoiceDataEvent(PluginSession::kConnection, PluginSession::kTalkerClient, copy.data(),
                                      -5, 1);
  plugin.onEditPlaybackVoiceDataEvent(PluginSession::kConnection, PluginSession::kTalkerClient, nullptr, 960,
                                      1);
  for (int channels : {0, -2}) {
    plugin.onEditPlaybackVoiceDataEvent(PluginSession::kConnection, PluginSession::kTalkerClient, copy.data(),
                                        16, channels);
  }
  EXPECT_EQ(block, copy);
  EXPECT_NE(block, Voice(block));  // the same talker's real block is treated
}

// ---- inside the client: radio keys and "why can't I hear him?"

TEST_F(TalkTest, RadioKeysSelectAsTheSelectorButtonsDo) {
  SimulatorState local = Local(kNearLatitude, 1);
  local.frequency3 = "128.000";  // a station of this test only: its publish shows its commands were applied
  Simulate(local);
  size_t from = session().server().RequestCount();
  session().plugin().onHotkeyEvent("halcyra_radio2");
  local.activeMarks = "_X_";
  EXPECT_TRUE(session().server().WaitForRequest(PluginSession::PublishText(local), from, kWaitMs));
  EXPECT_TRUE(session().WaitForLogLine("ts3plugin_onHotkeyEvent : Radio #2 is selected. HCS active : _X_", 0,
                                       kWaitMs));

  from = session().server().RequestCount();
  size_t chat = host().ChatLines().size();
  session().plugin().onHotkeyEvent("halcyra_next_radio");
  local.activeMarks = "__X";
  EXPECT_TRUE(session().server().WaitForRequest(PluginSession::PublishText(local), from, kWaitMs));
  ASSERT_EQ(chat + 1, host().ChatLines().size());
  EXPECT_EQ("Halcyra: radio 3 selected (128.000)", host().ChatLines()[chat]);
}

// The info panel judges as the voice path does, on the records it holds, and names the first
// reason; the client's "Radio check" prints the verdict into the chat tab.
TEST_F(TalkTest, InfoPanelTellsWhyTheTalkerIsOrIsNotHeard) {
  auto info = [this] {
    return session().plugin().InfoText(PluginSession::kConnection, PluginSession::kTalkerClient,
                                       PLUGIN_CLIENT);
  };
  auto has = [](const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  };
  Simulate(Local(kNearLatitude, 1));
  std::string heard = info();
  EXPECT_TRUE(has(heard, "His station (Talker): radio 1 on 251.000, encryption on 251.000\n")) << heard;
  EXPECT_TRUE(has(heard, "Your radio 1 (251.000) receives it\n")) << heard;
  EXPECT_TRUE(has(heard, "Sight line clear\n")) << heard;
  EXPECT_TRUE(has(heard, "\nVerdict: heard on radio 1 (left ear), gain 0.00\n")) << heard;

  Simulate(Local(kFarLatitude, 1));
  std::string far = info();
  EXPECT_TRUE(has(far, "Distance 60.1 NM, range 17.5 NM: out of range\n")) << far;
  EXPECT_TRUE(has(far, "Verdict: not heard: out of range (60.1 NM, range 17.5 NM)\n")) << far;

  SimulatorState low = Local(kNearLatitude, 1);
  low.altitude = kBelowTheRidgeTop;
  Simulate(low);
  std::string hidden = info();
  EXPECT_TRUE(has(hidden, "Sight line cut by terrain\n")) << hidden;
  EXPECT_TRUE(has(hidden, "Verdict: not heard: behind terrain (the sight line is cut)\n")) << hidden;

  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  EXPECT_TRUE(has(info(), "Verdict: other key: you hear the tone on radio 1 (left ear), not his voice\n"));
  Simulate(Local(kNearLatitude, 0));
  size_t chat = host().ChatLines().size();
  session().plugin().onMenuItemEvent(PluginSession::kConnection, PLUGIN_MENU_TYPE_CLIENT, 10,
                                     PluginSession::kTalkerClient);
  ASSERT_EQ(chat + 1, host().ChatLines().size());
  EXPECT_EQ("Halcyra: radio check of Talker: not heard: no radio of yours on his frequency 251.000",
            host().ChatLines()[chat]);

  std::string own =
      session().plugin().InfoText(PluginSession::kConnection, PluginSession::kOwnClient, PLUGIN_CLIENT);
  EXPECT_TRUE(has(own, "Your station as published (Own):\nPosition 42.058158 41.000000, 10000 ft")) << own;
  EXPECT_TRUE(
      has(own, "Station server 127.0.0.1:" + std::to_string(session().server().port()) + " last answered "))
      << own;
  EXPECT_EQ("", session().plugin().InfoText(PluginSession::kConnection, 0, PLUGIN_CHANNEL));
  EXPECT_EQ("", session().plugin().InfoText(PluginSession::kConnection, 99, PLUGIN_CLIENT));
}

// ------------------------------------------------------------------ attenuation off

class AttenuationOffTest : public TalkTest {
 protected:
  static void SetUpTestSuite() {
    SessionOptions options;
    options.attenuation = 0;
    shared_ = new TalkSession(options);
    startError_ = shared_->Start();
  }
};

TEST_F(AttenuationOffTest, AudibleTalkerIsPlacedAtTheListenerEvenEncryptedOrOutOfRange) {
  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  auto encrypted = Talk(1);
  ASSERT_EQ(1u, encrypted.size());
  ExpectAt(kListener, encrypted[0]);
  EXPECT_EQ("Attenuation is off. Listen clear and at center the client",
            TalkLines("Attenuation is off. Listen clear and at center the client").back());

  Simulate(Local(kFarLatitude, 1));
  auto outOfRange = Talk(1);
  ASSERT_EQ(1u, outOfRange.size());
  ExpectAt(kListener, outOfRange[0]);

  Simulate(Local(kFarLatitude, 0));
  auto notAudible = Talk(1);  // no radio on his frequency: still far away
  ASSERT_EQ(1u, notAudible.size());
  ExpectAt(kFar, notAudible[0]);
}

TEST_F(AttenuationOffTest, EveryBlockIsLeftAsItCame) {
  std::vector<short> block = SpeechBlock(960);
  Simulate(Local(kNearLatitude, 1));
  EXPECT_EQ(block, Voice(block));
  Simulate(Local(kNearLatitude, 1, kTalkerKey + 1));
  EXPECT_EQ(block, Voice(block));
  Simulate(Local(kFarLatitude, 1, kTalkerKey + 1));
  EXPECT_EQ(block, Voice(block)) << "out of range";
  Simulate(Local(kNearLatitude, 0));
  EXPECT_EQ(block, Voice(block)) << "no local radio on his frequency";
}

// ------------------------------------------------------------------ a station server 100 ms away

// The talker and 19 wingmen in the channel, a station server that answers 100 ms late (or, for a
// while, never; or with forgers beside it). A talk event returns without waiting for it.
class FarServerTest : public TalkTest {
 protected:
  static constexpr uint32_t kServerDelayMs = 100;
  static constexpr int kWingmen = 19;

  static void SetUpTestSuite() {
    SessionOptions options;
    options.wingmen = kWingmen;
    shared_ = new TalkSession(options);
    startError_ = shared_->Start();
    if (startError_.empty()) shared_->session().server().SetReplyDelayMs(kServerDelayMs);
  }

  // Milliseconds that one talk event of the talker took to return, and its placements.
  int64_t TimedTalk(int status, std::vector<FakeHost::Placement>* placements) {
    host().ClearPlacements();
    ++shared_->talkEvents;
    auto start = std::chrono::steady_clock::now();
    session().plugin().onTalkStatusChangeEvent(PluginSession::kConnection, status, 0,
                                               PluginSession::kTalkerClient);
    auto elapsed = std::chrono::steady_clock::now() - start;
    *placements = host().Placements();
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() / 1000;
  }

  // Gives the server the talker's record and waits until a refresh pass has stored it.
  void StoreTalker(const std::string& record) {
    size_t from = session().LogLines().size();
    session().server().Store(record);
    std::string text = record.substr(0, record.find_last_not_of(' ') + 1);
    ASSERT_TRUE(session().WaitForLogLine("Thread_UDPRequest : Added item [" + text + "]", from, kWaitMs));
  }
};

constexpr char kTalkerFarAway[] = "Talker@43.000000 41.000000 10000 251.000 124.000 030.000 X__ 251.000 7 0 ";

TEST_F(FarServerTest, TalkEventReturnsAtOnceAndTheTalkerIsPlacedAgainAfterTheLateAnswer) {
  Simulate(Local(kNearLatitude, 1));
  session().server().Store(kTalkerFarAway);  // he flew out of range; the plug-in does not know yet
  std::vector<FakeHost::Placement> placed;
  EXPECT_LT(TimedTalk(1, &placed), 50);
  ASSERT_EQ(1u, placed.size());
  ExpectAt({-1.001f, 0.1f, 0.0f}, placed[0]);  // on the record it had
  ASSERT_TRUE(testing::WaitUntil([this] { return host().Placements().size() >= 2; }, kWaitMs));
  ExpectAt(kFar, host().Placements()[1]);  // on the refreshed one, about 100 ms later
  EXPECT_TRUE(session().WaitForLogLine("RefreshClientStatus : Request is terminated normally", 0, kWaitMs));
  StoreTalker(kTalkerRecord);
}

TEST_F(FarServerTest, TalkEventReturnsAtOnceWhenTheServerNeverAnswers) {
  Simulate(Local(kNearLatitude, 1));
  session().server().SetSilent(true);
  size_t from = session().LogLines().size();
  std::vector<FakeHost::Placement> placed;
  EXPECT_LT(TimedTalk(1, &placed), 50);
  ASSERT_EQ(1u, placed.size());
  ExpectAt({-1.001f, 0.1f, 0.0f}, placed[0]);
  EXPECT_TRUE(session().WaitForLogLine("RefreshClientStatus : Thread_UDPRequest thread ID #", from, kWaitMs));
  EXPECT_EQ(1u, host().Placements().size());
  EXPECT_LT(TimedTalk(0, &placed), 50);
  session().server().SetSilent(false);
}

// The 20 pilots' queries of a pass are in flight together: a pass costs one round trip, so each
// pilot is refreshed every 2 s and a little (one query after the other would take 4 s).
TEST_F(FarServerTest, PassOfTwentyPilotsRepeatsWithinTheGoal) {
  std::string wingman = PluginSession::WingmanNickname(kWingmen);
  size_t first = session().server().QueryTicks(wingman).size();
  ASSERT_TRUE(testing::WaitUntil([&] { return session().server().QueryTicks(wingman).size() >= first + 4; },
                                 5 * kWaitMs));
  std::vector<uint64_t> ticks = session().server().QueryTicks(wingman);
  for (size_t i = first + 1; i < ticks.size(); ++i) {
    uint64_t period = ticks[i] - ticks[i - 1];
    EXPECT_GE(period, 2000u);
    EXPECT_LE(period, 3000u) << "pass " << i;  // the goal is 2300 ms; BENCHMARKS.md has the figure
  }
  EXPECT_TRUE(session().WaitForLogLine(
      "Thread_UDPRequest : Added item [" + PluginSession::WingmanRecord(kWingmen).substr(0, 24), 0, kWaitMs));
}

// Datagrams sprayed at port 10601 from another socket while passes run never reach the station
// list; the server's own replies still do.
TEST_F(FarServerTest, ForgedRepliesNeverReachTheStationList) {
  auto info = [this] {
    return session().plugin().InfoText(PluginSession::kConnection, PluginSession::kTalkerClient,
                                       PLUGIN_CLIENT);
  };
  auto forger = platform::Env::Default().CreateUdpSocket();
  ASSERT_EQ(0, forger->Bind(kLoopbackAddress, 0));
  const std::string forged = "Talker@42.000000 41.000000 10000 999.000 124.000 030.000 X__ 251.000 7 0 ";
  std::atomic<bool> spraying{true};
  std::thread spray([&] {
    for (int i = 0; i < 3000 && spraying.load(); ++i) {  // about 3 s, a pass or two
      forger->SendTo(forged.data(), forged.size(), kLoopbackAddress, 10601);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  bool believed = false;
  for (int look = 0; look < 150 && !believed; ++look) {
    believed = info().find("999.000") != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  spraying = false;
  spray.join();
  EXPECT_FALSE(believed) << info();
  std::string server = "127.0.0.1:" + std::to_string(session().server().port());
  std::string from = "127.0.0.1:" + std::to_string(forger->LocalPort());
  EXPECT_TRUE(session().WaitForLogLine(
      "not sent by the station server " + server + " (last from " + from + ")", 0, kWaitMs));

  StoreTalker("Talker@42.000000 41.000000 10000 252.000 124.000 030.000 X__ 251.000 7 0 ");
  EXPECT_NE(std::string::npos, info().find("radio 1 on 252.000")) << info();
  StoreTalker(kTalkerRecord);
}

}  // namespace
}  // namespace halcyra
