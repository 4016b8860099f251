// The whole chain from the cockpit: the mock simulator (Debian's lua5.1 with LuaSocket) runs
// Export.lua with another tool's hook and the line halcyra-dcs-install added; the export script
// sends to the loaded plug-in, which publishes to the real halcyra-server. The server then holds
// the record the aircraft's position and radios give.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "child_process.h"
#include "host_folders.h"
#include "platform/env.h"
#include "platform/ipv4.h"
#include "plugin_session.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using testing::ChildProcess;
using testing::PluginSession;
using testing::SessionOptions;
using testing::TempDir;
using testing::WriteFile;

// The station server's answer to a query for nickname, or "" when none came.
std::string Query(uint16_t port, const std::string& nickname) {
  std::unique_ptr<platform::UdpSocket> socket = platform::Env::Default().CreateUdpSocket();
  if (!socket || socket->Bind(kLoopbackAddress, 0) != 0) return "";
  std::string request = "GET:" + nickname + "@ ";
  socket->SendTo(request.data(), request.size(), kLoopbackAddress, port);
  char reply[1024];
  int length = socket->ReceiveFrom(reply, sizeof reply, 500, nullptr, nullptr);
  return length > 0 ? std::string(reply, static_cast<size_t>(length)) : "";
}

TEST(CockpitChainTest, AircraftInTheMockSimulatorEndsUpAsItsRecordOnTheStationServer) {
  ChildProcess server(testing::StationServerProgramPath(), {"--bind", "127.0.0.1", "--port", "0"});
  ASSERT_TRUE(server.started());
  std::optional<std::string> line = server.ReadLine(20000);
  ASSERT_TRUE(line && line->find("127.0.0.1:") != std::string::npos) << line.value_or("no start-up line");
  uint16_t port = static_cast<uint16_t>(std::atoi(line->c_str() + line->find("127.0.0.1:") + 10));

  SessionOptions options;
  options.stationServerPort = port;
  PluginSession session(options, "Talker@42.000000 41.000000 1000 124.500 000.000 000.000 X__ 000.000 0 0 ");
  ASSERT_EQ("", session.Start());

  std::filesystem::path simulator = session.folder() / "DCS.openbeta";
  WriteFile(simulator / "Scripts" / "Export.lua",
            "function LuaExportStart() print('other tool: started') end\n"
            "function LuaExportAfterNextFrame() OtherToolFrames = (OtherToolFrames or 0) + 1 end\n"
            "function LuaExportStop() print('other tool: stopped after ' .. tostring(OtherToolFrames) .. ' "
            "frames') end\n");
  ChildProcess installer(HALCYRA_INSTALLER_PATH, {});
  ASSERT_TRUE(installer.started());
  ASSERT_EQ(0, installer.WaitForExit(30000));
  WriteFile(simulator / "Scripts" / "Halcyra" / "HalcyraConfig.lua",
            "send_rate = 10\nactive_radio = 2\ncrypto_frequency = 251\ncrypto_key = 7\n");
  WriteFile(session.folder() / "scenario.lua",
            "return { writedir = [[" + simulator.string() +
                "/]], seconds = 3,\n"
                "  self = { Name = 'F-16C_50', LatLongAlt = { Lat = 42.123456789, Long = 41.987654321, Alt = "
                "3048 } },\n"
                "  devices = { [36] = { frequency = 251000288 }, [38] = { frequency = 124974988 } } }\n");

  ChildProcess mock(HALCYRA_LUA_PATH, {HALCYRA_MOCK_DCS_PATH, (session.folder() / "scenario.lua").string()});
  ASSERT_TRUE(mock.started());
  std::vector<std::string> output;
  while (std::optional<std::string> next = mock.ReadLine(30000)) output.push_back(*next);
  EXPECT_EQ(0, mock.WaitForExit(10000));
  auto position = [&output](const std::string& text) {
    return std::find(output.begin(), output.end(), text) - output.begin();
  };
  std::string all = ::testing::PrintToString(output);
  EXPECT_LT(position("LOG HALCYRA 64 sending to 127.0.0.1:10602, 10 positions a second"),
            position("other tool: started"))
      << all;
  EXPECT_LT(position("other tool: started"), position("mock: started")) << all;
  EXPECT_LT(position("mock: done"), static_cast<long>(output.size())) << all;
  EXPECT_EQ(0, std::count_if(output.begin(), output.end(),
                             [](const std::string& text) {
                               return text.find("error reached the simulator") != std::string::npos;
                             }))
      << all;
  EXPECT_NE(std::string::npos, all.find("other tool: stopped after 192 frames")) << all;

  const std::string record = "Own@42.123457 41.987654 10000 251.000 124.975 000.000 _X_ 251.000 7 0 ";
  std::string held;
  EXPECT_TRUE(testing::WaitUntil([&] { return (held = Query(port, "Own")) == record; }, 5000)) << held;
}

