// Channel events through the loaded plug-in: the host's connection and move events build the
// channel client database, the own nickname names the local station that is published, and the
// stop sequence stays prompt while a query waits on a silent station server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fake_host.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "log_reader.h"
#include "simulator_sender.h"
#include "station_stand_in.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using testing::CountContaining;
using testing::FakeHost;
using testing::LineContaining;
using testing::LoadedPlugin;
using testing::StationStandIn;
using testing::TempDir;
using testing::WaitUntil;

constexpr uint64 kHandler = 0x51;
constexpr uint64 kChannel = 0x100000042;
constexpr anyID kOwnID = 3;

class ChannelEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.ok()) << plugin_.error();
    ASSERT_TRUE(server_.ok());
    testing::WriteFile(dir_ / "Halcyra" / "Halcyra.ini",
                       "[LOG]\nLOGLEVEL=5\n[HGT]\nPath=" + (dir_ / "HGT").string() +
                           "\n[HCS]\nHOST=127.0.0.1\nUDP=" + std::to_string(server_.port()) + "\n");
    host_.SetConnection(kHandler);
    host_.SetOwnClient(kOwnID, "Viper");
    host_.SetNickname(7, "Bob");
    host_.SetNickname(9, "Ann");
    host_.SetNickname(11, "Cy");
    host_.SetNickname(13, "Dee");
    host_.SetNickname(15, "Eve");
    plugin_.setFunctionPointers(host_.Table());
    ASSERT_EQ(0, plugin_.init());
    started_ = true;
    plugin_.onConnectStatusChangeEvent(kHandler, STATUS_CONNECTION_ESTABLISHED, 0);
  }
  void TearDown() override {
    Shutdown();
    EXPECT_EQ(0, host_.OutstandingAllocations());
  }

  void Shutdown() {
    if (started_) plugin_.shutdown();
    started_ = false;
  }
  void MoveOwnClientIn(const std::vector<anyID>& channel) {
    host_.SetChannel(kChannel, channel);
    plugin_.onClientMoveEvent(kHandler, kOwnID, 0, kChannel, 0, "");
  }
  // The log of the whole run (the plug-in is stopped first, so everything is written).
  std::vector<std::string> LogAfterStop() {
    Shutdown();
    return testing::SplitLines(testing::ReadFile(dir_ / "Halcyra" / "Halcyra.log"));
  }
  // Sends SET_ACTIV to the simulator port until the plug-in publishes; the publish text, or "".
  std::string Publish() {
    testing::SimulatorSender sender;
    std::string published;
    WaitUntil([&] {
      sender.Send("SET_ACTIV X__");
      for (const std::string& request : server_.Requests()) {
        if (request.rfind("SET:", 0) == 0) published = request;
      }
      return !published.empty();
    });
    return published;
  }

  LoadedPlugin plugin_;
  FakeHost host_;
  TempDir dir_;
  testing::ScopedSavedGames savedGames_{dir_.path().string()};
  StationStandIn server_;
  bool started_ = false;
};

TEST_F(ChannelEventsTest, MoveListsTheOtherClientsInOrderAndNamesTheLocalStation) {
  EXPECT_EQ(1, host_.ClientIdCalls());
  MoveOwnClientIn({kOwnID, 7, 9});
  EXPECT_EQ("SET:Viper@0.000000 0.000000 0 000.000 000.000 000.000 X__ 000.000 0 0 ", Publish());

  auto lines = LogAfterStop();
  std::string bob = LineContaining(lines, "CTS3ClientsBase::AddCDB_item : new Client : [#001]\"Bob\"");
  EXPECT_NE(std::string::npos, bob.find("][L04] ")) << bob;
  EXPECT_EQ(bob.size() - 10, bob.find("\"42:6F:62:")) << bob;  // the dump follows the closing quote
  EXPECT_NE("", LineContaining(lines, "new Client : [#002]\"Ann\"41:6E:6E:"));
  EXPECT_EQ(0, CountContaining(lines, "[#003]"));
  EXPECT_EQ(0, CountContaining(lines, "\"Viper\""));
  EXPECT_EQ(1, CountContaining(lines, "onClientMoveEvent : Number of clients = 2 (after build)"));
}

