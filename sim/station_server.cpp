#include "station_server.h"

#include "temp_dir.h"
#include "wire/station_messages.h"

namespace halcyra::sim {
namespace {

constexpr int kStartAttempts = 3;
constexpr int kAnswerWaitMs = 5000;
constexpr int kProbeWaitMs = 100;

// A port that is free now: bound by the system for a moment and let go.
uint16_t FreePort(platform::Env& env) {
  std::unique_ptr<platform::UdpSocket> socket = env.CreateUdpSocket();
  if (!socket || socket->Bind(kLoopbackAddress, 0) != 0) return 0;
  uint16_t port = socket->LocalPort();
  socket->Close();
  return port;
}

}  // namespace

std::unique_ptr<StationServerProcess> StationServerProcess::Start(platform::Env& env,
                                                                  const std::string& program,
                                                                  const std::string& logFile,
                                                                  std::string* error) {
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    uint16_t port = FreePort(env);
    if (port == 0) {
      *error = "no free UDP port on 127.0.0.1 for the station server";
      return nullptr;
    }
    auto server = std::unique_ptr<StationServerProcess>(new StationServerProcess);
    server->port_ = port;
    server->process_.reset(new testing::ChildProcess(
        program, {"--bind", "127.0.0.1", "--port", std::to_string(port), "--summary-seconds", "0"}, logFile));
    if (!server->process_->started()) {
      *error = server->process_->error();
      return nullptr;
    }
    std::unique_ptr<StationServerClient> client = StationServerClient::Open(env, port);
    if (!client) {
      *error = "cannot open a UDP socket to talk to the station server";
      return nullptr;
    }
    for (int waited = 0; waited < kAnswerWaitMs; waited += kProbeWaitMs) {
      if (client->Query("halcyra-sim-probe", kProbeWaitMs)) return server;
      if (server->process_->WaitForExit(0)) break;  // it ended: most likely the port was taken meanwhile
    }
    server->Stop();
    *error = "the station server " + program + " did not answer on 127.0.0.1:" + std::to_string(port) + ": " +
             testing::ReadFile(logFile);
  }
  return nullptr;
}

StationServerProcess::~StationServerProcess() { Stop(); }

void StationServerProcess::Stop() {
  if (process_) process_->Stop(3000);
  process_.reset();
}

std::unique_ptr<StationServerClient> StationServerClient::Open(platform::Env& env, uint16_t port) {
  auto client = std::unique_ptr<StationServerClient>(new StationServerClient);
  client->socket_ = env.CreateUdpSocket();
  if (!client->socket_ || client->socket_->Bind(kLoopbackAddress, 0) != 0) return nullptr;
  client->port_ = port;
  return client;
}

bool StationServerClient::Publish(const StationRecord& station) {
  std::string message = wire::FormatPublish(station);
  return socket_->SendTo(message.data(), message.size(), kLoopbackAddress, port_) ==
         static_cast<int>(message.size());
}

std::optional<std::string> StationServerClient::Query(const std::string& nickname, int timeoutMs) {
  std::string query = wire::FormatQuery(nickname);
  if (socket_->SendTo(query.data(), query.size(), kLoopbackAddress, port_) !=
      static_cast<int>(query.size())) {
    return std::nullopt;
  }
  char reply[wire::kMaxDatagramBytes + 1];
  uint32_t from = 0;
  uint16_t fromPort = 0;
  for (;;) {
    int received = socket_->ReceiveFrom(reply, sizeof reply - 1, timeoutMs, &from, &fromPort);
    if (received < 0) return std::nullopt;
    if (fromPort != port_) continue;  // a late answer cannot come from elsewhere; ignore strays
    std::string text(reply, static_cast<size_t>(received));
    // A late reply to an earlier query for another nickname is skipped.
    if (text == wire::kNotFoundReply || text.compare(0, nickname.size() + 1, nickname + "@") == 0)
      return text;
  }
}

}  // namespace halcyra::sim
