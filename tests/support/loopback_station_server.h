// The station server's record store (halcyra-server's StationServer) serving on a loopback UDP
// port that the OS picks, on a thread of its own. Every request it handled is kept in arrival
// order, so a test can wait for the plug-in's publishes and queries.
//
// Threads: the serving thread handles requests under mutex_; tests call the other members from
// their own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"
#include "station_server.h"

namespace halcyra::testing {

class LoopbackStationServer {
 public:
  LoopbackStationServer();   // binds 127.0.0.1 on a free port and starts serving
  ~LoopbackStationServer();  // stops serving and waits for the thread

  LoopbackStationServer(const LoopbackStationServer&) = delete;
  LoopbackStationServer& operator=(const LoopbackStationServer&) = delete;

  bool ok() const { return thread_ != nullptr; }
  uint16_t port() const { return port_; }

  // Stores a pilot's record as his own publish would: text is what follows "SET:".
  void Store(const std::string& recordText) EXCLUDES(mutex_);

  // Requests handled so far (the datagram texts, in arrival order).
  size_t RequestCount() const EXCLUDES(mutex_);
  std::vector<std::string> Requests() const EXCLUDES(mutex_);
  int CountRequests(const std::string& text) const EXCLUDES(mutex_);
  // Waits until a request equal to text has been handled at index >= from. False after timeoutMs.
  bool WaitForRequest(const std::string& text, size_t from, int timeoutMs) const EXCLUDES(mutex_);

 private:
  void Serve() EXCLUDES(mutex_);

  std::unique_ptr<platform::UdpSocket> socket_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};

  mutable platform::Mutex mutex_;  // a leaf: replies are sent after it is released
  mutable platform::ConditionVariable handled_;
  server::StationServer server_ GUARDED_BY(mutex_);
  std::vector<std::string> requests_ GUARDED_BY(mutex_);

  std::unique_ptr<platform::Thread> thread_;  // last member: started once everything above exists
};

}  // namespace halcyra::testing
