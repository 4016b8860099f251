// The running program's own place, version and environment, for the console tools (the scenario
// runner, the installer) and for the plug-in, which asks for the version of the client that loaded it.
#pragma once

#include <optional>
#include <string>

namespace halcyra::platform {

// The folder of the running program (UTF-8, no trailing separator); empty when it cannot be told.
std::string ExecutableFolder();

// A program's file version, major.minor.patch, each 0..65535 (the build number is left out).
struct ProgramVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
};

// The file version of the running program's executable, from its version resource (Windows: the
// high and low words of VS_FIXEDFILEINFO's dwFileVersionMS, and the high word of dwFileVersionLS).
// None when it has no readable version resource, and always on POSIX, whose programs carry none.
std::optional<ProgramVersion> RunningProgramVersion();

// Sets (or, with value null, removes) one environment variable of this process. False on failure.
bool SetEnvironmentVariableUtf8(const char* name, const char* value);

// True when the standard error stream goes to a terminal (a line there can be rewritten in place).
bool StandardErrorIsTerminal();

}  // namespace halcyra::platform
