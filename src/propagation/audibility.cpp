// Audibility and encryption: which local radio hears a remote talker, and whether his speech is
// encrypted for us. Frequencies are compared as texts, never as numbers ("251.000" and "251.00"
// are different frequencies); "000.000" means a radio is off.
#include <cstring>
#include <string_view>

#include "foundation/format.h"
#include "propagation/station_model.h"
#include "station/record_text.h"

namespace halcyra {
namespace {

constexpr int kRadioCount = 3;

std::string_view FrequencyText(const StationRecord& station, int radio) {
  switch (radio) {
    case 1:
      return TextOf(station.frequency1);
    case 2:
      return TextOf(station.frequency2);
    case 3:
      return TextOf(station.frequency3);
    default:
      return std::string_view();
  }
}

// The off test compares all eight bytes of the field: the seven characters and the terminator.
bool IsRadioOff(const StationRecord& station, int radio) {
  const char* field = RadioFrequency(station, radio);
  return field != nullptr && std::memcmp(field, kRadioOff, sizeof kRadioOff) == 0;
}

// True when the station marks radio 1..3 as its selected one. Only characters before the
// terminator count as marks.
bool IsMarked(const StationRecord& station, int radio) {
  std::string_view marks = TextOf(station.activeMarks);
  size_t index = static_cast<size_t>(radio - 1);
  return index < marks.size() && marks[index] == 'X';
}

bool LocalCarries(const StationRecord& local, std::string_view frequency) {
  for (int radio = 1; radio <= kRadioCount; ++radio) {
    if (FrequencyText(local, radio) == frequency) return true;
  }
  return false;
}

}  // namespace

int CHalcyra::IsAudible(const StationRecord& local, const StationRecord& remote, int* remoteRadio,
                        int* localRadio) {
  int transmitting = 0;
  int receiving = 0;
  int result = 0;
  std::string_view matched = kRadioOff;

  // Radio 1 is examined last, so the lowest-numbered qualifying radio wins.
  for (int radio = kRadioCount; radio >= 1; --radio) {
    std::string_view frequency = FrequencyText(remote, radio);
    if (LocalCarries(local, frequency) && IsMarked(remote, radio) && !IsRadioOff(remote, radio)) {
      transmitting = radio;
      matched = frequency;
      result = 1;
    }
  }
  if (result == 1) {
    for (int radio = kRadioCount; radio >= 1; --radio) {
      if (FrequencyText(local, radio) == matched) receiving = radio;
    }
  }

  if (log_.Detailed()) {
    LogNarrow(log_, "CHalcyra::IsAudible",
              Format("Remote Nickname \"%s\" : Radio #%d is %d (1=ON/0=OFF) {%s}. Local radio is "
                     "[1:%s|2:%s|3:%s(%s)] Active : %d",
                     PrintableText(remote.nickname).c_str(), transmitting, result,
                     PrintableText(remote.activeMarks).c_str(), PrintableText(local.frequency1).c_str(),
                     PrintableText(local.frequency2).c_str(), PrintableText(local.frequency3).c_str(),
                     PrintableText(local.activeMarks).c_str(), receiving),
              5);
  }
  if (remoteRadio != nullptr) *remoteRadio = transmitting;
  if (localRadio != nullptr) *localRadio = receiving;
  return result;
}

int CHalcyra::IsEncrypted(const StationRecord& local, const StationRecord& remote) {
  std::string_view cryptoFrequency = TextOf(remote.cryptoFrequency);
  int result = 0;
  for (int radio = 1; radio <= kRadioCount; ++radio) {
    if (FrequencyText(local, radio) == cryptoFrequency && IsMarked(remote, radio) &&
        !IsRadioOff(local, radio)) {
      result = local.cryptoKey != remote.cryptoKey ? 1 : 0;
    }
  }
  if (log_.Detailed()) {
    LogNarrow(log_, "CHalcyra::IsEncrypted", result ? "Remote talker is encrypted" : "Remote talker is clear",
              5);
  }
  return result;
}

}  // namespace halcyra
