#include "scripted_station_server.h"

namespace halcyra::testing {
namespace {

constexpr char kNotFound[] = "(no found) ";

bool IsPublish(const std::string& request) { return request.rfind("SET:", 0) == 0; }
bool IsQuery(const std::string& request) { return request.rfind("GET:", 0) == 0; }

// "GET:nick@ " or "SET:nick@fields": the nickname, empty when the datagram has no "@".
std::string NicknameOf(const std::string& datagram) {
  size_t at = datagram.find('@', 4);
  return at == std::string::npos ? std::string() : datagram.substr(4, at - 4);
}

}  // namespace

ScriptedStationServer::ScriptedStationServer() : StationStandIn(kPort) {
  StationStandIn::SetAnswer([this](const StandInRequest& request) { return Answer(request); });
}

void ScriptedStationServer::SetRecord(const std::string& nickname, const std::string& record) {
  platform::MutexLock lock(scriptLock_);
  records_[nickname] = record;
}

void ScriptedStationServer::SetAnswer(ServerAnswer answer) {
  platform::MutexLock lock(scriptLock_);
  answer_ = answer;
  chooser_ = nullptr;
}

void ScriptedStationServer::SetAnswerChooser(std::function<ServerAnswer(const std::string&)> chooser) {
  platform::MutexLock lock(scriptLock_);
  chooser_ = std::move(chooser);
}

std::optional<std::string> ScriptedStationServer::LastPublish(const std::string& nickname) const {
  std::optional<std::string> last = LastRequest(
      [&](const std::string& request) { return IsPublish(request) && NicknameOf(request) == nickname; });
  if (!last) return std::nullopt;
  return last->substr(4);
}

std::set<std::string> ScriptedStationServer::DistinctPublishes() const {
  std::set<std::string> publishes;
  for (const std::string& request : Requests()) {
    if (IsPublish(request)) publishes.insert(request.substr(4));
  }
  return publishes;
}

int ScriptedStationServer::Queries() const { return CountRequests(IsQuery); }

int ScriptedStationServer::QueriesFor(const std::string& nickname) const {
  return CountRequests(
      [&](const std::string& request) { return IsQuery(request) && NicknameOf(request) == nickname; });
}

int ScriptedStationServer::PublishCount() const { return CountRequests(IsPublish); }

std::optional<StandInReply> ScriptedStationServer::Answer(const StandInRequest& request) {
  if (!IsQuery(request.text)) return std::nullopt;
  std::string nickname = NicknameOf(request.text);
  std::function<ServerAnswer(const std::string&)> chooser;
  ServerAnswer answer;
  {
    platform::MutexLock lock(scriptLock_);
    chooser = chooser_;
    answer = answer_;
  }
  if (chooser) answer = chooser(nickname);
  if (answer == ServerAnswer::kSilent) return std::nullopt;
  platform::MutexLock lock(scriptLock_);
  return StandInReply(ReplyFor(answer, nickname), answer == ServerAnswer::kLate ? lateMs_.load() : 0);
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

}  // namespace halcyra::testing
