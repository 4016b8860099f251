// The station server exchange over real UDP on loopback: against a fake server with fault switches
// and against the real halcyra-server program. Queries bind local port 10601, publishes 10603.
#include "network/server_exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "child_process.h"
#include "network_rig.h"

namespace halcyra {
namespace {

using testing::ChildProcess;
using testing::CountContaining;
using testing::EchoRecord;
using testing::LineContaining;
using testing::NetworkRig;

constexpr char kViperPublish[] = "SET:Viper@0.000000 0.000000 0 000.000 000.000 000.000 ___ 000.000 0 0 ";
constexpr char kBobRecord[] = "Bob@42.5 41.25 3000 124.000 251.000 030.000 _X_ 124.000 7 100 ";

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

class ServerExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.server.ok()); }

  NetworkRig rig_{platform::Env::Default()};
};

TEST_F(ServerExchangeTest, PublishSendsTheLocalStationInTheWireForm) {
  rig_.SetLocalNickname("Viper");
  EXPECT_EQ(0, rig_.exchange->SendHCDataToHCS("ignored"));
  ASSERT_TRUE(rig_.server.WaitForRequests(1, 3000));
  EXPECT_EQ(kViperPublish, rig_.server.Requests()[0]);
  EXPECT_EQ(10603, rig_.server.RequestPorts()[0]);
  auto lines = rig_.LogLines();
  EXPECT_NE("", LineContaining(lines, "SendHCDataToHCS : Send request to 127.0.0.1 on " +
                                          std::to_string(rig_.server.port())));
  EXPECT_NE("", LineContaining(lines, std::string("SendHCDataToHCS : Sent to HCS [") + kViperPublish + ">"));
}

TEST_F(ServerExchangeTest, PublishWhilePort10603IsTakenFailsAndSaysSo) {
  auto blocker = platform::Env::Default().CreateUdpSocket();
  ASSERT_EQ(0, blocker->Bind(0, kPublishLocalPort));
  rig_.SetLocalNickname("Viper");
  EXPECT_EQ(-1, rig_.exchange->SendHCDataToHCS(""));
  EXPECT_FALSE(rig_.server.WaitForRequests(1, 100));
  auto lines = rig_.LogLines();
  std::string line = LineContaining(lines, "SendHCDataToHCS : Cannot initialize (bind): ");
  EXPECT_NE(std::string::npos, line.find("][L00] ")) << line;
}

TEST_F(ServerExchangeTest, QueryStoresTheRecordOfTheReply) {
  rig_.server.AnswerWith(kBobRecord);
  EXPECT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Bob"));
  ASSERT_EQ(1u, rig_.server.RequestCount());
  EXPECT_EQ("GET:Bob@ ", rig_.server.Requests()[0]);
  EXPECT_EQ(10601, rig_.server.RequestPorts()[0]);  // the reply comes back to that port

  std::optional<StationRecord> bob = rig_.model->FindStation("Bob");
  ASSERT_TRUE(bob);
  EXPECT_STREQ("42.5", bob->latitudeText);
  EXPECT_STREQ("41.25", bob->longitudeText);
  EXPECT_STREQ("3000", bob->altitudeText);
  EXPECT_FLOAT_EQ(42.5f, bob->latitude);
  EXPECT_FLOAT_EQ(41.25f, bob->longitude);
  EXPECT_FLOAT_EQ(3000.0f, bob->altitude);
  EXPECT_STREQ("124.000", bob->frequency1);
  EXPECT_STREQ("251.000", bob->frequency2);
  EXPECT_STREQ("030.000", bob->frequency3);
  EXPECT_STREQ("_X_", bob->activeMarks);
  EXPECT_STREQ("124.000", bob->cryptoFrequency);
  EXPECT_EQ(7, bob->cryptoKey);
  EXPECT_EQ(100, bob->radioClass);

  auto lines = rig_.LogLines();
  EXPECT_NE("", LineContaining(lines, "Thread_UDPRequest : Send request to HCS [GET:Bob@ > "));
  EXPECT_NE("", LineContaining(lines,
                               "Thread_UDPRequest : Added item [Bob@42.5 41.25 3000 124.000 251.000 "
                               "030.000 _X_ 124.000 7 100]"));
  EXPECT_NE("", LineContaining(lines, "is terminated normally ("));
}

