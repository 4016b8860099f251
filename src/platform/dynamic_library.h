// Loading a shared library and finding its exports by name, as a host loads a plug-in.
#pragma once

#include <memory>
#include <string>

namespace halcyra::platform {

class DynamicLibrary {
 public:
  // Null when the library cannot be loaded; error then holds the reason.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path, std::string* error);
  virtual ~DynamicLibrary() = default;  // unloads
  // Address of an exported symbol, null when absent.
  virtual void* Symbol(const char* name) = 0;
};

// File name of the plug-in library built for this OS (halcyra_win64.dll / halcyra_linux_amd64.so).
const char* PluginFileName();

}  // namespace halcyra::platform
