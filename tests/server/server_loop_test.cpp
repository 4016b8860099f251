// The server loop and the program run over real UDP on loopback, with ports chosen by the OS and
// a fake clock for expiry, summaries and the rate limit of problem lines.
#include "server_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_env.h"
#include "platform/ipv4.h"
#include "platform/mutex.h"
#include "station_stand_in.h"
#include "wire/station_messages.h"

namespace halcyra::server {
namespace {

constexpr int kReplyWaitMs = 3000;

// Sockets need the socket library started (WSAStartup on Windows; it counts its calls).
std::unique_ptr<platform::UdpSocket> NewSocket(platform::Env& env) {
  EXPECT_EQ(0, env.StartNetworking());
  std::unique_ptr<platform::UdpSocket> socket = env.CreateUdpSocket();
  if (!socket) {
    // Nothing in these tests can go on without sockets.
    std::fprintf(stderr, "cannot create a UDP socket: error %d\n", env.LastNetworkingError());
    std::abort();
  }
  return socket;
}

// Collects output lines from the server thread.
class Lines {
 public:
  void Add(const std::string& line) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    lines_.push_back(line);
    added_.NotifyAll();
  }
  LineSink Sink() {
    return [this](const std::string& line) { Add(line); };
  }
  // Waits up to 5 s for a line containing text; returns it, or "" when none came.
  std::string WaitFor(const std::string& text) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    std::string found;
    added_.WaitFor(lock, std::chrono::seconds(5), [&]() REQUIRES(mutex_) {
      for (const std::string& line : lines_) {
        if (line.find(text) != std::string::npos) {
          found = line;
          return true;
        }
      }
      return false;
    });
    return found;
  }
  size_t CountContaining(const std::string& text) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    size_t count = 0;
    for (const std::string& line : lines_) count += line.find(text) != std::string::npos;
    return count;
  }

 private:
  platform::Mutex mutex_;  // a leaf
  platform::ConditionVariable added_;
  std::vector<std::string> lines_ GUARDED_BY(mutex_);
};

// A pilot's socket on a loopback address (127.0.0.1 unless told; all of 127/8 is loopback).
class Client {
 public:
  explicit Client(uint32_t address = kLoopbackAddress) : socket_(NewSocket(platform::Env::Default())) {
    EXPECT_EQ(0, socket_->Bind(address, 0));
  }
  void Send(uint16_t port, const std::string& datagram) {
    ASSERT_EQ(static_cast<int>(datagram.size()),
              socket_->SendTo(datagram.data(), datagram.size(), kLoopbackAddress, port));
  }
  // The reply, or "<timeout>".
  std::string Receive(int waitMs = kReplyWaitMs) {
    char buffer[2048];
    int received = socket_->ReceiveFrom(buffer, sizeof buffer, waitMs, nullptr, nullptr);
    if (received == platform::kReceiveTimedOut) return "<timeout>";
    if (received < 0) return "<error>";
    return std::string(buffer, static_cast<size_t>(received));
  }
  std::string Ask(uint16_t port, const std::string& datagram) {
    Send(port, datagram);
    return Receive();
  }

 private:
  std::unique_ptr<platform::UdpSocket> socket_;
};

// Whether a socket bound to another loopback address sends from it. Wine's sockets do not: bound
// to 127.0.0.2 they still send from 127.0.0.1, so tests of what the server does per address run
// on Linux only (the server's code is the same on both).
bool SendsFromOtherLoopbackAddresses() {
  std::unique_ptr<platform::UdpSocket> probe = NewSocket(platform::Env::Default());
  EXPECT_EQ(0, probe->Bind(kLoopbackAddress, 0));
  std::unique_ptr<platform::UdpSocket> from = NewSocket(platform::Env::Default());
  EXPECT_EQ(0, from->Bind(kLoopbackAddress + 1, 0));
  from->SendTo("?", 1, kLoopbackAddress, probe->LocalPort());
  char buffer[8];
  uint32_t address = 0;
  return probe->ReceiveFrom(buffer, sizeof buffer, kReplyWaitMs, &address, nullptr) == 1 &&
         address == kLoopbackAddress + 1;
}

