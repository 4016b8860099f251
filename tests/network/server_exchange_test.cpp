// The station server exchange over real UDP on loopback: against a fake server with fault switches
// and against the real halcyra-server program. Queries go out from local port 10601, bound for the
// exchange's life; publishes from 10603.
#include "network/server_exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>

#include "child_process.h"
#include "fake_env.h"
#include "network_rig.h"
#include "platform/ipv4.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using testing::ChildProcess;
using testing::CountContaining;
using testing::EchoRecord;
using testing::LineContaining;
using testing::NetworkRig;
using testing::WaitUntil;

constexpr char kViperPublish[] = "SET:Viper@0.000000 0.000000 0 000.000 000.000 000.000 ___ 000.000 0 0 ";
constexpr char kBobRecord[] = "Bob@42.5 41.25 3000 124.000 251.000 030.000 _X_ 124.000 7 100 ";

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

class ServerExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.server.ok());
    ASSERT_TRUE(rig_.started);
  }

  // A talk handler's query: returns at once; the result comes later (-1 until then).
  std::shared_ptr<std::atomic<int>> TalkQuery(const char* nickname) {
    auto result = std::make_shared<std::atomic<int>>(-1);
    rig_.exchange->RefreshClientStatus(nickname,
                                       [result](int value, const platform::StopToken&) { *result = value; });
    return result;
  }

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

TEST_F(ServerExchangeTest, TalkQueryReturnsAtOnceAndAnswersWhenTheReplyIsStored) {
  rig_.server.AnswerWith(kBobRecord, 100);
  auto start = std::chrono::steady_clock::now();
  auto result = TalkQuery("Bob");
  EXPECT_LT(MillisecondsSince(start), 50);
  EXPECT_EQ(-1, result->load());
  ASSERT_TRUE(WaitUntil([&] { return result->load() != -1; }, 3000));
  EXPECT_EQ(kQueryStored, result->load());
  EXPECT_TRUE(rig_.model->FindStation("Bob"));
  auto lines = rig_.LogLines();
  char threadId[16];
  std::snprintf(threadId, sizeof threadId, "#%08X", rig_.exchange->QueryThreadId());
  EXPECT_NE(
      "", LineContaining(lines, std::string("RefreshClientStatus : Send query for [Bob] to HCS. Thread ID ") +
                                    threadId));
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
  // Longer than any reply may be: its sender is not known, so it answers no query.
  rig_.server.AnswerWith(std::string(1500, 'x'));
  EXPECT_EQ(kQueryRunning, rig_.exchange->RefreshForCycle("Bob"));
  rig_.server.AnswerWith(kBobRecord);
  EXPECT_EQ(kQueryStored, rig_.exchange->RefreshForCycle("Bob"));  // the socket goes on
  EXPECT_EQ(1, rig_.model->Count());
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "Thread_UDPRequest :  ! Recvfrom failed with error"));
}

// Only what was asked for is believed: a record of someone else answers no query.
TEST_F(ServerExchangeTest, ReplyForAnotherNicknameIsDropped) {
  rig_.server.AnswerWith("Ann@1 2 3 100.000 000.000 000.000 X__ 000.000 0 0 ");
  EXPECT_EQ(kQueryRunning, rig_.exchange->RefreshForCycle("Bob"));
  EXPECT_EQ(0, rig_.model->Count());
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "No query waits for the reply of [Ann]: dropped"));
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

TEST_F(ServerExchangeTest, SilentServerEndsEachQueryAt450Ms) {
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
  EXPECT_EQ(2u, rig_.server.RequestCount());
  auto lines = rig_.LogLines();
  EXPECT_EQ(2, CountContaining(lines, "out of time (>450 ms) -> Terminated it"));
  EXPECT_NE(std::string::npos, LineContaining(lines, "out of time").find("][L02] "));
}

TEST_F(ServerExchangeTest, AnswerAfter600MsIsIgnored) {
  rig_.server.AnswerWith(kBobRecord, 600);
  auto result = TalkQuery("Bob");
  ASSERT_TRUE(WaitUntil([&] { return result->load() != -1; }, 3000));
  EXPECT_EQ(kQueryRunning, result->load());
  ASSERT_TRUE(WaitUntil([&] { return rig_.server.RepliesSent() == 1; }, 3000));  // the answer did go out
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(0, rig_.model->Count());
  auto lines = rig_.LogLines();
  std::string timeout = LineContaining(lines, "RefreshClientStatus : Thread_UDPRequest thread ID #");
  EXPECT_NE(std::string::npos, timeout.find("out of time (>450 ms) -> Terminated it")) << timeout;
  EXPECT_NE(std::string::npos, timeout.find("][L00] ")) << timeout;
}

