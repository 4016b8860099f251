#include "network/server_exchange.h"

#include <chrono>
#include <cstring>
#include <functional>

#include "foundation/format.h"
#include "platform/ipv4.h"
#include "platform/mutex.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

constexpr char kPublishTag[] = "SendHCDataToHCS";
constexpr char kRequestTag[] = "Thread_UDPRequest";
constexpr int kReceiveSliceMs = 10;  // a cancelled query notices within this time
// How long a caller that gave up a query waits for its socket to be closed: a receive slice and a
// little more. A request thread that is elsewhere closed its socket before.
constexpr int kSocketCloseWaitMs = 2 * kReceiveSliceMs;
// The caller first waits this long (real time) on the query's signal, so a fast reply is seen at
// once instead of at the next 1 ms poll; a slower one is polled for up to the time limit.
constexpr int kSignalWaitMs = 20;

constexpr QueryMessages kTalkMessages{"RefreshClientStatus", 0, false};
constexpr QueryMessages kCycleMessages{"Thread_RW_HCS", 2, true};

}  // namespace

// One query: shared by the caller and the request thread, so an abandoned thread only ever
// touches its own state. started and result are atomics that the caller polls; the result is also
// signalled (under signalLock) so the caller's first wait ends as soon as it is there.
struct StationServerExchange::QueryState {
  char queryNickname[kNicknameCapacity] = {};
  std::atomic<int> started{0};
  std::atomic<uint64_t> startedTickMs{0};  // the tick count when the request thread took it
  std::atomic<int> result{kQueryRunning};
  std::atomic<bool> socketClosed{false};  // the request thread is done with port 10601
  platform::StopSource cancel;            // the caller has given the query up
  platform::Mutex signalLock;             // pairs with resultSignal; guards no data of its own; a leaf
  platform::ConditionVariable resultSignal;

  void MarkStarted(uint64_t tickMs) {
    startedTickMs.store(tickMs);
    started.store(1);
  }
  void Finish(int value) EXCLUDES(signalLock) {
    {
      platform::MutexLock lock(signalLock);
      result.store(value);
    }
    resultSignal.NotifyAll();
  }
  void MarkSocketClosed() EXCLUDES(signalLock) {
    {
      platform::MutexLock lock(signalLock);
      socketClosed.store(true);
    }
    resultSignal.NotifyAll();
  }
  // Waits up to ms of real time for the result; true when it is there.
  bool AwaitResult(int ms) EXCLUDES(signalLock) {
    platform::MutexLock lock(signalLock);
    return resultSignal.WaitFor(lock, std::chrono::milliseconds(ms),
                                [this] { return result.load() != kQueryRunning; });
  }
  // Waits up to ms of real time until the request thread has closed its socket (or never made one).
  void AwaitSocketClosed(int ms) EXCLUDES(signalLock) {
    platform::MutexLock lock(signalLock);
    resultSignal.WaitFor(lock, std::chrono::milliseconds(ms), [this] { return socketClosed.load(); });
  }
};

// A request slot and its Thread_UDPRequest. The thread is started with the slot's first query and
// then waits for the next one, so a query does not pay for a new thread (which the scheduler of a
// busy machine may start late). It stops cooperatively: Stop() cancels the query in hand and ends
// it within one receive slice. A query submitted while the thread still finishes a given-up one
// waits for it; its caller's time limit covers that.
//
// Lock order: a caller holds the slot's lock for a whole query and meanwhile takes the slot's
// workLock_, the query's signalLock and StopToken, the log's locks and the platform's thread
// locks (starting and joining the request thread). The request thread never takes the slot's lock,
// so a caller may wait for it. workLock_ is a leaf.
class StationServerExchange::RequestSlot {
 public:
  platform::Mutex lock ACQUIRED_BEFORE(workLock_);  // one query per slot at a time

  ~RequestSlot() { Stop(); }  // unique access: the slot's lock is not needed

  // Starts the thread on first use; false when it could not be started.
  bool EnsureThread(platform::Env& env, std::function<void(QueryState&)> run) REQUIRES(lock) {
    if (thread_) return true;
    run_ = std::move(run);
    thread_ = env.StartThread([this] { Work(); });
    return thread_ != nullptr;
  }
  uint32_t ThreadId() const REQUIRES(lock) { return thread_ ? thread_->Id() : 0; }

  void Submit(std::shared_ptr<QueryState> state) EXCLUDES(workLock_) {
    {
      platform::MutexLock guard(workLock_);
      pending_ = state;
      current_ = std::move(state);
    }
    workChanged_.NotifyAll();
  }

  // Gives up the query submitted last, if any.
  // Needs not the slot's lock: it is how a query in progress (which holds it) is given up.
  void CancelCurrent() EXCLUDES(workLock_) {
    std::shared_ptr<QueryState> current;
    {
      platform::MutexLock guard(workLock_);
      current = current_;
    }
    if (current) current->cancel.RequestStop();
  }