constexpr const char* kSourceAddressesNotKept = "sockets bound to 127.0.0.2 send from 127.0.0.1 here (wine)";

// A ServerLoop on its own thread and its own socket.
class RunningLoop {
 public:
  RunningLoop(testing::FakeEnv& env, StationServerLimits limits, ServerLoopTiming timing,
              SourceDefences defences = {})
      : server_(limits) {
    EXPECT_TRUE(service_.ok()) << service_.error();
    loop_ = std::make_unique<ServerLoop>(env, service_.socket(), server_, timing, lines.Sink(),
                                         std::move(defences));
    service_.Start(
        [this](platform::UdpSocket&, const std::function<bool()>& stopping) { loop_->Run(stopping); });
  }
  uint16_t port() const { return service_.port(); }
  ServerStatus Status() { return loop_->Status(); }

  Lines lines;

 private:
  StationServer server_;
  std::unique_ptr<ServerLoop> loop_;
  testing::LoopbackService service_;  // last: its thread has stopped before the loop goes
};

ServerLoopTiming QuickTiming() {
  ServerLoopTiming timing;
  timing.receiveWaitMs = 10;
  timing.summaryIntervalMs = 0;
  return timing;
}

StationRecord Hawk() {
  StationRecord hawk;
  CopyText(hawk.nickname, "Hawk 2");
  CopyText(hawk.latitudeText, "42.176000");
  CopyText(hawk.longitudeText, "42.480000");
  CopyText(hawk.altitudeText, "1655");
  CopyText(hawk.frequency1, "251.000");
  CopyText(hawk.frequency2, "000.000");
  CopyText(hawk.frequency3, "030.000");
  CopyText(hawk.activeMarks, "X__");
  CopyText(hawk.cryptoFrequency, "251.000");
  hawk.cryptoKey = 12;
  hawk.radioClass = 2;
  return hawk;
}

TEST(ServerLoop, PublishedStationIsAnsweredToTheAskingSocket) {
  testing::FakeEnv env;
  RunningLoop running(env, {}, QuickTiming());
  Client publisher, asker;
  StationRecord hawk = Hawk();
  publisher.Send(running.port(), wire::FormatPublish(hawk));

  // The publish and the query come from different sockets, so poll until the record is there.
  std::string reply;
  for (int attempt = 0; attempt < 100; ++attempt) {
    reply = asker.Ask(running.port(), wire::FormatQuery("Hawk 2"));
    if (reply != "(no found) ") break;
    env.target().SleepMs(5);
  }
  StationRecord received;
  ASSERT_EQ(wire::ReplyKind::kRecord, wire::ParseReply(reply, &received).kind) << reply;
  EXPECT_EQ(wire::FormatRecordText(hawk), wire::FormatRecordText(received));
  EXPECT_EQ("(no found) ", asker.Ask(running.port(), wire::FormatQuery("Nobody")));
}

TEST(ServerLoop, GarbageAndOverlongDatagramsAreRejectedAndTheServerGoesOn) {
  testing::FakeEnv env;
  RunningLoop running(env, {}, QuickTiming());
  Client pilot;
  pilot.Send(running.port(), "hello server");
  pilot.Send(running.port(), std::string("GET:\x01\xFF\"", 7));
  pilot.Send(running.port(), "SET:Long@" + std::string(1014, 'x'));  // 1023 bytes
  pilot.Send(running.port(), "SET:Huge@" + std::string(3000, 'x'));
  pilot.Send(running.port(), "SET:Hawk@1 2 3 ");
  EXPECT_EQ("Hawk@1 2 3 ", pilot.Ask(running.port(), "GET:Hawk@ "));

  std::string first = running.lines.WaitFor("hello server");
  EXPECT_NE(std::string::npos, first.find("rejected a 12-byte datagram from 127.0.0.1:")) << first;
  EXPECT_NE(std::string::npos, first.find("not a SET: or GET: request")) << first;
  // The others arrived in the same (fake) millisecond: only counted so far.
  EXPECT_EQ(1u, running.lines.CountContaining("rejected"));
  env.tickMs += 1000;
  EXPECT_NE("", running.lines.WaitFor("3 more rejected or refused datagrams"));
  env.tickMs += 1000;  // the count line opened a new second
  pilot.Send(running.port(), std::string("GET:\x01\xFF\"", 7));
  // Bytes that are not printable are shown as codes.
  EXPECT_NE("", running.lines.WaitFor("no \"@\" after the nickname: \"GET:\\x01\\xFF\\x22\""));
  EXPECT_EQ("(no found) ", pilot.Ask(running.port(), "GET:Long@ "));
  EXPECT_EQ("(no found) ", pilot.Ask(running.port(), "GET:Huge@ "));
}