TEST_F(ServerExchangeTest, StoppingTheCallerAbandonsTheWaitAtOnce) {
  rig_.server.StaySilent();
  platform::StopSource stop;
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.RequestStop();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kQueryRunning, rig_.exchange->RefreshForCycle("Bob", stop.Token()));
  EXPECT_LT(MillisecondsSince(start), 400);
  stopper.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past its time limit
  EXPECT_EQ(0, CountContaining(rig_.LogLines(), "out of time"));
}

// A pass sends all its queries at once: with a server 100 ms away it costs one round trip, not
// one per pilot. A pilot the server does not know and one it does not answer cost only their own
// refresh.
TEST_F(ServerExchangeTest, APassCostsOneRoundTripAndALostAnswerOnlyThatPilotsRefresh) {
  std::vector<std::string> nicknames;
  for (int i = 0; i < 20; ++i) nicknames.push_back("Pilot" + std::to_string(i));
  rig_.server.SetAnswer([](const testing::StandInRequest& request) -> std::optional<testing::StandInReply> {
    if (request.text == "GET:Pilot20@ ") return std::nullopt;
    return testing::StandInReply(*EchoRecord(request), 100);
  });
  auto start = std::chrono::steady_clock::now();
  std::vector<int> results = rig_.exchange->RefreshPass(nicknames, {});
  EXPECT_LT(MillisecondsSince(start), 1000);  // one at a time would take 2 s
  EXPECT_EQ(std::vector<int>(20, kQueryStored), results);
  EXPECT_EQ(20, rig_.model->Count());

  rig_.clients->AddCDB_item("Ghost", 5);
  nicknames.push_back("Pilot20");  // no answer
  nicknames.push_back("Ghost");    // "(no found) "
  rig_.server.SetAnswer([](const testing::StandInRequest& request) -> std::optional<testing::StandInReply> {
    if (request.text == "GET:Pilot20@ ") return std::nullopt;
    if (request.text == "GET:Ghost@ ") return testing::StandInReply("(no found) ", 100);
    return testing::StandInReply(*EchoRecord(request), 100);
  });
  results = rig_.exchange->RefreshPass(nicknames, {});
  EXPECT_EQ(std::vector<int>(20, kQueryStored), std::vector<int>(results.begin(), results.begin() + 20));
  EXPECT_EQ(kQueryRunning, results[20]);
  // While Pilot20's answer may still come, the "(no found) " cannot be told from it.
  EXPECT_EQ(kQueryRunning, results[21]);
  EXPECT_TRUE(rig_.host.Placements().empty());

  // Once every pilot answers (and Pilot20's answer can no longer come late), the one
  // "(no found) " is the ghost's.
  std::this_thread::sleep_for(std::chrono::milliseconds(kQueryTimeLimitMs + 50));
  nicknames.erase(nicknames.begin() + 20);
  rig_.server.SetAnswer([](const testing::StandInRequest& request) -> std::optional<testing::StandInReply> {
    if (request.text == "GET:Ghost@ ") return testing::StandInReply("(no found) ", 50);
    return testing::StandInReply(*EchoRecord(request), 100);
  });
  start = std::chrono::steady_clock::now();
  results = rig_.exchange->RefreshPass(nicknames, {});
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_EQ(kQueryFailed, results[20]);
  auto placements = rig_.host.Placements();
  ASSERT_EQ(1u, placements.size());
  EXPECT_EQ(5, placements[0].clientID);
  EXPECT_EQ(1, CountContaining(rig_.LogLines(), "NickName [Ghost] doesn't exist in Halcyra server."));
}

// A talk handler's query and a pass at the same moment share the socket: both are answered.
TEST_F(ServerExchangeTest, TalkQueryAndPassShareThePort) {
  rig_.server.SetAnswer([](const testing::StandInRequest& request) {
    return std::optional<testing::StandInReply>(testing::StandInReply(*EchoRecord(request), 100));
  });
  auto talk = TalkQuery("Bob");
  std::vector<int> results = rig_.exchange->RefreshPass({"Ann", "Bob"}, {});
  EXPECT_EQ((std::vector<int>{kQueryStored, kQueryStored}), results);
  ASSERT_TRUE(WaitUntil([&] { return talk->load() != -1; }, 3000));
  EXPECT_EQ(kQueryStored, talk->load());
  std::vector<uint16_t> ports = rig_.server.RequestPorts();
  EXPECT_EQ((std::set<uint16_t>{kQueryLocalPort}), std::set<uint16_t>(ports.begin(), ports.end()));
  EXPECT_EQ(0, CountContaining(rig_.LogLines(), "Cannot initialize (bind)"));
}

