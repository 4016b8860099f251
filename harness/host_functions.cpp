#include "host_functions.h"

#include <cstdlib>
#include <cstring>

namespace halcyra::testing {
namespace {

// The answer of a table whose host went away (a call after the program's host was destroyed).
constexpr unsigned int kNoHost = 1;

std::mutex g_activeLock;  // guards g_active
HostFunctions* g_active = nullptr;

unsigned int FreeMemoryThunk(void* pointer) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->FreeMemory(pointer) : kNoHost;
}
unsigned int ListenerThunk(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward, const TS3_VECTOR* up) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->Set3DListener(schid, position, forward, up) : kNoHost;
}
unsigned int SettingsThunk(uint64 schid, float distanceFactor, float rolloffScale) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->Set3DSettings(schid, distanceFactor, rolloffScale) : kNoHost;
}
unsigned int AttributesThunk(uint64 schid, anyID clientID, const TS3_VECTOR* position) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->Set3DAttributes(schid, clientID, position) : kNoHost;
}
unsigned int ClientIdThunk(uint64 schid, anyID* result) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->GetClientID(schid, result) : kNoHost;
}
unsigned int VariableThunk(uint64 schid, anyID clientID, size_t flag, char** result) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->GetClientVariableAsString(schid, clientID, flag, result) : kNoHost;
}
unsigned int ChannelListThunk(uint64 schid, uint64 channelID, anyID** result) {
  HostFunctions* host = HostFunctions::Active();
  return host ? host->GetChannelClientList(schid, channelID, result) : kNoHost;
}

}  // namespace

HostFunctions::HostFunctions() {
  std::lock_guard<std::mutex> lock(g_activeLock);
  g_active = this;
}

HostFunctions::~HostFunctions() {
  Deactivate();
  std::lock_guard<std::mutex> lock(allocationsLock_);
  for (void* pointer : allocations_) std::free(pointer);
}

void HostFunctions::Deactivate() {
  std::lock_guard<std::mutex> lock(g_activeLock);
  if (g_active == this) g_active = nullptr;
}

HostFunctions* HostFunctions::Active() {
  std::lock_guard<std::mutex> lock(g_activeLock);
  return g_active;
}

TS3Functions HostFunctions::Table() const {
  TS3Functions table;
  std::memset(&table, 0, sizeof table);
  table.freeMemory = &FreeMemoryThunk;
  table.systemset3DListenerAttributes = &ListenerThunk;
  table.systemset3DSettings = &SettingsThunk;
  table.channelset3DAttributes = &AttributesThunk;
  table.getClientID = &ClientIdThunk;
  table.getClientVariableAsString = &VariableThunk;
  table.getChannelClientList = &ChannelListThunk;
  return table;
}

int HostFunctions::OutstandingAllocations() const {
  std::lock_guard<std::mutex> lock(allocationsLock_);
  return static_cast<int>(allocations_.size());
}

unsigned int HostFunctions::FreeMemory(void* pointer) {
  std::lock_guard<std::mutex> lock(allocationsLock_);
  if (allocations_.erase(pointer) == 0) return 1;  // not handed out by this host
  std::free(pointer);
  return 0;
}

unsigned int HostFunctions::Set3DListener(uint64, const TS3_VECTOR*, const TS3_VECTOR*, const TS3_VECTOR*) {
  return 0;
}

unsigned int HostFunctions::Set3DSettings(uint64, float, float) { return 0; }

void* HostFunctions::Allocate(size_t bytes) {
  void* memory = std::malloc(bytes);
  if (memory == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(allocationsLock_);
  allocations_.insert(memory);
  return memory;
}

char* HostFunctions::HostCopy(const std::string& text) {
  auto* copy = static_cast<char*>(Allocate(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

anyID* HostFunctions::HostCopy(const std::vector<anyID>& clientIDs) {
  auto* list = static_cast<anyID*>(Allocate((clientIDs.size() + 1) * sizeof(anyID)));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < clientIDs.size(); ++i) list[i] = clientIDs[i];
  list[clientIDs.size()] = 0;
  return list;
}

}  // namespace halcyra::testing
