// The command line of halcyra-server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace halcyra::server {

struct ServerOptions {
  uint32_t bindAddress = 0;      // IPv4, host order; 0 = all local addresses
  uint16_t port = 10600;         // 0 = any free port (the start-up line names the one bound)
  uint64_t maxRecords = 10000;   // 1..10000000
  uint64_t expirySeconds = 600;  // 1..31536000
  uint64_t summarySeconds = 60;  // 0 = no summary, else up to 86400
  bool help = false;
};

struct ParsedOptions {
  ServerOptions options;
  std::string error;  // empty when the command line is valid
};

// Reads the arguments after the program name. Accepts "--name value" and "--name=value".
ParsedOptions ParseServerOptions(const std::vector<std::string>& arguments);

// The text printed by --help.
std::string ServerUsage();

}  // namespace halcyra::server
