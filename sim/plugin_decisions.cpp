#include "plugin_decisions.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace halcyra::sim {
namespace {

constexpr char kNicknameStart[] = "Remote Nickname \"";
constexpr char kNicknameEnd[] = "\" : Radio #";

struct Line {
  std::string tag;
  std::string text;
};

// "[2026-12-08 09:18:42.833][L05] (053) tag : text" -> tag, text. False for other lines.
bool SplitLine(const std::string& line, Line* out) {
  size_t count = line.find("] (");
  if (count == std::string::npos) return false;
  size_t tagStart = line.find(") ", count);
  if (tagStart == std::string::npos) return false;
  tagStart += 2;
  size_t separator = line.find(" : ", tagStart);
  if (separator == std::string::npos) {
    out->tag = line.substr(tagStart);
    out->text.clear();
  } else {
    out->tag = line.substr(tagStart, separator - tagStart);
    out->text = line.substr(separator + 3);
  }
  return true;
}

// The nickname in "Remote Nickname "<nickname>" : Radio #..." and the rest after it.
bool SplitNickname(const std::string& text, std::string* nickname, std::string* rest) {
  if (text.rfind(kNicknameStart, 0) != 0) return false;
  size_t end = text.rfind(kNicknameEnd);
  if (end == std::string::npos || end < sizeof kNicknameStart - 1) return false;
  *nickname = text.substr(sizeof kNicknameStart - 1, end - (sizeof kNicknameStart - 1));
  *rest = text.substr(end + sizeof kNicknameEnd - 1);
  return true;
}

bool ReadRating(const std::string& rest, Judgement* judgement) {
  int radio = 0;
  int hidden = 0;
  double frequency = 0, factor = 0, term = 0, limit = 0, att = 0;
  int read = std::sscanf(rest.c_str(),
                         "%d (%lf) : Factor=%lf , DBLost=%lf , Distance=%lf NM , Hidden=%d(0=No,1=Yes) "
                         "Range=%lf NM ===> Gain=%lf (%lf)(att=%lf)",
                         &radio, &frequency, &factor, &term, &judgement->distance, &hidden, &judgement->range,
                         &judgement->gain, &limit, &att);
  if (read < 8) return false;
  judgement->hidden = hidden == 1;
  judgement->rated = true;
  return true;
}

}  // namespace

PluginDecisions ReadPluginDecisions(const std::string& logText) {
  PluginDecisions decisions;
  std::string talkPending;       // nickname whose talk event is about to be judged
  std::string refreshPending;    // nickname whose talk event is judged again on his refreshed record
  bool rejudging = false;        // talkPending's judgement replaces his talk event's last one
  std::string checkPending;      // nickname whose radio check is about to be judged
  Judgement* current = nullptr;  // the judgement the following lines complete
  std::string currentNickname;
  std::istringstream lines(logText);
  for (std::string raw; std::getline(lines, raw);) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Line line;
    if (!SplitLine(raw, &line)) continue;
    std::string nickname, rest;
    if (line.tag == "RadioCheck") {
      const std::string check = "Radio check of \"";
      if (line.text.rfind(check, 0) == 0 && line.text.size() > check.size())
        checkPending = line.text.substr(check.size(), line.text.size() - check.size() - 1);
    } else if (line.tag == "ts3plugin_onTalkStatusChangeEvent") {
      const std::string known = "Halcyra Nickname is known : \"";
      const std::string refreshed = "Refreshed station of \"";
      if (line.text.rfind(known, 0) == 0) {
        size_t end = line.text.rfind("\" ");
        talkPending = end > known.size() ? line.text.substr(known.size(), end - known.size()) : "";
        rejudging = !talkPending.empty() && talkPending == refreshPending;
        refreshPending.clear();
      } else if (line.text.rfind(refreshed, 0) == 0) {
        size_t end = line.text.rfind("\" : ");
        refreshPending =
            end > refreshed.size() ? line.text.substr(refreshed.size(), end - refreshed.size()) : "";
      }
    } else if (line.tag == "CHalcyra::IsAudible" && SplitNickname(line.text, &nickname, &rest)) {
      int radio = 0, result = 0;
      if (std::sscanf(rest.c_str(), "%d is %d", &radio, &result) != 2) continue;
      std::vector<Judgement>& list = nickname == checkPending  ? decisions.radioChecks[nickname]
                                     : nickname == talkPending ? decisions.talkEvents[nickname]
                                                               : decisions.voiceBlocks[nickname];
      bool replaces = nickname != checkPending && nickname == talkPending && rejudging && !list.empty();
      if (nickname == checkPending) {
        checkPending.clear();
      } else {
        talkPending.clear();
        rejudging = false;
      }
      if (replaces) {
        auto first = std::make_shared<const Judgement>(list.back());
        list.back() = Judgement{};
        list.back().first = first;
      } else {
        list.push_back(Judgement{});
      }
      current = &list.back();
      currentNickname = nickname;
      current->audible = result == 1;
      current->remoteRadio = radio;
      size_t active = rest.rfind("Active : ");
      if (active != std::string::npos) current->localRadio = std::atoi(rest.c_str() + active + 9);
    } else if (current == nullptr) {
      continue;
    } else if (line.tag == "CHalcyra::CalculateDBLost" && SplitNickname(line.text, &nickname, &rest)) {
      if (nickname == currentNickname) ReadRating(rest, current);
    } else if (line.tag == "CHalcyra::IsEncrypted") {
      current->encrypted = line.text.rfind("Remote talker is encrypted", 0) == 0;
    } else if (line.tag == "SamplesByHCVolumes") {
      current->treated = true;
    } else if (line.tag == "ts3plugin_onEditPlaybackVoiceDataEvent" &&
               line.text == "Cannot receive \"" + currentNickname + "\" : voice block silenced") {
      current->silenced = true;
    }
  }
  return decisions;
}

}  // namespace halcyra::sim
