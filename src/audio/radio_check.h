// "Why can't I hear him?": the client's info panel and the "Radio check" menu item explain, from
// the plug-in's current records and the voice path's own judgement (JudgeReception), what a talker
// of the own channel sounds like here and the first reason when he is not heard. Nothing is asked
// of the station server or the host: the texts are made on the client's thread from what is known.
//
// Texts are UTF-8 lines ended by "\n". Texts that come from other pilots (nicknames, record fields)
// are shown with '[' and ']' as '(' and ')', so that none can format the client's panel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "propagation/station_model.h"
#include "station/station_record.h"

namespace halcyra {

struct RadioCheck {
  std::vector<std::string> lines;  // his station, the radios that meet, distance and range, ...
  std::string verdict;             // one line: heard on radio N (which ear), or why not
  bool heard = false;              // his voice reaches the listener (possibly as plain voice)
};

// Judges the talker of that nickname now, as the voice path judges his next block. With LOGLEVEL 3
// or more the judgement's log lines follow a line "RadioCheck : Radio check of "<nickname>"" (level
// 5), which tells them from those of a voice block.
RadioCheck CheckTalker(CHalcyra& model, Clog& log, const Settings& settings, const SimulatorStatus& simulator,
                       const std::string& nickname);

// The info panel's text: the lines, then "Verdict: ...".
std::string RadioCheckText(const RadioCheck& check);

// The own client's panel: the local station as it is published, the station server and when it
// last answered (ticks in ms; lastAnswerMs 0 = never), whether the simulator sends.
std::string OwnStationText(const StationRecord& local, const ServerEndpoint& server, uint64_t lastAnswerMs,
                           uint64_t nowMs, const SimulatorStatus& simulator);

// A text from elsewhere, safe to show in the client's panel and chat.
std::string PlainText(std::string_view text);

}  // namespace halcyra
