#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/env.h"

namespace halcyra::platform {
namespace {

class Win32Library : public DynamicLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  void* Symbol(const char* name) override { return reinterpret_cast<void*>(GetProcAddress(module_, name)); }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryW(Utf8ToWide(path).c_str());
  if (module == nullptr) {
    if (error) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Library>(module);
}

const char* PluginFileName() { return HALCYRA_PLUGIN_FILE_NAME; }

}  // namespace halcyra::platform
