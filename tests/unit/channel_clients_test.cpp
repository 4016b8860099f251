#include "station/channel_clients.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "fake_env.h"
#include "fake_host.h"
#include "log_reader.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using testing::FakeEnv;
using testing::FakeHost;
using testing::ReadFile;
using testing::TempDir;

constexpr uint64 kHandler = 0x51;
constexpr uint64 kOtherHandler = 0x77;
constexpr uint64 kChannel = 0x100000042;
constexpr anyID kOwnID = 3;

struct LogLine {
  int level;
  std::string body;  // tag, " : " and text
  bool operator==(const LogLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << line.level << " " << line.body;
}

class ClientsBaseTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(0, host_.OutstandingAllocations()); }

  void Start(int logLevel) {
    log_ = std::make_unique<Clog>(env_);
    ASSERT_EQ(0, log_->Init((dir_.path() / "Halcyra.log").wstring(), logLevel));
    clients_ = std::make_unique<CTS3ClientsBase>(
        *log_, [this](const char* nickname) { ownNicknames_.push_back(nickname); });
    host_.SetConnection(kHandler);
    host_.SetOwnClient(kOwnID, "Me");
    host_.SetNickname(7, "Bob");
    host_.SetNickname(9, "Ann");
    host_.SetNickname(11, "Cy");
  }

  void ConnectAndJoin(const std::vector<anyID>& channel) {
    host_.SetChannel(kChannel, channel);
    clients_->OnConnectStatusChange(kHandler, STATUS_CONNECTION_ESTABLISHED, table_);
    clients_->OnClientMove(kHandler, kOwnID, kChannel, table_);
  }

  // The queued lines written so far.
  std::vector<LogLine> Lines() {
    log_->Flush();
    std::vector<LogLine> lines;
    std::istringstream file(ReadFile(dir_.path() / "Halcyra.log"));
    constexpr char kQueued[] = "[2024-05-17 14:02:03.045][L%d%d] (%d%d%d) %*";
    const size_t levelAt = std::strlen("[2024-05-17 14:02:03.045][L");
    const size_t textAt = levelAt + std::strlen("00] (000) ");
    std::string text;
    while (std::getline(file, text)) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (testing::MatchesShape(text, kQueued))
        lines.push_back({std::stoi(text.substr(levelAt, 2)), text.substr(textAt)});
    }
    return lines;
  }

  bool Logged(const LogLine& wanted) {
    auto lines = Lines();
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
  }

  static void ExpectNode(const std::optional<ClientNode>& node, int id, anyID clientID,
                         const char* nickname) {
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(id, node->id);
    EXPECT_EQ(clientID, node->clientID);
    EXPECT_STREQ(nickname, node->nickname);
  }

  TempDir dir_;
  FakeEnv env_;
  FakeHost host_;
  TS3Functions table_ = host_.Table();
  std::vector<std::string> ownNicknames_;
  std::unique_ptr<Clog> log_;
  std::unique_ptr<CTS3ClientsBase> clients_;
};

TEST_F(ClientsBaseTest, MoveOfOwnClientListsTheOthersInChannelOrderAndNamesTheLocalStation) {
  Start(5);
  ConnectAndJoin({kOwnID, 7, 9});

  EXPECT_EQ(kChannel, clients_->OwnChannelID());
  EXPECT_EQ(2, clients_->Count());
  ExpectNode(clients_->FindById(1), 1, 7, "Bob");
  ExpectNode(clients_->FindById(2), 2, 9, "Ann");
  ExpectNode(clients_->FindByClientID(9), 2, 9, "Ann");
  ExpectNode(clients_->FindByNickname("Bob"), 1, 7, "Bob");
  EXPECT_FALSE(clients_->FindById(0));  // never the list head
  EXPECT_FALSE(clients_->FindById(3));
  EXPECT_FALSE(clients_->FindByClientID(kOwnID));
  EXPECT_FALSE(clients_->FindByNickname("bob"));
  EXPECT_FALSE(clients_->FindByNickname(nullptr));
  EXPECT_EQ(std::vector<std::string>{"Me"}, ownNicknames_);

  std::vector<LogLine> expected = {
      {5, "onClientMoveEvent : newChannelID 0x00000042"},
      {5, "onClientMoveEvent : Number of clients = 0 (after delete)"},
      {4, "CTS3ClientsBase::AddCDB_item : new Client : [#001]\"Bob\"42:6F:62:"},
      {4, "CTS3ClientsBase::AddCDB_item : new Client : [#002]\"Ann\"41:6E:6E:"},
      {5, "onClientMoveEvent : Number of clients = 2 (after build)"},
  };
  EXPECT_EQ(expected, Lines());
}

