#include "loaded_plugin.h"

#include "host_folders.h"

namespace halcyra::testing {

template <typename Function>
void LoadedPlugin::Find(const char* symbol, Function* function) {
  *function = reinterpret_cast<Function>(library_->Symbol(symbol));
  if (*function == nullptr) {
    ok_ = false;
    error_ += std::string("missing export ") + symbol + "; ";
  }
}

LoadedPlugin::LoadedPlugin() {
  library_ = platform::DynamicLibrary::Load(PluginLibraryPath(), &error_);
  if (!library_) return;
  ok_ = true;
  Find("ts3plugin_name", &name);
  Find("ts3plugin_version", &version);
  Find("ts3plugin_apiVersion", &apiVersion);
  Find("ts3plugin_author", &author);
  Find("ts3plugin_description", &description);
  Find("ts3plugin_setFunctionPointers", &setFunctionPointers);
  Find("ts3plugin_init", &init);
  Find("ts3plugin_shutdown", &shutdown);
  Find("ts3plugin_onConnectStatusChangeEvent", &onConnectStatusChangeEvent);
  Find("ts3plugin_onClientMoveEvent", &onClientMoveEvent);
  Find("ts3plugin_onClientMoveMovedEvent", &onClientMoveMovedEvent);
  Find("ts3plugin_onTalkStatusChangeEvent", &onTalkStatusChangeEvent);
  Find("ts3plugin_onEditPlaybackVoiceDataEvent", &onEditPlaybackVoiceDataEvent);
}

}  // namespace halcyra::testing
