#include "oracle.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "audio/talk_handler.h"

namespace halcyra::sim {
namespace {

constexpr double kGainLimit = 20;
constexpr double kDistanceOffset = 0.0001;  // the model compares distance + 0.0001 with the range

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool Near(double a, double b) { return std::fabs(a - b) <= kFigureTolerance; }  // false for NaN

std::string Describe(const Judgement& j) {
  if (!j.audible) return "no local radio on his frequency";
  if (!j.rated) return "audible, no figures";
  return "distance " + Fixed(j.distance, 3) + " NM, range " + Fixed(j.range, 3) + " NM, " +
         (j.distance > j.range ? "out of range"
          : j.hidden           ? "hidden"
                               : "sight line clear") +
         ", gain " + Fixed(j.gain, 3) + (j.encrypted ? ", encrypted" : "");
}

std::string Describe(const Figures& f) {
  if (!f.audible) return "no local radio on his frequency";
  double distance = f.distance + kDistanceOffset;
  return "distance " + Fixed(distance, 3) + " NM, range " + Fixed(f.range, 3) + " NM, " +
         (distance > f.range ? "out of range"
          : f.hidden         ? "hidden"
                             : "sight line clear") +
         ", gain " + Fixed(f.gain, 3) + (f.encrypted ? ", encrypted" : "");
}

bool Agrees(const Judgement& j, const Figures& f) {
  if (j.audible != f.audible) return false;
  if (!j.audible) return true;
  if (!j.rated || !Near(j.distance, f.distance + kDistanceOffset) || !Near(j.range, f.range) ||
      !Near(j.gain, f.gain)) {
    return false;
  }
  bool examined = j.distance <= j.range;  // beyond range the sight line is not looked at
  return (!examined || j.hidden == f.hidden) && j.encrypted == f.encrypted;
}

// The model's figures for the local aircraft at one second and a remote's record published at
// another, each computed once.
class ModelFigures {
 public:
  ModelFigures(const Scenario& scenario, RadioView& view) : scenario_(scenario), view_(view) {}

  const Figures& At(int remote, int localSecond, int recordSecond) {
    auto key = std::make_tuple(remote, localSecond, recordSecond);
    auto found = cache_.find(key);
    if (found != cache_.end()) return found->second;
    StationRecord local = view_.RecordAt(scenario_.local, localSecond);
    StationRecord record = RadioView::FetchedRecord(
        view_.RecordAt(scenario_.remotes[static_cast<size_t>(remote)].station, recordSecond));
    return cache_.emplace(key, view_.Judge(local, record)).first->second;
  }

 private:
  const Scenario& scenario_;
  RadioView& view_;
  std::map<std::tuple<int, int, int>, Figures> cache_;
};

class Check {
 public:
  Check(const Scenario& scenario, RadioView& view, RunResult& result)
      : scenario_(scenario),
        result_(result),
        model_(scenario, view),
        window_(result.fast ? INT_MAX : kRealTimeRecordAgeSeconds) {}

  void Remote(int remote, const PluginDecisions& decisions) {
    const std::string& nickname = scenario_.remotes[static_cast<size_t>(remote)].station.nickname;
    auto voice = decisions.voiceBlocks.find(nickname);
    auto talk = decisions.talkEvents.find(nickname);
    Blocks(remote, voice == decisions.voiceBlocks.end() ? kNone : voice->second);
    TalkEvents(remote, talk == decisions.talkEvents.end() ? kNone : talk->second);
  }

 private:
  void Disagree(double time, int remote, const std::string& what) {
    result_.disagreements.push_back({time, remote, what});
    size_t row = static_cast<size_t>(time) * scenario_.remotes.size() + static_cast<size_t>(remote);
    if (row < result_.rows.size()) result_.rows[row].disagreement = true;
  }

  // The age of the most recent record of the remote whose figures the judgement shows.
  std::optional<int> RecordAge(int remote, int second, const Judgement& judgement) {
    for (int record = second; record >= 0 && second - record <= window_; --record) {
      if (Agrees(judgement, model_.At(remote, second, record))) return second - record;
    }
    return std::nullopt;
  }

  void ExpectModel(double time, int remote, const Judgement& judgement, const char* event,
                   std::optional<int>* age) {
    int second = static_cast<int>(time);
    *age = RecordAge(remote, second, judgement);
    if (*age) return;
    Disagree(time, remote,
             std::string(event) + ": the plug-in judged " + Describe(judgement) + "; the model expects " +
                 Describe(model_.At(remote, second, second)) +
                 (result_.fast ? ""
                               : ", and no record of the last " + std::to_string(window_) +
                                     " s gives the plug-in's figures"));
  }