TEST_F(ClientsBaseTest, BelowLevelFiveTheNewClientLineHasNoHexDump) {
  Start(4);
  ConnectAndJoin({kOwnID, 7});
  std::vector<LogLine> expected = {{4, "CTS3ClientsBase::AddCDB_item : new Client : [#001]\"Bob\""}};
  EXPECT_EQ(expected, Lines());
}

TEST_F(ClientsBaseTest, EveryMoveRebuildsFromIdOneAndOnlyTheOwnMoveChangesTheChannel) {
  Start(5);
  ConnectAndJoin({kOwnID, 7, 9});
  host_.SetChannel(kChannel, {9, kOwnID, 11});
  clients_->OnClientMove(kHandler, 11, 0xDEAD, table_);

  EXPECT_EQ(kChannel, clients_->OwnChannelID());
  EXPECT_EQ(2, clients_->Count());
  ExpectNode(clients_->FindById(1), 1, 9, "Ann");
  ExpectNode(clients_->FindById(2), 2, 11, "Cy");
  EXPECT_FALSE(clients_->FindByClientID(7));

  auto lines = Lines();
  auto deleted =
      std::find(lines.begin(), lines.end(), LogLine{5, "CTS3ClientsBase::deleteCDB : Delete {Bob}"});
  ASSERT_NE(lines.end(), deleted);
  ASSERT_LT(deleted + 2, lines.end());
  EXPECT_EQ((LogLine{5, "CTS3ClientsBase::deleteCDB : Delete {Ann}"}), deleted[1]);
  EXPECT_EQ((LogLine{5, "onClientMoveEvent : Number of clients = 0 (after delete)"}), deleted[2]);
  EXPECT_EQ(3, host_.SettingsCalls());  // the connection, then every move
}

TEST_F(ClientsBaseTest, OwnClientAloneGivesAnEmptyListButNoFailure) {
  Start(5);
  ConnectAndJoin({kOwnID});
  EXPECT_EQ(0, clients_->BuildDataBase(kHandler, table_));
  EXPECT_EQ(0, clients_->Count());
  EXPECT_EQ((std::vector<std::string>{"Me", "Me"}), ownNicknames_);
}

TEST_F(ClientsBaseTest, EmptyOrRefusedChannelListFailsWithItsOwnLine) {
  Start(0);
  ConnectAndJoin({});
  EXPECT_EQ(-1, clients_->BuildDataBase(kHandler, table_));
  EXPECT_TRUE(Logged({0, "CTS3ClientsBase::BuildDataBase : No Clients"}));

  host_.SetChannel(kChannel, {kOwnID, 7});
  host_.RefuseChannelList(true);
  EXPECT_EQ(-1, clients_->BuildDataBase(kHandler, table_));
  EXPECT_TRUE(Logged({0, "CTS3ClientsBase::BuildDataBase : Error getting channel list"}));
  EXPECT_EQ(0, clients_->Count());
  EXPECT_TRUE(ownNicknames_.empty());
}

TEST_F(ClientsBaseTest, UnreadableNicknameEndsTheBuildWithTheClientsReadSoFar) {
  Start(0);
  for (anyID id : {20, 21, 22, 23, 24}) host_.SetNickname(id, "P" + std::to_string(id));
  host_.MakeNicknameUnreadable(22);
  ConnectAndJoin({20, 21, 22, 23, 24});
  clients_->deleteCDB();
  EXPECT_EQ(2, clients_->BuildDataBase(kHandler, table_));
  EXPECT_EQ(2, clients_->Count());
  ExpectNode(clients_->FindById(2), 2, 21, "P21");
  EXPECT_FALSE(clients_->FindByClientID(23));
  EXPECT_TRUE(Logged({0, "CTS3ClientsBase::BuildDataBase : Error getting Client nickname"}));
}

TEST_F(ClientsBaseTest, ConnectionEventsActOnlyOnEstablishedAndDisconnected) {
  Start(6);
  for (int status : {STATUS_CONNECTING, STATUS_CONNECTED, STATUS_CONNECTION_ESTABLISHING}) {
    clients_->OnConnectStatusChange(kHandler, status, table_);
  }
  EXPECT_EQ(0, host_.TotalCalls());
  EXPECT_TRUE(Lines().empty());

  ConnectAndJoin({kOwnID, 7});
  EXPECT_EQ(kHandler, clients_->CurrentServerConnectionHandlerID());
  EXPECT_EQ(kOwnID, clients_->OwnClientID());
  // The connection and the move each set the 3D space up: its settings first, then the listener at
  // the origin, looking nowhere.
  const std::string settings = "systemset3DSettings 81 1 100";
  const std::string listener = "systemset3DListenerAttributes 81 0,0,0 0,0,0 0,0,0";
  EXPECT_EQ((std::vector<std::string>{settings, listener, settings, listener}), host_.SetupCalls());

  int callsBefore = host_.TotalCalls();
  clients_->OnConnectStatusChange(kOtherHandler, STATUS_DISCONNECTED, table_);
  EXPECT_EQ(callsBefore, host_.TotalCalls());
  EXPECT_EQ((LogLine{0, "onConnectStatusChangeEvent : Client disconnected"}), Lines().back());
  EXPECT_EQ(kHandler, clients_->CurrentServerConnectionHandlerID());
  EXPECT_EQ(1, clients_->Count());
}