TEST_F(ServerExchangeTest, TalkQueryWaitsForTheReplyAndLogsItsOwnCompletion) {
  rig_.server.AnswerWith(kBobRecord);
  rig_.exchange->RefreshClientStatus("Bob");
  EXPECT_TRUE(rig_.model->FindStation("Bob"));
  auto lines = rig_.LogLines();
  EXPECT_NE("", LineContaining(lines, "RefreshClientStatus : Send query for [Bob] to HCS. Thread ID #"));
  EXPECT_NE("", LineContaining(lines, "RefreshClientStatus : Request is terminated normally"));
}

TEST_F(ServerExchangeTest, NotFoundPutsThatClientBackAtTheOriginAndStoresNothing) {
  rig_.clients->SetCurrentServerConnectionHandlerID(0x51);
  rig_.clients->AddCDB_item("Ann", 9);
  rig_.clients->AddCDB_item("Bob", 7);
  rig_.server.AnswerWith("(no found) ");
  EXPECT_EQ(kQueryFailed, rig_.exchange->RefreshForCycle("Bob"));

  EXPECT_EQ(0, rig_.model->Count());
  auto placements = rig_.host.Placements();
  ASSERT_EQ(1u, placements.size());
  EXPECT_EQ(7, placements[0].clientID);
  EXPECT_EQ(0x51u, placements[0].serverConnectionHandlerID);
  EXPECT_EQ(0.0f, placements[0].position.x);
  EXPECT_EQ(0.0f, placements[0].position.y);
  EXPECT_EQ(0.0f, placements[0].position.z);
  auto lines = rig_.LogLines();
  EXPECT_NE("", LineContaining(lines, "NickName [Bob] doesn't exist in Halcyra server."));
  EXPECT_NE("", LineContaining(lines, "Reset 3DSound for \"Bob\" (7)"));
}

TEST_F(ServerExchangeTest, NotFoundFollowedByMoreTextIsJustAnInvalidFrame) {
  rig_.clients->AddCDB_item("Bob", 7);
  rig_.server.AnswerWith("(no found) x");
  EXPECT_EQ(kQueryFailed, rig_.exchange->RefreshForCycle("Bob"));
  EXPECT_TRUE(rig_.host.Placements().empty());
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "Thread_UDPRequest : Invalid frame"));
}

TEST_F(ServerExchangeTest, GarbageRepliesAreSurvivedAndStoreNothing) {
  for (const std::string& garbage : {std::string("\x01\x02\xff garbage without any at sign"),
                                     std::string("@1 2 3"), std::string(1022, '@')}) {
    rig_.server.AnswerWith(garbage);
    EXPECT_EQ(kQueryFailed, rig_.exchange->RefreshForCycle("Bob")) << garbage;
  }
  rig_.server.AnswerWith(std::string(1500, 'x'));  // longer than any reply may be
  EXPECT_EQ(kQueryFailed, rig_.exchange->RefreshForCycle("Bob"));
  EXPECT_EQ(0, rig_.model->Count());
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "Thread_UDPRequest :  ! Recvfrom failed with error"));
}

TEST_F(ServerExchangeTest, ReplyForAnotherNicknameIsStoredUnderTheRepliesName) {
  rig_.server.AnswerWith("Ann@1 2 3 100.000 000.000 000.000 X__ 000.000 0 0 ");
  EXPECT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Bob"));
  EXPECT_FALSE(rig_.model->FindStation("Bob"));
  std::optional<StationRecord> ann = rig_.model->FindStation("Ann");
  ASSERT_TRUE(ann);
  EXPECT_STREQ("100.000", ann->frequency1);
}

