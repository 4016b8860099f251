#include "fake_host.h"

#include <cstdlib>
#include <cstring>

namespace halcyra::testing {
namespace {

std::mutex g_activeLock;
FakeHost* g_active = nullptr;

unsigned int FreeMemoryThunk(void* pointer) { return FakeHost::Active()->FreeMemory(pointer); }
unsigned int ListenerThunk(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward, const TS3_VECTOR* up) {
  return FakeHost::Active()->Set3DListener(schid, position, forward, up);
}
unsigned int SettingsThunk(uint64 schid, float distanceFactor, float rolloffScale) {
  return FakeHost::Active()->Set3DSettings(schid, distanceFactor, rolloffScale);
}
unsigned int AttributesThunk(uint64 schid, anyID clientID, const TS3_VECTOR* position) {
  return FakeHost::Active()->Set3DAttributes(schid, clientID, position);
}
unsigned int ClientIdThunk(uint64 schid, anyID* result) { return FakeHost::Active()->GetClientID(schid, result); }
unsigned int VariableThunk(uint64 schid, anyID clientID, size_t flag, char** result) {
  return FakeHost::Active()->GetClientVariableAsString(schid, clientID, flag, result);
}
unsigned int ChannelListThunk(uint64 schid, uint64 channelID, anyID** result) {
  return FakeHost::Active()->GetChannelClientList(schid, channelID, result);
}

}  // namespace

FakeHost::FakeHost() {
  std::lock_guard<std::mutex> lock(g_activeLock);
  g_active = this;
}

FakeHost::~FakeHost() {
  std::lock_guard<std::mutex> lock(g_activeLock);
  if (g_active == this) g_active = nullptr;
  for (void* pointer : allocations_) std::free(pointer);
}

FakeHost* FakeHost::Active() {
  std::lock_guard<std::mutex> lock(g_activeLock);
  return g_active;
}

TS3Functions FakeHost::Table() const {
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

void FakeHost::SetOwnClient(anyID id, const std::string& nickname) {
  std::lock_guard<std::mutex> lock(mutex_);
  ownClientID_ = id;
  nicknames_[id] = nickname;
}

void FakeHost::SetChannel(const std::vector<anyID>& clientIDs) {
  std::lock_guard<std::mutex> lock(mutex_);
  channel_ = clientIDs;
}

void FakeHost::SetNickname(anyID id, const std::string& nickname) {
  std::lock_guard<std::mutex> lock(mutex_);
  nicknames_[id] = nickname;
}

void FakeHost::RefuseChannelList(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseChannelList_ = refuse;
}

void FakeHost::MakeNicknameUnreadable(anyID id) {
  std::lock_guard<std::mutex> lock(mutex_);
  unreadable_.insert(id);
}

std::vector<FakeHost::Placement> FakeHost::Placements() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return placements_;
}

void FakeHost::ClearPlacements() {
  std::lock_guard<std::mutex> lock(mutex_);
  placements_.clear();
}

int FakeHost::SettingsCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settingsCalls_;
}

int FakeHost::ListenerCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return listenerCalls_;
}

float FakeHost::LastDistanceFactor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return distanceFactor_;
}

float FakeHost::LastRolloffScale() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rolloffScale_;
}

int FakeHost::ClientIdCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clientIdCalls_;
}

int FakeHost::OutstandingAllocations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(allocations_.size());
}

int FakeHost::TotalCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return totalCalls_;
}

unsigned int FakeHost::FreeMemory(void* pointer) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  if (allocations_.erase(pointer) == 0) return 1;  // not ours: refuse
  std::free(pointer);
  return 0;
}

unsigned int FakeHost::Set3DListener(uint64, const TS3_VECTOR*, const TS3_VECTOR*, const TS3_VECTOR*) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  ++listenerCalls_;
  return 0;
}

unsigned int FakeHost::Set3DSettings(uint64, float distanceFactor, float rolloffScale) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  ++settingsCalls_;
  distanceFactor_ = distanceFactor;
  rolloffScale_ = rolloffScale;
  return 0;
}

unsigned int FakeHost::Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  placements_.push_back({schid, clientID, *position});
  return 0;
}

unsigned int FakeHost::GetClientID(uint64, anyID* result) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  ++clientIdCalls_;
  *result = ownClientID_;
  return 0;
}

unsigned int FakeHost::GetClientVariableAsString(uint64, anyID clientID, size_t flag, char** result) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  auto found = nicknames_.find(clientID);
  if (flag != CLIENT_NICKNAME || unreadable_.count(clientID) || found == nicknames_.end()) return 1;
  char* text = static_cast<char*>(std::malloc(found->second.size() + 1));
  std::memcpy(text, found->second.c_str(), found->second.size() + 1);
  allocations_.insert(text);
  *result = text;
  return 0;
}

unsigned int FakeHost::GetChannelClientList(uint64, uint64, anyID** result) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totalCalls_;
  if (refuseChannelList_) return 1;
  auto* list = static_cast<anyID*>(std::malloc((channel_.size() + 1) * sizeof(anyID)));
  for (size_t i = 0; i < channel_.size(); ++i) list[i] = channel_[i];
  list[channel_.size()] = 0;
  allocations_.insert(list);
  *result = list;
  return 0;
}

}  // namespace halcyra::testing
