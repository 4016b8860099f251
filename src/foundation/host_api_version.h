// Which host plug-in API ts3plugin_apiVersion answers. A client loads the plug-in only when the answer
// lies in the range it accepts, and no one number lies in the range of every client (3.0.x accepts
// only 20, 3.6.x only 26), so the answer follows the version of the running client, read from its
// executable's version resource (Windows; the Linux client has none). The user may override it with
// HALCYRA_TS3_API, and a build may fix it (HALCYRA_API_VERSION).
//
// Every answer from 20 to 26 works with the same code: the plug-in reads only the 209 pointers that
// every client's function table begins with (foundation/host_abi.h).
#pragma once

#include <optional>
#include <string>

#include "platform/process.h"

namespace halcyra {

// The environment variable that overrides the answer: a whole number from 1 to 99.
inline constexpr char kHostApiOverrideVariable[] = "HALCYRA_TS3_API";
// The answer for a client whose version is unknown: the API of the current clients (3.6.x).
inline constexpr int kUnknownClientHostApi = 26;

enum class HostApiSource {
  kClientVersion,  // the running client's version decided, or its absence
  kOverride,       // HALCYRA_TS3_API
  kBuild,          // a build with a fixed number
};

struct HostApiChoice {
  int api = kUnknownClientHostApi;  // the answer, 1..99
  HostApiSource source = HostApiSource::kClientVersion;
  std::optional<platform::ProgramVersion> client;  // the running client's version, when known
  // HALCYRA_TS3_API's value when it is set but was not taken (not a whole number from 1 to 99, or a
  // build with a fixed number); none otherwise.
  std::optional<std::string> unusedOverride;
};

// The API that every client of this version accepts: 3.0.x 20; 3.1.0 21; 3.1.1 to 3.2.x 22; 3.3.x to
// 3.5.x 23; 3.6 and later, any other major version and an unknown version 26.
[[nodiscard]] int HostApiForClient(const std::optional<platform::ProgramVersion>& client);

// A value of HALCYRA_TS3_API as a number from 1 to 99 (blanks around it allowed); none for anything
// else ("", "24.0", "+24", "0", "100", "abc").
[[nodiscard]] std::optional<int> ParseHostApiOverride(const std::string& value);

// The answer from these facts: a fixed build (fixedApi 20..26; 0 = none) comes first, then an
// override that parses, then the client's version.
[[nodiscard]] HostApiChoice ChooseHostApi(const std::optional<platform::ProgramVersion>& client,
                                          const std::optional<std::string>& overrideValue, int fixedApi);

// The text of the start line, e.g. "TeamSpeak client 3.5.6: plug-in API 23", "TeamSpeak client
// version unknown: plug-in API 26", followed by "(HALCYRA_TS3_API)" or "(fixed by the build)" when
// the answer did not come from the client's version, and by a word on an override that was not taken.
[[nodiscard]] std::string DescribeHostApi(const HostApiChoice& choice);

// The choice of this library: made on the first call, from the running program's version resource
// and the environment, and kept until the library is unloaded. Any thread; cheap after the first
// call; never throws (a failure to read either gives the answer for an unknown client).
const HostApiChoice& CurrentHostApi() noexcept;

}  // namespace halcyra
