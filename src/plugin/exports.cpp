// The entry points the host calls. Each one only translates its arguments and delegates; nothing
// throws across the C boundary.
#include <cstdlib>
#include <string>

#include "foundation/host_abi.h"
#include "foundation/host_api_version.h"
#include "foundation/version.h"
#include "platform/env.h"
#include "platform/export.h"
#include "platform/mutex.h"
#include "plugin/client_memory.h"
#include "plugin/hotkeys.h"
#include "plugin/menus.h"
#include "plugin/runtime_guard.h"

namespace {

// The plug-in as the host sees it; made at the first call, released when the library is unloaded.
halcyra::RuntimeGuard& Plugin() {
  static halcyra::RuntimeGuard plugin(halcyra::platform::Env::Default());
  return plugin;
}

const std::string& PluginName() {
  static const std::string name = [] {
    std::string converted = halcyra::platform::WideToUtf8(halcyra::kPluginNameWide);
    return converted.empty() ? std::string(halcyra::kPluginNameNarrow) : converted;
  }();
  return name;
}

// The id the client gave the plug-in (ts3plugin_registerPluginID), kept for host functions that
// ask for it. idLock is a leaf.
halcyra::platform::Mutex idLock;
std::string pluginID GUARDED_BY(idLock);

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

// Host main thread, before every other call: the client loads the plug-in only when the answer lies
// in the range it accepts. The API of the running client, chosen on the first call and kept.
HALCYRA_EXPORT int ts3plugin_apiVersion() { return halcyra::CurrentHostApi().api; }

// Host main thread. 1: the client enables the plug-in once it is installed, unless the user has
// disabled it.
HALCYRA_EXPORT int ts3plugin_requestAutoload() { return 1; }

// Host main thread.
HALCYRA_EXPORT const char* ts3plugin_author() { return halcyra::kPluginAuthor; }

// Host main thread.
HALCYRA_EXPORT const char* ts3plugin_description() { return halcyra::kPluginDescription; }

// Host main thread, before ts3plugin_init. Keeps a copy of the whole table.
HALCYRA_EXPORT void ts3plugin_setFunctionPointers(const struct TS3Functions funcs) {
  Plugin().SetFunctionPointers(funcs);
}

// Host main thread. 0 = started, 1 = failed (the host then unloads the library). Events that
// arrive meanwhile are ignored.
HALCYRA_EXPORT int ts3plugin_init() { return Plugin().Init(); }

// Host main thread. Stops every thread and releases every object; returns within about a second.
HALCYRA_EXPORT void ts3plugin_shutdown() { Plugin().Shutdown(); }

// Host thread of the connection.
HALCYRA_EXPORT void ts3plugin_onConnectStatusChangeEvent(uint64 serverConnectionHandlerID, int newStatus,
                                                         unsigned int errorNumber) {
  Plugin().OnConnectStatusChange(serverConnectionHandlerID, newStatus, errorNumber);
}

// Host thread of the connection.
HALCYRA_EXPORT void ts3plugin_onClientMoveEvent(uint64 serverConnectionHandlerID, anyID clientID,
                                                uint64 oldChannelID, uint64 newChannelID, int visibility,
                                                const char* moveMessage) {
  Plugin().OnClientMove(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility,
                        moveMessage);
}

// Host thread of the connection.
HALCYRA_EXPORT void ts3plugin_onClientMoveMovedEvent(uint64 serverConnectionHandlerID, anyID clientID,
                                                     uint64 oldChannelID, uint64 newChannelID, int visibility,
                                                     anyID moverID, const char* moverName,
                                                     const char* moverUniqueIdentifier,
                                                     const char* moveMessage) {
  Plugin().OnClientMoveMoved(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility,
                             moverID, moverName, moverUniqueIdentifier, moveMessage);
}

// Host thread of the connection. Blocks for the station server query (at most about 450 ms).
HALCYRA_EXPORT void ts3plugin_onTalkStatusChangeEvent(uint64 serverConnectionHandlerID, int status,
                                                      int isReceivedWhisper, anyID clientID) {
  Plugin().OnTalkStatusChange(serverConnectionHandlerID, status, isReceivedWhisper, clientID);
}

// Host playback thread, once per voice block of sampleCount frames of channels interleaved samples;
// edits the samples in place.
HALCYRA_EXPORT void ts3plugin_onEditPlaybackVoiceDataEvent(uint64 serverConnectionHandlerID, anyID clientID,
                                                           short* samples, int sampleCount, int channels) {
  Plugin().OnEditPlaybackVoiceData(serverConnectionHandlerID, clientID, samples, sampleCount, channels);
}

// Host main thread, after ts3plugin_init. The text is the client's: it is copied.
HALCYRA_EXPORT void ts3plugin_registerPluginID(const char* id) {
  try {
    halcyra::platform::MutexLock lock(idLock);
    pluginID = id ? id : "";
  } catch (...) {
  }
}

// Any host thread. Gives back what the plug-in allocated for the client (hotkeys, menus, info text).
HALCYRA_EXPORT void ts3plugin_freeMemory(void* data) { std::free(data); }

// Host main thread, after ts3plugin_init: the keywords of the client's key-binding dialog.
HALCYRA_EXPORT void ts3plugin_initHotkeys(struct PluginHotkey*** hotkeys) {
  if (hotkeys != nullptr) *hotkeys = halcyra::AllocateHotkeys();
}

// Client event thread: a bound key was pressed (there is no release).
HALCYRA_EXPORT void ts3plugin_onHotkeyEvent(const char* keyword) { Plugin().OnHotkeyEvent(keyword); }

// Host main thread, after ts3plugin_init: the plug-in's menu items; no icon.
HALCYRA_EXPORT void ts3plugin_initMenus(struct PluginMenuItem*** menuItems, char** menuIcon) {
  if (menuItems != nullptr) *menuItems = halcyra::AllocateMenus();
  if (menuIcon != nullptr) *menuIcon = nullptr;
}

// Client event thread.
HALCYRA_EXPORT void ts3plugin_onMenuItemEvent(uint64 serverConnectionHandlerID, enum PluginMenuType type,
                                              int menuItemID, uint64 selectedItemID) {
  Plugin().OnMenuItemEvent(serverConnectionHandlerID, type, menuItemID, selectedItemID);
}

// Client event thread. The title of the plug-in's block in the info panel.
HALCYRA_EXPORT const char* ts3plugin_infoTitle() { return halcyra::kPluginNameNarrow; }

// Client event thread, when the user selects something: for a client of the own channel what the
// radios make of him, for the own client the own station; made from the current records only.
HALCYRA_EXPORT void ts3plugin_infoData(uint64 serverConnectionHandlerID, uint64 id, enum PluginItemType type,
                                       char** data) {
  if (data == nullptr) return;
  *data = nullptr;
  std::optional<std::string> text = Plugin().InfoData(serverConnectionHandlerID, id, type);
  if (text) *data = halcyra::AllocateText(*text);
}

}  // extern "C"
