// RuntimeGuard: what each exported entry point does, for one PluginLifecycle - hand the call to the
// started runtime (an event that arrives while none runs is ignored) and let nothing throw out of
// it. The exports hold one for the library; a program can run the same guard in its own process.
//
// Threads: as the host calls the exports - start and stop on its main thread, the events on any of
// its threads (PluginLifecycle keeps them apart).
#pragma once

#include <optional>
#include <string>

#include "foundation/host_abi.h"
#include "platform/env.h"
#include "plugin/lifecycle.h"

namespace halcyra {

class RuntimeGuard {
 public:
  explicit RuntimeGuard(platform::Env& env) : lifecycle_(env) {}

  void SetFunctionPointers(const TS3Functions& functions) noexcept;
  int Init() noexcept;  // 0 = started, 1 = failed
  void Shutdown() noexcept;

  void OnConnectStatusChange(uint64 schid, int newStatus, unsigned int errorNumber) noexcept;
  void OnClientMove(uint64 schid, anyID clientID, uint64 oldChannelID, uint64 newChannelID, int visibility,
                    const char* moveMessage) noexcept;
  void OnClientMoveMoved(uint64 schid, anyID clientID, uint64 oldChannelID, uint64 newChannelID,
                         int visibility, anyID moverID, const char* moverName,
                         const char* moverUniqueIdentifier, const char* moveMessage) noexcept;
  void OnTalkStatusChange(uint64 schid, int status, int isReceivedWhisper, anyID clientID) noexcept;
  // Edits the samples in place.
  void OnEditPlaybackVoiceData(uint64 schid, anyID clientID, short* samples, int sampleCount,
                               int channels) noexcept;
  void OnHotkeyEvent(const char* keyword) noexcept;
  void OnMenuItemEvent(uint64 schid, int type, int menuItemID, uint64 selectedItemID) noexcept;
  // The info panel's text; nothing when there is none (or no started runtime).
  std::optional<std::string> InfoData(uint64 schid, uint64 id, int type) noexcept;

 private:
  template <typename Handler>
  void WithRuntime(Handler handler) noexcept {
    try {
      lifecycle_.Deliver(handler);
    } catch (...) {
    }
  }

  PluginLifecycle lifecycle_;
};

}  // namespace halcyra
