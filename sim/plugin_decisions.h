// What the plug-in decided about the talkers, read from its own log. At LOGLEVEL 5 every judgement
// of a talker writes, in order and from the thread of the host event: whether a local radio hears
// him ("CHalcyra::IsAudible"), the figures of the range and gain model ("CHalcyra::CalculateDBLost",
// with distance, range, sight line and gain as it computed them), whether he is encrypted, and for
// a voice block whether it was treated ("SamplesByHCVolumes") or silenced. A talk event's judgement
// follows its line "Halcyra Nickname is known", a radio check's (the info panel's) its line
// "RadioCheck : Radio check of ..."; every other one belongs to a voice block. A talk event's
// second judgement, on the record its refresh brought ("Refreshed station of ... : judged again"),
// replaces its first.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace halcyra::sim {

struct Judgement {
  bool audible = false;  // a local radio carries the frequency he transmits on
  int remoteRadio = 0;   // 1..3, 0 when not audible
  int localRadio = 0;    // 1..3, the local radio that receives him
  bool rated = false;    // the range and gain model ran: the figures below are the plug-in's
  double distance = 0;   // NM, as compared with the range (the model adds 0.0001)
  double range = 0;      // NM
  bool hidden = false;   // terrain cuts the sight line (examined only within range)
  double gain = 20;      // 0 (perfect) .. 20 (not receivable)
  bool encrypted = false;
  bool treated = false;   // a voice block edited to sound like the radio
  bool silenced = false;  // a voice block set to silence

  bool Receivable() const { return audible && rated && gain < 20; }

  // For a talk event judged again on his refreshed record: the first judgement, which placed him
  // where the second leaves him when it places him nowhere new.
  std::shared_ptr<const Judgement> first;
};

struct PluginDecisions {
  std::map<std::string, std::vector<Judgement>> voiceBlocks;  // per nickname, in the order of the blocks
  std::map<std::string, std::vector<Judgement>> talkEvents;   // per nickname, starts and stops in order
  std::map<std::string, std::vector<Judgement>> radioChecks;  // per nickname, the info panel's
};

// Reads the log's text (lines "[time][Lnn] (nnn) tag : text").
PluginDecisions ReadPluginDecisions(const std::string& logText);

}  // namespace halcyra::sim
