#include "network/refresh_cycle.h"

#include <string>
#include <vector>

#include "foundation/format.h"

namespace halcyra {
namespace {
constexpr char kTag[] = "Thread_RW_HCS";
}

RefreshCycle::RefreshCycle(platform::Env& env, Clog& log, Configuration& config, CTS3ClientsBase& clients,
                           StationServerExchange& exchange, SimulatorStatus& simulator,
                           HostCallRelay& hostCalls)
    : env_(env),
      log_(log),
      config_(config),
      clients_(clients),
      exchange_(exchange),
      simulator_(simulator),
      hostCalls_(hostCalls) {}

RefreshCycle::~RefreshCycle() { Stop(); }

bool RefreshCycle::Start() {
  stopSource_ = platform::StopSource();
  stop_ = stopSource_.Token();
  tickCounter_ = 0;
  thread_ = env_.StartThread([this] { Run(); });
  return thread_ != nullptr;
}

void RefreshCycle::RequestStop() { stopSource_.RequestStop(); }

void RefreshCycle::Stop() {
  RequestStop();
  if (thread_) {
    thread_->Join();
    thread_.reset();
  }
}

void RefreshCycle::LogDetailed(const std::string& text, int level) {
  if (log_.Detailed()) log_.Write(kTag, text, level);
}

void RefreshCycle::Run() {
  platform::NameCurrentThread("Thread_RW_HCS");
  while (stop_.SleepFor(env_, kTickMs)) Tick();
}

void RefreshCycle::Tick() {
  // A new TeamSpeak connection asks for a reload at once: HOST=teamspeak may name a new server.
  if (tickCounter_ < kReloadEveryTicks - 1 && !config_.TakeReloadRequest()) {
    ++tickCounter_;
  } else {
    tickCounter_ = 0;
    config_.UpdatePluginInfo(stop_);
  }
  int silentTicks = simulator_.watchdogCounter.fetch_add(1);
  if (silentTicks >= kWatchdogLimit) {
    LogDetailed(Format("Do not manage 3D Sound. SET_LLALT receiving lost. (%d s)", silentTicks + 1), 5);
    clients_.Reset3DSoundForAllClients(hostCalls_, stop_);
    simulator_.alive = 0;
    return;
  }
  simulator_.alive = 1;
  QueryChannelClients();
}

void RefreshCycle::QueryChannelClients() {
  int count = clients_.Count();
  LogDetailed(Format("Number of clients : %d ", count), 5);
  std::vector<std::string> nicknames;
  for (int id = 1; id <= count; ++id) {
    LogDetailed(Format("Try to find ID #%d", id), 5);
    std::optional<ClientNode> node = clients_.FindById(id);
    if (node) nicknames.emplace_back(node->nickname);
  }
  if (nicknames.empty() || stop_.StopRequested()) return;
  exchange_.RefreshPass(nicknames, stop_);
}

}  // namespace halcyra
