#include "network/server_exchange.h"

#include <algorithm>
#include <cstring>

#include "foundation/format.h"
#include "platform/ipv4.h"
#include "platform/socket_errors.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

constexpr char kPublishTag[] = "SendHCDataToHCS";
constexpr char kRequestTag[] = "Thread_UDPRequest";
constexpr uint64_t kNever = UINT64_MAX;

// Without a wake-up socket (or after a wake-up could not be sent) the query thread waits at most
// this long at a time: the bound of its reaction to new work. With one it waits without limit while
// nothing is due (a wake-up datagram is only dropped when the socket already holds datagrams, which
// end the wait anyway). A stop interrupts the wait in any case.
constexpr uint32_t kMaxWaitMs = 500;
constexpr int kWaitWithoutLimit = -1;
// How often a failing bind or receive is reported again while it goes on.
constexpr uint32_t kFailureReportIntervalMs = 60000;
// A pass's caller gives up this long after its last query should have been answered at the
// latest: the query thread is then stuck (in a host call), and the cycle must go on.
constexpr uint32_t kPassSlackMs = 1000;
constexpr char kWakeByte = 0;

constexpr QueryMessages kTalkMessages{"RefreshClientStatus", 0, false};
constexpr QueryMessages kCycleMessages{"Thread_RW_HCS", 2, true};

// The longest a pass of n queries can take to go out under the pacing.
uint64_t PacingMs(size_t n) {
  size_t atGroupPace = std::min<size_t>(n, kQueryBurst);
  uint64_t ms = (atGroupPace / kQueryGroupSize + 1) * kQueryGroupIntervalMs;
  if (n > atGroupPace) ms += (n - atGroupPace) * 1000 / kQueryRatePerSecond + 1;
  return ms;
}

bool Due(uint64_t lastMs, uint64_t nowMs, uint32_t intervalMs) {
  return lastMs == 0 || nowMs - lastMs >= intervalMs;
}

}  // namespace

// One query, shared by its caller and the query thread. The fields are written before the query
// is queued, except answer, which a newer talk query may replace while it is queued (under the
// exchange's lock_), and sentMs / deadlineMs, which only the query thread writes and reads;
// abandoned is set by a caller that gives the query up (then it stores nothing and tells nobody).
struct StationServerExchange::Query {
  std::string nickname;  // at most kNicknameCapacity - 1 bytes
  const QueryMessages* messages = &kCycleMessages;
  std::shared_ptr<Pass> pass;  // the pass it belongs to, if any
  size_t index = 0;            // its place in the pass
  TalkAnswer answer;           // a talk handler's query: told the result
  uint64_t sentMs = 0;
  uint64_t deadlineMs = 0;
  std::atomic<bool> abandoned{false};
  bool done = false;  // under the exchange's lock_
};

// The results of one pass, under the exchange's lock_.
struct StationServerExchange::Pass {
  std::vector<std::shared_ptr<Query>> queries;
  std::vector<int> results;
  size_t open = 0;  // queries not done yet
};

// When the next query may go out: groups of kQueryGroupSize back to back with a pause after each,
// from a bucket of kQueryBurst that refills at kQueryRatePerSecond. The query thread's own.
class StationServerExchange::Pacer {
 public:
  uint64_t NextMs(uint64_t nowMs) {
    Refill(nowMs);
    uint64_t next = std::max(nowMs, pauseUntilMs_);
    if (tokens_ < 1.0)
      next =
          std::max(next, nowMs + static_cast<uint64_t>((1.0 - tokens_) * 1000.0 / kQueryRatePerSecond) + 1);
    return next;
  }
  void Take(uint64_t nowMs) {
    Refill(nowMs);
    tokens_ -= 1.0;
    if (nowMs > lastSendMs_ + kQueryGroupIntervalMs) inGroup_ = 0;  // a new group
    lastSendMs_ = nowMs;
    if (++inGroup_ >= kQueryGroupSize) {
      inGroup_ = 0;
      pauseUntilMs_ = nowMs + kQueryGroupIntervalMs;
    }
  }