  void Blocks(int remote, const std::vector<Judgement>& judgements) {
    std::vector<BlockRecord*> mine;
    for (BlockRecord& block : result_.blocks) {
      if (block.remote == remote) mine.push_back(&block);
    }
    if (judgements.size() != mine.size()) {
      Disagree(0, remote,
               "the plug-in's log states " + std::to_string(judgements.size()) + " judgements for " +
                   std::to_string(mine.size()) + " voice blocks");
      return;
    }
    for (size_t k = 0; k < mine.size(); ++k) {
      BlockRecord& block = *mine[k];
      const Judgement& j = judgements[k];
      block.plugin = j;
      double time = static_cast<double>(block.block) / kBlocksPerSecond;
      ExpectModel(time, remote, j, "voice block", &block.recordAge);
      bool onTheLimit = j.rated && std::fabs(j.gain - kGainLimit) < 0.0005;  // printed as 20.000 either way
      if (!onTheLimit && (j.treated != j.Receivable() || j.silenced == j.Receivable())) {
        Disagree(time, remote,
                 j.Receivable() ? "voice block judged receivable but not treated as radio"
                                : "voice block judged not receivable but not silenced");
      }
      if (j.silenced && block.renderedPeak != 0) Disagree(time, remote, "a silenced voice block was heard");
    }
  }

  void TalkEvents(int remote, const std::vector<Judgement>& judgements) {
    std::vector<const Call*> calls;
    for (const Call& call : result_.calls) {
      if (call.remote == remote) calls.push_back(&call);
    }
    if (judgements.size() != 2 * calls.size()) {
      Disagree(0, remote,
               "the plug-in's log states " + std::to_string(judgements.size()) +
                   " judgements for the starts and ends of " + std::to_string(calls.size()) + " calls");
      return;
    }
    anyID id = result_.clientIDs[static_cast<size_t>(remote)];
    for (size_t k = 0; k < calls.size(); ++k) {
      const Judgement& j = judgements[2 * k];  // his start; the end moves nobody who can be heard
      double time = calls[k]->Start();
      std::optional<int> age;
      ExpectModel(time, remote, j, "talk event", &age);

      std::optional<TS3_VECTOR> placed;
      for (const Placement& placement : result_.placements) {
        if (placement.clientID == id && placement.time == time) placed = placement.position;
      }
      auto placement = [this](const Judgement& judged) -> std::optional<TS3_VECTOR> {
        if (!judged.Receivable()) return kFarPosition;
        if (judged.encrypted) return std::nullopt;  // he keeps his place
        return EarPosition(judged.localRadio, 1.0f, scenario_.ears[0], scenario_.ears[1], scenario_.ears[2]);
      };
      std::optional<TS3_VECTOR> expected = placement(j);
      if (!expected && j.first) expected = placement(*j.first);  // judged again: where the first put him
      auto same = [](const TS3_VECTOR& a, const TS3_VECTOR& b) {
        return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f && std::fabs(a.z - b.z) < 1e-4f;
      };
      if (expected.has_value() != placed.has_value() || (expected && !same(*expected, *placed))) {
        Disagree(time, remote,
                 std::string("talk event: judged ") + Describe(j) + ", but " +
                     (placed ? "placed at (" + Fixed(placed->x, 3) + ", " + Fixed(placed->y, 3) + ", " +
                                   Fixed(placed->z, 3) + ")"
                             : "not placed"));
      }
    }
  }

  static inline const std::vector<Judgement> kNone{};
  const Scenario& scenario_;
  RunResult& result_;
  ModelFigures model_;
  int window_;
};

}  // namespace

void CheckPluginDecisions(const Scenario& scenario, RadioView& view, const PluginDecisions& decisions,
                          RunResult& result) {
  if (scenario.logLevel < 5) {
    result.decisionsNote = "The plug-in states its decisions in its log at LOGLEVEL 5; this scenario sets " +
                           std::to_string(scenario.logLevel) + ", so only the model's figures are shown.";
    return;
  }
  if (scenario.attenuation == 0) {
    result.decisionsNote =
        "The radio model is off (ATTN 0): the plug-in judges no voice block and leaves every one as it came.";
    return;
  }
  Check check(scenario, view, result);
  for (size_t remote = 0; remote < scenario.remotes.size(); ++remote) {
    check.Remote(static_cast<int>(remote), decisions);
  }
}

}  // namespace halcyra::sim
