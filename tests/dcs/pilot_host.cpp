// A pilot's TeamSpeak client around the built plug-in, as a program of its own, so that a test can
// run several pilots on one machine (each in a network namespace of its own, where the plug-in has
// its fixed ports to itself):
//
//   pilot_host OWN_NICKNAME OTHER_NICKNAME TEAMSPEAK_HOST SECONDS
//
// It connects to "TEAMSPEAK_HOST" (which getServerConnectInfo then tells the plug-in), sits in one
// channel with the other pilot, and twice a second lets the other pilot talk: a talk event and a
// voice block. It prints one line when it hears him ("pilot: heard OTHER on x,y"), a line every
// five seconds while it does not, and "pilot: done" after SECONDS. The Saved Games folder is the
// plug-in's own rule (HALCYRA_SAVED_GAMES).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "loaded_plugin.h"

namespace {

using halcyra::testing::FakeHost;
using halcyra::testing::LoadedPlugin;

constexpr uint64 kConnection = 1;
constexpr anyID kOwnClient = 1;
constexpr anyID kOtherClient = 2;
constexpr uint64 kChannel = 7;

void Say(const std::string& line) {
  std::printf("pilot: %s\n", line.c_str());
  std::fflush(stdout);
}

// One 20 ms block of a 500 Hz tone.
std::vector<short> VoiceBlock() {
  std::vector<short> block(960);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<short>(8000 * std::sin(i * 0.0654));
  return block;
}

// What the last talk event and voice block did with the other pilot's voice.
std::string Judge(FakeHost& host, const LoadedPlugin& plugin, bool* heard) {
  host.ClearPlacements();
  plugin.onTalkStatusChangeEvent(kConnection, 1, 0, kOtherClient);
  const std::vector<short> original = VoiceBlock();
  std::vector<short> block = original;
  plugin.onEditPlaybackVoiceDataEvent(kConnection, kOtherClient, block.data(), static_cast<int>(block.size()),
                                      1);
  bool silent = true;
  for (short sample : block) silent = silent && sample == 0;
  std::vector<FakeHost::Placement> placements = host.Placements();
  std::string where = "not placed";
  bool placedNear = false;
  if (!placements.empty()) {
    const TS3_VECTOR& p = placements.back().position;
    where = std::to_string(p.x) + "," + std::to_string(p.y);
    placedNear = !(p.x == 0.0f && p.y == 100.0f);
  }
  *heard = placedNear && !silent && block != original;
  return where + (silent ? ", voice silenced" : block == original ? ", voice untouched" : ", voice treated");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: pilot_host OWN_NICKNAME OTHER_NICKNAME TEAMSPEAK_HOST SECONDS\n");
    return 2;
  }
  const std::string other = argv[2];
  const int seconds = std::atoi(argv[4]);

  FakeHost host;
  host.SetOwnClient(kOwnClient, argv[1]);
  host.SetNickname(kOtherClient, other);
  host.SetChannel(kChannel, {kOwnClient, kOtherClient});
  host.SetServerHost(argv[3]);
  LoadedPlugin plugin;
  if (!plugin.ok()) {
    Say("cannot load the plug-in: " + plugin.error());
    return 1;
  }
  plugin.setFunctionPointers(host.Table());
  if (plugin.init() != 0) {
    Say("ts3plugin_init failed");
    return 1;
  }
  plugin.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
  Say("started");

  bool told = false;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
    bool heard = false;
    std::string result = Judge(host, plugin, &heard);
    if (heard && !told) Say("heard " + other + " on " + result);
    if (!heard && round % 10 == 0) Say("not hearing " + other + ": " + result);
    told = told || heard;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  plugin.shutdown();
  Say("done");
  return 0;
}