TEST_F(ClientsBaseTest, FailingGetClientIdKeepsThePreviousOwnClient) {
  Start(0);
  ConnectAndJoin({kOwnID});
  table_.getClientID = [](uint64, anyID* result) -> unsigned int {
    *result = 99;
    return 1;
  };
  clients_->OnConnectStatusChange(kOtherHandler, STATUS_CONNECTION_ESTABLISHED, table_);
  EXPECT_EQ(kOwnID, clients_->OwnClientID());
  EXPECT_EQ(kOtherHandler, clients_->CurrentServerConnectionHandlerID());
}

TEST_F(ClientsBaseTest, MissingHostFunctionsAreSkippedAndLogged) {
  Start(0);
  TS3Functions empty;
  std::memset(&empty, 0, sizeof empty);
  clients_->OnConnectStatusChange(kHandler, STATUS_CONNECTION_ESTABLISHED, empty);
  clients_->OnClientMove(kHandler, 0, kChannel, empty);
  clients_->AddCDB_item("Bob", 7);
  HostCallRelay emptyRelay(env_, empty);
  platform::StopToken keep;  // never stopped
  clients_->Reset3DSoundForAllClients(emptyRelay, keep);
  clients_->Reset3DSoundForClient(emptyRelay, *clients_->FindById(1), keep);

  table_.freeMemory = nullptr;  // its memory could never be handed back, so nothing is asked for
  EXPECT_EQ(-1, clients_->BuildDataBase(kHandler, table_));
  EXPECT_EQ(0, host_.TotalCalls());
  EXPECT_TRUE(Logged({0, "onConnectStatusChangeEvent : The host does not provide getClientID"}));
  EXPECT_TRUE(
      Logged({0, "CTS3ClientsBase::Setup3DListener : The host does not provide systemset3DSettings"}));
  EXPECT_TRUE(Logged({0, "CTS3ClientsBase::BuildDataBase : The host does not provide freeMemory"}));
  EXPECT_TRUE(Logged(
      {0, "CTS3ClientsBase::Reset3DSoundForClient : The host does not provide channelset3DAttributes"}));
}

TEST_F(ClientsBaseTest, LongNicknamesAreCutToWholeCharacters) {
  Start(0);
  const std::string twoByte = "\xC3\xA9", threeByte = "\xE2\x82\xAC", fourByte = "\xF0\x9F\x9B\xA9";
  struct Case {
    anyID id;
    std::string unit;
    size_t keptBytes;
  };
  std::vector<Case> cases = {{30, "a", 127}, {31, twoByte, 126}, {32, threeByte, 126}, {33, fourByte, 124}};
  std::vector<anyID> channel = {kOwnID};
  for (const Case& c : cases) {
    std::string nickname;
    while (nickname.size() < 200) nickname += c.unit;
    host_.SetNickname(c.id, nickname);
    channel.push_back(c.id);
  }
  host_.SetOwnClient(kOwnID, std::string(126, 'x') + twoByte);
  ConnectAndJoin(channel);

  for (const Case& c : cases) {
    auto node = clients_->FindByClientID(c.id);
    ASSERT_TRUE(node.has_value());
    std::string kept = node->nickname;
    EXPECT_EQ(c.keptBytes, kept.size()) << c.id;
    EXPECT_EQ(0u, kept.size() % c.unit.size()) << c.id;
  }
  ASSERT_EQ(1u, ownNicknames_.size());
  EXPECT_EQ(std::string(126, 'x'), ownNicknames_[0]);
}

