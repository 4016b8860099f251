// The plug-in library loaded as a host loads it: by file, with its entry points found by name.
#pragma once

#include <memory>
#include <string>

#include "foundation/host_abi.h"
#include "platform/dynamic_library.h"

namespace halcyra::sim {

struct PluginEntryPoints {
  const char* (*name)() = nullptr;
  const char* (*version)() = nullptr;
  int (*apiVersion)() = nullptr;
  void (*setFunctionPointers)(const TS3Functions) = nullptr;
  int (*init)() = nullptr;
  void (*shutdown)() = nullptr;
  void (*onConnectStatusChangeEvent)(uint64, int, unsigned int) = nullptr;
  void (*onClientMoveEvent)(uint64, anyID, uint64, uint64, int, const char*) = nullptr;
  void (*onTalkStatusChangeEvent)(uint64, int, int, anyID) = nullptr;
  void (*onEditPlaybackVoiceDataEvent)(uint64, anyID, short*, int, int) = nullptr;
};

class PluginLibrary {
 public:
  // Loads the library and finds every entry point. Null with error when the file cannot be loaded,
  // an entry point is missing, or its API version is not the one this runner hosts.
  static std::unique_ptr<PluginLibrary> Load(const std::string& path, std::string* error);
  const PluginEntryPoints& entry() const { return entry_; }

 private:
  std::unique_ptr<platform::DynamicLibrary> library_;
  PluginEntryPoints entry_;
};

}  // namespace halcyra::sim
