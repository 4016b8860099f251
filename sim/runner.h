// Runs a scenario end to end around the real plug-in library: starts halcyra-server, prepares a
// Saved Games folder and the elevation tiles, loads the plug-in as a host would, flies the local
// aircraft over the simulator link, publishes the remote pilots' stations, fires their talk events,
// feeds their voices through the plug-in's voice editing and renders what the local pilot hears.
//
// Scenario time runs faster than real time: the plug-in fetches a talker's record synchronously at
// each talk event, and the runner keeps the simulator link's watchdog fed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "radio_view.h"
#include "scenario.h"
#include "sim_host.h"

namespace halcyra::sim {

inline constexpr int kBlockSamples = 960;  // 20 ms at 48 kHz, as the host hands voice blocks over
inline constexpr int kBlocksPerSecond = 50;

struct RunOptions {
  Scenario scenario;
  std::string voice;          // WAV path, "espeak", "synthetic", or empty (espeak-ng if usable)
  std::string hgtFolder;      // a folder of real .HGT tiles; empty: tiles made for the scenario
  std::string outFolder;      // where the WAV, the report and the logs go (created)
  std::string programFolder;  // where halcyra-server and the plug-in library are; empty: beside this program
  std::string pluginPath;     // empty: the plug-in in programFolder
};

enum class Heard { kNotTalking, kHeard, kSilent };

// One line of the table: a remote pilot at one second of scenario time.
struct TableRow {
  int second = 0;
  int remote = 0;  // index in the scenario
  Figures figures;
  int ear = 0;  // ear setting of the receiving radio (when audible)
  Heard heard = Heard::kNotTalking;
};

// One radio call: talk event at start, talk stop after the last block.
struct Call {
  int remote = 0;
  int64_t firstBlock = 0;
  int64_t blockCount = 0;
  double Start() const { return static_cast<double>(firstBlock) / kBlocksPerSecond; }
  double End() const { return static_cast<double>(firstBlock + blockCount) / kBlocksPerSecond; }
};

// One voice block fed through the plug-in and rendered.
struct BlockRecord {
  int remote = 0;
  int64_t block = 0;      // index from the scenario's start (block k starts at k x 20 ms)
  TS3_VECTOR position{};  // where the host played it from
  int editedPeak = 0;     // largest magnitude of the block after the plug-in edited it
  int renderedPeak = 0;   // largest magnitude it reached in the stereo output
};

// A moment at which the report draws the sight line.
struct Profile {
  double time = 0;
  int remote = 0;
  StationRecord local;
  StationRecord remoteRecord;
  std::vector<double> terrainFeet;  // along the straight line, evenly from local to remote
  Figures figures;
};

// The terrain under the tracks, for the report's map: metres on a grid from south-west to north-east.
struct TerrainMap {
  double south = 0, north = 0, west = 0, east = 0;  // degrees
  std::vector<std::vector<double>> metres;          // [row from south][column from west]
};

struct RunResult {
  std::vector<anyID> clientIDs;  // per remote
  std::vector<TableRow> rows;
  std::vector<Call> calls;
  std::vector<BlockRecord> blocks;
  std::vector<Placement> placements;
  int hostMemoryLeft = 0;  // host allocations the plug-in had not given back when it stopped
  std::vector<Profile> profiles;
  std::vector<std::vector<Position>> tracks;  // per second: [0] local, then each remote
  TerrainMap map;
  std::vector<int16_t> stereo;  // interleaved left, right at 48 kHz
  std::string voiceSource;
  std::string voiceNote;
  std::string wavPath;
  std::string reportPath;
  std::string pluginLogPath;
  std::string tablePath;
  double wallSeconds = 0;
};

// Status lines for the user (progress, what is happening); may be null.
using StatusSink = std::function<void(const std::string&)>;

// Runs the scenario. Nothing with error set when it cannot be run; the error says why.
std::optional<RunResult> RunScenario(const RunOptions& options, const StatusSink& status, std::string* error);

}  // namespace halcyra::sim