TEST_F(ServerExchangeTest, NicknamesUpTo30CharactersCanBeReceived) {
  rig_.server.SetAnswer(EchoRecord);
  std::string nickname30(30, 'N');
  std::string nickname31(31, 'N');
  EXPECT_EQ(kQueryStored, rig_.exchange->RefreshForCycle(nickname30.c_str()));
  EXPECT_EQ(kQueryFailed, rig_.exchange->RefreshForCycle(nickname31.c_str()));
  EXPECT_TRUE(rig_.model->FindStation(nickname30.c_str()));
  EXPECT_FALSE(rig_.model->FindStation(nickname31.c_str()));
  ASSERT_EQ(2u, rig_.server.RequestCount());
  EXPECT_EQ("GET:" + nickname31 + "@ ", rig_.server.Requests()[1]);
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "Thread_UDPRequest : Invalid frame"));
}

TEST_F(ServerExchangeTest, ShortReplyKeepsThatPilotsOwnEarlierValues) {
  rig_.server.AnswerWith(kBobRecord);
  ASSERT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Bob"));
  rig_.server.AnswerWith("Ann@10 20 30000 999.000 888.000 777.000 __X 999.000 5 200 ");
  ASSERT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Ann"));

  rig_.server.AnswerWith("Bob@43.5 44.5");
  ASSERT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Bob"));
  std::optional<StationRecord> bob = rig_.model->FindStation("Bob");
  ASSERT_TRUE(bob);
  EXPECT_STREQ("43.5", bob->latitudeText);
  EXPECT_STREQ("44.5", bob->longitudeText);
  EXPECT_FLOAT_EQ(43.5f, bob->latitude);
  EXPECT_STREQ("3000", bob->altitudeText);  // Bob's, not Ann's "30000"
  EXPECT_FLOAT_EQ(3000.0f, bob->altitude);
  EXPECT_STREQ("124.000", bob->frequency1);
  EXPECT_STREQ("_X_", bob->activeMarks);
  EXPECT_EQ(7, bob->cryptoKey);
  EXPECT_EQ(100, bob->radioClass);

  // A pilot first heard of through a short reply gets the defaults, not the previous reply's values.
  rig_.server.AnswerWith("Cy@1 2");
  ASSERT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Cy"));
  std::optional<StationRecord> cy = rig_.model->FindStation("Cy");
  ASSERT_TRUE(cy);
  EXPECT_STREQ("0", cy->altitudeText);
  EXPECT_STREQ("000.000", cy->frequency1);
  EXPECT_EQ(0, cy->cryptoKey);
  EXPECT_EQ(0, cy->radioClass);
}

TEST_F(ServerExchangeTest, SilentServerEndsEachQueryAt450MsAndFreesThePort) {
  rig_.server.StaySilent();
  platform::Env& env = platform::Env::Default();
  for (int query = 0; query < 2; ++query) {
    // Measured on the exchange's own millisecond clock: another clock may see its 450 ticks as
    // 449.x ms.
    uint64_t start = env.TickMs();
    EXPECT_EQ(kQueryRunning, rig_.exchange->RefreshForCycle("Bob"));
    uint64_t elapsed = env.TickMs() - start;
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 3000u);
  }
  EXPECT_EQ(2u, rig_.server.RequestCount());  // the second query could bind 10601 again
  auto probe = platform::Env::Default().CreateUdpSocket();
  EXPECT_EQ(0, probe->Bind(0, kQueryLocalPort));
  auto lines = rig_.LogLines();
  EXPECT_EQ(2, CountContaining(lines, "out of time (>450 ms) -> Terminated it"));
  EXPECT_NE(std::string::npos, LineContaining(lines, "out of time").find("][L02] "));
}

TEST_F(ServerExchangeTest, AnswerAfter600MsIsIgnored) {
  rig_.server.AnswerWith(kBobRecord, 600);
  rig_.exchange->RefreshClientStatus("Bob");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(1, rig_.server.RepliesSent());  // the answer did go out
  EXPECT_EQ(0, rig_.model->Count());
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "RefreshClientStatus : Thread_UDPRequest thread ID #"));
}

