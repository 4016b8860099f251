// FakeHost: a host function table whose seven used slots are fakes that record every call and can
// refuse. Every other slot is null, as a host that the plug-in must never call through.
// One FakeHost is active at a time (the table's functions are plain C functions).
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "plugin/host_abi.h"

namespace halcyra::testing {

class FakeHost {
 public:
  FakeHost();   // becomes the active host
  ~FakeHost();  // stops being the active host

  // The table to hand to ts3plugin_setFunctionPointers.
  TS3Functions Table() const;

  // --- what the host answers (set before the calls) ---
  void SetOwnClient(anyID id, const std::string& nickname);
  void SetChannel(const std::vector<anyID>& clientIDs);  // the own channel's list, in order
  void SetNickname(anyID id, const std::string& nickname);
  // Fault switches.
  void RefuseChannelList(bool refuse);
  void MakeNicknameUnreadable(anyID id);

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
  int OutstandingAllocations() const;  // host memory handed out and not yet freed
  int TotalCalls() const;              // every call of any used slot

  static FakeHost* Active();

  // Used by the table's functions.
  unsigned int FreeMemory(void* pointer);
  unsigned int Set3DListener(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward, const TS3_VECTOR* up);
  unsigned int Set3DSettings(uint64 schid, float distanceFactor, float rolloffScale);
  unsigned int Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position);
  unsigned int GetClientID(uint64 schid, anyID* result);
  unsigned int GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag, char** result);
  unsigned int GetChannelClientList(uint64 schid, uint64 channelID, anyID** result);

 private:
  mutable std::mutex mutex_;  // guards everything below
  anyID ownClientID_ = 1;
  std::vector<anyID> channel_;
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
  std::set<void*> allocations_;
};

}  // namespace halcyra::testing
