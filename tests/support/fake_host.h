// FakeHost: the host function table (HostFunctions) with fakes that record every call and can
// refuse. One FakeHost is active at a time: the one constructed last.
//
// Like a real host it answers only for its one connection (SetConnection; 1 unless set) and only
// the channel that the own client is in (SetChannel): asked for another connection or another
// channel it refuses with an error, as it does for an unknown client.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "host_functions.h"

namespace halcyra::testing {

class FakeHost : public HostFunctions {
 public:
  FakeHost() = default;  // becomes the active host
  ~FakeHost() override;  // stops being the active host

  // --- what the host answers (set before the calls) ---
  void SetConnection(uint64 serverConnectionHandlerID);
  void SetOwnClient(anyID id, const std::string& nickname);
  // The channel the own client is in and its clients, in order.
  void SetChannel(uint64 channelID, const std::vector<anyID>& clientIDs);
  void SetNickname(anyID id, const std::string& nickname);
  // Fault switches.
  void RefuseChannelList(bool refuse);
  void MakeNicknameUnreadable(anyID id);
  // Which calls of channelset3DAttributes record themselves and then do not return until the block
  // is lifted, as in a host busy with its own shutdown: none, those that put a client back at the
  // listener's position (0, 0, 0), or all.
  enum class Block { kNone, kResets, kAll };
  void BlockPlacements(Block block);
  int PlacementsInProgress() const;

  // --- what the plug-in did ---
  struct Placement {
    uint64 serverConnectionHandlerID;
    anyID clientID;
    TS3_VECTOR position;
  };
  std::vector<Placement> Placements() const;
  void ClearPlacements();
  int SettingsCalls() const;   // systemset3DSettings
  int ListenerCalls() const;   // systemset3DListenerAttributes
  float LastDistanceFactor() const;
  float LastRolloffScale() const;
  int ClientIdCalls() const;
  int TotalCalls() const;  // every call of any used slot
  // The calls of systemset3DSettings and systemset3DListenerAttributes in order, with their
  // arguments: "systemset3DSettings <schid> <distance factor> <rolloff scale>" and
  // "systemset3DListenerAttributes <schid> <x,y,z of position> <of forward> <of up>".
  std::vector<std::string> SetupCalls() const;

  // Used by the table's functions.
  unsigned int FreeMemory(void* pointer) override;
  unsigned int Set3DListener(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward,
                             const TS3_VECTOR* up) override;
  unsigned int Set3DSettings(uint64 schid, float distanceFactor, float rolloffScale) override;
  unsigned int Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) override;
  unsigned int GetClientID(uint64 schid, anyID* result) override;
  unsigned int GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag, char** result) override;
  unsigned int GetChannelClientList(uint64 schid, uint64 channelID, anyID** result) override;

 private:
  bool KnownConnection(uint64 schid) const { return schid == connection_; }  // mutex_ held

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable unblocked_;
  uint64 connection_ = 1;
  anyID ownClientID_ = 1;
  uint64 channelID_ = 0;
  std::vector<anyID> channel_;
  Block blockPlacements_ = Block::kNone;
  int placementsInProgress_ = 0;
  std::vector<std::string> setupCalls_;
  std::map<anyID, std::string> nicknames_;
  bool refuseChannelList_ = false;
  std::set<anyID> unreadable_;
  std::vector<Placement> placements_;
  int settingsCalls_ = 0;
  int listenerCalls_ = 0;
  float distanceFactor_ = 0;
  float rolloffScale_ = 0;
  int clientIdCalls_ = 0;
  int totalCalls_ = 0;
};

}  // namespace halcyra::testing
