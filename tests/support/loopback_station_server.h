// The station server's record store (halcyra-server's StationServer) serving on a loopback UDP
// port that the OS picks, on a thread of its own. Every request it handled is kept in arrival
// order, so a test can wait for the plug-in's publishes and queries.
//
// Threads: the serving thread handles requests under mutex_; tests call the other members from
// their own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"
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
  void Store(const std::string& recordText);

  // Requests handled so far (the datagram texts, in arrival order).
  size_t RequestCount() const;
  std::vector<std::string> Requests() const;
  int CountRequests(const std::string& text) const;
  // Waits until a request equal to text has been handled at index >= from. False after timeoutMs.
  bool WaitForRequest(const std::string& text, size_t from, int timeoutMs) const;

 private:
  void Serve();

  std::unique_ptr<platform::UdpSocket> socket_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;  // guards server_ and requests_
  mutable std::condition_variable handled_;
  server::StationServer server_;
  std::vector<std::string> requests_;

  std::unique_ptr<platform::Thread> thread_;  // last member: started once everything above exists
};

}  // namespace halcyra::testing
