// The station server program's request handling: a stream of datagrams (each one a control byte -
// clock step, source address, sweep - a length byte and that many bytes) through
// StationServer::Handle and Sweep, on a small store with a short takeover time. Every answer must
// fit a datagram and carry the record last stored for that nickname; no refused request changes it.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "station_server.h"
#include "wire/station_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace halcyra;
  server::StationServerLimits limits;
  limits.maxRecords = 4;
  limits.expiryMs = 50;
  limits.takeoverMs = 20;
  limits.maxRecordsPerSource = 3;
  server::StationServer store(limits);
  std::map<std::string, std::string> lastStored;  // nickname -> record text, while it may be live
  uint64_t now = 0;
  size_t at = 0;
  uint64_t handled = 0;
  while (at + 2 <= size) {
    const uint8_t control = data[at];
    now += control % 16;
    size_t length = data[at + 1];
    if (length == 255) length = wire::kMaxDatagramBytes + 1;  // one past the largest datagram
    at += 2;
    std::string datagram;
    for (size_t i = 0; i < length; ++i)
      datagram.push_back(at + i < size ? static_cast<char>(data[at + i]) : 'x');
    at += length;

    const uint32_t source = 0x7F000001u + ((control >> 4) & 3u);
    server::RequestResult result = store.Handle(datagram, source, now);
    ++handled;
    FUZZ_CHECK(result.reply.size() <= wire::kMaxDatagramBytes);
    FUZZ_CHECK(store.RecordCount() <= limits.maxRecords);
    FUZZ_CHECK(store.SourceCount() <= store.RecordCount());
    std::string_view request(datagram);
    switch (result.outcome) {
      case server::RequestOutcome::kStored: {
        std::string_view body = request.substr(4);
        lastStored[std::string(body.substr(0, body.find('@')))] = std::string(body);
        break;
      }
      case server::RequestOutcome::kAnswered: {
        std::string_view body = request.substr(4);
        auto found = lastStored.find(std::string(body.substr(0, body.find('@'))));
        FUZZ_CHECK(found != lastStored.end());
        FUZZ_CHECK(result.reply == found->second);
        break;
      }
      case server::RequestOutcome::kNotFound:
        FUZZ_CHECK(result.reply == wire::kNotFoundReply);
        break;
      case server::RequestOutcome::kTooLong:
        FUZZ_CHECK(datagram.size() > wire::kMaxDatagramBytes);
        break;
      case server::RequestOutcome::kOversize:
        FUZZ_CHECK(datagram.size() > wire::kMaxPublishBytes);
        FUZZ_CHECK(result.reply.empty());
        break;
      case server::RequestOutcome::kRefused:
      case server::RequestOutcome::kHeld:
      case server::RequestOutcome::kSourceLimit:
      case server::RequestOutcome::kMalformed:
        FUZZ_CHECK(result.reply.empty());
        break;
    }
    if (control & 0x80) store.Sweep(now);
  }
  const server::StationServerCounters& counters = store.counters();
  FUZZ_CHECK(counters.stored + counters.refused + counters.held + counters.sourceLimit + counters.oversize +
                 counters.answered + counters.notFound + counters.tooLong + counters.malformed ==
             handled);
  return 0;
}
