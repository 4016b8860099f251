#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/env.h"
#include "platform/ipv4.h"
#include "platform/stop.h"

namespace halcyra::platform {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

TEST(PlatformText, Utf8RoundTripAndReplacementOfInvalidInput) {
  std::wstring wide = L"Halcyra \u00e9\u4e2d";
  EXPECT_EQ("Halcyra \xC3\xA9\xE4\xB8\xAD", WideToUtf8(wide));
  EXPECT_EQ(wide, Utf8ToWide(WideToUtf8(wide)));
  EXPECT_EQ(L"", Utf8ToWide(""));
  std::wstring broken = Utf8ToWide("a\xC3");  // cut sequence
  ASSERT_EQ(2u, broken.size());
  EXPECT_EQ(L'a', broken[0]);
  EXPECT_EQ(static_cast<wchar_t>(0xFFFD), broken[1]);
}

TEST(PlatformIpv4, DottedTextsParseStrictly) {
  uint32_t address = 0;
  EXPECT_TRUE(halcyra::ParseDottedIPv4("10.0.0.5", &address));
  EXPECT_EQ(0x0A000005u, address);
  EXPECT_EQ("10.0.0.5", halcyra::FormatDottedIPv4(address));
  EXPECT_FALSE(halcyra::ParseDottedIPv4("10.0.0", &address));
  EXPECT_FALSE(halcyra::ParseDottedIPv4("10.0.0.256", &address));
  EXPECT_FALSE(halcyra::ParseDottedIPv4("10.0.0.5.1", &address));
  EXPECT_FALSE(halcyra::ParseDottedIPv4("10.0.0.5 ", &address));
  EXPECT_FALSE(halcyra::ParseDottedIPv4("1host.example", &address));
}

TEST(PlatformTime, TickAdvancesWithSleepAndLocalTimeIsPlausible) {
  Env& env = Env::Default();
  uint64_t before = env.TickMs();
  env.SleepMs(20);
  uint64_t after = env.TickMs();
  // Windows ticks move in steps of up to 16 ms, so only the direction is certain.
  EXPECT_GT(after, before);
  LocalTime now = env.Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(PlatformThreads, ThreadRunsJoinsAndHasAnId) {
  std::atomic<uint32_t> seenId{0};
  auto thread = Env::Default().StartThread([&] { seenId = Env::Default().CurrentThreadId(); });
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(0u, thread->Id());
  thread->Join();
  EXPECT_EQ(thread->Id(), seenId.load());
  thread->Join();  // a second join is harmless
}

TEST(PlatformUdp, LoopbackDatagramArrivesWithItsSender) {
  Env& env = Env::Default();
  ASSERT_EQ(0, env.StartNetworking());
  auto receiver = env.CreateUdpSocket();
  auto sender = env.CreateUdpSocket();
  ASSERT_NE(nullptr, receiver);
  ASSERT_NE(nullptr, sender);
  ASSERT_EQ(0, receiver->Bind(kLoopback, 0));
  ASSERT_EQ(0, sender->Bind(kLoopback, 0));
  uint16_t port = receiver->LocalPort();
  ASSERT_NE(0, port);
  ASSERT_EQ(5, sender->SendTo("hello", 5, kLoopback, port));
  char buffer[16] = {};
  uint32_t from = 0;
  uint16_t fromPort = 0;
  ASSERT_EQ(5, receiver->ReceiveFrom(buffer, sizeof buffer, 2000, &from, &fromPort));
  EXPECT_EQ(0, std::memcmp(buffer, "hello", 5));
  EXPECT_EQ(kLoopback, from);
  EXPECT_EQ(sender->LocalPort(), fromPort);
}

TEST(PlatformUdp, ReceiveTimesOutAndOversizeDatagramsAreDropped) {
  Env& env = Env::Default();
  ASSERT_EQ(0, env.StartNetworking());
  auto receiver = env.CreateUdpSocket();
  auto sender = env.CreateUdpSocket();
  ASSERT_EQ(0, receiver->Bind(kLoopback, 0));
  char buffer[8];
  EXPECT_EQ(kReceiveTimedOut, receiver->ReceiveFrom(buffer, sizeof buffer, 30, nullptr, nullptr));
  std::string big(100, 'x');
  ASSERT_EQ(100, sender->SendTo(big.data(), big.size(), kLoopback, receiver->LocalPort()));
  EXPECT_EQ(kReceiveTooLong, receiver->ReceiveFrom(buffer, sizeof buffer, 2000, nullptr, nullptr));
  ASSERT_EQ(3, sender->SendTo("abc", 3, kLoopback, receiver->LocalPort()));
  EXPECT_EQ(3, receiver->ReceiveFrom(buffer, sizeof buffer, 2000, nullptr, nullptr));
}

TEST(PlatformUdp, SecondBindOfOnePortFails) {
  Env& env = Env::Default();
  ASSERT_EQ(0, env.StartNetworking());
  auto first = env.CreateUdpSocket();
  auto second = env.CreateUdpSocket();
  ASSERT_EQ(0, first->Bind(0, 0));
  EXPECT_NE(0, second->Bind(0, first->LocalPort()));
  EXPECT_NE(0, second->LastError());
}

// A receive without time limit takes a datagram, then waits until another thread interrupts it;
// later receives end at once. The wait itself is timed generously: it must end, not end fast.
TEST(PlatformUdp, BlockingReceiveTakesADatagramAndEndsAtInterrupt) {
  Env& env = Env::Default();
  ASSERT_EQ(0, env.StartNetworking());
  auto receiver = env.CreateUdpSocket();
  auto sender = env.CreateUdpSocket();
  ASSERT_EQ(0, receiver->Bind(kLoopback, 0));
  ASSERT_EQ(3, sender->SendTo("abc", 3, kLoopback, receiver->LocalPort()));
  char buffer[8];
  ASSERT_EQ(3, receiver->ReceiveFrom(buffer, sizeof buffer, -1, nullptr, nullptr));

  std::atomic<int> result{0};
  std::thread waiter([&] { result = receiver->ReceiveFrom(buffer, sizeof buffer, -1, nullptr, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely inside the wait by now
  EXPECT_EQ(0, result.load()) << "the receive returned without a datagram";
  receiver->Interrupt();
  waiter.join();
  EXPECT_EQ(kReceiveInterrupted, result.load());
  EXPECT_EQ(kReceiveInterrupted, receiver->ReceiveFrom(buffer, sizeof buffer, -1, nullptr, nullptr));
  EXPECT_EQ(kReceiveInterrupted, receiver->ReceiveFrom(buffer, sizeof buffer, 1000, nullptr, nullptr));
}

TEST(PlatformUdp, ClosedSocketReportsErrors) {
  auto socket = Env::Default().CreateUdpSocket();
  socket->Close();
  char buffer[4];
  EXPECT_EQ(kReceiveError, socket->ReceiveFrom(buffer, sizeof buffer, 10, nullptr, nullptr));
  socket->Close();  // twice is harmless
}

// A sleeper is woken by a stop from another thread; a callback registered after the stop runs at
// once; no work begins after it; a token of no source never stops.
TEST(PlatformStop, StopWakesSleepersRunsCallbacksAndRefusesNewWork) {
  Env& env = Env::Default();
  StopSource source;
  StopToken token = source.Token();
  EXPECT_TRUE(token.TryBegin());
  std::atomic<int> slept{-1};
  std::atomic<int> woken{0};
  StopCallback early(token, [&] { ++woken; });
  std::thread sleeper([&] { slept = token.SleepFor(env, 600000) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  source.RequestStop();
  sleeper.join();  // long before the ten minutes
  EXPECT_EQ(0, slept.load());
  EXPECT_EQ(1, woken.load());
  source.RequestStop();  // a second stop runs nothing again
  EXPECT_EQ(1, woken.load());

  bool ranAtOnce = false;
  StopCallback late(token, [&] { ranAtOnce = true; });
  EXPECT_TRUE(ranAtOnce);
  EXPECT_FALSE(token.TryBegin());
  EXPECT_TRUE(token.StopRequested());
  EXPECT_FALSE(token.SleepFor(env, 600000));

  StopToken none;
  EXPECT_TRUE(none.TryBegin());
  EXPECT_TRUE(none.SleepFor(env, 1));
}

TEST(PlatformNames, LocalhostResolvesToLoopback) {
  Env& env = Env::Default();
  ASSERT_EQ(0, env.StartNetworking());
  uint32_t address = 0;
  ASSERT_TRUE(env.ResolveIPv4("localhost", &address));
  EXPECT_EQ(kLoopback, address);
  EXPECT_FALSE(env.ResolveIPv4("no-such-host.invalid", &address));
}

TEST(PlatformFiles, WidePathsOpen) {
  std::filesystem::path folder = std::filesystem::temp_directory_path();
  std::wstring path = folder.wstring() + static_cast<wchar_t>(PathSeparator()) + L"halcyra-\u00e9-test.txt";
  std::FILE* file = Env::Default().OpenFile(path, "w");
  ASSERT_NE(nullptr, file);
  std::fputs("x", file);
  std::fclose(file);
  file = Env::Default().OpenFile(path, "r");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ('x', std::fgetc(file));
  std::fclose(file);
  std::filesystem::remove(folder / std::filesystem::path(std::u8string(u8"halcyra-\u00e9-test.txt")));
  EXPECT_EQ(nullptr, Env::Default().OpenFile(L"/no/such/folder/file", "r"));
}

TEST(PlatformJoystick, AbsentJoysticksAreFailures) {
  uint32_t buttons = 0;
  EXPECT_FALSE(Env::Default().ReadJoystickButtons(-1, &buttons));
  EXPECT_FALSE(Env::Default().ReadJoystickButtons(32, &buttons));
}

}  // namespace
}  // namespace halcyra::platform
