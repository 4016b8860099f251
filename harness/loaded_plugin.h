// The built plug-in library loaded as the host loads it: by file, with its exports found by name.
#pragma once

#include <memory>
#include <string>

#include "foundation/host_abi.h"
#include "platform/dynamic_library.h"

namespace halcyra::testing {

class LoadedPlugin {
 public:
  LoadedPlugin();  // loads PluginLibraryPath()
  // Loads the library at path; ok() tells whether it loaded with every export, error() why not.
  explicit LoadedPlugin(const std::string& path);
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  const char* (*name)() = nullptr;
  const char* (*version)() = nullptr;
  int (*apiVersion)() = nullptr;
  int (*requestAutoload)() = nullptr;
  const char* (*author)() = nullptr;
  const char* (*description)() = nullptr;
  void (*setFunctionPointers)(const TS3Functions) = nullptr;
  int (*init)() = nullptr;
  void (*shutdown)() = nullptr;
  void (*onConnectStatusChangeEvent)(uint64, int, unsigned int) = nullptr;
  void (*onClientMoveEvent)(uint64, anyID, uint64, uint64, int, const char*) = nullptr;
  void (*onClientMoveMovedEvent)(uint64, anyID, uint64, uint64, int, anyID, const char*, const char*,
                                 const char*) = nullptr;
  void (*onTalkStatusChangeEvent)(uint64, int, int, anyID) = nullptr;
  void (*onEditPlaybackVoiceDataEvent)(uint64, anyID, short*, int, int) = nullptr;
  void (*registerPluginID)(const char*) = nullptr;
  void (*freeMemory)(void*) = nullptr;
  void (*initHotkeys)(PluginHotkey***) = nullptr;
  void (*onHotkeyEvent)(const char*) = nullptr;
  void (*initMenus)(PluginMenuItem***, char**) = nullptr;
  void (*onMenuItemEvent)(uint64, PluginMenuType, int, uint64) = nullptr;
  const char* (*infoTitle)() = nullptr;
  void (*infoData)(uint64, uint64, PluginItemType, char**) = nullptr;

  // The info panel's text for an item as the client gets it, given back through freeMemory; empty
  // when the plug-in has none.
  std::string InfoText(uint64 serverConnectionHandlerID, uint64 id, PluginItemType type) const;

 private:
  template <typename Function>
  void Find(const char* symbol, Function* function, std::string* missing);

  std::unique_ptr<platform::DynamicLibrary> library_;
  bool ok_ = false;
  std::string error_;
};

}  // namespace halcyra::testing
