// The whole chain from the cockpit: the mock simulator (Debian's lua5.1 with LuaSocket) runs
// Export.lua with another tool's hook and the line halcyra-dcs-install added; the export script
// sends to the loaded plug-in, which publishes to the real halcyra-server. The server then holds
// the record the aircraft's position and radios give.
#include <gtest/gtest.h>

#include <cstdlib>

#include "child_process.h"
#include "platform/env.h"
#include "platform/ipv4.h"
#include "plugin_session.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using testing::ChildProcess;
using testing::PluginSession;
using testing::SessionOptions;
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

}  // namespace
}  // namespace halcyra
