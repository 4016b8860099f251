// The runner as an oracle for the plug-in: every judgement the plug-in states in its log is checked
// against the runner's own radio model, and every block and placement against that judgement.
//
// The plug-in judges a talker with the record it last fetched from the station server: at his talk
// event and, every 2 s of real time, in its refresh cycle. The runner publishes each remote pilot's
// record once per second of scenario time, so a judgement agrees with the model when it matches the
// model for the local aircraft of that second and one of the talker's recent records: in real time
// the records of the last kRealTimeRecordAgeSeconds, in the fast mode any earlier one (the refresh
// cycle hardly runs there). Figures agree within kFigureTolerance (the log prints three decimals).
#pragma once

#include <string>

#include "plugin_decisions.h"
#include "radio_view.h"
#include "runner.h"
#include "scenario.h"

namespace halcyra::sim {

inline constexpr double kFigureTolerance = 0.002;    // NM, and gain units
inline constexpr int kRealTimeRecordAgeSeconds = 5;  // refresh every 2 s, publish every 1 s, one refresh lost

// Fills the blocks' and rows' judgements and record ages and result.disagreements; says in
// result.decisionsNote when the log cannot state the plug-in's decisions (LOGLEVEL below 5,
// attenuation off).
void CheckPluginDecisions(const Scenario& scenario, RadioView& view, const PluginDecisions& decisions,
                          RunResult& result);

}  // namespace halcyra::sim
