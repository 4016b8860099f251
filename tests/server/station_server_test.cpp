#include "station_server.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "source_limits.h"
#include "wire/station_messages.h"

namespace halcyra::server {
namespace {

constexpr uint64_t kStart = 5000;
constexpr uint32_t kPilot = 0x0A000001;  // 10.0.0.1
const std::string kViper = "Viper@0.000000 0.000000 0 000.000 000.000 000.000 ___ 000.000 0 0 ";

StationServerLimits Limits(size_t maxRecords, uint64_t expiryMs) {
  StationServerLimits limits;
  limits.maxRecords = maxRecords;
  limits.expiryMs = expiryMs;
  return limits;
}

std::string Get(StationServer& server, const std::string& nickname, uint64_t now = kStart) {
  RequestResult result = server.Handle("GET:" + nickname + "@ ", kPilot, now);
  EXPECT_TRUE(result.outcome == RequestOutcome::kAnswered || result.outcome == RequestOutcome::kNotFound);
  return std::string(result.reply);
}

RequestOutcome Set(StationServer& server, const std::string& record, uint64_t now = kStart,
                   uint32_t source = kPilot) {
  return server.Handle("SET:" + record, source, now).outcome;
}

TEST(StationServer, StoresTheRecordAsSentAndAnswersIt) {
  StationServer server(Limits(10, 60000));
  EXPECT_EQ(RequestOutcome::kStored, Set(server, kViper));
  EXPECT_EQ(kViper, Get(server, "Viper"));
  EXPECT_EQ("(no found) ", Get(server, "viper"));  // nicknames are case-sensitive
  EXPECT_EQ("(no found) ", Get(server, "Vip"));

  const std::string moved = "Viper@41.5 -41.6 16000 251.000 000.000 000.000 X__ 000.000 3 200 ";
  EXPECT_EQ(RequestOutcome::kStored, Set(server, moved));
  EXPECT_EQ(moved, Get(server, "Viper"));
  EXPECT_EQ(1u, server.RecordCount());
}

TEST(StationServer, NicknameIsTheTextBeforeTheFirstAt) {
  StationServer server(Limits(10, 60000));
  Set(server, "Red Dog 1-1@1 2 3 111.000 000.000 000.000 X__ 000.000 0 0 ");
  EXPECT_EQ("Red Dog 1-1@1 2 3 111.000 000.000 000.000 X__ 000.000 0 0 ", Get(server, "Red Dog 1-1"));

  Set(server, "ace@wing@1 2 3 ");
  EXPECT_EQ("ace@wing@1 2 3 ", Get(server, "ace"));
  // A query for the same nickname is cut at its first "@" too.
  EXPECT_EQ("ace@wing@1 2 3 ", Get(server, "ace@wing"));
}

TEST(StationServer, QueryWithoutFinalBlankIsAnswered) {
  StationServer server(Limits(10, 60000));
  Set(server, kViper);
  RequestResult result = server.Handle("GET:Viper@", kPilot, kStart);
  EXPECT_EQ(RequestOutcome::kAnswered, result.outcome);
  EXPECT_EQ(kViper, result.reply);
}

TEST(StationServer, MalformedRequestsAreCountedAndChangeNothing) {
  StationServer server(Limits(10, 60000));
  Set(server, kViper);
  for (std::string datagram :
       {std::string(), std::string("hello"), std::string("set:Viper@1 2 3 "), std::string("SET:Viper 1 2 3"),
        std::string("GET:Viper"), std::string("SET:@1 2 3 "), std::string("GET:@ "), std::string("GET"),
        std::string("SET:Viper@1\0 2", 14), std::string("SET:Vi\0per@1 2", 14)}) {
    RequestResult result = server.Handle(datagram, kPilot, kStart);
    EXPECT_EQ(RequestOutcome::kMalformed, result.outcome) << datagram;
    EXPECT_TRUE(result.reply.empty());
    EXPECT_STRNE("", result.reason);
  }
  EXPECT_EQ(10u, server.counters().malformed);
  EXPECT_EQ(kViper, Get(server, "Viper"));
  EXPECT_EQ(1u, server.RecordCount());
}

// The longest record a plug-in can send (every text at its capacity, both numbers at their
// longest) is taken, one byte more is refused and changes nothing; over 1022 bytes no request is read.
TEST(StationServer, LongestPluginRecordIsTakenAndLongerIsRefused) {
  StationServer server(Limits(10, 60000));
  StationRecord longest;
  std::memset(longest.nickname, 'N', sizeof longest.nickname - 1);
  for (char* text : {longest.latitudeText, longest.longitudeText, longest.altitudeText}) {
    std::memset(text, '9', kPositionTextCapacity - 1);
  }
  for (char* text : {longest.frequency1, longest.frequency2, longest.frequency3, longest.activeMarks,
                     longest.cryptoFrequency}) {
    std::memset(text, '1', kFrequencyCapacity - 1);
  }
  longest.cryptoKey = INT32_MIN;
  longest.radioClass = INT32_MIN;
  const std::string publish = wire::FormatPublish(longest);
  ASSERT_EQ(wire::kMaxPublishBytes, publish.size());
  EXPECT_EQ(RequestOutcome::kStored, server.Handle(publish, kPilot, kStart).outcome);
  const std::string nickname(longest.nickname);
  EXPECT_EQ(publish.substr(4), Get(server, nickname));

  EXPECT_EQ(RequestOutcome::kOversize, server.Handle(publish + "1", kPilot, kStart).outcome);
  EXPECT_EQ(RequestOutcome::kOversize, Set(server, "Short@" + std::string(wire::kMaxPublishBytes, 'x')));
  EXPECT_EQ(2u, server.counters().oversize);
  EXPECT_EQ(publish.substr(4), Get(server, nickname));
  EXPECT_EQ("(no found) ", Get(server, "Short"));

  RequestResult tooLong =
      server.Handle("GET:" + std::string(wire::kMaxDatagramBytes - 3, 'x'), kPilot, kStart);
  EXPECT_EQ(RequestOutcome::kTooLong, tooLong.outcome);
  EXPECT_EQ(1u, server.counters().tooLong);
}

TEST(StationServer, RecordExpiresWhenNotRefreshed) {
  StationServer server(Limits(10, 600000));
  Set(server, kViper, kStart);
  EXPECT_EQ(kViper, Get(server, "Viper", kStart + 599999));
  Set(server, kViper, kStart + 300000);  // refreshed
  EXPECT_EQ(kViper, Get(server, "Viper", kStart + 899999));
  EXPECT_EQ("(no found) ", Get(server, "Viper", kStart + 900000));
  EXPECT_EQ(0u, server.RecordCount());  // forgotten at once, not only hidden
  EXPECT_EQ(1u, server.counters().expired);
}

TEST(StationServer, SweepForgetsOnlyExpiredRecords) {
  StationServer server(Limits(10, 1000));
  Set(server, "Old@1 2 3 ", kStart);
  Set(server, "New@1 2 3 ", kStart + 600);
  EXPECT_EQ(0u, server.Sweep(kStart + 999));
  EXPECT_EQ(1u, server.Sweep(kStart + 1000));
  EXPECT_EQ(1u, server.RecordCount());
  EXPECT_EQ("New@1 2 3 ", Get(server, "New", kStart + 1000));
  EXPECT_EQ(1u, server.counters().expired);
}

TEST(StationServer, FullStoreRefusesNewNicknamesButUpdatesKnownOnes) {
  StationServer server(Limits(2, 1000));
  EXPECT_EQ(RequestOutcome::kStored, Set(server, "A@1 ", kStart));
  EXPECT_EQ(RequestOutcome::kStored, Set(server, "B@1 ", kStart + 500));
  EXPECT_EQ(RequestOutcome::kRefused, Set(server, "C@1 ", kStart + 500));
  EXPECT_EQ("(no found) ", Get(server, "C", kStart + 500));
  EXPECT_EQ(RequestOutcome::kStored, Set(server, "A@2 ", kStart + 500));
  EXPECT_EQ("A@2 ", Get(server, "A", kStart + 500));
  EXPECT_EQ(1u, server.counters().refused);

  // Once records expire there is room again.
  server.Sweep(kStart + 1500);
  EXPECT_EQ(RequestOutcome::kStored, Set(server, "C@1 ", kStart + 1500));
  EXPECT_EQ("C@1 ", Get(server, "C", kStart + 1500));
}

TEST(StationServer, ClockGoingBackwardsExpiresNothing) {
  StationServer server(Limits(10, 1000));
  Set(server, kViper, kStart);
  EXPECT_EQ(0u, server.Sweep(kStart - 4000));
  EXPECT_EQ(kViper, Get(server, "Viper", kStart - 4000));
}

// Under a flood from ever new (spoofed) addresses the bucket table stays bounded, and once the
// flooders' buckets have refilled a newcomer (a real pilot) is let in again.
TEST(SourceRateLimiter, FullTableTakesNewcomersAgainOnceBucketsRefill) {
  SourceRateLimiter limiter(10, 2, 2);  // 10/s, burst 2, room for two addresses
  EXPECT_TRUE(limiter.Allow(1, kStart));
  EXPECT_TRUE(limiter.Allow(1, kStart));
  EXPECT_FALSE(limiter.Allow(1, kStart));  // burst spent
  EXPECT_TRUE(limiter.Allow(2, kStart));
  EXPECT_TRUE(limiter.Allow(2, kStart));
  EXPECT_FALSE(limiter.Allow(3, kStart));  // no room while 1 and 2 refill
  EXPECT_FALSE(limiter.Allow(3, kStart + 50));
  EXPECT_TRUE(limiter.Allow(1, kStart + 100));  // a token back after 100 ms
  EXPECT_FALSE(limiter.Allow(3, kStart + 150));
  EXPECT_FALSE(limiter.Allow(3, kStart + 200));  // 2 is full again, but a full table is pruned every 100 ms
  EXPECT_TRUE(limiter.Allow(3, kStart + 250));   // 2 forgotten, 1 still refilling
  EXPECT_EQ(2u, limiter.SourceCount());
}

}  // namespace
}  // namespace halcyra::server
