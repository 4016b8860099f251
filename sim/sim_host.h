// The host the scenario runner plays around the plug-in: one server connection with one channel
// holding the local pilot and the scenario's remote pilots. It answers the host functions the
// plug-in calls (the table and its host memory are HostFunctions') and records every 3D placement
// with the scenario time at which it was made.
//
// The plug-in calls from its own threads too: the channel and the placements are guarded by
// lock_; the scenario clock is an atomic. The plug-in calls some host functions while it holds its
// client list lock, so lock_ comes after the plug-in's locks; it is taken before HostFunctions'
// allocations lock (HostCopy).
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "host_functions.h"
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

class SimHost : public testing::HostFunctions {
 public:
  explicit SimHost(const std::string& ownNickname);  // becomes the active host
  ~SimHost() override;

  // Adds a client to the channel (after the own client, in call order).
  void AddClient(anyID clientID, const std::string& nickname) EXCLUDES(lock_);

  void SetClock(double seconds) { clock_.store(seconds); }

  std::vector<Placement> Placements() const EXCLUDES(lock_);
  // The position a client's voice is played from: its last placement, the origin before any.
  TS3_VECTOR PositionOf(anyID clientID) const EXCLUDES(lock_);

  unsigned int Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) override
      EXCLUDES(lock_);
  unsigned int GetClientID(uint64 schid, anyID* result) override;
  unsigned int GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag, char** result) override
      EXCLUDES(lock_);
  unsigned int GetChannelClientList(uint64 schid, uint64 channelID, anyID** result) override EXCLUDES(lock_);

 private:
  std::atomic<double> clock_{0};
  mutable platform::Mutex lock_;
  std::vector<anyID> channel_ GUARDED_BY(lock_);
  std::map<anyID, std::string> nicknames_ GUARDED_BY(lock_);
  std::vector<Placement> placements_ GUARDED_BY(lock_);
  std::map<anyID, TS3_VECTOR> positions_ GUARDED_BY(lock_);
};

}  // namespace halcyra::sim
