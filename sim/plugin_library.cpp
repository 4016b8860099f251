#include "plugin_library.h"

namespace halcyra::sim {
namespace {

template <typename Function>
bool Find(platform::DynamicLibrary& library, const char* symbol, Function* function, std::string* missing) {
  *function = reinterpret_cast<Function>(library.Symbol(symbol));
  if (*function == nullptr) *missing += std::string(missing->empty() ? "" : ", ") + symbol;
  return *function != nullptr;
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path, std::string* error) {
  auto plugin = std::unique_ptr<PluginLibrary>(new PluginLibrary);
  std::string reason;
  plugin->library_ = platform::DynamicLibrary::Load(path, &reason);
  if (!plugin->library_) {
    *error = "cannot load the plug-in " + path + ": " + reason;
    return nullptr;
  }
  platform::DynamicLibrary& library = *plugin->library_;
  PluginEntryPoints& entry = plugin->entry_;
  std::string missing;
  Find(library, "ts3plugin_name", &entry.name, &missing);
  Find(library, "ts3plugin_version", &entry.version, &missing);
  Find(library, "ts3plugin_apiVersion", &entry.apiVersion, &missing);
  Find(library, "ts3plugin_setFunctionPointers", &entry.setFunctionPointers, &missing);
  Find(library, "ts3plugin_init", &entry.init, &missing);
  Find(library, "ts3plugin_shutdown", &entry.shutdown, &missing);
  Find(library, "ts3plugin_onConnectStatusChangeEvent", &entry.onConnectStatusChangeEvent, &missing);
  Find(library, "ts3plugin_onClientMoveEvent", &entry.onClientMoveEvent, &missing);
  Find(library, "ts3plugin_onTalkStatusChangeEvent", &entry.onTalkStatusChangeEvent, &missing);
  Find(library, "ts3plugin_onEditPlaybackVoiceDataEvent", &entry.onEditPlaybackVoiceDataEvent, &missing);
  if (!missing.empty()) {
    *error = path + " is not a usable plug-in: missing " + missing;
    return nullptr;
  }
  int api = entry.apiVersion();
  if (api != kHostApiVersion) {
    *error = path + " is built for host API " + std::to_string(api) + ", this runner hosts API " +
             std::to_string(kHostApiVersion) + " (use the plug-in of the same build)";
    return nullptr;
  }
  return plugin;
}

}  // namespace halcyra::sim