TEST(ServerLoop, RecordNotRefreshedExpires) {
  testing::FakeEnv env;
  StationServerLimits limits;
  limits.expiryMs = 60000;
  RunningLoop running(env, limits, QuickTiming());
  Client pilot;
  pilot.Send(running.port(), "SET:Hawk@1 2 3 ");
  EXPECT_EQ("Hawk@1 2 3 ", pilot.Ask(running.port(), "GET:Hawk@ "));
  env.tickMs += 59000;
  EXPECT_EQ("Hawk@1 2 3 ", pilot.Ask(running.port(), "GET:Hawk@ "));
  env.tickMs += 1000;
  EXPECT_EQ("(no found) ", pilot.Ask(running.port(), "GET:Hawk@ "));
}

TEST(ServerLoop, RecordLimitRefusesNewcomersAndSaysSo) {
  testing::FakeEnv env;
  StationServerLimits limits;
  limits.maxRecords = 2;
  RunningLoop running(env, limits, QuickTiming());
  Client pilot;
  pilot.Send(running.port(), "SET:A@1 ");
  pilot.Send(running.port(), "SET:B@1 ");
  pilot.Send(running.port(), "SET:C@1 ");
  pilot.Send(running.port(), "SET:A@2 ");
  EXPECT_EQ("A@2 ", pilot.Ask(running.port(), "GET:A@ "));
  EXPECT_EQ("(no found) ", pilot.Ask(running.port(), "GET:C@ "));
  EXPECT_NE("", running.lines.WaitFor("refused a new record from 127.0.0.1:"));
  EXPECT_NE("", running.lines.WaitFor("the store is full (2 records): \"SET:C@1 \""));
}

// A nickname belongs to the address that publishes it: a stranger cannot move a flying pilot,
// pilots behind one address (NAT: other ports) share it, and once the holder has been silent for
// the takeover time the name passes on, so a pilot whose address changed gets his name back.
TEST(ServerLoop, HeldNicknameIsTakenOverOnlyAfterTheHoldersSilence) {
  if (!SendsFromOtherLoopbackAddresses()) GTEST_SKIP() << kSourceAddressesNotKept;
  testing::FakeEnv env;
  RunningLoop running(env, {}, QuickTiming());  // takeover after 30 s
  const uint16_t port = running.port();
  Client pilot, wingmanBehindTheSameAddress, stranger(kLoopbackAddress + 1);
  pilot.Send(port, "SET:Hawk@42.1 41.5 1000 ");
  EXPECT_EQ("Hawk@42.1 41.5 1000 ", pilot.Ask(port, "GET:Hawk@ "));
  stranger.Send(port, "SET:Hawk@0 0 0 ");
  EXPECT_EQ("Hawk@42.1 41.5 1000 ", stranger.Ask(port, "GET:Hawk@ "));
  wingmanBehindTheSameAddress.Send(port, "SET:Hawk@42.2 41.5 1100 ");
  EXPECT_EQ("Hawk@42.2 41.5 1100 ", wingmanBehindTheSameAddress.Ask(port, "GET:Hawk@ "));
  std::string line = running.lines.WaitFor("the nickname is held by 127.0.0.1, who published 0.0 s ago");
  EXPECT_NE(std::string::npos, line.find("refused a record from 127.0.0.2:")) << line;

  env.tickMs += 29999;
  stranger.Send(port, "SET:Hawk@0 0 0 ");
  EXPECT_EQ("Hawk@42.2 41.5 1100 ", stranger.Ask(port, "GET:Hawk@ "));
  env.tickMs += 1;
  stranger.Send(port, "SET:Hawk@0 0 0 ");
  EXPECT_EQ("Hawk@0 0 0 ", stranger.Ask(port, "GET:Hawk@ "));
  pilot.Send(port, "SET:Hawk@42.1 41.5 1000 ");  // now he is the other address
  EXPECT_EQ("Hawk@0 0 0 ", pilot.Ask(port, "GET:Hawk@ "));
  ServerStatus status = running.Status();
  EXPECT_EQ(3u, status.counters.held);
  EXPECT_EQ(1u, status.counters.takenOver);
}

