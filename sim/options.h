// The command line of halcyra-sim.
#pragma once

#include <string>
#include <vector>

namespace halcyra::sim {

struct SimOptions {
  std::string scenario = "two-ship";  // a built-in scenario
  std::string scenarioFile;           // a scenario document; wins over scenario
  std::string voice;                  // WAV path, "espeak", "synthetic", or empty
  std::string hgtFolder;
  std::string outFolder = "halcyra-sim-out";
  std::string pluginPath;
  double durationScale = 1.0;  // > 0
  std::string printScenario;   // print this built-in scenario's document and stop
  bool list = false;
  bool quiet = false;  // no table on standard output
  bool fast = false;   // as fast as the plug-in takes the voice, not in real time
  bool help = false;
};

struct ParsedSimOptions {
  SimOptions options;
  std::string error;  // empty when the command line is valid
};

// Reads the arguments after the program name; "--name value" and "--name=value".
ParsedSimOptions ParseSimOptions(const std::vector<std::string>& arguments);

std::string SimUsage();

}  // namespace halcyra::sim
