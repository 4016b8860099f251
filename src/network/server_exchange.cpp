#include "network/server_exchange.h"

#include <cstring>

#include "network/ipv4.h"
#include "network/wire/station_messages.h"
#include "plugin/format.h"

namespace halcyra {
namespace {

constexpr char kPublishTag[] = "SendHCDataToHCS";
constexpr char kRequestTag[] = "Thread_UDPRequest";
constexpr int kReceiveSliceMs = 10;  // a cancelled query notices within this time

constexpr QueryMessages kTalkMessages{"RefreshClientStatus", 0, false};
constexpr QueryMessages kCycleMessages{"Thread_RW_HCS", 2, true};

}  // namespace

// One query: shared by the caller and the request thread, so an abandoned thread only ever
// touches its own state.
struct StationServerExchange::QueryState {
  char queryNickname[kNicknameCapacity] = {};
  std::atomic<int> started{0};
  std::atomic<int> result{kQueryRunning};
  std::atomic<bool> cancelled{false};
};

class StationServerExchange::RequestSlot {
 public:
  std::mutex lock;                          // held for a whole query: one query per slot at a time
  std::shared_ptr<QueryState> state;        // the current or last query
  std::unique_ptr<platform::Thread> thread; // its thread until the caller has waited for it

  // Cancels a query still running and waits for its thread (it stops within one receive slice).
  void Stop() {
    if (state) state->cancelled = true;
    if (thread) thread->Join();
    thread.reset();
  }
};

StationServerExchange::StationServerExchange(platform::Env& env, Clog& log, Settings& settings, CHalcyra& model,
                                             CTS3ClientsBase& clients, const TS3Functions& host)
    : env_(env),
      log_(log),
      settings_(settings),
      model_(model),
      clients_(clients),
      host_(host),
      slotA_(std::make_unique<RequestSlot>()),
      slotB_(std::make_unique<RequestSlot>()) {}

StationServerExchange::~StationServerExchange() { StopQueries(); }

void StationServerExchange::LogDetailed(const char* tag, const std::string& text, int level) {
  if (log_.Detailed()) log_.Write(tag, text, level);
}

int StationServerExchange::SendHCDataToHCS(const char*) {
  std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
  if (!socket) {
    log_.Write(kPublishTag, Format("socket failed with error: %ld", static_cast<long>(env_.LastNetworkingError())), 0);
    return -1;
  }
  ServerEndpoint server = settings_.Server();
  log_.Write(kPublishTag, Format("Send request to %s on %d", server.address.c_str(), server.port), 5);
  if (socket->Bind(0, kPublishLocalPort) != 0) {
    log_.Write(kPublishTag, Format("Cannot initialize (bind): %ld", static_cast<long>(socket->LastError())), 0);
    socket->Shutdown();
    return -1;
  }
  std::string message = wire::FormatPublish(model_.LocalStation());
  uint32_t address = 0;
  bool addressValid = ParseDottedIPv4(server.address, &address);
  log_.Write(kPublishTag,
             Format("Try to send to (%u.%u.%u.%u)(%d) HCS [%s>", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                    (address >> 8) & 0xFF, address & 0xFF, server.port, message.c_str()),
             5);
  int sent = addressValid ? socket->SendTo(message.data(), message.size(), address, static_cast<uint16_t>(server.port))
                          : -1;
  if (sent > 0) {
    log_.Write(kPublishTag, Format("Sent to HCS [%s>", message.c_str()), 5);
    socket->Shutdown();
    return 0;
  }
  log_.Write(kPublishTag, Format("Sendto failed with error: %d", addressValid ? socket->LastError() : -1), 0);
  socket->Shutdown();
  return -1;
}

void StationServerExchange::RefreshClientStatus(const char* nickname) {
  Query(*slotA_, nickname, kTalkMessages, nullptr);
}

int StationServerExchange::RefreshForCycle(const char* nickname, const std::atomic<bool>* stop) {
  return Query(*slotB_, nickname, kCycleMessages, stop);
}

void StationServerExchange::StopQueries() {
  for (RequestSlot* slot : {slotA_.get(), slotB_.get()}) {
    std::lock_guard<std::mutex> lock(slot->lock);
    slot->Stop();
  }
}

int StationServerExchange::Query(RequestSlot& slot, const char* nickname, const QueryMessages& messages,
                                 const std::atomic<bool>* stop) {
  auto stopped = [stop] { return stop != nullptr && stop->load(); };
  std::lock_guard<std::mutex> lock(slot.lock);
  slot.Stop();  // a query abandoned earlier has finished by now
  auto state = std::make_shared<QueryState>();
  CopyText(state->queryNickname, nickname);
  slot.state = state;
  slot.thread = env_.StartThread([this, state] { RunRequest(*state); });
  if (!slot.thread) {
    log_.Write(messages.tag, "Cannot start Thread_UDPRequest", 0);
    return kQueryFailed;
  }
  uint32_t threadId = slot.thread->Id();
  LogDetailed(messages.tag, Format("Send query for [%s] to HCS. Thread ID #%08X", state->queryNickname, threadId), 5);

  uint64_t begin = env_.TickMs();
  uint64_t deadline = begin + kQueryTimeLimitMs;
  while (state->started.load() == 0 && env_.TickMs() < deadline && !stopped()) env_.SleepMs(1);
  uint64_t waitStart = env_.TickMs();
  uint64_t waitEnd = waitStart + kQueryTimeLimitMs;
  while (env_.TickMs() < waitEnd && state->result.load() == kQueryRunning && !stopped()) env_.SleepMs(1);

  int result = state->result.load();
  if (result == kQueryRunning && stopped()) {
    state->cancelled = true;  // the caller is stopping: no time-out to report
  } else if (result == kQueryRunning) {
    state->cancelled = true;
    LogDetailed(messages.tag,
                Format("Thread_UDPRequest thread ID #%08X out of time (>%d ms) -> Terminated it", threadId,
                       static_cast<int>(kQueryTimeLimitMs)),
                messages.timeoutLevel);
  } else if (result == kQueryStored) {
    if (messages.timedCompletion) {
      LogDetailed(messages.tag,
                  Format("Thread_UDPRequest thread ID #%08X is terminated normally (%d ms)", threadId,
                         static_cast<int>(env_.TickMs() - waitStart)),
                  5);
    } else {
      LogDetailed(messages.tag, "Request is terminated normally", 5);
    }
  }
  slot.Stop();
  return result;
}

void StationServerExchange::RunRequest(QueryState& state) {
  state.started = 1;
  std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
  if (!socket) {
    log_.Write(kRequestTag, Format(" ! socket failed with error: %ld", static_cast<long>(env_.LastNetworkingError())), 0);
    state.result = kQueryFailed;
    return;
  }
  if (socket->Bind(0, kQueryLocalPort) != 0) {
    log_.Write(kRequestTag, Format(" ! Cannot initialize (bind): %ld", static_cast<long>(socket->LastError())), 0);
    state.result = kQueryFailed;
    return;
  }
  ServerEndpoint server = settings_.Server();
  std::string query = wire::FormatQuery(state.queryNickname);
  uint32_t address = 0;
  bool addressValid = ParseDottedIPv4(server.address, &address);
  if (!addressValid ||
      socket->SendTo(query.data(), query.size(), address, static_cast<uint16_t>(server.port)) <= 0) {
    log_.Write(kRequestTag, Format(" ! Sendto failed with error: %d", addressValid ? socket->LastError() : -1), 0);
    state.result = kQueryFailed;
    return;
  }
  log_.Write(kRequestTag, Format("Send request to HCS [%s> ", query.c_str()), 5);

  char reply[kDatagramCapacity + 1] = {};
  int received = ReceiveReply(state, *socket, reply);
  socket->Shutdown();
  socket->Close();
  if (received == 0) return;  // cancelled: the caller has gone
  if (received < 0) {
    state.result = kQueryFailed;
    return;
  }
  state.result = HandleReply(state, reply);
}

// Waits for the first datagram on the socket in short slices, so a cancel is noticed at once.
// Returns its length (the text is terminated), 0 when cancelled, -1 on a receive failure.
int StationServerExchange::ReceiveReply(QueryState& state, platform::UdpSocket& socket, char* reply) {
  for (;;) {
    if (state.cancelled.load()) return 0;
    int received = socket.ReceiveFrom(reply, kDatagramCapacity - 1, kReceiveSliceMs, nullptr, nullptr);
    if (received == platform::kReceiveTimedOut) continue;
    if (state.cancelled.load()) return 0;
    if (received <= 0) {
      log_.Write(kRequestTag, Format(" ! Recvfrom failed with error %d", received == 0 ? 0 : socket.LastError()), 0);
      return -1;
    }
    reply[received] = '\0';
    return received;
  }
}

int StationServerExchange::HandleReply(QueryState& state, const char* reply) {
  LogDetailed(kRequestTag, Format("recvfrom >%s]", reply), 5);
  StationRecord scratch = DefaultStation();
  wire::ParsedReply parsed = wire::ParseReply(reply, &scratch);
  if (parsed.kind == wire::ReplyKind::kNotFound) {
    LogDetailed(kRequestTag, Format("NickName [%s] doesn't exist in Halcyra server.", state.queryNickname), 5);
    std::optional<ClientNode> node = clients_.FindByNickname(state.queryNickname);
    if (node && !state.cancelled.load()) clients_.Reset3DSoundForClient(host_, *node);
    return kQueryFailed;
  }
  if (parsed.kind == wire::ReplyKind::kInvalidFrame) {
    LogDetailed(kRequestTag, "Invalid frame", 5);
    return kQueryFailed;
  }
  if (parsed.fields < wire::kRecordFieldCount) {
    // A short reply keeps this pilot's own earlier values for the fields it lacks (the defaults for
    // a new pilot), never those of whoever was asked for before.
    std::optional<StationRecord> stored = model_.FindStation(scratch.nickname);
    if (stored) {
      scratch = *stored;
      wire::ParseReply(reply, &scratch);
    }
  }
  if (model_.AddOrUpdateStation(scratch, [&state] { return !state.cancelled.load(); }) < 0) return kQueryRunning;
  if (log_.Detailed()) {
    std::optional<StationRecord> stored = model_.FindStation(scratch.nickname);
    if (stored) {
      log_.Write(Format("Thread_UDPRequest : Added item [%s]", wire::FormatRecordText(*stored).c_str()), "", 5);
    }
  }
  return kQueryStored;
}

}  // namespace halcyra
