// halcyra-server: the station server for a squadron's Halcyra plug-ins.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/stop_signal.h"
#include "server_loop.h"
#include "server_options.h"

namespace {

void WriteLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halcyra;
  std::vector<std::string> arguments(argv + 1, argv + argc);
  server::ParsedOptions parsed = server::ParseServerOptions(arguments);
  if (!parsed.error.empty()) {
    WriteLine(stderr, "halcyra-server: " + parsed.error + " (see --help)");
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(server::ServerUsage().c_str(), stdout);
    return 0;
  }
  if (!platform::InstallStopHandlers()) {
    WriteLine(stderr, "halcyra-server: cannot install the Ctrl-C and SIGTERM handlers");
    return 1;
  }
  return server::RunServer(
      platform::Env::Default(), parsed.options, [] { return platform::StopRequested(); },
      [](const std::string& line) { WriteLine(stdout, line); },
      [](const std::string& line) { WriteLine(stderr, line); });
}
