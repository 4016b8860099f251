#include "scripted_station_server.h"

#include <chrono>
#include <thread>

#include "platform/ipv4.h"
#include "wait_until.h"

namespace halcyra::testing {
namespace {

constexpr int kReceiveSliceMs = 5;
constexpr char kNotFound[] = "(no found) ";

// "GET:nick@ " or "SET:nick@fields": the nickname, empty when the datagram has no "@".
std::string NicknameOf(const std::string& datagram) {
  size_t at = datagram.find('@', 4);
  return at == std::string::npos ? std::string() : datagram.substr(4, at - 4);
}

}  // namespace

ScriptedStationServer::ScriptedStationServer() : env_(platform::Env::Default()) {
  env_.StartNetworking();
  std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
  int bound = socket ? socket->Bind(kLoopbackAddress, kPort) : -1;
  if (!socket || bound != 0) {
    error_ = "cannot bind 127.0.0.1:" + std::to_string(kPort) + " (error " + std::to_string(bound) + ")";
    return;
  }
  socket_ = std::move(socket);
  thread_ = env_.StartThread([this] { Serve(); });
}

ScriptedStationServer::~ScriptedStationServer() {
  stop_ = true;
  if (thread_) thread_->Join();
}

void ScriptedStationServer::SetRecord(const std::string& nickname, const std::string& record) {
  platform::MutexLock lock(mutex_);
  records_[nickname] = record;
}

void ScriptedStationServer::SetAnswer(ServerAnswer answer) {
  platform::MutexLock lock(mutex_);
  answer_ = answer;
  chooser_ = nullptr;
}

void ScriptedStationServer::SetAnswerChooser(std::function<ServerAnswer(const std::string&)> chooser) {
  platform::MutexLock lock(mutex_);
  chooser_ = std::move(chooser);
}

std::optional<std::string> ScriptedStationServer::LastPublish(const std::string& nickname) const {
  platform::MutexLock lock(mutex_);
  auto found = lastPublish_.find(nickname);
  return found == lastPublish_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

std::set<std::string> ScriptedStationServer::DistinctPublishes() const {
  platform::MutexLock lock(mutex_);
  return distinctPublishes_;
}

int ScriptedStationServer::QueriesFor(const std::string& nickname) const {
  platform::MutexLock lock(mutex_);
  auto found = queriesFor_.find(nickname);
  return found == queriesFor_.end() ? 0 : found->second;
}

bool ScriptedStationServer::WaitFor(const std::function<bool()>& predicate, uint32_t timeoutMs) {
  return WaitUntil(predicate, static_cast<int>(timeoutMs));
}

void ScriptedStationServer::Serve() {
  char buffer[2048];
  while (!stop_.load()) {
    uint32_t address = 0;
    uint16_t port = 0;
    int received = socket_->ReceiveFrom(buffer, sizeof buffer, kReceiveSliceMs, &address, &port);
    if (received > 0) Handle(std::string(buffer, static_cast<size_t>(received)), address, port);
    SendDue();
  }
}

void ScriptedStationServer::Handle(const std::string& datagram, uint32_t address, uint16_t port) {
  std::string nickname = NicknameOf(datagram);
  if (datagram.rfind("SET:", 0) == 0) {
    platform::MutexLock lock(mutex_);
    lastPublish_[nickname] = datagram.substr(4);
    distinctPublishes_.insert(datagram.substr(4));
    ++publishCount_;
    return;
  }
  if (datagram.rfind("GET:", 0) != 0) return;
  ++queries_;
  std::function<ServerAnswer(const std::string&)> chooser;
  ServerAnswer answer;
  {
    platform::MutexLock lock(mutex_);
    ++queriesFor_[nickname];
    chooser = chooser_;
    answer = answer_;
  }
  if (chooser) answer = chooser(nickname);
  if (answer == ServerAnswer::kSilent) return;
  platform::MutexLock lock(mutex_);
  std::string reply = ReplyFor(answer, nickname);
  if (answer == ServerAnswer::kLate) {
    pending_.push_back({env_.TickMs() + lateMs_.load(), reply, address, port});
    return;
  }
  socket_->SendTo(reply.data(), reply.size(), address, port);
  ++replies_;
}

std::string ScriptedStationServer::ReplyFor(ServerAnswer answer, const std::string& nickname) {
  auto found = records_.find(nickname);
  std::string record = found == records_.end() ? std::string(kNotFound) : found->second;
  switch (answer) {
    case ServerAnswer::kNotFound:
      return kNotFound;
    case ServerAnswer::kGarbage: {
      std::string garbage;
      size_t length = 1 + garbageSeed_ % 700;
      for (size_t i = 0; i < length; ++i) {
        garbageSeed_ = garbageSeed_ * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(garbageSeed_ >> 16));
      }
      return garbage;
    }
    case ServerAnswer::kTruncated: {
      size_t cut = record.find('@');
      for (int field = 0; field < 2 && cut != std::string::npos; ++field) cut = record.find(' ', cut + 1);
      return record.substr(0, cut);
    }
    case ServerAnswer::kOversize:
      return record + std::string(1500, ' ') + "overflow";
    case ServerAnswer::kRecord:
    case ServerAnswer::kLate:
    case ServerAnswer::kSilent:
      break;
  }
  return record;
}

void ScriptedStationServer::SendDue() {
  platform::MutexLock lock(mutex_);
  uint64_t now = env_.TickMs();
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->dueMs > now) {
      ++it;
      continue;
    }
    socket_->SendTo(it->reply.data(), it->reply.size(), it->address, it->port);
    ++replies_;
    it = pending_.erase(it);
  }
}

}  // namespace halcyra::testing
