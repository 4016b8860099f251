#include "station_stand_in.h"

#include <algorithm>
#include <chrono>

#include "platform/ipv4.h"

namespace halcyra::testing {
namespace {

constexpr size_t kReceiveCapacity = 2048;

// How long the next receive may wait: until the first delayed reply is due, without limit when none
// is (the stop interrupts the receive).
int ReceiveWaitMs(uint64_t firstDueMs, uint64_t nowMs) {
  if (firstDueMs == UINT64_MAX) return -1;
  if (firstDueMs <= nowMs) return 1;
  return static_cast<int>(std::min<uint64_t>(firstDueMs - nowMs, INT32_MAX));
}

}  // namespace

LoopbackService::LoopbackService(uint16_t port) {
  platform::Env& env = platform::Env::Default();
  env.StartNetworking();  // WSAStartup on Windows; it counts its calls
  socket_ = env.CreateUdpSocket();
  int bound = socket_ ? socket_->Bind(kLoopbackAddress, port) : -1;
  if (bound != 0) {
    error_ = "cannot bind 127.0.0.1:" + std::to_string(port) + " (error " + std::to_string(bound) + ")";
    return;
  }
  port_ = socket_->LocalPort();
}

bool LoopbackService::Start(Body body) {
  if (!ok() || thread_) return false;
  thread_ = platform::Env::Default().StartThread(
      [this, body = std::move(body)] { body(*socket_, [this] { return stop_.load(); }); });
  return true;
}

void LoopbackService::Stop() {
  stop_ = true;
  if (socket_) socket_->Interrupt();
  if (thread_) thread_->Join();
  thread_.reset();
}

StationStandIn::StationStandIn(uint16_t port) : service_(port) {
  service_.Start([this](platform::UdpSocket& socket, const std::function<bool()>& stopping) {
    Serve(socket, stopping);
  });
}

void StationStandIn::SetAnswer(AnswerPolicy answer) {
  platform::MutexLock lock(mutex_);
  answer_ = std::move(answer);
}

void StationStandIn::AnswerWith(const std::string& reply, uint32_t delayMs) {
  SetAnswer([reply, delayMs](const StandInRequest&) { return StandInReply(reply, delayMs); });
}

void StationStandIn::StaySilent() { SetAnswer(nullptr); }

std::vector<std::string> StationStandIn::Requests() const {
  platform::MutexLock lock(mutex_);
  std::vector<std::string> texts;
  for (const StandInRequest& request : requests_) texts.push_back(request.text);
  return texts;
}

std::vector<uint16_t> StationStandIn::RequestPorts() const {
  platform::MutexLock lock(mutex_);
  std::vector<uint16_t> ports;
  for (const StandInRequest& request : requests_) ports.push_back(request.port);
  return ports;
}

size_t StationStandIn::RequestCount() const {
  platform::MutexLock lock(mutex_);
  return requests_.size();
}

int StationStandIn::CountRequests(const std::string& text) const {
  return CountRequests([&text](const std::string& request) { return request == text; });
}

int StationStandIn::CountRequests(const std::function<bool(const std::string&)>& matches) const {
  platform::MutexLock lock(mutex_);
  return static_cast<int>(
      std::count_if(requests_.begin(), requests_.end(),
                    [&](const StandInRequest& request) { return matches(request.text); }));
}

std::optional<std::string> StationStandIn::LastRequest(
    const std::function<bool(const std::string&)>& matches) const {
  platform::MutexLock lock(mutex_);
  for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
    if (matches(it->text)) return it->text;
  }
  return std::nullopt;
}

void StationStandIn::ClearRequests() {
  platform::MutexLock lock(mutex_);
  requests_.clear();
}

bool StationStandIn::WaitForRequest(const std::string& text, size_t from, int timeoutMs) const {
  platform::MutexLock lock(mutex_);
  return received_.WaitFor(lock, std::chrono::milliseconds(timeoutMs), [&]() REQUIRES(mutex_) {
    for (size_t i = from; i < requests_.size(); ++i) {
      if (requests_[i].text == text) return true;
    }
    return false;
  });
}

bool StationStandIn::WaitForRequests(size_t count, int timeoutMs) const {
  platform::MutexLock lock(mutex_);
  return received_.WaitFor(lock, std::chrono::milliseconds(timeoutMs),
                           [&]() REQUIRES(mutex_) { return requests_.size() >= count; });
}

void StationStandIn::Serve(platform::UdpSocket& socket, const std::function<bool()>& stopping) {
  platform::Env& env = platform::Env::Default();
  std::vector<Pending> pending;  // replies not yet due, in the order they were made
  char buffer[kReceiveCapacity];
  while (!stopping()) {
    uint64_t firstDueMs = UINT64_MAX;
    for (const Pending& reply : pending) firstDueMs = std::min(firstDueMs, reply.dueMs);
    StandInRequest request;
    int received = socket.ReceiveFrom(buffer, sizeof buffer, ReceiveWaitMs(firstDueMs, env.TickMs()),
                                      &request.address, &request.port);
    if (received == platform::kReceiveError) env.SleepMs(1);  // no busy loop on a broken socket
    if (received >= 0) {
      request.text.assign(buffer, static_cast<size_t>(received));
      std::optional<StandInReply> reply = AnswerAndRecord(request);
      if (reply)
        pending.push_back(
            {env.TickMs() + reply->delayMs, std::move(reply->text), request.address, request.port});
    }
    SendDue(socket, pending, env.TickMs());
  }
}

std::optional<StandInReply> StationStandIn::AnswerAndRecord(const StandInRequest& request) {
  AnswerPolicy answer;
  {
    platform::MutexLock lock(mutex_);
    answer = answer_;
  }
  std::optional<StandInReply> reply = answer ? answer(request) : std::nullopt;
  {
    platform::MutexLock lock(mutex_);
    requests_.push_back(request);
  }
  received_.NotifyAll();
  return reply;
}

void StationStandIn::SendDue(platform::UdpSocket& socket, std::vector<Pending>& pending, uint64_t nowMs) {
  for (auto it = pending.begin(); it != pending.end();) {
    if (it->dueMs > nowMs) {
      ++it;
      continue;
    }
    if (socket.SendTo(it->reply.data(), it->reply.size(), it->address, it->port) > 0) ++repliesSent_;
    it = pending.erase(it);
  }
}

}  // namespace halcyra::testing
