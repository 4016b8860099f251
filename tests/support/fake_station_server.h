// FakeStationServer: a station server stand-in on an OS-chosen loopback port, with fault switches.
// It records every datagram it receives and answers each one with whatever the answer function
// gives (nothing when it gives no text), after an optional delay.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/ipv4.h"
#include "platform/mutex.h"

namespace halcyra::testing {

class FakeStationServer {
 public:
  // Gets the request text; returns the reply text, or nothing to stay silent.
  using AnswerFunction = std::function<std::optional<std::string>(const std::string& request)>;

  FakeStationServer() {
    platform::Env::Default().StartNetworking();  // WSAStartup on Windows; it counts its calls
    socket_ = platform::Env::Default().CreateUdpSocket();
    if (socket_ && socket_->Bind(kLoopbackAddress, 0) == 0) port_ = socket_->LocalPort();
    if (port_ != 0) thread_ = std::thread([this] { Serve(); });
  }
  ~FakeStationServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  FakeStationServer(const FakeStationServer&) = delete;
  FakeStationServer& operator=(const FakeStationServer&) = delete;

  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }

  // --- fault switches (set before the requests) ---
  void SetAnswer(AnswerFunction answer) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    answer_ = std::move(answer);
  }
  void AnswerWith(const std::string& reply) {
    SetAnswer([reply](const std::string&) { return std::optional<std::string>(reply); });
  }
  void StaySilent() {
    SetAnswer([](const std::string&) { return std::optional<std::string>(); });
  }
  void SetReplyDelayMs(int delayMs) { replyDelayMs_ = delayMs; }

  // --- what it received ---
  std::vector<std::string> Requests() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return requests_;
  }
  size_t RequestCount() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return requests_.size();
  }
  // The local port each request was sent from, in the order of Requests().
  std::vector<uint16_t> RequestPorts() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return requestPorts_;
  }
  int RepliesSent() const { return repliesSent_.load(); }
  // Waits up to timeoutMs for at least count requests; true when they came.
  bool WaitForRequests(size_t count, int timeoutMs) const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return received_.WaitFor(lock, std::chrono::milliseconds(timeoutMs),
                             [&]() REQUIRES(mutex_) { return requests_.size() >= count; });
  }
  void ClearRequests() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    requests_.clear();
    requestPorts_.clear();
  }

 private:
  void Serve() EXCLUDES(mutex_) {
    char buffer[2048];
    while (!stop_.load()) {
      uint32_t fromAddress = 0;
      uint16_t fromPort = 0;
      int received = socket_->ReceiveFrom(buffer, sizeof buffer, 20, &fromAddress, &fromPort);
      if (received < 0) continue;
      std::string request(buffer, static_cast<size_t>(received));
      AnswerFunction answer;
      {
        platform::MutexLock lock(mutex_);
        requests_.push_back(request);
        requestPorts_.push_back(fromPort);
        answer = answer_;
      }
      received_.NotifyAll();
      std::optional<std::string> reply = answer ? answer(request) : std::nullopt;
      if (!reply) continue;
      if (!SleepUnlessStopping(replyDelayMs_.load())) return;
      if (socket_->SendTo(reply->data(), reply->size(), fromAddress, fromPort) > 0) ++repliesSent_;
    }
  }

  bool SleepUnlessStopping(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (stop_.load()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::unique_ptr<platform::UdpSocket> socket_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> replyDelayMs_{0};
  std::atomic<int> repliesSent_{0};
  mutable platform::Mutex mutex_;  // a leaf: the answer function is called after it is released
  mutable platform::ConditionVariable received_;
  AnswerFunction answer_ GUARDED_BY(mutex_);
  std::vector<std::string> requests_ GUARDED_BY(mutex_);
  std::vector<uint16_t> requestPorts_ GUARDED_BY(mutex_);
  std::thread thread_;
};

}  // namespace halcyra::testing
