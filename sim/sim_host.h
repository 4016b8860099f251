// The host the scenario runner plays around the plug-in: one server connection with one channel
// holding the local pilot and the scenario's remote pilots. It implements the seven host functions
// the plug-in calls, hands out and takes back host memory, and records every 3D placement with the
// scenario time at which it was made.
//
// The host functions are plain C functions, so one SimHost is the active host at a time (the one
// constructed last). The plug-in calls them from its own threads too: everything is guarded by
// lock_; the scenario clock is an atomic. The plug-in calls some while it holds its client list
// lock, so lock_ comes after the plug-in's locks; it is a leaf, as is the lock of the active host.
#pragma once

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "platform/mutex.h"

namespace halcyra::sim {

inline constexpr uint64 kServerConnection = 1;
inline constexpr uint64 kChannel = 1;
inline constexpr anyID kOwnClientID = 1;

struct Placement {
  double time = 0;  // scenario seconds
  anyID clientID = 0;
  TS3_VECTOR position{};
};

class SimHost {
 public:
  explicit SimHost(const std::string& ownNickname);
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // Adds a client to the channel (after the own client, in call order).
  void AddClient(anyID clientID, const std::string& nickname) EXCLUDES(lock_);
  TS3Functions Table() const;

  void SetClock(double seconds) { clock_.store(seconds); }

  std::vector<Placement> Placements() const EXCLUDES(lock_);
  // The position a client's voice is played from: its last placement, the origin before any.
  TS3_VECTOR PositionOf(anyID clientID) const EXCLUDES(lock_);
  int OutstandingAllocations() const EXCLUDES(lock_);  // host memory handed out and not given back

  // --- the host functions (called through the table) ---
  unsigned int FreeMemory(void* pointer) EXCLUDES(lock_);
  unsigned int Set3DListener(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward,
                             const TS3_VECTOR* up);
  unsigned int Set3DSettings(uint64 schid, float distanceFactor, float rolloffScale);
  unsigned int Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) EXCLUDES(lock_);
  unsigned int GetClientID(uint64 schid, anyID* result);
  unsigned int GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag, char** result)
      EXCLUDES(lock_);
  unsigned int GetChannelClientList(uint64 schid, uint64 channelID, anyID** result) EXCLUDES(lock_);

 private:
  std::atomic<double> clock_{0};
  mutable platform::Mutex lock_;
  std::vector<anyID> channel_ GUARDED_BY(lock_);
  std::map<anyID, std::string> nicknames_ GUARDED_BY(lock_);
  std::vector<Placement> placements_ GUARDED_BY(lock_);
  std::map<anyID, TS3_VECTOR> positions_ GUARDED_BY(lock_);
  std::set<void*> allocations_ GUARDED_BY(lock_);
};

}  // namespace halcyra::sim