  // Cancels the query in hand and ends the thread.
  void Stop() REQUIRES(lock) EXCLUDES(workLock_) {
    CancelCurrent();
    {
      platform::MutexLock guard(workLock_);
      stop_ = true;
    }
    workChanged_.NotifyAll();
    if (thread_) thread_->Join();
    thread_.reset();
    platform::MutexLock guard(workLock_);
    stop_ = false;
    pending_.reset();
  }

 private:
  void Work() EXCLUDES(workLock_) {
    for (;;) {
      std::shared_ptr<QueryState> state;
      {
        platform::MutexLock guard(workLock_);
        while (!stop_ && pending_ == nullptr) workChanged_.Wait(guard);
        if (stop_) return;
        state = std::move(pending_);
      }
      run_(*state);
    }
  }

  std::function<void(QueryState&)> run_;  // set before the thread starts
  platform::Mutex workLock_;
  platform::ConditionVariable workChanged_;
  std::shared_ptr<QueryState> pending_ GUARDED_BY(workLock_);  // submitted, not yet taken by the thread
  std::shared_ptr<QueryState> current_ GUARDED_BY(workLock_);  // the last query submitted
  bool stop_ GUARDED_BY(workLock_) = false;
  std::unique_ptr<platform::Thread> thread_ GUARDED_BY(lock);
};

StationServerExchange::StationServerExchange(platform::Env& env, Clog& log, Settings& settings,
                                             CHalcyra& model, CTS3ClientsBase& clients,
                                             HostCallRelay& hostCalls)
    : env_(env),
      log_(log),
      settings_(settings),
      model_(model),
      clients_(clients),
      hostCalls_(hostCalls),
      slotA_(std::make_unique<RequestSlot>()),
      slotB_(std::make_unique<RequestSlot>()) {}

StationServerExchange::~StationServerExchange() { StopQueries(); }

void StationServerExchange::LogDetailed(const char* tag, const std::string& text, int level) {
  if (log_.Detailed()) log_.Write(tag, text, level);
}

int StationServerExchange::SendHCDataToHCS(const char*) {
  std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
  if (!socket) {
    log_.Write(kPublishTag,
               Format("socket failed with error: %ld", static_cast<long>(env_.LastNetworkingError())), 0);
    return -1;
  }
  ServerEndpoint server = settings_.Server();
  log_.Write(kPublishTag, Format("Send request to %s on %d", server.address.c_str(), server.port), 5);
  if (socket->Bind(0, kPublishLocalPort) != 0) {
    log_.Write(kPublishTag, Format("Cannot initialize (bind): %ld", static_cast<long>(socket->LastError())),
               0);
    socket->Shutdown();
    return -1;
  }
  std::string message = wire::FormatPublish(model_.LocalStation());
  uint32_t address = 0;
  bool addressValid = ParseDottedIPv4(server.address, &address);
  log_.Write(
      kPublishTag,
      Format("Try to send to (%u.%u.%u.%u)(%d) HCS [%s>", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
             (address >> 8) & 0xFF, address & 0xFF, server.port, message.c_str()),
      5);
  int sent = addressValid
                 ? socket->SendTo(message.data(), message.size(), address, static_cast<uint16_t>(server.port))
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
  stopping_ = true;
  for (RequestSlot* slot : {slotA_.get(), slotB_.get()}) slot->CancelCurrent();
  for (RequestSlot* slot : {slotA_.get(), slotB_.get()}) {
    platform::MutexLock lock(slot->lock);
    slot->Stop();
  }
}

