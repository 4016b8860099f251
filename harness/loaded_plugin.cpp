#include "loaded_plugin.h"

#include "host_folders.h"

namespace halcyra::testing {

template <typename Function>
void LoadedPlugin::Find(const char* symbol, Function* function, std::string* missing) {
  *function = reinterpret_cast<Function>(library_->Symbol(symbol));
  if (*function == nullptr) *missing += std::string(missing->empty() ? "" : ", ") + symbol;
}

LoadedPlugin::LoadedPlugin() : LoadedPlugin(PluginLibraryPath()) {}

LoadedPlugin::LoadedPlugin(const std::string& path) {
  std::string reason;
  library_ = platform::DynamicLibrary::Load(path, &reason);
  if (!library_) {
    error_ = "cannot load the plug-in " + path + ": " + reason;
    return;
  }
  std::string missing;
  Find("ts3plugin_name", &name, &missing);
  Find("ts3plugin_version", &version, &missing);
  Find("ts3plugin_apiVersion", &apiVersion, &missing);
  Find("ts3plugin_requestAutoload", &requestAutoload, &missing);
  Find("ts3plugin_author", &author, &missing);
  Find("ts3plugin_description", &description, &missing);
  Find("ts3plugin_setFunctionPointers", &setFunctionPointers, &missing);
  Find("ts3plugin_init", &init, &missing);
  Find("ts3plugin_shutdown", &shutdown, &missing);
  Find("ts3plugin_onConnectStatusChangeEvent", &onConnectStatusChangeEvent, &missing);
  Find("ts3plugin_onClientMoveEvent", &onClientMoveEvent, &missing);
  Find("ts3plugin_onClientMoveMovedEvent", &onClientMoveMovedEvent, &missing);
  Find("ts3plugin_onTalkStatusChangeEvent", &onTalkStatusChangeEvent, &missing);
  Find("ts3plugin_onEditPlaybackVoiceDataEvent", &onEditPlaybackVoiceDataEvent, &missing);
  Find("ts3plugin_registerPluginID", &registerPluginID, &missing);
  Find("ts3plugin_freeMemory", &freeMemory, &missing);
  Find("ts3plugin_initHotkeys", &initHotkeys, &missing);
  Find("ts3plugin_onHotkeyEvent", &onHotkeyEvent, &missing);
  Find("ts3plugin_initMenus", &initMenus, &missing);
  Find("ts3plugin_onMenuItemEvent", &onMenuItemEvent, &missing);
  Find("ts3plugin_infoTitle", &infoTitle, &missing);
  Find("ts3plugin_infoData", &infoData, &missing);
  ok_ = missing.empty();
  if (!ok_) error_ = path + " is not a usable plug-in: missing " + missing;
}

std::string LoadedPlugin::InfoText(uint64 serverConnectionHandlerID, uint64 id, PluginItemType type) const {
  char* data = nullptr;
  infoData(serverConnectionHandlerID, id, type, &data);
  if (data == nullptr) return "";
  std::string text = data;
  freeMemory(data);
  return text;
}

}  // namespace halcyra::testing
