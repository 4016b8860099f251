#include "sim_host.h"

namespace halcyra::sim {
namespace {

constexpr unsigned int kOk = 0;
constexpr unsigned int kFailed = 1;

}  // namespace

SimHost::SimHost(const std::string& ownNickname) {
  channel_.push_back(kOwnClientID);
  nicknames_[kOwnClientID] = ownNickname;
}

SimHost::~SimHost() { Deactivate(); }

void SimHost::AddClient(anyID clientID, const std::string& nickname) {
  platform::MutexLock lock(lock_);
  channel_.push_back(clientID);
  nicknames_[clientID] = nickname;
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
  *result = HostCopy(found->second);
  return *result != nullptr ? kOk : kFailed;
}

unsigned int SimHost::GetChannelClientList(uint64, uint64 channelID, anyID** result) {
  platform::MutexLock lock(lock_);
  if (result == nullptr || channelID != kChannel) return kFailed;
  *result = HostCopy(channel_);
  return *result != nullptr ? kOk : kFailed;
}

}  // namespace halcyra::sim
