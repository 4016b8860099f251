// The refresh cycle driven tick by tick (and as a thread on the test clock), querying a fake
// station server over loopback.
#include "network/refresh_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "fake_env.h"
#include "network/simulator_link.h"
#include "network_rig.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using testing::CountContaining;
using testing::EchoRecord;
using testing::FakeEnv;
using testing::LineContaining;
using testing::NetworkRig;
using testing::WriteFile;

constexpr uint64 kHandler = 0x51;

class RefreshCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.server.ok());
    ASSERT_TRUE(rig_.started);
    rig_.settings.iniPath = (rig_.dir / "Halcyra.ini").wstring();
    WriteIni(0);
    config_.UpdatePluginInfo();
    rig_.server.SetAnswer(EchoRecord);
    rig_.clients->SetCurrentServerConnectionHandlerID(kHandler);
  }

  void WriteIni(int ear1) {
    WriteFile(rig_.dir / "Halcyra.ini", "[HCS]\nHOST=127.0.0.1\nUDP=" + std::to_string(rig_.server.port()) +
                                            "\n[EAR]\nRADIO1=" + std::to_string(ear1) + "\n");
  }
  void JoinBobAndAnn() {
    rig_.clients->AddCDB_item("Bob", 7);
    rig_.clients->AddCDB_item("Ann", 9);
  }
  std::vector<std::string> RequestsSince(size_t first) {
    auto all = rig_.server.Requests();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())),
                                    all.end());
  }
  // Origin placements of the host so far.
  size_t Resets() {
    size_t count = 0;
    for (const auto& placement : rig_.host.Placements()) {
      count += placement.position.x == 0 && placement.position.y == 0 && placement.position.z == 0 ? 1 : 0;
    }
    return count;
  }

  NetworkRig rig_{platform::Env::Default()};
  SimulatorStatus simulator_;
  Configuration config_{platform::Env::Default(), *rig_.log, rig_.settings, simulator_};
  RefreshCycle cycle_{platform::Env::Default(), *rig_.log,  config_,        *rig_.clients,
                      *rig_.exchange,           simulator_, *rig_.hostCalls};
};

TEST_F(RefreshCycleTest, EachTickAsksForEveryChannelClientInListOrder) {
  JoinBobAndAnn();
  cycle_.Tick();
  EXPECT_EQ((std::vector<std::string>{"GET:Bob@ ", "GET:Ann@ "}), rig_.server.Requests());
  EXPECT_TRUE(rig_.model->FindStation("Bob"));
  EXPECT_TRUE(rig_.model->FindStation("Ann"));
  cycle_.Tick();
  EXPECT_EQ(4u, rig_.server.RequestCount());
  auto lines = rig_.LogLines();
  EXPECT_EQ(2, CountContaining(lines, "Thread_RW_HCS : Number of clients : 2 "));
  EXPECT_EQ(2, CountContaining(lines, "Thread_RW_HCS : Try to find ID #2"));
  EXPECT_EQ(4, CountContaining(lines, "is terminated normally ("));
}

TEST_F(RefreshCycleTest, EmptyChannelMakesNoQuery) {
  cycle_.Tick();
  EXPECT_FALSE(rig_.server.WaitForRequests(1, 100));
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "Thread_RW_HCS : Number of clients : 0 "));
}

// The count is read once per tick: a client who joins during a pass is asked for on the next one.
TEST_F(RefreshCycleTest, ClientJoiningDuringAPassIsAskedForOnTheNextTick) {
  JoinBobAndAnn();
  rig_.server.SetAnswer([this](const testing::StandInRequest& request) {
    if (request.text == "GET:Bob@ " && rig_.clients->Count() == 2) rig_.clients->AddCDB_item("Cy", 11);
    return EchoRecord(request);
  });
  cycle_.Tick();
  EXPECT_EQ((std::vector<std::string>{"GET:Bob@ ", "GET:Ann@ "}), rig_.server.Requests());
  cycle_.Tick();
  EXPECT_EQ((std::vector<std::string>{"GET:Bob@ ", "GET:Ann@ ", "GET:Cy@ "}), RequestsSince(2));
}

TEST_F(RefreshCycleTest, SettingsAreReloadedOnTheSeventhTickEvenWhileTheSimulatorIsSilent) {
  EXPECT_EQ(0, rig_.settings.ear1.load());
  WriteIni(-1);
  for (int tick = 1; tick <= 6; ++tick) {
    cycle_.Tick();
    EXPECT_EQ(0, rig_.settings.ear1.load()) << "tick " << tick;
  }
  EXPECT_EQ(0, simulator_.alive.load());  // the watchdog ran out on tick 4
  cycle_.Tick();
  EXPECT_EQ(-1, rig_.settings.ear1.load());
  WriteIni(1);
  for (int tick = 8; tick <= 13; ++tick) cycle_.Tick();
  EXPECT_EQ(-1, rig_.settings.ear1.load());
  cycle_.Tick();
  EXPECT_EQ(1, rig_.settings.ear1.load());
}

