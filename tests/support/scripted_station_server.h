// ScriptedStationServer: a station server on UDP port 10600 of the loopback address whose answers
// a test chooses - proper records, silence, late answers, garbage, truncated or oversize replies,
// "(no found) ". It remembers every publish ("SET:") and counts every query ("GET:").
//
// One serving thread; everything it shares with the test is guarded by mutex_ (counters are
// atomics). Late answers are queued and sent by the serving thread when due.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra::testing {

enum class ServerAnswer {
  kRecord,     // the record set for the nickname (or "(no found) " when none is set)
  kNotFound,   // "(no found) "
  kSilent,     // nothing
  kLate,       // the record, lateMs after the query
  kGarbage,    // bytes that are no reply at all
  kTruncated,  // the record cut after the nickname and two fields
  kOversize,   // the record padded to more than a datagram of the exchange may hold
};

class ScriptedStationServer {
 public:
  static constexpr uint16_t kPort = 10600;

  ScriptedStationServer();  // binds 127.0.0.1:10600 and starts serving; see ok()
  ~ScriptedStationServer();

  bool ok() const { return socket_ != nullptr; }
  const std::string& error() const { return error_; }

  // The record answered for a nickname, as the server sends it ("nick@fields ...").
  void SetRecord(const std::string& nickname, const std::string& record) EXCLUDES(mutex_);
  // How queries are answered; by default every query gets kRecord.
  void SetAnswer(ServerAnswer answer) EXCLUDES(mutex_);
  // Chooses the answer per query instead (called on the serving thread).
  void SetAnswerChooser(std::function<ServerAnswer(const std::string& nickname)> chooser) EXCLUDES(mutex_);
  void SetLateMs(uint32_t ms) { lateMs_ = ms; }

  // The text after "SET:" of the last publish of a nickname.
  std::optional<std::string> LastPublish(const std::string& nickname) const EXCLUDES(mutex_);
  // Every publish text that arrived, once each.
  std::set<std::string> DistinctPublishes() const EXCLUDES(mutex_);

  int Queries() const { return queries_.load(); }
  int QueriesFor(const std::string& nickname) const EXCLUDES(mutex_);
  int PublishCount() const { return publishCount_.load(); }
  int RepliesSent() const { return replies_.load(); }

  // Waits (really) until predicate() holds or timeoutMs passed; returns predicate().
  static bool WaitFor(const std::function<bool()>& predicate, uint32_t timeoutMs);

 private:
  struct Pending {
    uint64_t dueMs;
    std::string reply;
    uint32_t address;
    uint16_t port;
  };

  void Serve() EXCLUDES(mutex_);
  void Handle(const std::string& datagram, uint32_t address, uint16_t port) EXCLUDES(mutex_);
  std::string ReplyFor(ServerAnswer answer, const std::string& nickname) REQUIRES(mutex_);
  void SendDue() EXCLUDES(mutex_);

  platform::Env& env_;
  std::unique_ptr<platform::UdpSocket> socket_;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> lateMs_{600};
  std::atomic<int> queries_{0};
  std::atomic<int> publishCount_{0};
  std::atomic<int> replies_{0};

  // A leaf: the answer chooser is called without it; replies are sent with it held.
  mutable platform::Mutex mutex_;
  std::map<std::string, std::string> records_ GUARDED_BY(mutex_);
  ServerAnswer answer_ GUARDED_BY(mutex_) = ServerAnswer::kRecord;
  std::function<ServerAnswer(const std::string&)> chooser_ GUARDED_BY(mutex_);
  std::map<std::string, std::string> lastPublish_ GUARDED_BY(mutex_);
  std::set<std::string> distinctPublishes_ GUARDED_BY(mutex_);
  std::map<std::string, int> queriesFor_ GUARDED_BY(mutex_);
  std::vector<Pending> pending_ GUARDED_BY(mutex_);
  uint32_t garbageSeed_ GUARDED_BY(mutex_) = 12345;

  std::unique_ptr<platform::Thread> thread_;  // last: starts after everything above exists
};

}  // namespace halcyra::testing
