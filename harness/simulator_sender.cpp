#include "simulator_sender.h"

#include "wire/simulator_command_text.h"

namespace halcyra::testing {

SimulatorSender::SimulatorSender() {
  platform::Env& env = platform::Env::Default();
  env.StartNetworking();
  socket_ = env.CreateUdpSocket();
}

bool SimulatorSender::Send(const std::string& datagram) {
  return socket_ && socket_->SendTo(datagram.data(), datagram.size(), kLoopbackAddress,
                                    wire::kSimulatorPort) == static_cast<int>(datagram.size());
}

}  // namespace halcyra::testing
