// The entry points the host calls. Each one only translates its arguments and delegates; nothing
// throws across the C boundary.
#include <string>

#include "foundation/host_abi.h"
#include "foundation/version.h"
#include "platform/env.h"
#include "platform/export.h"
#include "plugin/lifecycle.h"

namespace {

using halcyra::PluginRuntime;

// The plug-in as the host sees it; made at the first call, released when the library is unloaded.
halcyra::PluginLifecycle& Lifecycle() {
  static halcyra::PluginLifecycle lifecycle(halcyra::platform::Env::Default());
  return lifecycle;
}

template <typename Handler>
void WithRuntime(Handler handler) noexcept {
  try {
    Lifecycle().Deliver(handler);
  } catch (...) {
  }
}

const std::string& PluginName() {
  static const std::string name = [] {
    std::string converted = halcyra::platform::WideToUtf8(halcyra::kPluginNameWide);
    return converted.empty() ? std::string(halcyra::kPluginNameNarrow) : converted;
  }();
  return name;
}

}  // namespace

extern "C" {

// Host main thread. The UTF-8 name, made on the first call; the same pointer every time.
HALCYRA_EXPORT const char* ts3plugin_name() {
  try {
    return PluginName().c_str();
  } catch (...) {
    return halcyra::kPluginNameNarrow;
  }
}

// Host main thread.
HALCYRA_EXPORT const char* ts3plugin_version() { return halcyra::kPluginVersion; }

// Host main thread.
HALCYRA_EXPORT int ts3plugin_apiVersion() { return halcyra::kHostApiVersion; }

// Host main thread.
HALCYRA_EXPORT const char* ts3plugin_author() { return halcyra::kPluginAuthor; }

// Host main thread.
HALCYRA_EXPORT const char* ts3plugin_description() { return halcyra::kPluginDescription; }

// Host main thread, before ts3plugin_init. Keeps a copy of the whole table.
HALCYRA_EXPORT void ts3plugin_setFunctionPointers(const struct TS3Functions funcs) {
  try {
    Lifecycle().SetFunctionPointers(funcs);
  } catch (...) {
  }
}

// Host main thread. 0 = started, 1 = failed (the host then unloads the library). Events that
// arrive meanwhile are ignored.
HALCYRA_EXPORT int ts3plugin_init() {
  try {
    return Lifecycle().Init();
  } catch (...) {
    return 1;
  }
}

// Host main thread. Stops every thread and releases every object; returns within about a second.
HALCYRA_EXPORT void ts3plugin_shutdown() {
  try {
    Lifecycle().Shutdown();
  } catch (...) {
  }
}

// Host thread of the connection.
HALCYRA_EXPORT void ts3plugin_onConnectStatusChangeEvent(uint64 serverConnectionHandlerID, int newStatus,
                                                          unsigned int errorNumber) {
  WithRuntime([&](PluginRuntime& r) { r.OnConnectStatusChange(serverConnectionHandlerID, newStatus, errorNumber); });
}

// Host thread of the connection.
HALCYRA_EXPORT void ts3plugin_onClientMoveEvent(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                                                 uint64 newChannelID, int visibility, const char* moveMessage) {
  WithRuntime([&](PluginRuntime& r) {
    r.OnClientMove(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility, moveMessage);
  });
}

// Host thread of the connection.
HALCYRA_EXPORT void ts3plugin_onClientMoveMovedEvent(uint64 serverConnectionHandlerID, anyID clientID,
                                                      uint64 oldChannelID, uint64 newChannelID, int visibility,
                                                      anyID moverID, const char* moverName,
                                                      const char* moverUniqueIdentifier, const char* moveMessage) {
  WithRuntime([&](PluginRuntime& r) {
    r.OnClientMoveMoved(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility, moverID,
                        moverName, moverUniqueIdentifier, moveMessage);
  });
}

// Host thread of the connection. Blocks for the station server query (at most about 450 ms).
HALCYRA_EXPORT void ts3plugin_onTalkStatusChangeEvent(uint64 serverConnectionHandlerID, int status,
                                                       int isReceivedWhisper, anyID clientID) {
  WithRuntime([&](PluginRuntime& r) {
    r.OnTalkStatusChange(serverConnectionHandlerID, status, isReceivedWhisper, clientID);
  });
}

// Host playback thread, once per voice block; edits the samples in place.
HALCYRA_EXPORT void ts3plugin_onEditPlaybackVoiceDataEvent(uint64 serverConnectionHandlerID, anyID clientID,
                                                            short* samples, int sampleCount, int channels) {
  WithRuntime([&](PluginRuntime& r) {
    r.OnEditPlaybackVoiceData(serverConnectionHandlerID, clientID, samples, sampleCount, channels);
  });
}

}  // extern "C"
