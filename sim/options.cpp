#include "options.h"

#include <cmath>
#include <cstdlib>

#include "scenario.h"

namespace halcyra::sim {
namespace {

std::string ScenarioList() {
  std::string names;
  for (const std::string& name : BuiltInScenarioNames()) names += (names.empty() ? "" : ", ") + name;
  return names;
}

bool ReadScale(const std::string& text, double* scale) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > 100) return false;
  *scale = value;
  return true;
}

}  // namespace

ParsedSimOptions ParseSimOptions(const std::vector<std::string>& arguments) {
  ParsedSimOptions parsed;
  SimOptions& o = parsed.options;
  for (size_t i = 0; i < arguments.size() && parsed.error.empty(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool hasValue = false;
    size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      hasValue = true;
    }
    auto take = [&](std::string* target) {
      if (!hasValue) {
        if (i + 1 >= arguments.size()) {
          parsed.error = name + " needs a value";
          return;
        }
        value = arguments[++i];
      }
      *target = value;
    };
    if (name == "--help" || name == "-h")
      o.help = true;
    else if (name == "--list")
      o.list = true;
    else if (name == "--quiet")
      o.quiet = true;
    else if (name == "--fast")
      o.fast = true;
    else if (name == "--scenario")
      take(&o.scenario);
    else if (name == "--scenario-file")
      take(&o.scenarioFile);
    else if (name == "--voice")
      take(&o.voice);
    else if (name == "--hgt")
      take(&o.hgtFolder);
    else if (name == "--out")
      take(&o.outFolder);
    else if (name == "--plugin")
      take(&o.pluginPath);
    else if (name == "--print-scenario")
      take(&o.printScenario);
    else if (name == "--duration-scale") {
      std::string text;
      take(&text);
      if (parsed.error.empty() && !ReadScale(text, &o.durationScale)) {
        parsed.error = "--duration-scale must be a number above 0 and at most 100, not \"" + text + "\"";
      }
    } else {
      parsed.error = "unknown option \"" + arguments[i] + "\"";
    }
  }
  if (parsed.error.empty() && !o.help && o.scenarioFile.empty() && BuiltInScenarioJson(o.scenario).empty()) {
    parsed.error = "unknown scenario \"" + o.scenario + "\"; the built-in scenarios are " + ScenarioList();
  }
  if (parsed.error.empty() && !o.printScenario.empty() && BuiltInScenarioJson(o.printScenario).empty()) {
    parsed.error =
        "unknown scenario \"" + o.printScenario + "\"; the built-in scenarios are " + ScenarioList();
  }
  return parsed;
}

std::string SimUsage() {
  return "Usage: halcyra-sim [options]\n"
         "Runs a radio scenario around the Halcyra plug-in library and writes what the local pilot hears\n"
         "(a stereo WAV) and a report (HTML) into the output folder.\n"
         "\n"
         "  --scenario NAME        built-in scenario: " +
         ScenarioList() +
         " (default two-ship)\n"
         "  --scenario-file FILE   a scenario document (JSON); see --print-scenario for the format\n"
         "  --voice FILE.wav       the voice of the remote pilots (mono 16-bit PCM, any rate);\n"
         "                         \"espeak\" or \"synthetic\" choose those voices. Default: each pilot\n"
         "                         speaks his call with espeak-ng when installed, else a synthetic voice\n"
         "  --hgt DIR              real SRTM3 .HGT tiles instead of the scenario's synthetic terrain\n"
         "  --out DIR              output folder (default halcyra-sim-out)\n"
         "  --duration-scale X     multiply every time of the scenario by X (0.2 = five times shorter)\n"
         "  --fast                 run as fast as the plug-in takes the voice instead of in real time;\n"
         "                         its refresh cycle (every 2 s) then hardly runs, so each call is judged\n"
         "                         on the talker's record of his talk event\n"
         "  --plugin FILE          the plug-in library (default: the one beside this program)\n"
         "  --print-scenario NAME  print a built-in scenario's document and stop\n"
         "  --list                 list the built-in scenarios and stop\n"
         "  --quiet                do not print the second-by-second table\n"
         "  --help                 this text\n"
         "\n"
         "The run takes the scenario's time in real time, so the plug-in refreshes its stations as in\n"
         "flight; the table and the report show what the plug-in decided beside what the radio model\n"
         "expects, and the exit code is 3 when they disagree.\n"
         "\n"
         "halcyra-server must be beside this program. The plug-in listens on UDP 10601-10603, so only\n"
         "one run (or one plug-in) can use them at a time.\n";
}

}  // namespace halcyra::sim
