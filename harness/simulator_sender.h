// Sends datagrams to the plug-in's simulator link (UDP 127.0.0.1:10602), as the simulator does.
#pragma once

#include <memory>
#include <string>

#include "platform/env.h"

namespace halcyra::testing {

class SimulatorSender {
 public:
  SimulatorSender();  // starts networking; ok() tells whether a socket could be had
  bool ok() const { return socket_ != nullptr; }
  // False when the whole datagram could not be sent.
  bool Send(const std::string& datagram);

 private:
  std::unique_ptr<platform::UdpSocket> socket_;
};

}  // namespace halcyra::testing