TEST_F(RefreshCycleTest, SilentSimulatorStopsQueriesOnTheFourthTickUntilTheNextPosition) {
  JoinBobAndAnn();
  for (int tick = 1; tick <= 3; ++tick) {
    cycle_.Tick();
    EXPECT_EQ(1, simulator_.alive.load()) << "tick " << tick;
  }
  EXPECT_EQ(6u, rig_.server.RequestCount());
  EXPECT_EQ(0u, Resets());

  cycle_.Tick();  // fourth tick without SET_LLALT
  EXPECT_EQ(0, simulator_.alive.load());
  EXPECT_EQ(6u, rig_.server.RequestCount());
  auto placements = rig_.host.Placements();
  ASSERT_EQ(2u, placements.size());
  EXPECT_EQ(7, placements[0].clientID);
  EXPECT_EQ(9, placements[1].clientID);
  EXPECT_EQ(kHandler, placements[0].serverConnectionHandlerID);
  EXPECT_EQ(2u, Resets());

  cycle_.Tick();
  EXPECT_EQ(4u, Resets());
  EXPECT_EQ(6u, rig_.server.RequestCount());

  // A position from the simulator brings the queries back on the next tick.
  SimulatorCommands commands(*rig_.log, *rig_.model, *rig_.tiles, nullptr);
  SimulatorLink link(platform::Env::Default(), *rig_.log, commands, simulator_);
  std::string position = "SET_LLALT 42.5 41.5 1000 0";
  link.HandleDatagram(position.c_str(), static_cast<int>(position.size()));
  cycle_.Tick();
  EXPECT_EQ(1, simulator_.alive.load());
  EXPECT_EQ(8u, rig_.server.RequestCount());
  EXPECT_EQ(4u, Resets());

  auto lines = rig_.LogLines();
  EXPECT_EQ(1, CountContaining(lines, "Do not manage 3D Sound. SET_LLALT receiving lost. (4 s)"));
  EXPECT_EQ(1, CountContaining(lines, "Do not manage 3D Sound. SET_LLALT receiving lost. (5 s)"));
  EXPECT_EQ(2, CountContaining(lines, "CTS3ClientsBase::Reset3DSoundForAllClients : Reset clients 3D Sound"));
}

// The queries of a pass are in flight together: a server that never answers costs the pass one
// 450 ms window, not one per client.
TEST_F(RefreshCycleTest, SilentServerCostsThePassOneWindowAndThePassAsksEveryone) {
  JoinBobAndAnn();
  rig_.server.StaySilent();
  auto start = std::chrono::steady_clock::now();
  cycle_.Tick();
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(elapsed.count(), 440);
  EXPECT_LT(elapsed.count(), 890);
  EXPECT_EQ((std::vector<std::string>{"GET:Bob@ ", "GET:Ann@ "}), rig_.server.Requests());
  EXPECT_EQ(0, rig_.model->Count());
  EXPECT_EQ(2, CountContaining(rig_.LogLines(), "out of time (>450 ms) -> Terminated it"));
}

// The thread on the test clock: a 2000 ms tick costs a few real milliseconds.
class RefreshThreadTest : public RefreshCycleTest {
 protected:
  FakeEnv clock_;
  RefreshCycle threadCycle_{clock_,         *rig_.log,  config_,        *rig_.clients,
                            *rig_.exchange, simulator_, *rig_.hostCalls};
};

TEST_F(RefreshThreadTest, TicksEveryTwoSecondsOfTheClock) {
  JoinBobAndAnn();
  uint64_t start = clock_.sleptMs.load();
  ASSERT_TRUE(threadCycle_.Start());
  ASSERT_TRUE(rig_.server.WaitForRequests(6, 20000));
  threadCycle_.Stop();
  EXPECT_GE(clock_.sleptMs.load() - start, 3u * RefreshCycle::kTickMs);
  std::vector<std::string> requests = rig_.server.Requests();
  requests.resize(3);
  EXPECT_EQ((std::vector<std::string>{"GET:Bob@ ", "GET:Ann@ ", "GET:Bob@ "}), requests);
}

TEST_F(RefreshThreadTest, StopDuringAQueryOnASilentServerIsPrompt) {
  JoinBobAndAnn();
  rig_.server.StaySilent();
  ASSERT_TRUE(threadCycle_.Start());
  ASSERT_TRUE(rig_.server.WaitForRequests(2, 20000));
  auto start = std::chrono::steady_clock::now();
  threadCycle_.Stop();
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LT(elapsed.count(), 400);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(2u, rig_.server.RequestCount());  // the one pass, asked at once; nothing after the stop
  EXPECT_EQ(0, CountContaining(rig_.LogLines(), "out of time"));
}

}  // namespace
}  // namespace halcyra
