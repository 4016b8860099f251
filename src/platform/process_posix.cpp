#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

namespace halcyra::platform {

std::string ExecutableFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string folder(path, static_cast<size_t>(length));
  size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "" : folder.substr(0, slash);
}

std::optional<ProgramVersion> RunningProgramVersion() { return std::nullopt; }

bool SetEnvironmentVariableUtf8(const char* name, const char* value) {
  return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace halcyra::platform