TEST_F(ServerExchangeTest, StoppingTheCallerAbandonsTheWaitAtOnce) {
  rig_.server.StaySilent();
  std::atomic<bool> stop{false};
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kQueryRunning, rig_.exchange->RefreshForCycle("Bob", &stop));
  EXPECT_LT(MillisecondsSince(start), 400);
  stopper.join();
  EXPECT_EQ(0, CountContaining(rig_.LogLines(), "out of time"));
}

// A query of the talk handler and one of the refresh cycle at the same moment: both want local
// port 10601, so the second fails at its bind and says so at level 0; the first gets its reply, and
// neither hangs.
TEST_F(ServerExchangeTest, OverlappingQueriesOfBothSlotsNeverHang) {
  rig_.server.AnswerWith(kBobRecord, 300);  // the talk query holds the port for 300 ms
  auto start = std::chrono::steady_clock::now();
  std::thread talk([this] { rig_.exchange->RefreshClientStatus("Bob"); });
  ASSERT_TRUE(rig_.server.WaitForRequests(1, 3000));
  int cycle = rig_.exchange->RefreshForCycle("Bob");
  talk.join();
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(kQueryFailed, cycle);
  EXPECT_EQ(1u, rig_.server.RequestCount());
  EXPECT_TRUE(rig_.model->FindStation("Bob"));
  auto lines = rig_.LogLines();
  std::string bind = LineContaining(lines, "Thread_UDPRequest :  ! Cannot initialize (bind): ");
  EXPECT_NE(std::string::npos, bind.find("][L00] ")) << bind;
  EXPECT_EQ(1, CountContaining(lines, "Cannot initialize (bind)"));
  EXPECT_NE("", LineContaining(lines, "RefreshClientStatus : Request is terminated normally"));
}

// The real station server program, started as the admin starts it.
class RealStationServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ChildProcess>(testing::StationServerProgramPath(),
                                             std::vector<std::string>{"--bind", "127.0.0.1", "--port", "0"});
    ASSERT_TRUE(server_->started()) << testing::StationServerProgramPath();
    std::optional<std::string> line = server_->ReadLine(20000);
    ASSERT_TRUE(line) << "no start-up line";
    size_t colon = line->find("127.0.0.1:");
    ASSERT_NE(std::string::npos, colon) << *line;
    int port = std::atoi(line->c_str() + colon + 10);
    ASSERT_GT(port, 0) << *line;
    rig_.PointAt(static_cast<uint16_t>(port));
  }

  NetworkRig rig_{platform::Env::Default()};
  std::unique_ptr<ChildProcess> server_;
};

TEST_F(RealStationServerTest, PublishedStationComesBackOnQuery) {
  rig_.SetLocalNickname("Viper");
  rig_.model->UpdateLocalStation([](StationRecord& local) {
    CopyText(local.latitudeText, "42.1");
    CopyText(local.frequency2, "251.000");
    local.radioClass = 200;
  });
  ASSERT_EQ(0, rig_.exchange->SendHCDataToHCS(""));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the SET is handled before the GET
  EXPECT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Viper"));
  std::optional<StationRecord> viper = rig_.model->FindStation("Viper");
  ASSERT_TRUE(viper);
  EXPECT_STREQ("42.1", viper->latitudeText);
  EXPECT_FLOAT_EQ(42.1f, viper->latitude);
  EXPECT_STREQ("251.000", viper->frequency2);
  EXPECT_EQ(200, viper->radioClass);
}

TEST_F(RealStationServerTest, UnknownNicknameResetsThatClient) {
  rig_.clients->AddCDB_item("Ghost", 12);
  EXPECT_EQ(kQueryFailed, rig_.exchange->RefreshForCycle("Ghost"));
  auto placements = rig_.host.Placements();
  ASSERT_EQ(1u, placements.size());
  EXPECT_EQ(12, placements[0].clientID);
  EXPECT_EQ(0, rig_.model->Count());
}

}  // namespace
}  // namespace halcyra
