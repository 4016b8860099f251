// The pieces of the station network wired together as the plug-in wires them, with a fake host,
// a log file in a temporary folder and a fake station server on a loopback port. The exchange is
// started (it binds port 10601) unless that port is taken.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_host.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "log_reader.h"
#include "network/server_exchange.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"
#include "station_stand_in.h"
#include "temp_dir.h"

namespace halcyra::testing {

// A reply that carries the record of whoever was asked for ("GET:<name>@ " -> "<name>@...").
inline std::optional<std::string> EchoRecord(const StandInRequest& request) {
  std::string nickname = request.text.substr(4, request.text.find('@') - 4);
  return nickname + "@1.5 2.5 100 124.000 000.000 000.000 X__ 000.000 0 0 ";
}

class NetworkRig {
 public:
  explicit NetworkRig(platform::Env& env, int logLevel = 5) : env_(env) {
    env_.StartNetworking();
    log = std::make_unique<Clog>(env_);
    log->Init(LogFile().wstring(), logLevel);
    tiles = std::make_unique<CHGTFiles>(env_, *log);
    model = std::make_unique<CHalcyra>(*log, *tiles);
    clients =
        std::make_unique<CTS3ClientsBase>(*log, [this](const char* nickname) { SetLocalNickname(nickname); });
    table = host.Table();
    hostCalls = std::make_unique<HostCallRelay>(env_, table);
    PointAt(server.port());
    exchange = std::make_unique<StationServerExchange>(env_, *log, settings, *model, *clients, *hostCalls);
    started = exchange->Start();
  }
  ~NetworkRig() { exchange.reset(); }

  // The station server the exchange talks to: 127.0.0.1 and this port.
  void PointAt(uint16_t port) { settings.SetServer({"127.0.0.1", port}); }
  void SetLocalNickname(const char* nickname) {
    model->UpdateLocalStation([nickname](StationRecord& local) { CopyText(local.nickname, nickname); });
  }
  std::filesystem::path LogFile() const { return dir.path() / "Halcyra.log"; }
  std::vector<std::string> LogLines() { return LogLinesNow(*log, LogFile()); }

  TempDir dir;
  FakeHost host;
  TS3Functions table{};
  Settings settings;
  std::unique_ptr<Clog> log;
  std::unique_ptr<CHGTFiles> tiles;
  std::unique_ptr<CHalcyra> model;
  std::unique_ptr<CTS3ClientsBase> clients;
  std::unique_ptr<HostCallRelay> hostCalls;  // outlives the exchange
  StationStandIn server;
  std::unique_ptr<StationServerExchange> exchange;
  bool started = false;  // the exchange's query thread runs

 private:
  platform::Env& env_;
};

}  // namespace halcyra::testing
