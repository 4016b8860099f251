// What a run leaves for the user: the table (one line per remote pilot and second of scenario
// time) and the report, one self-contained HTML file with inline SVG plots.
#pragma once

#include <string>

#include "runner.h"
#include "scenario.h"

namespace halcyra::sim {

// The table as text, one line per remote pilot and second: what the plug-in judged about his first
// voice block in that second (distance, range, sight line, gain), where the host played him from,
// whether he was heard and the age of his record it judged on; beside it what the model expects for
// the positions of that second, and a mark where a judgement of his disagrees with the model.
std::string FormatTable(const Scenario& scenario, const RunResult& result);

// Every voice block as CSV: the plug-in's figures and decision, the host's placement, whether it
// reached the listener, and the model's figures.
std::string FormatBlocks(const Scenario& scenario, const RunResult& result);

// How the run went, for the console: the mode and the disagreements (at most a screenful).
std::string FormatSummary(const Scenario& scenario, const RunResult& result);

// Writes the HTML report. False with error when the file cannot be written.
bool WriteReport(const Scenario& scenario, const RunResult& result, const std::string& path,
                 std::string* error);

}  // namespace halcyra::sim
