#include "propagation/station_model.h"

#include <cstring>
#include <string_view>

#include "station/record_text.h"

namespace halcyra {
namespace {

constexpr int32_t kDefaultVolume = 100;  // percent

bool SameNickname(const StationRecord& record, std::string_view nickname) {
  return TextOf(record.nickname) == nickname;
}

// Copies a text field and clears the rest of the target, so no byte of an older, longer value
// stays behind the terminator. A source that fills its whole buffer without terminator is cut like
// any over-long text instead of being read past its end.
template <size_t N>
void CopyField(char (&target)[N], const char (&source)[N]) {
  std::string_view text = TextOf(source);
  std::memmove(target, text.data(), text.size());
  std::memset(target + text.size(), 0, N - text.size());
}

// Copies the fields that travel through the station server. Volumes and distance of the target
// stay as they are.
void CopyPublishedFields(StationRecord& target, const StationRecord& source) {
  CopyField(target.nickname, source.nickname);
  CopyField(target.frequency1, source.frequency1);
  CopyField(target.frequency2, source.frequency2);
  CopyField(target.frequency3, source.frequency3);
  CopyField(target.activeMarks, source.activeMarks);
  CopyField(target.cryptoFrequency, source.cryptoFrequency);
  CopyField(target.latitudeText, source.latitudeText);
  CopyField(target.longitudeText, source.longitudeText);
  CopyField(target.altitudeText, source.altitudeText);
  target.altitude = source.altitude;
  target.latitude = source.latitude;
  target.longitude = source.longitude;
  target.cryptoKey = source.cryptoKey;
  target.radioClass = source.radioClass;
}

}  // namespace

CHalcyra::CHalcyra(Clog& log, CHGTFiles& tiles) : log_(log), tiles_(tiles) { Initialize(); }

void CHalcyra::Initialize() {
  StationRecord local = DefaultStation();

  platform::MutexLock lock(modelLock_);
  local_ = local;
  remotes_.clear();
}

int CHalcyra::AddOrUpdateStation(const StationRecord& record, const std::function<bool()>& stillWanted) {
  platform::MutexLock lock(modelLock_);
  if (stillWanted && !stillWanted()) return -1;
  std::string_view nickname = TextOf(record.nickname);
  for (StationRecord& listed : remotes_) {
    if (SameNickname(listed, nickname)) {
      CopyPublishedFields(listed, record);
      return static_cast<int>(remotes_.size());
    }
  }
  // Nothing reads a remote record's volumes; they get the local defaults so that a record
  // never shows a silent radio by accident.
  StationRecord added;
  added.volume1 = kDefaultVolume;
  added.volume2 = kDefaultVolume;
  added.volume3 = kDefaultVolume;
  CopyPublishedFields(added, record);
  remotes_.push_back(added);
  return static_cast<int>(remotes_.size());
}

void CHalcyra::ClearStationList() {
  platform::MutexLock lock(modelLock_);
  remotes_.clear();
}

void CHalcyra::Terminate() {
  LogNarrow(log_, "CHalcyra::Terminate", "", 2);
  ClearStationList();
}

int CHalcyra::Count() const {
  platform::MutexLock lock(modelLock_);
  return static_cast<int>(remotes_.size());
}

StationRecord CHalcyra::LocalStation() const {
  platform::MutexLock lock(modelLock_);
  return local_;
}

StationRecord CHalcyra::UpdateLocalStation(const std::function<void(StationRecord&)>& edit) {
  platform::MutexLock lock(modelLock_);
  if (edit) edit(local_);
  return local_;
}

std::optional<StationRecord> CHalcyra::FindStation(const char* nickname) const {
  if (nickname == nullptr) return std::nullopt;
  std::string_view wanted(nickname, strnlen(nickname, kNicknameCapacity - 1));
  platform::MutexLock lock(modelLock_);
  for (const StationRecord& listed : remotes_) {
    if (SameNickname(listed, wanted)) return listed;
  }
  return std::nullopt;
}

std::vector<StationRecord> CHalcyra::Stations() const {
  platform::MutexLock lock(modelLock_);
  return remotes_;
}

void CHalcyra::StoreDistance(const char* nickname, float distance) {
  std::string_view wanted(nickname, strnlen(nickname, kNicknameCapacity - 1));
  platform::MutexLock lock(modelLock_);
  for (StationRecord& listed : remotes_) {
    if (SameNickname(listed, wanted)) {
      listed.distance = distance;
      return;
    }
  }
}

}  // namespace halcyra
