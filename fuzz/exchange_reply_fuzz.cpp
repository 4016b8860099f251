// The station server exchange's handling of a reply: a query for "Viper" runs on the query thread
// as in the plug-in, and the scripted socket hands it the fuzz input as the server's answer. The
// station model and the channel client database must take whatever comes: a record is stored only
// when it is Viper's (the nickname asked for), nothing else changes, and "(no found) " puts Viper
// back at the listener's position.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "fuzz_support.h"
#include "network/server_exchange.h"
#include "platform/ipv4.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

std::atomic<int> g_placements{0};

unsigned int CountPlacement(uint64, anyID, const TS3_VECTOR*) {
  ++g_placements;
  return 0;
}

// A socket that answers each datagram it sends with the reply of the current input, from the
// station server's address and port.
class ScriptedSocket : public platform::UdpSocket {
 public:
  explicit ScriptedSocket(std::string reply) : reply_(std::move(reply)) {}
  int Bind(uint32_t, uint16_t) override { return 0; }
  int SendTo(const void*, size_t size, uint32_t, uint16_t) override {
    ++due_;
    return static_cast<int>(size);
  }
  int ReceiveFrom(void* buffer, size_t capacity, int, uint32_t* fromAddress, uint16_t* fromPort) override {
    if (due_.load() == 0) {
      std::this_thread::yield();
      return platform::kReceiveTimedOut;
    }
    --due_;
    if (reply_.size() > capacity) return platform::kReceiveTooLong;
    std::memcpy(buffer, reply_.data(), reply_.size());
    if (fromAddress) *fromAddress = kLoopbackAddress;
    if (fromPort) *fromPort = 10600;
    return static_cast<int>(reply_.size());
  }
  uint16_t LocalPort() const override { return 10601; }
  void Shutdown() override {}
  void Close() override {}
  int LastError() const override { return 0; }

 private:
  std::string reply_;
  std::atomic<int> due_{0};
};

// The real threads, a clock that runs 5 ms on each look (so that a query whose reply is no answer
// ends soon) and the scripted socket.
class ScriptedEnv : public platform::EnvWrapper {
 public:
  ScriptedEnv() : EnvWrapper(platform::Env::Default()) {}
  std::string reply;
  uint64_t TickMs() override { return ticks_ += 5; }
  void SleepMs(uint32_t) override { std::this_thread::yield(); }
  std::unique_ptr<platform::UdpSocket> CreateUdpSocket() override {
    return std::make_unique<ScriptedSocket>(reply);
  }

 private:
  std::atomic<uint64_t> ticks_{1000};
};

StationRecord Stored(const char* nickname, const char* frequency) {
  StationRecord record = DefaultStation();
  CopyText(record.nickname, nickname);
  CopyText(record.frequency1, frequency);
  CopyText(record.latitudeText, "42.5");
  record.latitude = 42.5f;
  return record;
}

}  // namespace
}  // namespace halcyra

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace halcyra;
  static std::unique_ptr<Clog> log = fuzzing::DetailedNullLog();
  static ScriptedEnv env;
  static CHGTFiles tiles(env, *log);
  env.reply.assign(reinterpret_cast<const char*>(data), size);

  CHalcyra model(*log, tiles);
  model.AddOrUpdateStation(Stored("Viper", "251.000"));
  model.AddOrUpdateStation(Stored("Cobra", "124.000"));
  const StationRecord cobraBefore = *model.FindStation("Cobra");
  CTS3ClientsBase clients(*log, nullptr);
  clients.AddCDB_item("Cobra", 3);
  clients.AddCDB_item("Viper", 2);
  Settings settings;
  settings.SetServer({"127.0.0.1", 10600});
  TS3Functions host{};
  host.channelset3DAttributes = &CountPlacement;
  g_placements = 0;

  HostCallRelay hostCalls(env, host);
  StationServerExchange exchange(env, *log, settings, model, clients, hostCalls);
  FUZZ_CHECK(exchange.Start());
  int result = exchange.RefreshForCycle("Viper");
  exchange.Stop();

  StationRecord parsed = DefaultStation();
  std::string_view reply(env.reply);
  wire::ParsedReply expected = reply.size() <= kDatagramCapacity - 1 && !reply.empty()
                                   ? wire::ParseReply(reply, &parsed)
                                   : wire::ParsedReply{};
  bool fits = reply.size() <= kDatagramCapacity - 1;
  bool record = fits && !reply.empty() && expected.kind == wire::ReplyKind::kRecord;
  bool stored = record && std::strcmp(parsed.nickname, "Viper") == 0;
  // A record of someone else, or a datagram too long for a reply, answers nothing: time out.
  FUZZ_CHECK(result == (stored ? kQueryStored : record || !fits ? kQueryRunning : kQueryFailed));
  FUZZ_CHECK(model.Count() == 2);
  for (const StationRecord& station : model.Stations()) FUZZ_CHECK(fuzzing::TextsTerminated(station));
  if (!stored || std::strcmp(parsed.nickname, "Cobra") != 0) {
    StationRecord cobraAfter = *model.FindStation("Cobra");
    FUZZ_CHECK(std::memcmp(&cobraBefore, &cobraAfter, sizeof cobraBefore) == 0);
  }
  bool notFound = !reply.empty() && fits && expected.kind == wire::ReplyKind::kNotFound;
  FUZZ_CHECK(g_placements.load() == (notFound ? 1 : 0));
  return 0;
}
