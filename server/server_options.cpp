#include "server_options.h"

#include <charconv>
#include <functional>

#include "platform/http_server.h"
#include "platform/ipv4.h"
#include "source_limits.h"

namespace halcyra::server {
namespace {

// Strict decimal in [minimum, maximum]: digits only, no sign, no blanks.
bool ParseNumber(const std::string& text, uint64_t minimum, uint64_t maximum, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t parsed = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}

std::string RangeError(const std::string& name, const std::string& text, uint64_t minimum, uint64_t maximum) {
  return "--" + name + " needs a whole number from " + std::to_string(minimum) + " to " +
         std::to_string(maximum) + ", not \"" + text + "\"";
}

bool TakesValue(const std::string& name) {
  for (const char* option :
       {"bind", "port", "max-records", "expiry-seconds", "summary-seconds", "takeover-seconds",
        "max-records-per-source", "rate", "burst", "allow", "http"}) {
    if (name == option) return true;
  }
  return false;
}

// "a.b.c.d:port", port 0..65535.
bool ParseHttpEndpoint(const std::string& text, uint32_t* address, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  uint64_t number = 0;
  if (!ParseNumber(text.substr(colon + 1), 0, 65535, &number)) return false;
  if (!ParseDottedIPv4(text.substr(0, colon), address)) return false;
  *port = static_cast<uint16_t>(number);
  return true;
}

}  // namespace

ParsedOptions ParseServerOptions(const std::vector<std::string>& arguments) {
  ParsedOptions result;
  ServerOptions& options = result.options;

  struct Numeric {
    const char* name;
    uint64_t minimum;
    uint64_t maximum;
    std::function<void(uint64_t)> store;
  };
  const Numeric numerics[] = {
      {"port", 0, 65535, [&](uint64_t v) { options.port = static_cast<uint16_t>(v); }},
      {"max-records", 1, 10000000, [&](uint64_t v) { options.maxRecords = v; }},
      {"expiry-seconds", 1, 31536000, [&](uint64_t v) { options.expirySeconds = v; }},
      {"summary-seconds", 0, 86400, [&](uint64_t v) { options.summarySeconds = v; }},
      {"takeover-seconds", 0, 86400, [&](uint64_t v) { options.takeoverSeconds = v; }},
      {"max-records-per-source", 0, 10000000, [&](uint64_t v) { options.maxRecordsPerSource = v; }},
      {"rate", 0, 10000000, [&](uint64_t v) { options.rate = v; }},
      {"burst", 1, 10000000, [&](uint64_t v) { options.burst = v; }},
  };

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      continue;
    }
    if (argument.rfind("--", 0) != 0) {
      result.error = "unexpected argument \"" + argument + "\"";
      return result;
    }
    std::string name = argument.substr(2);
    std::string value;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (TakesValue(name)) {
      if (i + 1 >= arguments.size()) {
        result.error = "--" + name + " needs a value";
        return result;
      }
      value = arguments[++i];
    }

    if (name == "bind") {
      if (!ParseDottedIPv4(value, &options.bindAddress)) {
        result.error = "--bind needs a dotted IPv4 address such as 127.0.0.1, not \"" + value + "\"";
        return result;
      }
      continue;
    }
    if (name == "allow") {
      if (!NetworkList().Add(value)) {
        result.error =
            "--allow needs an IPv4 network such as 192.168.1.0/24 or 203.0.113.7, not \"" + value + "\"";
        return result;
      }
      options.allow.push_back(value);
      continue;
    }
    if (name == "http") {
      if (!ParseHttpEndpoint(value, &options.httpAddress, &options.httpPort)) {
        result.error = "--http needs ADDRESS:PORT such as 127.0.0.1:8080, not \"" + value + "\"";
        return result;
      }
      options.httpEnabled = true;
      continue;
    }
    bool known = false;
    for (const Numeric& numeric : numerics) {
      if (name != numeric.name) continue;
      known = true;
      uint64_t number = 0;
      if (!ParseNumber(value, numeric.minimum, numeric.maximum, &number)) {
        result.error = RangeError(name, value, numeric.minimum, numeric.maximum);
        return result;
      }
      numeric.store(number);
    }
    if (!known) {
      result.error = "unknown option \"" + argument + "\"";
      return result;
    }
  }
  return result;
}

std::string ServerUsage() {
  return "Usage: halcyra-server [options]\n"
         "Keeps one station record per pilot nickname for Halcyra plug-ins (UDP, IPv4).\n"
         "\n"
         "  --port N             UDP port to listen on (default 10600; 0 = any free port)\n"
         "  --bind ADDR          local IPv4 address to listen on (default 0.0.0.0 = all)\n"
         "  --max-records N      most nicknames kept at once (default 10000)\n"
         "  --expiry-seconds N   forget a record not refreshed for N seconds (default 600)\n"
         "  --summary-seconds N  print a summary line every N seconds (default 60; 0 = never)\n"
         "\n"
         "Defences (every refusal is counted and logged, at most one line a second):\n"
         "  --takeover-seconds N        a nickname belongs to the address that publishes it; another\n"
         "                              address may take it after N s of silence (default 30; 0 = any time)\n"
         "  --max-records-per-source N  nicknames one address may hold (default 64; 0 = no limit)\n"
         "  --rate N                    requests per second per address (default 500; 0 = no limit)\n"
         "  --burst N                   requests an address may send at once (default 1000)\n"
         "  --allow CIDR                serve only this network, e.g. 192.168.1.0/24; repeatable\n"
         "                              (default: everyone)\n"
         "  A SET longer than a plug-in's longest record (232 bytes) is always refused.\n"
         "\n"
         "  --http ADDR:PORT     status page, /stations.json and /metrics over HTTP, e.g.\n"
         "                       127.0.0.1:8080 (default: off)\n"
         "  --help               show this text\n"
         "\n"
         "Stops cleanly on Ctrl-C or SIGTERM.\n";
}

}  // namespace halcyra::server