int StationServerExchange::Query(RequestSlot& slot, const char* nickname, const QueryMessages& messages,
                                 const std::atomic<bool>* stop) {
  auto stopped = [this, stop] { return stopping_.load() || (stop != nullptr && stop->load()); };
  platform::MutexLock lock(slot.lock);
  if (stopped()) return kQueryRunning;
  if (!slot.EnsureThread(env_, [this](QueryState& state) { RunRequest(state); })) {
    log_.Write(messages.tag, "Cannot start Thread_UDPRequest", 0);
    return kQueryFailed;
  }
  auto state = std::make_shared<QueryState>();
  CopyText(state->queryNickname, nickname);
  slot.Submit(state);
  uint32_t threadId = slot.ThreadId();
  LogDetailed(messages.tag,
              Format("Send query for [%s] to HCS. Thread ID #%08X", state->queryNickname, threadId), 5);

  // The time limit counts from the moment the request thread took the query.
  uint64_t begin = env_.TickMs();
  uint64_t deadline = begin + kQueryTimeLimitMs;
  state->AwaitResult(kSignalWaitMs);
  while (state->started.load() == 0 && env_.TickMs() < deadline && !stopped()) env_.SleepMs(1);
  uint64_t waitStart = state->started.load() != 0 ? state->startedTickMs.load() : env_.TickMs();
  uint64_t waitEnd = waitStart + kQueryTimeLimitMs;
  while (env_.TickMs() < waitEnd && state->result.load() == kQueryRunning && !stopped()) env_.SleepMs(1);

  int result = state->result.load();
  if (result == kQueryRunning) {
    state->cancel.RequestStop();
    state->AwaitSocketClosed(kSocketCloseWaitMs);
  }
  if (result == kQueryRunning && stopped()) {
    // the caller is stopping: no time-out to report
  } else if (result == kQueryRunning) {
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
  return result;
}

void StationServerExchange::RunRequest(QueryState& state) {
  state.MarkStarted(env_.TickMs());
  char reply[kDatagramCapacity + 1] = {};
  int received = SendAndReceive(state, reply);
  state.MarkSocketClosed();
  if (received == 0) return;  // cancelled: the caller has gone
  if (received < 0) {
    state.Finish(kQueryFailed);
    return;
  }
  state.Finish(HandleReply(state, reply));
}

// Sends the query from local port 10601 and waits for the reply; the socket is closed on return.
// Returns the reply's length (the text is terminated), 0 when cancelled, -1 on a failure (logged).
int StationServerExchange::SendAndReceive(QueryState& state, char* reply) {
  std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
  if (!socket) {
    log_.Write(kRequestTag,
               Format(" ! socket failed with error: %ld", static_cast<long>(env_.LastNetworkingError())), 0);
    return -1;
  }
  if (socket->Bind(0, kQueryLocalPort) != 0) {
    log_.Write(kRequestTag,
               Format(" ! Cannot initialize (bind): %ld", static_cast<long>(socket->LastError())), 0);
    return -1;
  }
  ServerEndpoint server = settings_.Server();
  std::string query = wire::FormatQuery(state.queryNickname);
  uint32_t address = 0;
  bool addressValid = ParseDottedIPv4(server.address, &address);
  if (!addressValid ||
      socket->SendTo(query.data(), query.size(), address, static_cast<uint16_t>(server.port)) <= 0) {
    log_.Write(kRequestTag,
               Format(" ! Sendto failed with error: %d", addressValid ? socket->LastError() : -1), 0);
    return -1;
  }
  log_.Write(kRequestTag, Format("Send request to HCS [%s> ", query.c_str()), 5);
  int received = ReceiveReply(state, *socket, reply);
  socket->Shutdown();
  socket->Close();
  return received;
}

// Waits for the first datagram on the socket in short slices, so a cancel is noticed at once.
// Returns its length (the text is terminated), 0 when cancelled, -1 on a receive failure.
int StationServerExchange::ReceiveReply(QueryState& state, platform::UdpSocket& socket, char* reply) {
  for (;;) {
    if (state.cancel.StopRequested()) return 0;
    int received = socket.ReceiveFrom(reply, kDatagramCapacity - 1, kReceiveSliceMs, nullptr, nullptr);
    if (received == platform::kReceiveTimedOut) continue;
    if (state.cancel.StopRequested()) return 0;
    if (received <= 0) {
      log_.Write(kRequestTag,
                 Format(" ! Recvfrom failed with error %d", received == 0 ? 0 : socket.LastError()), 0);
      return -1;
    }
    reply[received] = '\0';
    return received;
  }
}

int StationServerExchange::HandleReply(QueryState& state, const char* reply) {
  lastAnswerMs_ = env_.TickMs();
  LogDetailed(kRequestTag, Format("recvfrom >%s]", reply), 5);
  StationRecord scratch = DefaultStation();
  wire::ParsedReply parsed = wire::ParseReply(reply, &scratch);
  if (parsed.kind == wire::ReplyKind::kNotFound) {
    LogDetailed(kRequestTag, Format("NickName [%s] doesn't exist in Halcyra server.", state.queryNickname),
                5);
    std::optional<ClientNode> node = clients_.FindByNickname(state.queryNickname);
    if (node) clients_.Reset3DSoundForClient(hostCalls_, *node, state.cancel.Token());
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
  if (model_.AddOrUpdateStation(scratch, [&state] { return !state.cancel.StopRequested(); }) < 0)
    return kQueryRunning;
  if (log_.Detailed()) {
    std::optional<StationRecord> stored = model_.FindStation(scratch.nickname);
    if (stored) {
      log_.Write(Format("Thread_UDPRequest : Added item [%s]", wire::FormatRecordText(*stored).c_str()), "",
                 5);
    }
  }
  return kQueryStored;
}

}  // namespace halcyra
