// halcyra-sim: runs a radio scenario around the Halcyra plug-in library; see --help.
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "options.h"
#include "platform/process.h"
#include "report.h"
#include "runner.h"
#include "scenario.h"

namespace {

using namespace halcyra::sim;

void Print(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

int Fail(const std::string& message, int code) {
  Print(stderr, "halcyra-sim: " + message + "\n");
  return code;
}

std::optional<Scenario> LoadScenario(const SimOptions& options, std::string* error) {
  std::string json;
  std::string origin;
  if (!options.scenarioFile.empty()) {
    std::ifstream file(options.scenarioFile, std::ios::binary);
    if (!file) {
      *error = options.scenarioFile + ": cannot be read";
      return std::nullopt;
    }
    json.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    origin = options.scenarioFile;
  } else {
    json = BuiltInScenarioJson(options.scenario);
    origin = "scenario " + options.scenario;
  }
  std::string problem;
  std::optional<Scenario> scenario = ParseScenario(json, &problem);
  if (!scenario) *error = origin + ": " + problem;
  return scenario;
}

// Scenario time as the run goes: one line rewritten every second on a terminal, else a line every
// ten seconds.
std::function<void(int)> ProgressLine(int duration) {
  bool terminal = halcyra::platform::StandardErrorIsTerminal();
  return [terminal, duration](int second) {
    std::string text = "  scenario time " + std::to_string(second) + " / " + std::to_string(duration) + " s";
    if (terminal) {
      Print(stderr, "\r" + text + (second + 1 >= duration ? "\n" : ""));
    } else if (second % 10 == 0) {
      Print(stderr, text + "\n");
    }
  };
}

}  // namespace

int main(int argc, char** argv) {
  ParsedSimOptions parsed = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return Fail(parsed.error + " (see --help)", 2);
  const SimOptions& options = parsed.options;
  if (options.help) {
    Print(stdout, SimUsage());
    return 0;
  }
  if (options.list) {
    for (const std::string& name : BuiltInScenarioNames()) {
      std::string ignored;
      std::optional<Scenario> scenario = ParseScenario(BuiltInScenarioJson(name), &ignored);
      Print(stdout, name + ": " + (scenario ? scenario->description : "") + "\n");
    }
    return 0;
  }
  if (!options.printScenario.empty()) {
    Print(stdout, BuiltInScenarioJson(options.printScenario));
    return 0;
  }

  std::string error;
  std::optional<Scenario> scenario = LoadScenario(options, &error);
  if (!scenario) return Fail(error, 2);
  if (options.durationScale != 1.0) ScaleDuration(*scenario, options.durationScale);

  RunOptions run;
  run.scenario = *scenario;
  run.voice = options.voice;
  run.hgtFolder = options.hgtFolder;
  run.outFolder = options.outFolder;
  run.pluginPath = options.pluginPath;
  run.fast = options.fast;
  run.progress = ProgressLine(static_cast<int>(scenario->duration));
  std::optional<RunResult> result = RunScenario(
      run, [](const std::string& line) { Print(stderr, line + "\n"); }, &error);
  if (!result) return Fail(error, 1);

  if (!options.quiet) Print(stdout, FormatTable(run.scenario, *result));
  Print(stdout, "\n" + FormatSummary(run.scenario, *result));
  Print(stdout, "\nScenario " + run.scenario.name + " done in " +
                    std::to_string(static_cast<int>(result->wallSeconds + 0.5)) +
                    " s.\n  Listen: " + result->wavPath + "\n  Report: " + result->reportPath +
                    "\n  Plug-in log: " + result->pluginLogPath + "\n");
  return result->disagreements.empty() ? 0 : 3;
}