TEST(ServerLoop, AddressOverItsNicknameLimitAndOversizeRecordsAreRefused) {
  if (!SendsFromOtherLoopbackAddresses()) GTEST_SKIP() << kSourceAddressesNotKept;
  testing::FakeEnv env;
  StationServerLimits limits;
  limits.maxRecordsPerSource = 2;
  RunningLoop running(env, limits, QuickTiming());
  const uint16_t port = running.port();
  Client first, second(kLoopbackAddress + 1);
  first.Send(port, "SET:A@1 ");
  first.Send(port, "SET:B@1 ");
  first.Send(port, "SET:C@1 ");
  first.Send(port, "SET:A@2 ");  // known nicknames are still refreshed
  EXPECT_EQ("A@2 ", first.Ask(port, "GET:A@ "));
  EXPECT_EQ("(no found) ", first.Ask(port, "GET:C@ "));
  EXPECT_NE("", running.lines.WaitFor("refused a new nickname from 127.0.0.1:"));
  EXPECT_NE("", running.lines.WaitFor(
                    "the address already holds 2 nicknames (--max-records-per-source): \"SET:C@1 \""));
  second.Send(port, "SET:C@1 ");
  EXPECT_EQ("C@1 ", second.Ask(port, "GET:C@ "));

  env.tickMs += 1000;  // a new second for the next refusal line
  const std::string oversize = "SET:E@" + std::string(wire::kMaxPublishBytes - 5, '1');
  second.Send(port, oversize);
  EXPECT_EQ("(no found) ", second.Ask(port, "GET:E@ "));
  EXPECT_NE("", running.lines.WaitFor("refused a 233-byte record from 127.0.0.2:"));
  ServerStatus status = running.Status();
  EXPECT_EQ(1u, status.counters.sourceLimit);
  EXPECT_EQ(1u, status.counters.oversize);
}

// Sends count datagrams in batches small enough for the server socket's queue, waiting for each
// batch to be received, so that none is lost before the loop sees it.
void Flood(Client& client, RunningLoop& running, const std::string& datagram, int count) {
  constexpr int kBatch = 50;
  for (int sent = 0; sent < count;) {
    uint64_t before = running.Status().loop.received;
    int batch = count - sent < kBatch ? count - sent : kBatch;
    for (int i = 0; i < batch; ++i) client.Send(running.port(), datagram);
    sent += batch;
    for (int wait = 0; wait < 3000 && running.Status().loop.received < before + batch; ++wait) {
      platform::Env::Default().SleepMs(1);
    }
  }
}