// Network namespaces for a test: a hub that holds the station server, and one namespace per pilot
// joined to the hub by a veth pair (hub 10.201.N.1, pilot 10.201.N.2). In its own namespace each
// pilot's plug-in and simulator have the fixed ports and 127.0.0.1 to themselves. Removed again at
// the end, with every process still in them.
class PilotNetwork {
 public:
  explicit PilotNetwork(int pilots) : prefix_("hal" + std::to_string(getpid() % 100000)) {
    ok_ = Ip({"netns", "add", Name(0)}) && Ip({"-n", Name(0), "link", "set", "lo", "up"});
    for (int pilot = 1; ok_ && pilot <= pilots; ++pilot) {
      std::string hubSide = prefix_ + "h" + std::to_string(pilot);
      std::string pilotSide = prefix_ + "p" + std::to_string(pilot);
      std::string net = "10.201." + std::to_string(pilot) + ".";
      ok_ = Ip({"netns", "add", Name(pilot)}) && Ip({"-n", Name(pilot), "link", "set", "lo", "up"}) &&
            Ip({"link", "add", hubSide, "netns", Name(0), "type", "veth", "peer", "name", pilotSide, "netns",
                Name(pilot)}) &&
            Ip({"-n", Name(0), "addr", "add", net + "1/24", "dev", hubSide}) &&
            Ip({"-n", Name(0), "link", "set", hubSide, "up"}) &&
            Ip({"-n", Name(pilot), "addr", "add", net + "2/24", "dev", pilotSide}) &&
            Ip({"-n", Name(pilot), "link", "set", pilotSide, "up"});
      made_ = pilot;
    }
  }
  ~PilotNetwork() {
    for (int n = made_; n >= 0; --n) Ip({"netns", "del", Name(n)});
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  // The namespace of the hub (0) or of a pilot (1..).
  std::string Name(int n) const { return prefix_ + (n == 0 ? "hub" : "p" + std::to_string(n)); }
  // The hub's address as pilot n reaches it.
  static std::string HubAddress(int n) { return "10.201." + std::to_string(n) + ".1"; }
  // The command line that runs program in namespace n with HALCYRA_SAVED_GAMES set.
  std::vector<std::string> In(int n, const std::string& savedGames, std::vector<std::string> command) const {
    std::vector<std::string> line = {"netns", "exec", Name(n), "env", "HALCYRA_SAVED_GAMES=" + savedGames};
    line.insert(line.end(), command.begin(), command.end());
    return line;
  }

 private:
  bool Ip(const std::vector<std::string>& arguments, bool quiet = false) {
    ChildProcess ip("ip", arguments);
    std::optional<int> status = ip.started() ? ip.WaitForExit(10000) : std::nullopt;
    if (status == 0) return true;
    if (!quiet && error_.empty()) error_ = "ip " + ::testing::PrintToString(arguments) + " failed";
    return false;
  }

  std::string prefix_;
  bool ok_ = false;
  int made_ = 0;
  std::string error_;
};

// A new squadron's first evening: two pilots, each with nothing but the installed export script in
// its default settings and no Halcyra.ini at all, on a TeamSpeak server whose host also runs the
// station server. Each hears the other.
TEST(CockpitChainTest, TwoPilotsWithDefaultSettingsAndNoSettingsFileHearEachOther) {
  if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  PilotNetwork network(2);
  ASSERT_TRUE(network.ok()) << network.error();
  ChildProcess server("ip", {"netns", "exec", network.Name(0), testing::StationServerProgramPath()});
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.ReadLine(20000)) << "the station server did not start";

