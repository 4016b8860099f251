// ScriptedStationServer: a station server on UDP port 10600 of the loopback address whose answers
// a test chooses - proper records, silence, late answers, garbage, truncated or oversize replies,
// "(no found) ". What it was sent (publishes "SET:", queries "GET:") is read from its requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/mutex.h"
#include "station_stand_in.h"

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

class ScriptedStationServer : public StationStandIn {
 public:
  static constexpr uint16_t kPort = 10600;

  ScriptedStationServer();  // binds 127.0.0.1:10600 and starts serving; see ok()
  ~ScriptedStationServer() { Stop(); }

  // The record answered for a nickname, as the server sends it ("nick@fields ...").
  void SetRecord(const std::string& nickname, const std::string& record) EXCLUDES(scriptLock_);
  // How queries are answered; by default every query gets kRecord.
  void SetAnswer(ServerAnswer answer) EXCLUDES(scriptLock_);
  // Chooses the answer per query instead (called on the serving thread).
  void SetAnswerChooser(std::function<ServerAnswer(const std::string& nickname)> chooser)
      EXCLUDES(scriptLock_);
  void SetLateMs(uint32_t ms) { lateMs_ = ms; }

  // The text after "SET:" of the last publish of a nickname.
  std::optional<std::string> LastPublish(const std::string& nickname) const;
  // Every publish text that arrived, once each.
  std::set<std::string> DistinctPublishes() const;

  int Queries() const;
  int QueriesFor(const std::string& nickname) const;
  int PublishCount() const;

 private:
  std::optional<StandInReply> Answer(const StandInRequest& request) EXCLUDES(scriptLock_);
  std::string ReplyFor(ServerAnswer answer, const std::string& nickname) REQUIRES(scriptLock_);

  std::atomic<uint32_t> lateMs_{600};
  // A leaf: the answer chooser is called without it.
  platform::Mutex scriptLock_;
  std::map<std::string, std::string> records_ GUARDED_BY(scriptLock_);
  ServerAnswer answer_ GUARDED_BY(scriptLock_) = ServerAnswer::kRecord;
  std::function<ServerAnswer(const std::string&)> chooser_ GUARDED_BY(scriptLock_);
  uint32_t garbageSeed_ GUARDED_BY(scriptLock_) = 12345;
};

}  // namespace halcyra::testing