// At the default rate and burst a flood from one address is cut to its bucket, while a plug-in in a
// channel of 200 pilots is never refused: every 2 s cycle it publishes eight times and asks for the
// 199 others one after the other, at once (the fake clock stands still within a cycle).
TEST(ServerLoop, RateLimitCutsAFloodButNeverAPlugInInAChannelOf200) {
  if (!SendsFromOtherLoopbackAddresses()) GTEST_SKIP() << kSourceAddressesNotKept;
  testing::FakeEnv env;
  ServerOptions defaults;
  SourceDefences defences;
  defences.rate = defaults.rate;
  defences.burst = defaults.burst;
  RunningLoop running(env, {}, QuickTiming(), std::move(defences));
  const uint16_t port = running.port();
  Client plugin, flooder(kLoopbackAddress + 2);
  constexpr int kCycles = 10, kFlood = 1500;
  int answered = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    Flood(flooder, running, "GET:Hawk@ ", kFlood);
    for (int publish = 0; publish < 8; ++publish) plugin.Send(port, "SET:Own@42.1 41.5 1000 ");
    for (int pilot = 1; pilot < 200; ++pilot) {
      std::string reply = plugin.Ask(port, "GET:Pilot " + std::to_string(pilot) + "@ ");
      ASSERT_EQ("(no found) ", reply) << "cycle " << cycle << ", pilot " << pilot;
      ++answered;
    }
    env.tickMs += 2000;
  }
  EXPECT_EQ(kCycles * 199, answered);
  EXPECT_EQ("Own@42.1 41.5 1000 ", plugin.Ask(port, "GET:Own@ "));
  // The flooder's bucket of 1000 refills completely every cycle (500/s for 2 s).
  EXPECT_EQ(static_cast<uint64_t>(kCycles * (kFlood - 1000)), running.Status().loop.rateLimited);
  EXPECT_NE("", running.lines.WaitFor("dropped a datagram from 127.0.0.3:"));
  EXPECT_NE("", running.lines.WaitFor("over the rate limit of 500 requests/s (burst 1000)"));
}

TEST(ServerLoop, OnlyAllowedNetworksAreServed) {
  if (!SendsFromOtherLoopbackAddresses()) GTEST_SKIP() << kSourceAddressesNotKept;
  testing::FakeEnv env;
  SourceDefences defences;
  ASSERT_TRUE(defences.allow.Add("127.0.0.0/31"));
  ASSERT_TRUE(defences.allow.Add("10.0.0.0/8"));
  RunningLoop running(env, {}, QuickTiming(), std::move(defences));
  const uint16_t port = running.port();
  Client inside, outside(kLoopbackAddress + 1);
  outside.Send(port, "SET:Intruder@1 ");
  outside.Send(port, "GET:Intruder@ ");
  // Datagrams from one thread reach the server's socket in the order sent.
  EXPECT_EQ("(no found) ", inside.Ask(port, "GET:Intruder@ "));
  EXPECT_EQ("<timeout>", outside.Receive(0));
  EXPECT_EQ(2u, running.Status().loop.notAllowed);
  EXPECT_NE("", running.lines.WaitFor("dropped a datagram from 127.0.0.2:"));
  EXPECT_NE("", running.lines.WaitFor("not in an allowed network (--allow 127.0.0.0/31,10.0.0.0/8)"));
}

TEST(ServerLoop, SummaryLineCountsTheInterval) {
  testing::FakeEnv env;
  ServerLoopTiming timing = QuickTiming();
  timing.summaryIntervalMs = 60000;
  RunningLoop running(env, {}, timing);
  Client pilot;
  pilot.Send(running.port(), "SET:A@1 ");
  pilot.Send(running.port(), "junk");
  EXPECT_EQ("A@1 ", pilot.Ask(running.port(), "GET:A@ "));
  env.tickMs += 60000;
  std::string summary = running.lines.WaitFor("summary:");
  EXPECT_EQ(
      "summary: records=1 requests/s=0.0 rejected=1 refused=0 held=0 over-limit=0 oversize=0 rate-limited=0 "
      "not-allowed=0 expired=0 unanswered=0 interval=60s",
      summary);
}