// Another client leaves for another channel: the list is rebuilt from the own channel, which the
// host is asked for (it answers for that one only), not from the channel of the event.
TEST_F(ChannelEventsTest, AClientLeavingForAnotherChannelLeavesTheOwnChannelsList) {
  MoveOwnClientIn({kOwnID, 7, 9});
  host_.SetChannel(kChannel, {kOwnID, 7});
  plugin_.onClientMoveEvent(kHandler, 9, kChannel, kChannel + 1, 0, "");
  auto lines = LogAfterStop();
  EXPECT_EQ(1, CountContaining(lines, "Number of clients = 1 (after build)"));
  EXPECT_EQ(0, CountContaining(lines, "Error getting channel list"));
  std::vector<std::string> setup = host_.SetupCalls();
  ASSERT_EQ(6u, setup.size());  // the connection and the two moves
  for (size_t i = 0; i < setup.size(); i += 2) {
    EXPECT_EQ("systemset3DSettings 81 1 100", setup[i]);
    EXPECT_EQ("systemset3DListenerAttributes 81 0,0,0 0,0,0 0,0,0", setup[i + 1]);
  }
}

TEST_F(ChannelEventsTest, EveryMoveRebuildsTheListFromIdOne) {
  MoveOwnClientIn({kOwnID, 7, 9});
  plugin_.onClientMoveMovedEvent(kHandler, 9, kChannel, kChannel, 0, 1, "mover", "uid", "");
  auto lines = LogAfterStop();
  EXPECT_EQ(2, CountContaining(lines, "new Client : [#001]\"Bob\""));
  EXPECT_EQ(2, CountContaining(lines, "new Client : [#002]\"Ann\""));
  EXPECT_EQ(0, CountContaining(lines, "[#003]"));
  EXPECT_EQ(2, CountContaining(lines, "Number of clients = 0 (after delete)"));
  EXPECT_EQ(2, CountContaining(lines, "Number of clients = 2 (after build)"));
  EXPECT_EQ(1, CountContaining(lines, "onClientMoveMovedEvent : Call ts3plugin_onClientMoveEvent"));
}

TEST_F(ChannelEventsTest, OwnClientAloneListsNobodyButStillNamesTheLocalStation) {
  MoveOwnClientIn({kOwnID});
  EXPECT_EQ(0u, Publish().rfind("SET:Viper@", 0));
  auto lines = LogAfterStop();
  EXPECT_EQ(1, CountContaining(lines, "Number of clients = 0 (after build)"));
  EXPECT_EQ(0, CountContaining(lines, "No Clients"));
  EXPECT_EQ(0, CountContaining(lines, "new Client"));
}

TEST_F(ChannelEventsTest, EmptyChannelListIsReported) {
  MoveOwnClientIn({});
  auto lines = LogAfterStop();
  std::string line = LineContaining(lines, "CTS3ClientsBase::BuildDataBase : No Clients");
  EXPECT_NE(std::string::npos, line.find("][L00] ")) << line;
  EXPECT_EQ(1, CountContaining(lines, "Number of clients = 0 (after build)"));
}

TEST_F(ChannelEventsTest, UnreadableNicknameEndsTheBuildWithTheClientsReadSoFar) {
  host_.MakeNicknameUnreadable(11);
  MoveOwnClientIn({kOwnID, 7, 9, 11, 13, 15});
  auto lines = LogAfterStop();
  EXPECT_EQ(1, CountContaining(lines, "new Client : [#001]\"Bob\""));
  EXPECT_EQ(1, CountContaining(lines, "new Client : [#002]\"Ann\""));
  EXPECT_EQ(0, CountContaining(lines, "[#003]"));
  EXPECT_EQ(0, CountContaining(lines, "\"Dee\""));
  EXPECT_EQ(1, CountContaining(lines, "CTS3ClientsBase::BuildDataBase : Error getting Client nickname"));
  EXPECT_EQ(1, CountContaining(lines, "Number of clients = 2 (after build)"));
}

TEST_F(ChannelEventsTest, StopIsPromptWhileAQueryWaitsOnASilentServer) {
  server_.StaySilent();
  MoveOwnClientIn({kOwnID, 7, 9});
  ASSERT_TRUE(WaitUntil(
      [this] {
        for (const std::string& request : server_.Requests()) {
          if (request == "GET:Bob@ ") return true;
        }
        return false;
      },
      10000));
  auto start = std::chrono::steady_clock::now();
  Shutdown();
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LT(elapsed.count(), 3000);
}

}  // namespace
}  // namespace halcyra
