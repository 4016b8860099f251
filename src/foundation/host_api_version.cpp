#include "foundation/host_api_version.h"

#include "foundation/host_abi.h"
#include "platform/env.h"

namespace halcyra {

namespace {

// An override's value as the start line quotes it: at most this many characters.
constexpr size_t kQuotedOverrideLength = 24;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string VersionText(const platform::ProgramVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.patch);
}

}  // namespace

int HostApiForClient(const std::optional<platform::ProgramVersion>& client) {
  if (!client || client->major != 3) return kUnknownClientHostApi;
  if (client->minor == 0) return 20;
  if (client->minor == 1 && client->patch == 0) return 21;
  if (client->minor <= 2) return 22;
  if (client->minor <= 5) return 23;
  return 26;
}

std::optional<int> ParseHostApiOverride(const std::string& value) {
  size_t begin = 0, end = value.size();
  while (begin < end && IsBlank(value[begin])) ++begin;
  while (end > begin && IsBlank(value[end - 1])) --end;
  if (begin == end) return std::nullopt;
  int number = 0;
  for (size_t i = begin; i < end; ++i) {
    if (value[i] < '0' || value[i] > '9') return std::nullopt;
    number = number * 10 + (value[i] - '0');
    if (number > 99) return std::nullopt;
  }
  if (number < 1) return std::nullopt;
  return number;
}

HostApiChoice ChooseHostApi(const std::optional<platform::ProgramVersion>& client,
                            const std::optional<std::string>& overrideValue, int fixedApi) {
  HostApiChoice choice;
  choice.client = client;
  std::optional<int> overridden = overrideValue ? ParseHostApiOverride(*overrideValue) : std::nullopt;
  if (fixedApi != 0) {
    choice.api = fixedApi;
    choice.source = HostApiSource::kBuild;
    choice.unusedOverride = overrideValue;
  } else if (overridden) {
    choice.api = *overridden;
    choice.source = HostApiSource::kOverride;
  } else {
    choice.api = HostApiForClient(client);
    choice.unusedOverride = overrideValue;
  }
  return choice;
}

std::string DescribeHostApi(const HostApiChoice& choice) {
  std::string text = "TeamSpeak client " + (choice.client ? VersionText(*choice.client) : "version unknown") +
                     ": plug-in API " + std::to_string(choice.api);
  const std::string variable = kHostApiOverrideVariable;
  if (choice.source == HostApiSource::kOverride) return text + " (" + variable + ")";
  if (choice.source == HostApiSource::kBuild)
    return text + " (fixed by the build" + (choice.unusedOverride ? "; " + variable + " ignored)" : ")");
  if (choice.unusedOverride) {
    std::string quoted = choice.unusedOverride->substr(0, kQuotedOverrideLength);
    for (char& c : quoted)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';  // one line, whatever was set
    if (quoted.size() < choice.unusedOverride->size()) quoted += "...";
    text += " (" + variable + "=\"" + quoted + "\" ignored: not a whole number from 1 to 99)";
  }
  return text;
}

const HostApiChoice& CurrentHostApi() noexcept {
  static const HostApiChoice choice = []() noexcept {
    try {
      std::string value;
      std::optional<std::string> overrideValue;
      if (platform::GetEnvironmentVariableUtf8(kHostApiOverrideVariable, &value) && !value.empty())
        overrideValue = value;
      return ChooseHostApi(platform::RunningProgramVersion(), overrideValue, kFixedHostApiVersion);
    } catch (...) {
      return ChooseHostApi(std::nullopt, std::nullopt, kFixedHostApiVersion);
    }
  }();
  return choice;
}

}  // namespace halcyra
