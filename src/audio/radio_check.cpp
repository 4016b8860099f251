#include "audio/radio_check.h"

#include <cmath>
#include <cstring>

#include "audio/talk_handler.h"
#include "audio/voice_effects.h"
#include "foundation/format.h"
#include "propagation/reception.h"
#include "station/record_text.h"

namespace halcyra {
namespace {

template <size_t N>
std::string Field(const char (&field)[N]) {
  return PlainText(TextOf(field));
}

bool IsOff(const char* frequency) { return std::strcmp(frequency, kRadioOff) == 0; }

// The radio (1..3) the station marks as selected, 0 when none.
int SelectedRadio(const StationRecord& station) {
  std::string_view marks = TextOf(station.activeMarks);
  for (size_t i = 0; i < marks.size() && i < 3; ++i) {
    if (marks[i] == 'X') return static_cast<int>(i) + 1;
  }
  return 0;
}

std::string Frequency(const StationRecord& station, int radio) {
  const char* field = RadioFrequency(station, radio);
  if (field == nullptr) return "";
  std::string text = PlainText(std::string_view(field, strnlen(field, kFrequencyCapacity - 1)));
  return IsOff(field) ? text + " (off)" : text;
}

std::string RadioList(const StationRecord& station) {
  return "1: " + Frequency(station, 1) + ", 2: " + Frequency(station, 2) + ", 3: " + Frequency(station, 3);
}

std::string EarOf(const Settings& settings, int localRadio) {
  int ear = localRadio == 1   ? settings.ear1.load()
            : localRadio == 2 ? settings.ear2.load()
                              : settings.ear3.load();
  if (ear == -1) return "left ear";
  if (ear == 1) return "right ear";
  return "both ears";
}

std::string StationLine(const std::string& nickname, const StationRecord& remote) {
  int selected = SelectedRadio(remote);
  std::string line = "His station (" + PlainText(nickname) + "): ";
  line += selected == 0 ? "no radio selected"
                        : Format("radio %d on %s", selected, Frequency(remote, selected).c_str());
  line +=
      IsOff(remote.cryptoFrequency) ? ", no encryption" : ", encryption on " + Field(remote.cryptoFrequency);
  return line;
}

std::string NotAudibleReason(const StationRecord& remote) {
  int selected = SelectedRadio(remote);
  if (selected == 0) return "not heard: he has no radio selected";
  const char* frequency = RadioFrequency(remote, selected);
  if (IsOff(frequency)) return Format("not heard: his radio %d is off", selected);
  return "not heard: no radio of yours on his frequency " + Frequency(remote, selected);
}

void AddRangeLines(const Reception& reception, RadioCheck* check) {
  const RangeJudgement& range = reception.range;
  check->lines.push_back(Format("Distance %.1f NM, range %.1f NM%s", static_cast<double>(range.distance),
                                static_cast<double>(range.range), range.inRange ? "" : ": out of range"));
  check->lines.push_back(!range.sightExamined ? "Sight line not examined (out of range)"
                         : range.hidden       ? "Sight line cut by terrain"
                                              : "Sight line clear");
  check->lines.push_back(Format("Gain %.2f (0 clear, %.0f not received)", static_cast<double>(range.gain),
                                static_cast<double>(kGainLimit)));
}

std::string Verdict(const Reception& reception, const Settings& settings, bool attenuation) {
  std::string on =
      Format("radio %d (%s)", reception.localRadio, EarOf(settings, reception.localRadio).c_str());
  if (!attenuation) return "heard on " + on + " as plain voice: the radio model is off";
  const RangeJudgement& range = reception.range;
  if (!range.inRange)
    return Format("not heard: out of range (%.1f NM, range %.1f NM)", static_cast<double>(range.distance),
                  static_cast<double>(range.range));
  if (range.hidden) return "not heard: behind terrain (the sight line is cut)";
  if (!(range.gain < kGainLimit)) return "not heard: at the very edge of range";
  if (reception.encrypted) return "other key: you hear the tone on " + on + ", not his voice";
  return "heard on " + on + Format(", gain %.2f", static_cast<double>(range.gain));
}

}  // namespace

std::string PlainText(std::string_view text) {
  std::string plain;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '[') {
      plain += '(';
    } else if (c == ']') {
      plain += ')';
    } else if (byte < 0x20 || byte == 0x7F) {
      plain += '?';
    } else {
      plain += c;
    }
  }
  return plain;
}