TEST_F(ClientsBaseTest, DeleteResetAndTerminateWalkTheListInOrder) {
  Start(5);
  ConnectAndJoin({kOwnID, 7, 9, 11});
  host_.ClearPlacements();
  HostCallRelay relay(env_, table_);
  platform::StopToken keep;  // never stopped
  clients_->Reset3DSoundForAllClients(relay, keep);
  clients_->Reset3DSoundForClient(relay, *clients_->FindByNickname("Cy"), keep);
  auto placements = host_.Placements();
  std::vector<anyID> placed;
  for (const auto& placement : placements) {
    EXPECT_EQ(kHandler, placement.serverConnectionHandlerID);
    EXPECT_EQ(0.0f, placement.position.x + placement.position.y + placement.position.z);
    placed.push_back(placement.clientID);
  }
  EXPECT_EQ((std::vector<anyID>{7, 9, 11, 11}), placed);

  size_t before = Lines().size();
  clients_->Terminate();
  clients_->deleteCDB();  // empty now: no line
  auto lines = Lines();
  std::vector<LogLine> expected = {
      {2, "CTS3ClientsBase::Terminate"},
      {5, "CTS3ClientsBase::deleteCDB : Delete {Bob}"},
      {5, "CTS3ClientsBase::deleteCDB : Delete {Ann}"},
      {5, "CTS3ClientsBase::deleteCDB : Delete {Cy}"},
  };
  EXPECT_EQ(expected, std::vector<LogLine>(lines.begin() + before, lines.end()));
  EXPECT_EQ(0, clients_->Count());
  EXPECT_TRUE(Logged({5, "CTS3ClientsBase::Reset3DSoundForAllClients : Reset clients 3D Sound"}));
  EXPECT_TRUE(Logged({3, "CTS3ClientsBase::Reset3DSoundForClient : Reset 3DSound for \"Cy\" (11)"}));
}

// A channel list that the host hands over only after a reader has had time to look at the database,
// which at that moment has been emptied and not yet rebuilt.
struct ReaderDuringRebuild {
  static inline CTS3ClientsBase* clients = nullptr;
  static inline std::thread reader;
  static inline std::optional<ClientNode> first;
  static inline int count = -1;

  static unsigned int SlowChannelList(uint64 schid, uint64 channelID, anyID** result) {
    reader = std::thread([] {
      first = clients->FindById(1);
      count = clients->Count();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return FakeHost::Active()->GetChannelClientList(schid, channelID, result);
  }
};

TEST_F(ClientsBaseTest, ALookUpWaitsForTheRebuildInProgress) {
  Start(0);
  ConnectAndJoin({kOwnID, 7, 9});
  host_.SetChannel(kChannel, {kOwnID, 11, 9});
  ReaderDuringRebuild::clients = clients_.get();
  table_.getChannelClientList = &ReaderDuringRebuild::SlowChannelList;
  clients_->OnClientMove(kHandler, 11, kChannel, table_);
  ReaderDuringRebuild::reader.join();
  ExpectNode(ReaderDuringRebuild::first, 1, 11, "Cy");
  EXPECT_EQ(2, ReaderDuringRebuild::count);
}

// Readers must only ever see whole nodes of one build or the other, never a half-made one.
TEST_F(ClientsBaseTest, LookUpsDuringRebuildsSeeOnlyWholeNodes) {
  Start(0);
  // Full-length names that differ in every byte, so a node copied while being overwritten shows.
  const std::string bob(127, 'b'), ann(127, 'a'), cy(127, 'c');
  host_.SetNickname(7, bob);
  host_.SetNickname(9, ann);
  host_.SetNickname(11, cy);
  ConnectAndJoin({kOwnID, 7, 9, 11});
  const std::vector<std::vector<anyID>> channels = {{kOwnID, 7, 9, 11}, {11, kOwnID, 7}};
  const std::map<std::pair<int, anyID>, std::string> validNodes = {
      {{1, 7}, bob}, {{2, 9}, ann}, {{3, 11}, cy}, {{1, 11}, cy}, {{2, 7}, bob}};

  std::atomic<bool> done{false};
  std::atomic<int> badNodes{0};
  std::atomic<int> nodesSeen{0};
  std::thread reader([&] {
    while (!done.load()) {
      for (int id = 0; id <= 4; ++id) {
        auto node = clients_->FindById(id);
        if (!node) continue;
        ++nodesSeen;
        auto valid = validNodes.find({node->id, node->clientID});
        if (valid == validNodes.end() || valid->second != node->nickname) ++badNodes;
      }
    }
  });
  // Rebuild until the reader has really been at work alongside.
  for (int rebuild = 0; rebuild < 2000 || nodesSeen.load() < 2000; ++rebuild) {
    host_.SetChannel(kChannel, channels[rebuild % 2]);
    clients_->OnClientMove(kHandler, 7, 0, table_);
  }
  done = true;
  reader.join();
  EXPECT_EQ(0, badNodes.load());
  EXPECT_LE(2, clients_->Count());
}

}  // namespace
}  // namespace halcyra