// Replies sent to port 10601 from anywhere but the station server's address and port never reach
// the station list, and say so at level 0 at most once a minute.
TEST(ServerExchangeSourceTest, RepliesFromOtherSourcesAreDroppedAndReportedOnceAMinute) {
  testing::FakeEnv clock;
  clock.realSleepCapMs = 100000;  // waits last their real time: only the test moves the clock on
  // Made before the rig, so that it outlives the stand-in server's thread, which sprays with it.
  auto forger = platform::Env::Default().CreateUdpSocket();
  ASSERT_EQ(0, forger->Bind(kLoopbackAddress, 0));
  NetworkRig rig(clock);
  ASSERT_TRUE(rig.server.ok());
  ASSERT_TRUE(rig.started);
  auto spray = [&](int count) {
    std::string forged = "Bob@10 10 1 999.000 999.000 999.000 XXX 000.000 0 0 ";
    for (int i = 0; i < count; ++i)
      forger->SendTo(forged.data(), forged.size(), kLoopbackAddress, kQueryLocalPort);
  };
  rig.server.SetAnswer([&](const testing::StandInRequest&) {
    spray(5);  // while the query waits, before the server's own answer
    return std::optional<testing::StandInReply>(testing::StandInReply(kBobRecord, 50));
  });
  EXPECT_EQ(kQueryStored, rig.exchange->RefreshForCycle("Bob"));
  std::optional<StationRecord> bob = rig.model->FindStation("Bob");
  ASSERT_TRUE(bob);
  EXPECT_STREQ("42.5", bob->latitudeText);
  EXPECT_STREQ("124.000", bob->frequency1);
  ASSERT_TRUE(WaitUntil([&] { return rig.exchange->DroppedForeignReplies() == 5; }));

  spray(3);  // within the minute: counted, not reported yet
  ASSERT_TRUE(WaitUntil([&] { return rig.exchange->DroppedForeignReplies() == 8; }));
  EXPECT_EQ(1, CountContaining(rig.LogLines(), "not sent by the station server"));
  clock.tickMs += kDroppedReportIntervalMs;  // the rest is reported a minute after the first line
  std::string from = "127.0.0.1:" + std::to_string(forger->LocalPort());
  std::string server = "127.0.0.1:" + std::to_string(rig.server.port());
  ASSERT_TRUE(
      WaitUntil([&] { return CountContaining(rig.LogLines(), "not sent by the station server") == 2; }));
  auto lines = rig.LogLines();
  std::string first =
      LineContaining(lines, "Thread_UDPRequest : Dropped 1 replies not sent by the station server " + server +
                                " (last from " + from + ")");
  EXPECT_NE(std::string::npos, first.find("][L00] ")) << first;
  EXPECT_EQ(2, CountContaining(lines, "not sent by the station server"));
  EXPECT_EQ(1, CountContaining(lines, "Dropped 7 replies not sent by the station server " + server));
  EXPECT_STREQ("42.5", rig.model->FindStation("Bob")->latitudeText);
}

// Port 10601 held by another program: a clear line, queries fail at once instead of hanging, and
// the next query after the port is free binds it and is answered.
TEST(ServerExchangePortTest, TakenQueryPortIsReportedAndBoundOnceFree) {
  auto blocker = platform::Env::Default().CreateUdpSocket();
  ASSERT_EQ(0, blocker->Bind(0, kQueryLocalPort));
  NetworkRig rig(platform::Env::Default());
  ASSERT_TRUE(rig.server.ok());
  ASSERT_TRUE(rig.started);
  rig.server.AnswerWith(kBobRecord);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kQueryFailed, rig.exchange->RefreshForCycle("Bob"));
  EXPECT_LT(MillisecondsSince(start), 400);
  EXPECT_EQ(0u, rig.server.RequestCount());
  blocker.reset();
  // The port is bound again by one of the next queries (a query already failing when the port was
  // freed does not count; under wine the port is free a few milliseconds after the close returns).
  int result = kQueryFailed;
  for (int attempt = 0; attempt < 100 && result != kQueryStored; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    result = rig.exchange->RefreshForCycle("Bob");
  }
  EXPECT_EQ(kQueryStored, result);
  auto lines = rig.LogLines();
  std::string taken = LineContaining(lines, "Thread_UDPRequest :  ! Cannot initialize (bind): ");
  EXPECT_NE(std::string::npos, taken.find("][L00] ")) << taken;
  EXPECT_NE(std::string::npos, taken.find("UDP port 10601")) << taken;
  EXPECT_NE("", LineContaining(lines, "UDP port 10601 is bound again"));
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

// A pass of 200 pilots goes out in one paced burst that the real server takes whole (its default
// rate limit, its socket's buffer): every one is answered.
TEST_F(RealStationServerTest, PassOf200PilotsIsAnsweredWhole) {
  std::vector<std::string> nicknames;
  for (int i = 0; i < 200; ++i) nicknames.push_back("Ghost" + std::to_string(i));
  auto start = std::chrono::steady_clock::now();
  std::vector<int> results = rig_.exchange->RefreshPass(nicknames, {});
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(std::vector<int>(200, kQueryFailed), results);  // "(no found) " each
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
