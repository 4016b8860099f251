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
  // Defences against anyone who can reach the server.
  uint64_t takeoverSeconds = 30;      // silence after which another address may take a nickname; 0 = any time
  uint64_t maxRecordsPerSource = 64;  // nicknames one address may hold; 0 = no limit
  uint64_t rate = 500;                // requests per second per address; 0 = no limit
  uint64_t burst = 1000;              // requests an address may send at once, >= 1
  std::vector<std::string> allow;     // CIDR networks served, checked texts; empty = everyone
  // Status page and metrics over HTTP, off unless httpEnabled.
  bool httpEnabled = false;
  uint32_t httpAddress = 0;  // IPv4, host order
  uint16_t httpPort = 0;     // 0 = any free port (the start-up line names the one bound)
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