// A socket whose every receive fails with the same error.
class BrokenSocket : public platform::UdpSocket {
 public:
  int Bind(uint32_t, uint16_t) override { return 0; }
  int SendTo(const void*, size_t, uint32_t, uint16_t) override { return -1; }
  int ReceiveFrom(void*, size_t, int, uint32_t*, uint16_t*) override {
    ++receives;
    return platform::kReceiveError;
  }
  uint16_t LocalPort() const override { return 0; }
  void Shutdown() override {}
  void Close() override {}
  int LastError() const override { return 5; }

  std::atomic<int> receives{0};
};

TEST(ServerLoop, FailingSocketIsReportedAtAPaceAndDoesNotSpin) {
  testing::FakeEnv env;
  BrokenSocket socket;
  StationServer server({});
  Lines lines;
  ServerLoop loop(env, socket, server, QuickTiming(), lines.Sink());
  uint64_t start = env.tickMs;
  loop.Run([&] { return socket.receives.load() >= 250; });
  // Each failure pauses 10 ms (fake time), so 250 failures span 2.5 s: three lines, the rest counted.
  EXPECT_GE(env.sleptMs.load(), 2490u);
  EXPECT_GE(env.tickMs - start, 2490u);
  EXPECT_EQ(3u, lines.CountContaining("receive failed: "));
  EXPECT_NE("", lines.WaitFor("(error 5) (and 99 more socket errors before it)"));
}

TEST(RunServer, StartsOnTheChosenPortAndStopsCleanly) {
  testing::FakeEnv env;
  Lines out, err;
  ServerOptions options;
  options.bindAddress = kLoopbackAddress;
  options.port = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> exitCode{-1};
  auto thread = env.StartThread([&] {
    exitCode = RunServer(
        env, options, [&] { return stop.load(); }, out.Sink(), err.Sink());
  });

  std::string start = out.WaitFor("halcyra-server listening on 127.0.0.1:");
  ASSERT_NE("", start);
  EXPECT_NE(std::string::npos, start.find("(at most 10000 records, expiry 600 s, summary every 60 s)"))
      << start;
  EXPECT_EQ(
      "defences: nicknames taken over after 30 s of silence, 64 nicknames per address, 500 requests/s per "
      "address (burst 1000), records up to 232 bytes, serving everyone",
      out.WaitFor("defences:"));
  uint16_t port = static_cast<uint16_t>(std::stoi(start.substr(start.find(':') + 1)));
  ASSERT_NE(0, port);
  Client pilot;
  pilot.Send(port, "SET:A@1 ");
  EXPECT_EQ("A@1 ", pilot.Ask(port, "GET:A@ "));

  stop = true;
  thread->Join();
  EXPECT_EQ(0, exitCode.load());
  EXPECT_NE("", out.WaitFor("halcyra-server stopped (records held: 1)"));
  EXPECT_EQ(0u, err.CountContaining(""));
}

TEST(RunServer, BusyPortIsAClearErrorAndAFailingExitCode) {
  testing::FakeEnv env;
  auto taken = NewSocket(env);
  ASSERT_EQ(0, taken->Bind(kLoopbackAddress, 0));
  Lines out, err;
  ServerOptions options;
  options.bindAddress = kLoopbackAddress;
  options.port = taken->LocalPort();
  int exitCode = RunServer(
      env, options, [] { return true; }, out.Sink(), err.Sink());
  EXPECT_EQ(1, exitCode);
  std::string message =
      err.WaitFor("halcyra-server: cannot listen on UDP 127.0.0.1:" + std::to_string(options.port));
  EXPECT_NE("", message);
  EXPECT_NE(std::string::npos, message.find("(error ")) << message;
  EXPECT_EQ(0u, out.CountContaining("listening"));
}

TEST(RunServer, FailedNetworkingStartIsReported) {
  testing::FakeEnv env;
  env.startNetworkingResult = 10091;
  Lines out, err;
  EXPECT_EQ(1, RunServer(
                   env, ServerOptions{}, [] { return true; }, out.Sink(), err.Sink()));
  EXPECT_NE("", err.WaitFor("cannot start networking"));
}

}  // namespace
}  // namespace halcyra::server
