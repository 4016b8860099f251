// The running program's own place and environment, for the console tools (the scenario runner, the
// installer).
#pragma once

#include <string>

namespace halcyra::platform {

// The folder of the running program (UTF-8, no trailing separator); empty when it cannot be told.
std::string ExecutableFolder();

// Sets (or, with value null, removes) one environment variable of this process. False on failure.
bool SetEnvironmentVariableUtf8(const char* name, const char* value);

// True when the standard error stream goes to a terminal (a line there can be rewritten in place).
bool StandardErrorIsTerminal();

}  // namespace halcyra::platform
