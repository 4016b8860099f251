// halcyra-tower: a radio station for a controller without the simulator.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/ipv4.h"
#include "platform/stop_signal.h"
#include "tower_options.h"

namespace {

constexpr uint32_t kRoundMs = 1000;
constexpr uint32_t kStopCheckMs = 50;

void WriteLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

// Sleeps one round unless a stop is asked for; false when it was.
bool WaitOneRound(halcyra::platform::Env& env) {
  for (uint32_t waited = 0; waited < kRoundMs; waited += kStopCheckMs) {
    if (halcyra::platform::StopRequested()) return false;
    env.SleepMs(kStopCheckMs);
  }
  return !halcyra::platform::StopRequested();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halcyra;
  tower::ParsedTowerOptions parsed =
      tower::ParseTowerOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    WriteLine(stderr, "halcyra-tower: " + parsed.error + " (see --help)");
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(tower::TowerUsage().c_str(), stdout);
    return 0;
  }
  const tower::TowerOptions& options = parsed.options;
  platform::Env& env = platform::Env::Default();
  platform::InstallStopHandlers();
  env.StartNetworking();
  std::unique_ptr<platform::UdpSocket> socket = env.CreateUdpSocket();
  if (!socket) {
    WriteLine(stderr, "halcyra-tower: cannot create a UDP socket (error " +
                          std::to_string(env.LastNetworkingError()) + ")");
    return 1;
  }
  std::string target = FormatDottedIPv4(options.pluginAddress) + ":" + std::to_string(options.pluginPort);
  const std::vector<std::string> firstRound = tower::TowerCommands(options, true);
  const std::vector<std::string> laterRounds = tower::TowerCommands(options, false);
  WriteLine(stdout, "halcyra-tower: sending to " + target + " every second (Ctrl-C stops):");
  for (const std::string& command : firstRound) {
    bool firstOnly = std::find(laterRounds.begin(), laterRounds.end(), command) == laterRounds.end();
    WriteLine(stdout, "  " + command + (firstOnly ? "   (first round only)" : ""));
  }

  bool failing = false;
  bool selectionSent = false;  // the selection goes out until a round could be sent
  int rounds = 0;
  do {
    const std::vector<std::string>& commands = selectionSent ? laterRounds : firstRound;
    bool sent = true;
    int error = 0;
    for (const std::string& command : commands) {
      if (socket->SendTo(command.data(), command.size(), options.pluginAddress, options.pluginPort) < 0) {
        sent = false;
        error = socket->LastError();
      }
    }
    if (!sent && !failing)
      WriteLine(stderr, "halcyra-tower: cannot send to " + target + " (error " + std::to_string(error) +
                            "); trying again every second");
    if (sent && failing) WriteLine(stdout, "halcyra-tower: sending again");
    failing = !sent;
    selectionSent = selectionSent || sent;
    ++rounds;
  } while ((options.count == 0 || rounds < options.count) && WaitOneRound(env));
  WriteLine(stdout,
            "halcyra-tower: stopped after " + std::to_string(rounds) + (rounds == 1 ? " round" : " rounds"));
  return 0;
}