 private:
  void Refill(uint64_t nowMs) {
    if (nowMs <= refilledMs_) return;
    tokens_ = std::min<double>(
        kQueryBurst, tokens_ + static_cast<double>(nowMs - refilledMs_) * kQueryRatePerSecond / 1000.0);
    refilledMs_ = nowMs;
  }

  double tokens_ = kQueryBurst;
  uint64_t refilledMs_ = 0;
  uint64_t pauseUntilMs_ = 0;
  uint64_t lastSendMs_ = 0;
  int inGroup_ = 0;
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
      pacer_(std::make_unique<Pacer>()),
      hostCallStop_() {}

StationServerExchange::~StationServerExchange() { Stop(); }

void StationServerExchange::LogDetailed(const char* tag, const std::string& text, int level) {
  if (log_.Detailed()) log_.Write(tag, text, level);
}

// ------------------------------------------------------------------ publish

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

// ------------------------------------------------------------------ callers

bool StationServerExchange::Start() {
  if (thread_) {  // a thread told to stop and not yet waited for
    {
      platform::MutexLock lock(lock_);
      if (running_) return true;
    }
    thread_->Join();
    thread_.reset();
  }
  platform::StopToken token;
  {
    platform::MutexLock lock(lock_);
    if (running_) return true;
    stopSource_ = platform::StopSource();
    token = stopSource_.Token();
    running_ = true;
  }
  hostCallStop_ = platform::StopSource();
  {
    platform::MutexLock wake(wakeLock_);
    wakeSocket_ = env_.CreateUdpSocket();
    wakeLost_.store(false);
    if (wakeSocket_ && wakeSocket_->Bind(kLoopbackAddress, 0) == 0) {
      wakePort_ = wakeSocket_->LocalPort();
    } else {
      wakeSocket_.reset();  // the thread then notices new work within kMaxWaitMs
      wakePort_ = 0;
    }
  }
  thread_ = env_.StartThread([this, token] { Run(token); });
  if (thread_) return true;
  log_.Write(kRequestTag, "Cannot start Thread_UDPRequest", 0);
  platform::MutexLock lock(lock_);
  running_ = false;
  return false;
}

void StationServerExchange::RequestStop() {
  platform::StopSource source;
  {
    platform::MutexLock lock(lock_);
    running_ = false;
    source = stopSource_;
  }
  source.RequestStop();
  hostCallStop_.RequestStop();
}

void StationServerExchange::Stop() {
  RequestStop();
  if (thread_) {
    thread_->Join();
    thread_.reset();
  }
  FailQueued(kQueryRunning);  // what a thread that never ran left
  platform::MutexLock wake(wakeLock_);
  wakeSocket_.reset();
}

void StationServerExchange::Enqueue(std::vector<std::shared_ptr<Query>> queries) {
  {
    platform::MutexLock lock(lock_);
    for (std::shared_ptr<Query>& query : queries) toSend_.push_back(std::move(query));
  }
  Wake();
}

// Wakes the query thread: its condition variable when it has no socket, else a datagram from the
// wake-up socket (which it recognises by its port and ignores).
void StationServerExchange::Wake() {
  { platform::MutexLock lock(lock_); }
  changed_.NotifyAll();
  platform::MutexLock wake(wakeLock_);
  if (!listeningSocket_ || !wakeSocket_) return;
  if (wakeSocket_->SendTo(&kWakeByte, 1, kLoopbackAddress, kQueryLocalPort) != 1) wakeLost_.store(true);
}

void StationServerExchange::InterruptReceive() {
  platform::MutexLock wake(wakeLock_);
  if (listeningSocket_) listeningSocket_->Interrupt();
}

std::vector<int> StationServerExchange::RefreshPass(const std::vector<std::string>& nicknames,
                                                    const platform::StopToken& stop) {
  auto pass = std::make_shared<Pass>();
  pass->results.assign(nicknames.size(), kQueryRunning);
  if (nicknames.empty()) return pass->results;
  {
    platform::MutexLock lock(lock_);
    if (!running_) return pass->results;
    for (size_t i = 0; i < nicknames.size(); ++i) {
      auto query = std::make_shared<Query>();
      query->nickname = nicknames[i].substr(0, kNicknameCapacity - 1);
      query->messages = &kCycleMessages;
      query->pass = pass;
      query->index = i;
      pass->queries.push_back(query);
    }
    pass->open = nicknames.size();
  }
  Enqueue(pass->queries);

  platform::StopCallback wake(stop, [this] {
    { platform::MutexLock lock(lock_); }
    changed_.NotifyAll();
  });
  uint64_t giveUpMs = env_.TickMs() + PacingMs(nicknames.size()) + kQueryTimeLimitMs + kPassSlackMs;
  platform::MutexLock lock(lock_);
  for (;;) {
    if (pass->open == 0 || stop.StopRequested()) break;
    uint64_t now = env_.TickMs();
    if (now >= giveUpMs) break;
    env_.WaitOnClock(changed_, lock, static_cast<uint32_t>(giveUpMs - now));
  }
  for (const std::shared_ptr<Query>& query : pass->queries) {
    if (!query->done) query->abandoned = true;
  }
  // Each query holds its pass: the pass lets go of its queries, so neither keeps the other alive.
  pass->queries.clear();
  return pass->results;
}

int StationServerExchange::RefreshForCycle(const char* nickname, const platform::StopToken& stop) {
  return RefreshPass({nickname}, stop).front();
}

void StationServerExchange::RefreshClientStatus(const char* nickname, TalkAnswer answer) {
  auto query = std::make_shared<Query>();
  query->nickname = std::string(nickname).substr(0, kNicknameCapacity - 1);
  query->messages = &kTalkMessages;
  query->answer = std::move(answer);
  {
    platform::MutexLock lock(lock_);
    if (!running_) return;
    // A talk query of the same nickname that has not gone out yet is taken over: one datagram
    // answers the newest caller (so events coming faster than the pacing never pile up queries).
    for (const std::shared_ptr<Query>& queued : toSend_) {
      if (queued->messages == &kTalkMessages && queued->nickname == query->nickname &&
          !queued->abandoned.load()) {
        queued->answer = std::move(query->answer);
        return;
      }
    }
  }
  Enqueue({query});
}

// Completes queries: the pass's results, the log lines of their callers, the talk handlers'
// answers. Abandoned queries only count as done.
void StationServerExchange::Complete(const std::vector<std::shared_ptr<Query>>& queries, int result,
                                     uint64_t nowMs) {
  uint32_t threadId = threadId_.load();
  std::vector<std::shared_ptr<Query>> done;
  std::vector<std::shared_ptr<Query>> told;
  {
    platform::MutexLock lock(lock_);
    for (const std::shared_ptr<Query>& query : queries) {
      if (query->done) continue;
      query->done = true;
      done.push_back(query);
      if (!query->abandoned.load()) told.push_back(query);
    }
  }
  // A talk handler's answer first, then the caller's line, then the pass learns its result: each
  // follows what came before it.
  for (const std::shared_ptr<Query>& query : told) {
    if (query->answer) query->answer(result, hostCallStop_.Token());
  }
  for (const std::shared_ptr<Query>& query : told) {
    const QueryMessages& messages = *query->messages;
    if (result == kQueryRunning) {
      LogDetailed(messages.tag,
                  Format("Thread_UDPRequest thread ID #%08X out of time (>%d ms) -> Terminated it", threadId,
                         static_cast<int>(kQueryTimeLimitMs)),
                  messages.timeoutLevel);
    } else if (result == kQueryStored && messages.timedCompletion) {
      LogDetailed(messages.tag,
                  Format("Thread_UDPRequest thread ID #%08X is terminated normally (%d ms)", threadId,
                         static_cast<int>(nowMs - query->sentMs)),
                  5);
    } else if (result == kQueryStored) {
      LogDetailed(messages.tag, "Request is terminated normally", 5);
    }
  }
  bool passEnded = false;  // its caller waits for the last of its queries only
  {
    platform::MutexLock lock(lock_);
    for (const std::shared_ptr<Query>& query : done) {
      if (!query->pass) continue;
      query->pass->results[query->index] = result;
      if (--query->pass->open == 0) passEnded = true;
    }
  }
  if (passEnded) changed_.NotifyAll();
}

// Ends every query not yet sent or in flight with result, telling nobody (the thread is stopping,
// or the queries cannot go out).
void StationServerExchange::FailQueued(int result) {
  std::vector<std::shared_ptr<Query>> queries;
  {
    platform::MutexLock lock(lock_);
    queries.assign(toSend_.begin(), toSend_.end());
    toSend_.clear();
    if (result == kQueryRunning) {
      queries.insert(queries.end(), inFlight_.begin(), inFlight_.end());
      inFlight_.clear();
      unmatchedNotFound_ = 0;
      unmatchedInvalid_ = 0;
      answerMayBeLost_ = false;
    }
  }
  if (result == kQueryRunning) {
    for (const std::shared_ptr<Query>& query : queries) query->abandoned = true;
  }
  Complete(queries, result, env_.TickMs());
}

// ------------------------------------------------------------------ the query thread

void StationServerExchange::Run(platform::StopToken stop) {
  platform::NameCurrentThread("Thread_UDPRequest");
  threadId_ = env_.CurrentThreadId();
  platform::StopCallback wake(stop, [this] {
    Wake();
    InterruptReceive();
  });
  OpenSocket(true);
  while (!stop.StopRequested()) {
    uint64_t now = env_.TickMs();
    bool work = false;
    {
      platform::MutexLock lock(lock_);
      work = !toSend_.empty();
    }
    if (!socket_ && work && !OpenSocket(true)) FailQueued(kQueryFailed);
    uint64_t sendAt = SendDue(now);  // first: what it sends is out, and ExpireDue counts its deadline
    uint64_t next = std::min(sendAt, ExpireDue(env_.TickMs()));
    now = env_.TickMs();
    ReportForeign(now, false);
    if (droppedUnreported_ > 0) next = std::min(next, droppedReportedMs_ + kDroppedReportIntervalMs);
    int waitMs = static_cast<int>(kMaxWaitMs);
    if (next <= now) {
      waitMs = 0;
    } else if (next - now < kMaxWaitMs) {
      waitMs = static_cast<int>(next - now);
    } else if (next == kNever && wakePort_ != 0 && !wakeLost_.load()) {
      waitMs = kWaitWithoutLimit;
    }
    if (socket_) {
      // A stop requested before the socket was bound in this turn did not interrupt it: seen here.
      if (stop.StopRequested()) break;
      ReceiveOne(waitMs);
      continue;
    }
    platform::MutexLock lock(lock_);
    if (toSend_.empty() && !stop.StopRequested()) env_.WaitOnClock(changed_, lock, kMaxWaitMs);
  }
  FailQueued(kQueryRunning);
  CloseSocket();
}

bool StationServerExchange::OpenSocket(bool reportFailure) {
  std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
  long error = 0;
  if (!socket) {
    error = static_cast<long>(env_.LastNetworkingError());
  } else {
    error = socket->Bind(0, kQueryLocalPort);
  }
  uint64_t now = env_.TickMs();
  if (!socket || error != 0) {
    if (reportFailure && Due(bindReportedMs_, now, kFailureReportIntervalMs)) {
      bindReportedMs_ = std::max<uint64_t>(now, 1);
      log_.Write(kRequestTag,
                 Format(" ! Cannot initialize (bind): %ld. UDP port %d, where the station server's replies "
                        "arrive, cannot be used (is another program using it?): no station is refreshed; "
                        "tried again with the next query",
                        error, kQueryLocalPort),
                 0);
    }
    return false;
  }
  if (bindReportedMs_ != 0) {
    log_.Write(kRequestTag, Format("UDP port %d is bound again: stations are refreshed", kQueryLocalPort), 0);
    bindReportedMs_ = 0;
  }
  socket_ = std::move(socket);
  {
    platform::MutexLock wake(wakeLock_);
    listeningSocket_ = socket_.get();
  }
  return true;
}

void StationServerExchange::CloseSocket() {
  if (!socket_) return;
  {
    platform::MutexLock wake(wakeLock_);
    listeningSocket_ = nullptr;
  }
  socket_->Shutdown();
  socket_->Close();
  socket_.reset();
}

// Sends the queries that the pacing lets go now; returns when the next one may go (kNever: none
// waits).
uint64_t StationServerExchange::SendDue(uint64_t nowMs) {
  for (;;) {
    std::shared_ptr<Query> query;
    {
      platform::MutexLock lock(lock_);
      if (toSend_.empty()) return kNever;
      uint64_t at = pacer_->NextMs(nowMs);
      if (at > nowMs) return at;
      query = std::move(toSend_.front());
      toSend_.pop_front();
    }
    if (query->abandoned.load()) {
      Complete({query}, kQueryRunning, nowMs);
      continue;
    }
    pacer_->Take(nowMs);
    if (SendQuery(query, nowMs)) {
      platform::MutexLock lock(lock_);
      inFlight_.push_back(std::move(query));
    }
  }
}

// Sends one query; false (and the query failed) when it could not go out.
bool StationServerExchange::SendQuery(const std::shared_ptr<Query>& query, uint64_t nowMs) {
  LogDetailed(
      query->messages->tag,
      Format("Send query for [%s] to HCS. Thread ID #%08X", query->nickname.c_str(), threadId_.load()), 5);
  ServerEndpoint server = settings_.Server();
  uint32_t address = 0;
  bool addressValid = ParseDottedIPv4(server.address, &address);
  std::string text = wire::FormatQuery(query->nickname);
  int sent = -1;
  if (addressValid && socket_)
    sent = socket_->SendTo(text.data(), text.size(), address, static_cast<uint16_t>(server.port));
  if (sent <= 0) {
    log_.Write(kRequestTag,
               Format(" ! Sendto failed with error: %d", addressValid && socket_ ? socket_->LastError() : -1),
               0);
    Complete({query}, kQueryFailed, nowMs);
    return false;
  }
  log_.Write(kRequestTag, Format("Send request to HCS [%s> ", text.c_str()), 5);
  query->sentMs = nowMs;
  query->deadlineMs = nowMs + kQueryTimeLimitMs;
  return true;
}

// Ends the queries whose time is up; returns the next deadline (kNever: none in flight).
uint64_t StationServerExchange::ExpireDue(uint64_t nowMs) {
  std::vector<std::shared_ptr<Query>> expired;
  uint64_t next = kNever;
  {
    platform::MutexLock lock(lock_);
    auto kept = std::stable_partition(
        inFlight_.begin(), inFlight_.end(),
        [nowMs](const std::shared_ptr<Query>& query) { return nowMs < query->deadlineMs; });
    expired.assign(kept, inFlight_.end());
    inFlight_.erase(kept, inFlight_.end());
    for (const std::shared_ptr<Query>& query : inFlight_) next = std::min(next, query->deadlineMs);
    if (!expired.empty()) {
      // Its answer may still come, late: until then answers without a nickname cannot be matched.
      lateAnswersUntilMs_ = std::max(lateAnswersUntilMs_, nowMs + kQueryTimeLimitMs);
      if (unmatchedNotFound_ + unmatchedInvalid_ > 0) answerMayBeLost_ = true;
    }
    if (inFlight_.empty()) {
      unmatchedNotFound_ = 0;
      unmatchedInvalid_ = 0;
      answerMayBeLost_ = false;
    }
  }
  Complete(expired, kQueryRunning, nowMs);
  return next;
}

bool StationServerExchange::IsWake(uint32_t address, uint16_t port) const {
  return wakePort_ != 0 && address == kLoopbackAddress && port == wakePort_;
}

// Waits at most waitMs for one datagram and handles it.
void StationServerExchange::ReceiveOne(int waitMs) {
  char reply[kDatagramCapacity + 1] = {};
  uint32_t fromAddress = 0;
  uint16_t fromPort = 0;
  int received = socket_->ReceiveFrom(reply, kDatagramCapacity - 1, waitMs, &fromAddress, &fromPort);
  uint64_t now = env_.TickMs();
  if (received == platform::kReceiveTimedOut || received == platform::kReceiveInterrupted) return;
  if (received == platform::kReceiveTooLong || received == platform::kReceiveError) {
    int error = socket_->LastError();
    if (Due(receiveReportedMs_, now, kFailureReportIntervalMs)) {
      receiveReportedMs_ = std::max<uint64_t>(now, 1);
      log_.Write(kRequestTag, Format(" ! Recvfrom failed with error %d", error), 0);
    }
    if (received == platform::kReceiveError && !platform::IsPortUnreachableError(error)) {
      // The socket itself failed: no reply can come on it any more. It is made again with the next
      // query.
      CloseSocket();
      std::vector<std::shared_ptr<Query>> lost;
      {
        platform::MutexLock lock(lock_);
        lost.swap(inFlight_);
        unmatchedNotFound_ = 0;
        unmatchedInvalid_ = 0;
        answerMayBeLost_ = false;
      }
      Complete(lost, kQueryFailed, now);
    }
    return;
  }
  if (IsWake(fromAddress, fromPort)) return;
  ServerEndpoint server = settings_.Server();
  uint32_t serverAddress = 0;
  if (!ParseDottedIPv4(server.address, &serverAddress) || fromAddress != serverAddress ||
      fromPort != static_cast<uint16_t>(server.port)) {
    NoteForeign(fromAddress, fromPort, now);
    return;
  }
  lastAnswerMs_ = now;
  if (received == 0) {
    log_.Write(kRequestTag, " ! Recvfrom failed with error 0", 0);
    CountUnmatchedAnswer(false, now);
    return;
  }
  reply[received] = '\0';
  HandleReply(reply, now);
}

void StationServerExchange::HandleReply(const char* reply, uint64_t nowMs) {
  LogDetailed(kRequestTag, Format("recvfrom >%s]", reply), 5);
  StationRecord scratch = DefaultStation();
  wire::ParsedReply parsed = wire::ParseReply(reply, &scratch);
  if (parsed.kind == wire::ReplyKind::kNotFound) {
    CountUnmatchedAnswer(true, nowMs);
  } else if (parsed.kind == wire::ReplyKind::kInvalidFrame) {
    LogDetailed(kRequestTag, "Invalid frame", 5);
    CountUnmatchedAnswer(false, nowMs);
  } else if (parsed.fields < wire::kRecordFieldCount) {
    // A short reply keeps this pilot's own earlier values for the fields it lacks (the defaults for
    // a new pilot), never those of whoever was asked for before.
    std::optional<StationRecord> stored = model_.FindStation(scratch.nickname);
    if (stored) {
      scratch = *stored;
      wire::ParseReply(reply, &scratch);
    }
    StoreRecord(reply, scratch, nowMs);
  } else {
    StoreRecord(reply, scratch, nowMs);
  }
}

// A record answers every query in flight for its nickname; one that no query waits for (a late
// answer) is dropped.
void StationServerExchange::StoreRecord(const char*, StationRecord scratch, uint64_t nowMs) {
  std::vector<std::shared_ptr<Query>> answered;
  {
    platform::MutexLock lock(lock_);
    auto kept =
        std::stable_partition(inFlight_.begin(), inFlight_.end(), [&](const std::shared_ptr<Query>& query) {
          return !(query->nickname == scratch.nickname && nowMs < query->deadlineMs);
        });
    answered.assign(kept, inFlight_.end());
    inFlight_.erase(kept, inFlight_.end());
  }
  if (answered.empty()) {
    LogDetailed(kRequestTag, Format("No query waits for the reply of [%s]: dropped", scratch.nickname), 5);
    return;
  }
  auto wanted = [&answered] {
    return std::any_of(answered.begin(), answered.end(),
                       [](const std::shared_ptr<Query>& query) { return !query->abandoned.load(); });
  };
  if (model_.AddOrUpdateStation(scratch, wanted) >= 0 && log_.Detailed()) {
    std::optional<StationRecord> stored = model_.FindStation(scratch.nickname);
    if (stored) {
      log_.Write(Format("Thread_UDPRequest : Added item [%s]", wire::FormatRecordText(*stored).c_str()), "",
                 5);
    }
  }
  Complete(answered, kQueryStored, nowMs);
  MatchUnmatchedAnswers(nowMs);
}

void StationServerExchange::CountUnmatchedAnswer(bool notFound, uint64_t nowMs) {
  {
    platform::MutexLock lock(lock_);
    if (inFlight_.empty()) return;  // a late answer
    ++(notFound ? unmatchedNotFound_ : unmatchedInvalid_);
    if (nowMs < lateAnswersUntilMs_) answerMayBeLost_ = true;  // it may be a late one
  }
  MatchUnmatchedAnswers(nowMs);
}

// When the answers without a nickname are exactly as many as the queries in flight, and none of
// them may be another query's late answer, they answer those queries: "(no found) " all of them,
// or, when one was unreadable, failed all of them (which one it was is not known).
void StationServerExchange::MatchUnmatchedAnswers(uint64_t nowMs) {
  std::vector<std::shared_ptr<Query>> answered;
  bool notFound = false;
  {
    platform::MutexLock lock(lock_);
    int unmatched = unmatchedNotFound_ + unmatchedInvalid_;
    if (inFlight_.empty()) {
      unmatchedNotFound_ = 0;
      unmatchedInvalid_ = 0;
      answerMayBeLost_ = false;
      return;
    }
    if (unmatched == 0 || answerMayBeLost_ || static_cast<size_t>(unmatched) != inFlight_.size()) return;
    notFound = unmatchedInvalid_ == 0;
    answered.swap(inFlight_);
    unmatchedNotFound_ = 0;
    unmatchedInvalid_ = 0;
  }
  if (notFound) {
    for (const std::shared_ptr<Query>& query : answered) {
      if (query->abandoned.load()) continue;
      // A host that held an earlier reset past the time limit: this answer is too old to act on.
      if (env_.TickMs() - nowMs >= kQueryTimeLimitMs) break;
      LogDetailed(kRequestTag,
                  Format("NickName [%s] doesn't exist in Halcyra server.", query->nickname.c_str()), 5);
      std::optional<ClientNode> node = clients_.FindByNickname(query->nickname.c_str());
      if (node) clients_.Reset3DSoundForClient(hostCalls_, *node, hostCallStop_.Token());
    }
  }
  Complete(answered, kQueryFailed, nowMs);
}

void StationServerExchange::NoteForeign(uint32_t address, uint16_t port, uint64_t nowMs) {
  ++droppedTotal_;
  ++droppedUnreported_;
  lastForeignAddress_ = address;
  lastForeignPort_ = port;
  ReportForeign(nowMs, false);
}

// One level-0 line for the datagrams dropped since the last one, at most once a minute.
void StationServerExchange::ReportForeign(uint64_t nowMs, bool force) {
  if (droppedUnreported_ == 0) return;
  if (!force && !Due(droppedReportedMs_, nowMs, kDroppedReportIntervalMs)) return;
  ServerEndpoint server = settings_.Server();
  log_.Write(kRequestTag,
             Format("Dropped %llu replies not sent by the station server %s:%d (last from %s:%u)",
                    static_cast<unsigned long long>(droppedUnreported_), server.address.c_str(), server.port,
                    FormatDottedIPv4(lastForeignAddress_).c_str(), static_cast<unsigned>(lastForeignPort_)),
             0);
  droppedUnreported_ = 0;
  droppedReportedMs_ = std::max<uint64_t>(nowMs, 1);
}

}  // namespace halcyra
