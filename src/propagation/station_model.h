// CHalcyra, the station model: the local station and the remote station list, and the radio
// model's judgements over them (audibility, encryption, distance, range and gain).
//
// Guarding: one lock (modelLock_) covers the local station and the remote list. Writers hold it for
// a whole search/copy/link; readers take consistent copies (snapshots) under it, so no reader ever
// sees a half-copied record. The judgements work on snapshots and take no lock of their own,
// except to store a remote record's `distance` back into the list. modelLock_ is a leaf: nothing
// is called while it is held but the caller's edit and stillWanted, which take no lock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "platform/mutex.h"
#include "station/station_record.h"

namespace halcyra {

class CHGTFiles;

// How well a talker within frequency is received, as the range and gain model worked it out.
struct RangeJudgement {
  float distance = 0;          // NM, great circle, between the stations
  float range = 0;             // NM, of the talker's radio class, altitude difference and frequency
  bool inRange = false;        // the distance (+ 0.0001) is within the range
  bool sightExamined = false;  // the sight line was tested (only within range)
  bool hidden = false;         // terrain cuts the sight line
  float gain = 0;              // 0 (perfect) .. gainLimit (not receivable)
};

class CHalcyra {
 public:
  CHalcyra(Clog& log, CHGTFiles& tiles);

  // Gives the local station its defaults and empties the remote list.
  void Initialize() EXCLUDES(modelLock_);

  // Stores a parsed record: updates the record of the same nickname in place (keeping its order,
  // volumes and distance) or appends a new one. Returns the count afterwards. When stillWanted is
  // given it is asked under the model lock and the record is stored only if it returns true
  // (a station query abandoned by its caller stores nothing); -1 when not stored.
  int AddOrUpdateStation(const StationRecord& record, const std::function<bool()>& stillWanted = nullptr)
      EXCLUDES(modelLock_);
  void ClearStationList() EXCLUDES(modelLock_);
  // Logs "CHalcyra::Terminate" (level 2) and releases the remote list.
  void Terminate() EXCLUDES(modelLock_);

  int Count() const EXCLUDES(modelLock_);
  StationRecord LocalStation() const EXCLUDES(modelLock_);
  // Runs edit on the local station under the model lock and returns the edited copy.
  StationRecord UpdateLocalStation(const std::function<void(StationRecord&)>& edit) EXCLUDES(modelLock_);
  std::optional<StationRecord> FindStation(const char* nickname) const EXCLUDES(modelLock_);
  std::vector<StationRecord> Stations() const EXCLUDES(modelLock_);  // in list order

  // --- radio model (host event threads) ---
  // Each judgement has a form on a snapshot of the local station that its caller took (one for
  // several judgements, as the voice path takes one per block) and a form that takes its own.
  // 1 when a local radio carries the frequency the remote transmits on; remoteRadio and localRadio
  // get the radios (1..3), both 0 otherwise.
  int IsAudible(const StationRecord& local, const StationRecord& remote, int* remoteRadio, int* localRadio);
  int IsAudible(const StationRecord& remote, int* remoteRadio, int* localRadio) EXCLUDES(modelLock_) {
    return IsAudible(LocalStation(), remote, remoteRadio, localRadio);
  }
  // 1 when the remote's encryption applies to a radio we listen on and the keys differ.
  int IsEncrypted(const StationRecord& local, const StationRecord& remote);
  int IsEncrypted(const StationRecord& remote) EXCLUDES(modelLock_) {
    return IsEncrypted(LocalStation(), remote);
  }
  // Great-circle distance in NM (also stored in remote.distance and in the listed record) and the
  // altitude difference in feet.
  float CalculateDistance(const StationRecord& local, StationRecord& remote, float* altitudeDifference)
      EXCLUDES(modelLock_);
  // Gain from 0 (perfect) to gainLimit (not receivable) for the remote transmitting on remoteRadio.
  float CalculateDBLost(StationRecord& remote, int remoteRadio, float gainLimit) EXCLUDES(modelLock_);
  // The same judgement with the figures it rests on (CalculateDBLost is its gain).
  RangeJudgement JudgeRange(const StationRecord& local, StationRecord& remote, int remoteRadio,
                            float gainLimit) EXCLUDES(modelLock_);
  RangeJudgement JudgeRange(StationRecord& remote, int remoteRadio, float gainLimit) EXCLUDES(modelLock_) {
    return JudgeRange(LocalStation(), remote, remoteRadio, gainLimit);
  }
  // 1 when terrain cuts the sight line from the local to the remote station.
  int IsHiddenByRelief(const StationRecord& local, const StationRecord& remote);

 private:
  void StoreDistance(const char* nickname, float distance) EXCLUDES(modelLock_);

  Clog& log_;
  CHGTFiles& tiles_;
  mutable platform::Mutex modelLock_;
  StationRecord local_ GUARDED_BY(modelLock_);
  // In order of first appearance, unique nicknames.
  std::vector<StationRecord> remotes_ GUARDED_BY(modelLock_);
};

}  // namespace halcyra
