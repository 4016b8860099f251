// FakeHost: the host function table (HostFunctions) with fakes that record every call and can
// refuse. One FakeHost is active at a time: the one constructed last.
//
// Like a real host it answers only for its one connection (SetConnection; 1 unless set) and only
// the channel that the own client is in (SetChannel): asked for another connection or another
// channel it refuses with an error, as it does for an unknown client.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "host_functions.h"
#include "platform/mutex.h"

namespace halcyra::testing {

class FakeHost : public HostFunctions {
 public:
  FakeHost() = default;  // becomes the active host
  ~FakeHost() override;  // stops being the active host

  // --- what the host answers (set before the calls) ---
  void SetConnection(uint64 serverConnectionHandlerID) EXCLUDES(mutex_);
  void SetOwnClient(anyID id, const std::string& nickname) EXCLUDES(mutex_);
  // The channel the own client is in and its clients, in order.
  void SetChannel(uint64 channelID, const std::vector<anyID>& clientIDs) EXCLUDES(mutex_);
  void SetNickname(anyID id, const std::string& nickname) EXCLUDES(mutex_);
  // The TeamSpeak server's host name or address that getServerConnectInfo tells; empty: refused.
  void SetServerHost(const std::string& host) EXCLUDES(mutex_);
  // Fault switches.
  void RefuseChannelList(bool refuse) EXCLUDES(mutex_);
  void MakeNicknameUnreadable(anyID id) EXCLUDES(mutex_);
  // Which calls of channelset3DAttributes record themselves and then do not return until the block
  // is lifted, as in a host busy with its own shutdown: none, those that put a client back at the
  // listener's position (0, 0, 0), or all.
  enum class Block { kNone, kResets, kAll };
  void BlockPlacements(Block block) EXCLUDES(mutex_);
  int PlacementsInProgress() const EXCLUDES(mutex_);

  // --- what the plug-in did ---
  struct Placement {
    uint64 serverConnectionHandlerID;
    anyID clientID;
    TS3_VECTOR position;
  };
  std::vector<Placement> Placements() const EXCLUDES(mutex_);
  void ClearPlacements() EXCLUDES(mutex_);
  int SettingsCalls() const EXCLUDES(mutex_);  // systemset3DSettings
  int ListenerCalls() const EXCLUDES(mutex_);  // systemset3DListenerAttributes
  float LastDistanceFactor() const EXCLUDES(mutex_);
  float LastRolloffScale() const EXCLUDES(mutex_);
  int ClientIdCalls() const EXCLUDES(mutex_);
  int TotalCalls() const EXCLUDES(mutex_);  // every call of any used slot
  // The calls of systemset3DSettings and systemset3DListenerAttributes in order, with their
  // arguments: "systemset3DSettings <schid> <distance factor> <rolloff scale>" and
  // "systemset3DListenerAttributes <schid> <x,y,z of position> <of forward> <of up>".
  std::vector<std::string> SetupCalls() const EXCLUDES(mutex_);
  // setClientSelfVariableAsInt, each with the stamp (see StampCallsWith) taken when it was made,
  // and the lines printed to the chat tab.
  struct SelfVariableCall {
    uint64 serverConnectionHandlerID;
    size_t flag;
    int value;
    uint64_t stamp;
  };
  std::vector<SelfVariableCall> SelfVariableCalls() const EXCLUDES(mutex_);
  int FlushCalls() const EXCLUDES(mutex_);
  std::vector<std::string> ChatLines() const EXCLUDES(mutex_);
  // Every later self-variable call records stamp(); the function takes no lock the plug-in holds.
  void StampCallsWith(std::function<uint64_t()> stamp) EXCLUDES(mutex_);

  // Used by the table's functions.
  unsigned int FreeMemory(void* pointer) override EXCLUDES(mutex_);
  unsigned int Set3DListener(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward,
                             const TS3_VECTOR* up) override EXCLUDES(mutex_);
  unsigned int Set3DSettings(uint64 schid, float distanceFactor, float rolloffScale) override
      EXCLUDES(mutex_);
  unsigned int Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) override
      EXCLUDES(mutex_);
  unsigned int GetClientID(uint64 schid, anyID* result) override EXCLUDES(mutex_);
  unsigned int GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag, char** result) override
      EXCLUDES(mutex_);
  unsigned int GetChannelClientList(uint64 schid, uint64 channelID, anyID** result) override EXCLUDES(mutex_);
  unsigned int GetServerConnectInfo(uint64 schid, char* host, unsigned short* port, char* password,
                                    size_t maxLen) override EXCLUDES(mutex_);
  unsigned int SetClientSelfVariableAsInt(uint64 schid, size_t flag, int value) override EXCLUDES(mutex_);
  unsigned int FlushClientSelfUpdates(uint64 schid, const char* returnCode) override EXCLUDES(mutex_);
  void PrintMessageToCurrentTab(const char* message) override EXCLUDES(mutex_);

 private:
  bool KnownConnection(uint64 schid) const REQUIRES(mutex_) { return schid == connection_; }

  // A leaf among the plug-in's locks: the plug-in calls the host while it holds its client list
  // lock, so this lock comes after the plug-in's, and before HostFunctions' allocations lock
  // (HostCopy). It is held while a blocked placement waits (the condition variable releases it).
  mutable platform::Mutex mutex_;
  platform::ConditionVariable unblocked_;
  uint64 connection_ GUARDED_BY(mutex_) = 1;
  anyID ownClientID_ GUARDED_BY(mutex_) = 1;
  uint64 channelID_ GUARDED_BY(mutex_) = 0;
  std::vector<anyID> channel_ GUARDED_BY(mutex_);
  Block blockPlacements_ GUARDED_BY(mutex_) = Block::kNone;
  int placementsInProgress_ GUARDED_BY(mutex_) = 0;
  std::vector<std::string> setupCalls_ GUARDED_BY(mutex_);
  std::map<anyID, std::string> nicknames_ GUARDED_BY(mutex_);
  std::string serverHost_ GUARDED_BY(mutex_);
  bool refuseChannelList_ GUARDED_BY(mutex_) = false;
  std::set<anyID> unreadable_ GUARDED_BY(mutex_);
  std::vector<Placement> placements_ GUARDED_BY(mutex_);
  int settingsCalls_ GUARDED_BY(mutex_) = 0;
  int listenerCalls_ GUARDED_BY(mutex_) = 0;
  float distanceFactor_ GUARDED_BY(mutex_) = 0;
  float rolloffScale_ GUARDED_BY(mutex_) = 0;
  int clientIdCalls_ GUARDED_BY(mutex_) = 0;
  int totalCalls_ GUARDED_BY(mutex_) = 0;
  std::vector<SelfVariableCall> selfVariableCalls_ GUARDED_BY(mutex_);
  int flushCalls_ GUARDED_BY(mutex_) = 0;
  std::vector<std::string> chatLines_ GUARDED_BY(mutex_);
  std::function<uint64_t()> stamp_ GUARDED_BY(mutex_);
};

}  // namespace halcyra::testing