  const std::string names[] = {"Alpha", "Bravo"};
  const double latitudes[] = {42.0, 42.2};
  TempDir savedGames[2];
  std::vector<std::unique_ptr<ChildProcess>> pilots;
  std::vector<std::unique_ptr<ChildProcess>> simulators;
  for (int i = 0; i < 2; ++i) {
    std::filesystem::path folder = savedGames[i].path();
    std::filesystem::create_directories(folder / "DCS" / "Scripts");
    {
      testing::ScopedSavedGames scoped(folder.string());
      ChildProcess installer(HALCYRA_INSTALLER_PATH, {});
      ASSERT_TRUE(installer.started());
      ASSERT_EQ(0, installer.WaitForExit(30000));
    }
    ASSERT_FALSE(std::filesystem::exists(folder / "Halcyra"));
    ASSERT_FALSE(std::filesystem::exists(folder / "DCS" / "Scripts" / "Halcyra" / "HalcyraConfig.lua"));
    WriteFile(folder / "scenario.lua",
              "return { writedir = [[" + (folder / "DCS").string() +
                  "/]], seconds = 90,\n"
                  "  self = { Name = 'F-16C_50', LatLongAlt = { Lat = " +
                  std::to_string(latitudes[i]) +
                  ", Long = 41.5, Alt = 3048 } },\n"
                  "  devices = { [36] = { frequency = 251000288 }, [38] = { frequency = 124974988 } } }\n");
    pilots.push_back(std::make_unique<ChildProcess>(
        "ip", network.In(
                  i + 1, folder.string(),
                  {HALCYRA_PILOT_HOST_PATH, names[i], names[1 - i], PilotNetwork::HubAddress(i + 1), "90"})));
    ASSERT_TRUE(pilots.back()->started());
    std::optional<std::string> first = pilots.back()->ReadLine(20000);
    ASSERT_EQ("pilot: started", first.value_or("nothing")) << names[i];
  }
  // The simulators start when the clients run, as on an evening: TeamSpeak first, then the mission.
  for (int i = 0; i < 2; ++i) {
    std::filesystem::path folder = savedGames[i].path();
    simulators.push_back(std::make_unique<ChildProcess>(
        "ip", network.In(i + 1, folder.string(),
                         {HALCYRA_LUA_PATH, HALCYRA_MOCK_DCS_PATH, (folder / "scenario.lua").string()})));
    ASSERT_TRUE(simulators.back()->started());
  }

  bool heard[2] = {false, false};
  std::vector<std::string> said[2];
  std::vector<std::string> simulated[2];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(heard[0] && heard[1]) && std::chrono::steady_clock::now() < deadline) {
    for (int i = 0; i < 2; ++i) {
      while (std::optional<std::string> line = pilots[i]->ReadLine(50)) {
        said[i].push_back(*line);
        heard[i] = heard[i] || line->rfind("pilot: heard " + names[1 - i], 0) == 0;
      }
      while (std::optional<std::string> line = simulators[i]->ReadLine(50)) simulated[i].push_back(*line);
    }
  }
  for (int i = 0; i < 2; ++i) {
    std::string log = testing::ReadFile(savedGames[i].path() / "Halcyra" / "Halcyra.log");
    EXPECT_TRUE(heard[i]) << names[i] << " never heard " << names[1 - i] << ":\n"
                          << ::testing::PrintToString(said[i]) << "\n"
                          << ::testing::PrintToString(simulated[i]) << "\n"
                          << log;
    EXPECT_NE(std::string::npos,
              log.find("[HCS] HOST=teamspeak: the station server is on " + PilotNetwork::HubAddress(i + 1)))
        << log;
    EXPECT_TRUE(std::filesystem::exists(savedGames[i].path() / "Halcyra" / "Halcyra.ini"));
  }
}

}  // namespace
}  // namespace halcyra
