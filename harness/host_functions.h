// HostFunctions: the host's function table as a program that hosts the plug-in hands it over. The
// slots the plug-in uses call the active HostFunctions object; every other slot is null, as
// a host that the plug-in must never call through. The table's functions are plain C functions,
// so one object is the active host at a time: the one constructed last.
//
// The base keeps the host memory it hands out (nicknames, client lists) until the plug-in gives it
// back through freeMemory, and frees what is left when it goes away. The plug-in calls from its own
// threads too: allocationsLock_ guards the allocations; a subclass guards its own state with a lock
// that it may hold while it calls HostCopy (so that lock comes before allocationsLock_).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "platform/mutex.h"

namespace halcyra::testing {

class HostFunctions {
 public:
  HostFunctions();           // becomes the active host
  virtual ~HostFunctions();  // stops being it and frees what the plug-in did not give back
  HostFunctions(const HostFunctions&) = delete;
  HostFunctions& operator=(const HostFunctions&) = delete;

  // The table to hand to ts3plugin_setFunctionPointers.
  TS3Functions Table() const;
  static HostFunctions* Active();

  int OutstandingAllocations() const EXCLUDES(allocationsLock_);  // handed out and not given back

  // --- the host functions (called through the table) ---
  // Gives back memory this host handed out; refuses (1) any other pointer.
  virtual unsigned int FreeMemory(void* pointer) EXCLUDES(allocationsLock_);
  // The listener's place and the 3D settings: taken (0) and not kept unless a subclass keeps them.
  virtual unsigned int Set3DListener(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward,
                                     const TS3_VECTOR* up);
  virtual unsigned int Set3DSettings(uint64 schid, float distanceFactor, float rolloffScale);
  virtual unsigned int Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) = 0;
  virtual unsigned int GetClientID(uint64 schid, anyID* result) = 0;
  virtual unsigned int GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag,
                                                 char** result) = 0;
  virtual unsigned int GetChannelClientList(uint64 schid, uint64 channelID, anyID** result) = 0;
  // The host of the TeamSpeak server of the connection: refused (1) unless a subclass tells it.
  virtual unsigned int GetServerConnectInfo(uint64 schid, char* host, unsigned short* port, char* password,
                                            size_t maxLen);
  // The own client's variables (the microphone) and their flush: taken (0) unless a subclass says
  // more. A line in the chat tab: dropped unless a subclass keeps it.
  virtual unsigned int SetClientSelfVariableAsInt(uint64 schid, size_t flag, int value);
  virtual unsigned int FlushClientSelfUpdates(uint64 schid, const char* returnCode);
  virtual void PrintMessageToCurrentTab(const char* message);

 protected:
  // Stops being the active host. A subclass's destructor calls it first, so that no call of the
  // table reaches an object that is being destroyed.
  void Deactivate();
  // Copies into host memory that the plug-in gives back through freeMemory; null when none is left.
  char* HostCopy(const std::string& text) EXCLUDES(allocationsLock_);
  anyID* HostCopy(const std::vector<anyID>& clientIDs) EXCLUDES(allocationsLock_);  // with the final 0

 private:
  void* Allocate(size_t bytes) EXCLUDES(allocationsLock_);

  // A leaf: taken last, after the plug-in's locks and a subclass's own.
  mutable platform::Mutex allocationsLock_;
  std::set<void*> allocations_ GUARDED_BY(allocationsLock_);
};

}  // namespace halcyra::testing
