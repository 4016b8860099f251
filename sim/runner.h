// Runs a scenario end to end around the real plug-in library: starts halcyra-server, prepares a
// Saved Games folder and the elevation tiles, loads the plug-in as a host would, flies the local
// aircraft over the simulator link, publishes the remote pilots' stations, fires their talk events,
// feeds their voices through the plug-in's voice editing and renders what the local pilot hears.
//
// Scenario time runs in real time by default, one voice block every 20 ms, so the plug-in's refresh
// cycle (every 2 s) and settings reload (every 14 s) run as in flight. The fast mode runs the blocks
// as fast as the plug-in takes them: the plug-in then judges each call on the talker's record of his
// talk event, and the runner keeps the simulator link's watchdog fed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plugin_decisions.h"
#include "radio_view.h"
#include "render.h"
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
  bool fast = false;          // as fast as the plug-in takes the blocks, not in real time
  // Called at every second of scenario time with that second (may be empty).
  std::function<void(int second)> progress;
};

enum class Heard { kNotTalking, kHeard, kSilent };

// One line of the table: a remote pilot at one second of scenario time.
struct TableRow {
  int second = 0;
  int remote = 0;   // index in the scenario
  Figures figures;  // expected by the model, for the positions of this second
  int ear = 0;      // ear setting of the receiving radio (when audible)
  Heard heard = Heard::kNotTalking;
  int firstBlock = -1;        // index in RunResult::blocks of his first voice block in this second
  bool disagreement = false;  // a block or talk event of his in this second disagrees with the model
  std::string verdict;        // the plug-in's radio check of him at the start of the second (info panel)
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
  int64_t block = 0;                // index from the scenario's start (block k starts at k x 20 ms)
  TS3_VECTOR position{};            // where the host played it from
  int inputPeak = 0;                // largest magnitude of the voice handed to the plug-in
  int editedPeak = 0;               // largest magnitude of the block after the plug-in edited it
  int renderedPeak = 0;             // largest magnitude it reached in the stereo output
  std::optional<Judgement> plugin;  // the plug-in's judgement, as its log states it
  std::optional<int> recordAge;     // s: age of the talker's record the judgement matches
  // The block reached the listener: not silenced, and played from a place he hears.
  bool Reached() const { return editedPeak > 0 && !IsSilentPosition(position); }
};

// A judgement of the plug-in that the model does not confirm.
struct Disagreement {
  double time = 0;  // s of scenario time
  int remote = 0;
  std::string what;
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
  std::string blocksPath;  // every voice block: the plug-in's figures beside the model's (CSV)
  double wallSeconds = 0;
  bool fast = false;
  std::vector<Disagreement> disagreements;
  std::string decisionsNote;  // why the plug-in's decisions could not be read; empty when they were
};

// Status lines for the user (progress, what is happening); may be null.
using StatusSink = std::function<void(const std::string&)>;

// Runs the scenario. Nothing with error set when it cannot be run; the error says why.
std::optional<RunResult> RunScenario(const RunOptions& options, const StatusSink& status, std::string* error);

}  // namespace halcyra::sim
