#include "sim_host.h"

#include <cstdlib>
#include <cstring>

namespace halcyra::sim {
namespace {

constexpr unsigned int kOk = 0;
constexpr unsigned int kFailed = 1;

platform::Mutex g_activeLock;
SimHost* g_active GUARDED_BY(g_activeLock) = nullptr;

SimHost* Active() EXCLUDES(g_activeLock) {
  platform::MutexLock lock(g_activeLock);
  return g_active;
}

unsigned int FreeMemoryThunk(void* pointer) {
  SimHost* host = Active();
  return host ? host->FreeMemory(pointer) : kFailed;
}
unsigned int ListenerThunk(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward,
                           const TS3_VECTOR* up) {
  SimHost* host = Active();
  return host ? host->Set3DListener(schid, position, forward, up) : kFailed;
}
unsigned int SettingsThunk(uint64 schid, float distanceFactor, float rolloffScale) {
  SimHost* host = Active();
  return host ? host->Set3DSettings(schid, distanceFactor, rolloffScale) : kFailed;
}
unsigned int AttributesThunk(uint64 schid, anyID clientID, const TS3_VECTOR* position) {
  SimHost* host = Active();
  return host ? host->Set3DAttributes(schid, clientID, position) : kFailed;
}
unsigned int ClientIdThunk(uint64 schid, anyID* result) {
  SimHost* host = Active();
  return host ? host->GetClientID(schid, result) : kFailed;
}
unsigned int VariableThunk(uint64 schid, anyID clientID, size_t flag, char** result) {
  SimHost* host = Active();
  return host ? host->GetClientVariableAsString(schid, clientID, flag, result) : kFailed;
}
unsigned int ChannelListThunk(uint64 schid, uint64 channelID, anyID** result) {
  SimHost* host = Active();
  return host ? host->GetChannelClientList(schid, channelID, result) : kFailed;
}

}  // namespace

SimHost::SimHost(const std::string& ownNickname) {
  channel_.push_back(kOwnClientID);
  nicknames_[kOwnClientID] = ownNickname;
  platform::MutexLock lock(g_activeLock);
  g_active = this;
}

SimHost::~SimHost() {
  {
    platform::MutexLock lock(g_activeLock);
    if (g_active == this) g_active = nullptr;
  }
  for (void* pointer : allocations_) std::free(pointer);
}

void SimHost::AddClient(anyID clientID, const std::string& nickname) {
  platform::MutexLock lock(lock_);
  channel_.push_back(clientID);
  nicknames_[clientID] = nickname;
}

TS3Functions SimHost::Table() const {
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

std::vector<Placement> SimHost::Placements() const {
  platform::MutexLock lock(lock_);
  return placements_;
}

TS3_VECTOR SimHost::PositionOf(anyID clientID) const {
  platform::MutexLock lock(lock_);
  auto found = positions_.find(clientID);
  return found == positions_.end() ? TS3_VECTOR{0, 0, 0} : found->second;
}

int SimHost::OutstandingAllocations() const {
  platform::MutexLock lock(lock_);
  return static_cast<int>(allocations_.size());
}

unsigned int SimHost::FreeMemory(void* pointer) {
  platform::MutexLock lock(lock_);
  if (allocations_.erase(pointer) == 0) return kFailed;  // not handed out by this host
  std::free(pointer);
  return kOk;
}

unsigned int SimHost::Set3DListener(uint64, const TS3_VECTOR*, const TS3_VECTOR*, const TS3_VECTOR*) {
  return kOk;
}

unsigned int SimHost::Set3DSettings(uint64, float, float) { return kOk; }

unsigned int SimHost::Set3DAttributes(uint64, anyID clientID, const TS3_VECTOR* position) {
  if (position == nullptr) return kFailed;
  platform::MutexLock lock(lock_);
  placements_.push_back({clock_.load(), clientID, *position});
  positions_[clientID] = *position;
  return kOk;
}

unsigned int SimHost::GetClientID(uint64, anyID* result) {
  if (result == nullptr) return kFailed;
  *result = kOwnClientID;
  return kOk;
}

unsigned int SimHost::GetClientVariableAsString(uint64, anyID clientID, size_t flag, char** result) {
  platform::MutexLock lock(lock_);
  auto found = nicknames_.find(clientID);
  if (result == nullptr || flag != CLIENT_NICKNAME || found == nicknames_.end()) return kFailed;
  char* text = static_cast<char*>(std::malloc(found->second.size() + 1));
  if (text == nullptr) return kFailed;
  std::memcpy(text, found->second.c_str(), found->second.size() + 1);
  allocations_.insert(text);
  *result = text;
  return kOk;
}

unsigned int SimHost::GetChannelClientList(uint64, uint64 channelID, anyID** result) {
  platform::MutexLock lock(lock_);
  if (result == nullptr || channelID != kChannel) return kFailed;
  auto* list = static_cast<anyID*>(std::malloc((channel_.size() + 1) * sizeof(anyID)));
  if (list == nullptr) return kFailed;
  for (size_t i = 0; i < channel_.size(); ++i) list[i] = channel_[i];
  list[channel_.size()] = 0;
  allocations_.insert(list);
  *result = list;
  return kOk;
}

}  // namespace halcyra::sim
