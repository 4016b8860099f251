// Stand-ins for a station server, on a UDP port of the loopback address.
//
// LoopbackService: a socket bound to 127.0.0.1 and a serving thread that runs a body until the
// service is stopped or destroyed. The body gets the socket and a stop test to look at after each
// receive; what it uses is built before it starts, on the socket if need be.
//
// StationStandIn: a LoopbackService that receives requests, answers each as its answer policy says
// (at once, after a delay, or not at all) and keeps every request in arrival order for tests to
// read and wait for. Subclasses give it their policy: the station server's own record store, or a
// script of faults.
//
// Threads: the serving thread receives, calls the answer policy and sends the replies; tests call
// the other members from their own threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra::testing {

class LoopbackService {
 public:
  using Body = std::function<void(platform::UdpSocket& socket, const std::function<bool()>& stopping)>;

  explicit LoopbackService(uint16_t port = 0);  // binds 127.0.0.1:port (0: a port the OS picks)
  ~LoopbackService() { Stop(); }
  LoopbackService(const LoopbackService&) = delete;
  LoopbackService& operator=(const LoopbackService&) = delete;

  // Runs body on the serving thread, once; false (and nothing runs) when the port was not bound.
  bool Start(Body body);
  // Tells the body to stop (a receive waiting then returns kReceiveInterrupted, and so does every
  // later one) and waits for the serving thread; once done, later calls do nothing.
  void Stop();

  bool ok() const { return port_ != 0; }
  const std::string& error() const { return error_; }  // why the port could not be bound
  uint16_t port() const { return port_; }
  platform::UdpSocket& socket() { return *socket_; }  // when ok()

 private:
  std::unique_ptr<platform::UdpSocket> socket_;
  uint16_t port_ = 0;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<platform::Thread> thread_;  // last: starts once everything above exists
};

// A request as it arrived; address and port are the sender's (host order).
struct StandInRequest {
  std::string text;
  uint32_t address = 0;
  uint16_t port = 0;
};

// A reply and how long after its request it is sent (milliseconds). A text alone is a reply at once.
struct StandInReply {
  StandInReply(std::string replyText, uint32_t replyDelayMs = 0)
      : text(std::move(replyText)), delayMs(replyDelayMs) {}
  std::string text;
  uint32_t delayMs;
};

class StationStandIn {
 public:
  // Called on the serving thread for each request: the reply, or nothing to stay silent.
  using AnswerPolicy = std::function<std::optional<StandInReply>(const StandInRequest& request)>;

  // Binds 127.0.0.1:port (0: a port the OS picks) and serves; silent until an answer is set.
  explicit StationStandIn(uint16_t port = 0);
  StationStandIn(const StationStandIn&) = delete;
  StationStandIn& operator=(const StationStandIn&) = delete;

  bool ok() const { return service_.ok(); }
  const std::string& error() const { return service_.error(); }
  uint16_t port() const { return service_.port(); }

  // --- answers (for the requests that come after the call) ---
  void SetAnswer(AnswerPolicy answer) EXCLUDES(mutex_);
  void AnswerWith(const std::string& reply, uint32_t delayMs = 0);
  void StaySilent();
  int RepliesSent() const { return repliesSent_.load(); }

  // --- what it received, in arrival order ---
  std::vector<std::string> Requests() const EXCLUDES(mutex_);
  std::vector<uint16_t> RequestPorts() const EXCLUDES(mutex_);  // the port each came from
  size_t RequestCount() const EXCLUDES(mutex_);
  int CountRequests(const std::string& text) const;
  int CountRequests(const std::function<bool(const std::string& request)>& matches) const EXCLUDES(mutex_);
  // The latest request that matches, if any (without copying the others).
  std::optional<std::string> LastRequest(const std::function<bool(const std::string& request)>& matches) const
      EXCLUDES(mutex_);
  void ClearRequests() EXCLUDES(mutex_);
  // Wait until a request equal to text has come at index >= from, or until there are count
  // requests; false when that has not happened after timeoutMs.
  bool WaitForRequest(const std::string& text, size_t from, int timeoutMs) const EXCLUDES(mutex_);
  bool WaitForRequests(size_t count, int timeoutMs) const EXCLUDES(mutex_);

 protected:
  // Stops serving. A subclass whose policy reads its own members calls it in its destructor, before
  // they go.
  void Stop() { service_.Stop(); }

 private:
  struct Pending {
    uint64_t dueMs;
    std::string reply;
    uint32_t address;
    uint16_t port;
  };

  void Serve(platform::UdpSocket& socket, const std::function<bool()>& stopping) EXCLUDES(mutex_);
  // The reply to request by the policy; records the request once the policy has seen it.
  std::optional<StandInReply> AnswerAndRecord(const StandInRequest& request) EXCLUDES(mutex_);
  void SendDue(platform::UdpSocket& socket, std::vector<Pending>& pending, uint64_t nowMs);

  std::atomic<int> repliesSent_{0};
  // A leaf: the policy is called, and replies are sent, without it.
  mutable platform::Mutex mutex_;
  mutable platform::ConditionVariable received_;
  AnswerPolicy answer_ GUARDED_BY(mutex_);
  std::vector<StandInRequest> requests_ GUARDED_BY(mutex_);

  LoopbackService service_;  // last: its thread uses everything above
};

}  // namespace halcyra::testing
