#include "plugin/runtime_guard.h"

namespace halcyra {

void RuntimeGuard::SetFunctionPointers(const TS3Functions& functions) noexcept {
  try {
    lifecycle_.SetFunctionPointers(functions);
  } catch (...) {
  }
}

int RuntimeGuard::Init() noexcept {
  try {
    return lifecycle_.Init();
  } catch (...) {
    return 1;
  }
}

void RuntimeGuard::Shutdown() noexcept {
  try {
    lifecycle_.Shutdown();
  } catch (...) {
  }
}

void RuntimeGuard::OnConnectStatusChange(uint64 schid, int newStatus, unsigned int errorNumber) noexcept {
  WithRuntime([&](PluginRuntime& r) { r.OnConnectStatusChange(schid, newStatus, errorNumber); });
}

void RuntimeGuard::OnClientMove(uint64 schid, anyID clientID, uint64 oldChannelID, uint64 newChannelID,
                                int visibility, const char* moveMessage) noexcept {
  WithRuntime([&](PluginRuntime& r) {
    r.OnClientMove(schid, clientID, oldChannelID, newChannelID, visibility, moveMessage);
  });
}

void RuntimeGuard::OnClientMoveMoved(uint64 schid, anyID clientID, uint64 oldChannelID, uint64 newChannelID,
                                     int visibility, anyID moverID, const char* moverName,
                                     const char* moverUniqueIdentifier, const char* moveMessage) noexcept {
  WithRuntime([&](PluginRuntime& r) {
    r.OnClientMoveMoved(schid, clientID, oldChannelID, newChannelID, visibility, moverID, moverName,
                        moverUniqueIdentifier, moveMessage);
  });
}

void RuntimeGuard::OnTalkStatusChange(uint64 schid, int status, int isReceivedWhisper,
                                      anyID clientID) noexcept {
  WithRuntime([&](PluginRuntime& r) { r.OnTalkStatusChange(schid, status, isReceivedWhisper, clientID); });
}

void RuntimeGuard::OnEditPlaybackVoiceData(uint64 schid, anyID clientID, short* samples, int sampleCount,
                                           int channels) noexcept {
  WithRuntime(
      [&](PluginRuntime& r) { r.OnEditPlaybackVoiceData(schid, clientID, samples, sampleCount, channels); });
}

void RuntimeGuard::OnHotkeyEvent(const char* keyword) noexcept {
  WithRuntime([&](PluginRuntime& r) { r.OnHotkeyEvent(keyword); });
}

void RuntimeGuard::OnMenuItemEvent(uint64 schid, int type, int menuItemID, uint64 selectedItemID) noexcept {
  WithRuntime([&](PluginRuntime& r) { r.OnMenuItemEvent(schid, type, menuItemID, selectedItemID); });
}

std::optional<std::string> RuntimeGuard::InfoData(uint64 schid, uint64 id, int type) noexcept {
  try {
    std::optional<std::string> text;
    lifecycle_.Deliver([&](PluginRuntime& r) { text = r.InfoData(schid, id, type); });
    return text;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace halcyra
