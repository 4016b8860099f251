#include "loopback_station_server.h"

#include <chrono>

#include "platform/ipv4.h"

namespace halcyra::testing {
namespace {

constexpr int kReceiveSliceMs = 20;  // how often the serving thread looks at the stop flag
constexpr size_t kReceiveCapacity = 2048;

uint64_t MonotonicMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

LoopbackStationServer::LoopbackStationServer() : server_(server::StationServerLimits{}) {
  platform::Env& env = platform::Env::Default();
  env.StartNetworking();
  socket_ = env.CreateUdpSocket();
  if (!socket_ || socket_->Bind(kLoopbackAddress, 0) != 0) return;
  port_ = socket_->LocalPort();
  thread_ = env.StartThread([this] { Serve(); });
}

LoopbackStationServer::~LoopbackStationServer() {
  stop_ = true;
  if (thread_) thread_->Join();
}

void LoopbackStationServer::Store(const std::string& recordText) {
  platform::MutexLock lock(mutex_);
  server_.Handle("SET:" + recordText, kLoopbackAddress, MonotonicMs());
}

size_t LoopbackStationServer::RequestCount() const {
  platform::MutexLock lock(mutex_);
  return requests_.size();
}

std::vector<std::string> LoopbackStationServer::Requests() const {
  platform::MutexLock lock(mutex_);
  return requests_;
}

int LoopbackStationServer::CountRequests(const std::string& text) const {
  platform::MutexLock lock(mutex_);
  int count = 0;
  for (const std::string& request : requests_) count += request == text ? 1 : 0;
  return count;
}

bool LoopbackStationServer::WaitForRequest(const std::string& text, size_t from, int timeoutMs) const {
  platform::MutexLock lock(mutex_);
  return handled_.WaitFor(lock, std::chrono::milliseconds(timeoutMs), [&]() REQUIRES(mutex_) {
    for (size_t i = from; i < requests_.size(); ++i) {
      if (requests_[i] == text) return true;
    }
    return false;
  });
}

void LoopbackStationServer::Serve() {
  char buffer[kReceiveCapacity];
  while (!stop_.load()) {
    uint32_t fromAddress = 0;
    uint16_t fromPort = 0;
    int received = socket_->ReceiveFrom(buffer, sizeof buffer, kReceiveSliceMs, &fromAddress, &fromPort);
    if (received == platform::kReceiveError)
      platform::Env::Default().SleepMs(1);  // no busy loop on a broken socket
    if (received < 0) continue;
    std::string request(buffer, static_cast<size_t>(received));
    std::string reply;
    {
      platform::MutexLock lock(mutex_);
      reply = std::string(server_.Handle(request, fromAddress, MonotonicMs()).reply);
      requests_.push_back(request);
    }
    if (!reply.empty()) socket_->SendTo(reply.data(), reply.size(), fromAddress, fromPort);
    handled_.NotifyAll();
  }
}

}  // namespace halcyra::testing
