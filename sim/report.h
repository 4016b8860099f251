// What a run leaves for the user: the table (one line per remote pilot and second of scenario
// time) and the report, one self-contained HTML file with inline SVG plots.
#pragma once

#include <string>

#include "runner.h"
#include "scenario.h"

namespace halcyra::sim {

// The table as text: time, remote, distance (NM), range (NM), hidden by terrain, gain, receiving
// radio, ear, encrypted, heard; a header line first.
std::string FormatTable(const Scenario& scenario, const RunResult& result);

// Writes the HTML report. False with error when the file cannot be written.
bool WriteReport(const Scenario& scenario, const RunResult& result, const std::string& path,
                 std::string* error);

}  // namespace halcyra::sim