RadioCheck CheckTalker(CHalcyra& model, Clog& log, const Settings& settings, const SimulatorStatus& simulator,
                       const std::string& nickname) {
  RadioCheck check;
  bool simulatorSilent = simulator.alive.load() == 0 || simulator.watchdogCounter.load() > kWatchdogTalkLimit;
  std::optional<StationRecord> record = model.FindStation(nickname.c_str());
  StationRecord local = model.LocalStation();
  if (!record) {
    check.lines.push_back("No record of " + PlainText(nickname) + " from the station server");
    check.lines.push_back("Your radios: " + RadioList(local));
    check.verdict = simulatorSilent
                        ? "simulator silent: the radios are not simulated, you hear every voice plainly"
                        : "no record from the station server: the radios do not apply to him, you "
                          "hear his plain voice";
    check.heard = true;
    return check;
  }
  bool attenuation = settings.attenuation.load() != 0;
  if (log.Detailed()) LogNarrow(log, "RadioCheck", Format("Radio check of \"%s\"", nickname.c_str()), 5);
  Reception reception = JudgeReception(model, *record, attenuation, kGainLimit);
  check.lines.push_back(StationLine(nickname, *record));
  check.lines.push_back(reception.audible
                            ? Format("Your radio %d (%s) receives it", reception.localRadio,
                                     Frequency(local, reception.localRadio).c_str())
                            : "No radio of yours receives it (yours: " + RadioList(local) + ")");
  if (reception.rated) {
    AddRangeLines(reception, &check);
  } else if (reception.audible) {
    check.lines.push_back("Radio model off: no range, terrain, noise or encryption");
  }
  if (simulatorSilent) {
    check.verdict = "simulator silent: the radios are not simulated, you hear every voice plainly";
    check.heard = true;
  } else if (!reception.audible) {
    check.verdict = NotAudibleReason(*record);
  } else {
    check.verdict = Verdict(reception, settings, attenuation);
    check.heard = reception.Receivable(kGainLimit);
  }
  return check;
}

std::string RadioCheckText(const RadioCheck& check) {
  std::string text;
  for (const std::string& line : check.lines) text += line + "\n";
  return text + "Verdict: " + check.verdict + "\n";
}

std::string OwnStationText(const StationRecord& local, const ServerEndpoint& server, uint64_t lastAnswerMs,
                           uint64_t nowMs, const SimulatorStatus& simulator) {
  int selected = SelectedRadio(local);
  std::string text = "Your station as published (" + Field(local.nickname) + "):\n";
  text += "Position " + Field(local.latitudeText) + " " + Field(local.longitudeText) + ", " +
          Field(local.altitudeText) + Format(" ft, radio class %d\n", local.radioClass);
  text += "Radios " + RadioList(local) +
          (selected == 0 ? ", none selected\n" : Format(", radio %d selected\n", selected));
  text += IsOff(local.cryptoFrequency) ? "No encryption\n"
                                       : "Encryption on " + Field(local.cryptoFrequency) + "\n";
  text += "Station server " + PlainText(server.address) + Format(":%d ", server.port);
  if (lastAnswerMs == 0) {
    text += "has not answered yet\n";
  } else {
    uint64_t ago = nowMs >= lastAnswerMs ? (nowMs - lastAnswerMs) / 1000 : 0;
    text += Format("last answered %llu s ago\n", static_cast<unsigned long long>(ago));
  }
  bool silent = simulator.alive.load() == 0 || simulator.watchdogCounter.load() > kWatchdogTalkLimit;
  text += silent ? "Simulator: silent (no position received lately)\n" : "Simulator: sending\n";
  return text;
}

}  // namespace halcyra
