#include "fake_host.h"

#include <chrono>
#include <cstdio>

namespace halcyra::testing {
namespace {

// The host's answer to a call for a connection it does not have.
constexpr unsigned int kInvalidConnection = 0x0200;

std::string Vector(const TS3_VECTOR* vector) {
  if (vector == nullptr) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%g,%g,%g", vector->x, vector->y, vector->z);
  return text;
}

}  // namespace

FakeHost::~FakeHost() {
  Deactivate();
  // A call held by BlockPlacements may still be inside: let it go and leave first.
  platform::MutexLock lock(mutex_);
  blockPlacements_ = Block::kNone;
  unblocked_.NotifyAll();
  unblocked_.WaitFor(lock, std::chrono::seconds(5),
                     [this]() REQUIRES(mutex_) { return placementsInProgress_ == 0; });
}

void FakeHost::SetConnection(uint64 serverConnectionHandlerID) {
  platform::MutexLock lock(mutex_);
  connection_ = serverConnectionHandlerID;
}

void FakeHost::SetOwnClient(anyID id, const std::string& nickname) {
  platform::MutexLock lock(mutex_);
  ownClientID_ = id;
  nicknames_[id] = nickname;
}

void FakeHost::SetChannel(uint64 channelID, const std::vector<anyID>& clientIDs) {
  platform::MutexLock lock(mutex_);
  channelID_ = channelID;
  channel_ = clientIDs;
}

void FakeHost::SetNickname(anyID id, const std::string& nickname) {
  platform::MutexLock lock(mutex_);
  nicknames_[id] = nickname;
}

void FakeHost::SetServerHost(const std::string& host) {
  platform::MutexLock lock(mutex_);
  serverHost_ = host;
}

unsigned int FakeHost::GetServerConnectInfo(uint64 schid, char* host, unsigned short* port, char* password,
                                            size_t maxLen) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  if (!KnownConnection(schid) || serverHost_.empty() || host == nullptr || maxLen == 0) return 1;
  std::snprintf(host, maxLen, "%s", serverHost_.c_str());
  if (port) *port = 9987;
  if (password) password[0] = '\0';
  return 0;
}

void FakeHost::RefuseChannelList(bool refuse) {
  platform::MutexLock lock(mutex_);
  refuseChannelList_ = refuse;
}

void FakeHost::MakeNicknameUnreadable(anyID id) {
  platform::MutexLock lock(mutex_);
  unreadable_.insert(id);
}

void FakeHost::BlockPlacements(Block block) {
  {
    platform::MutexLock lock(mutex_);
    blockPlacements_ = block;
  }
  unblocked_.NotifyAll();
}

int FakeHost::PlacementsInProgress() const {
  platform::MutexLock lock(mutex_);
  return placementsInProgress_;
}

std::vector<std::string> FakeHost::SetupCalls() const {
  platform::MutexLock lock(mutex_);
  return setupCalls_;
}

std::vector<FakeHost::Placement> FakeHost::Placements() const {
  platform::MutexLock lock(mutex_);
  return placements_;
}

void FakeHost::ClearPlacements() {
  platform::MutexLock lock(mutex_);
  placements_.clear();
}

int FakeHost::SettingsCalls() const {
  platform::MutexLock lock(mutex_);
  return settingsCalls_;
}

int FakeHost::ListenerCalls() const {
  platform::MutexLock lock(mutex_);
  return listenerCalls_;
}

float FakeHost::LastDistanceFactor() const {
  platform::MutexLock lock(mutex_);
  return distanceFactor_;
}

float FakeHost::LastRolloffScale() const {
  platform::MutexLock lock(mutex_);
  return rolloffScale_;
}

int FakeHost::ClientIdCalls() const {
  platform::MutexLock lock(mutex_);
  return clientIdCalls_;
}

int FakeHost::TotalCalls() const {
  platform::MutexLock lock(mutex_);
  return totalCalls_;
}

unsigned int FakeHost::FreeMemory(void* pointer) {
  {
    platform::MutexLock lock(mutex_);
    ++totalCalls_;
  }
  return HostFunctions::FreeMemory(pointer);
}

unsigned int FakeHost::Set3DListener(uint64 schid, const TS3_VECTOR* position, const TS3_VECTOR* forward,
                                     const TS3_VECTOR* up) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  ++listenerCalls_;
  setupCalls_.push_back("systemset3DListenerAttributes " + std::to_string(schid) + " " + Vector(position) +
                        " " + Vector(forward) + " " + Vector(up));
  return KnownConnection(schid) ? 0 : kInvalidConnection;
}

unsigned int FakeHost::Set3DSettings(uint64 schid, float distanceFactor, float rolloffScale) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  ++settingsCalls_;
  distanceFactor_ = distanceFactor;
  rolloffScale_ = rolloffScale;
  char text[96];
  std::snprintf(text, sizeof text, "systemset3DSettings %llu %g %g", static_cast<unsigned long long>(schid),
                distanceFactor, rolloffScale);
  setupCalls_.push_back(text);
  return KnownConnection(schid) ? 0 : kInvalidConnection;
}

unsigned int FakeHost::Set3DAttributes(uint64 schid, anyID clientID, const TS3_VECTOR* position) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  placements_.push_back({schid, clientID, *position});
  ++placementsInProgress_;
  bool reset = position->x == 0 && position->y == 0 && position->z == 0;
  unblocked_.Wait(lock, [this, reset]() REQUIRES(mutex_) {
    return blockPlacements_ == Block::kNone || (blockPlacements_ == Block::kResets && !reset);
  });
  --placementsInProgress_;
  unblocked_.NotifyAll();
  return KnownConnection(schid) ? 0 : kInvalidConnection;
}

unsigned int FakeHost::GetClientID(uint64 schid, anyID* result) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  ++clientIdCalls_;
  if (!KnownConnection(schid)) return kInvalidConnection;
  *result = ownClientID_;
  return 0;
}

unsigned int FakeHost::GetClientVariableAsString(uint64 schid, anyID clientID, size_t flag, char** result) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  if (!KnownConnection(schid)) return kInvalidConnection;
  auto found = nicknames_.find(clientID);
  if (flag != CLIENT_NICKNAME || unreadable_.count(clientID) || found == nicknames_.end()) return 1;
  *result = HostCopy(found->second);
  return *result != nullptr ? 0 : 1;
}

unsigned int FakeHost::GetChannelClientList(uint64 schid, uint64 channelID, anyID** result) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  if (!KnownConnection(schid)) return kInvalidConnection;
  if (refuseChannelList_ || channelID != channelID_) return 1;
  *result = HostCopy(channel_);
  return *result != nullptr ? 0 : 1;
}

std::vector<FakeHost::SelfVariableCall> FakeHost::SelfVariableCalls() const {
  platform::MutexLock lock(mutex_);
  return selfVariableCalls_;
}

int FakeHost::FlushCalls() const {
  platform::MutexLock lock(mutex_);
  return flushCalls_;
}

std::vector<std::string> FakeHost::ChatLines() const {
  platform::MutexLock lock(mutex_);
  return chatLines_;
}

void FakeHost::StampCallsWith(std::function<uint64_t()> stamp) {
  platform::MutexLock lock(mutex_);
  stamp_ = std::move(stamp);
}

unsigned int FakeHost::SetClientSelfVariableAsInt(uint64 schid, size_t flag, int value) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  selfVariableCalls_.push_back({schid, flag, value, stamp_ ? stamp_() : 0});
  return KnownConnection(schid) ? 0 : kInvalidConnection;
}

unsigned int FakeHost::FlushClientSelfUpdates(uint64 schid, const char*) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  ++flushCalls_;
  return KnownConnection(schid) ? 0 : kInvalidConnection;
}

void FakeHost::PrintMessageToCurrentTab(const char* message) {
  platform::MutexLock lock(mutex_);
  ++totalCalls_;
  chatLines_.push_back(message ? message : "(null)");
}

}  // namespace halcyra::testing
