// plugin_api_check LIBRARY API: loads a plug-in library as the host does and checks that it names
// itself and answers the expected host API version. Prints what it found; exit code 0 when it
// matches, 1 when not, 2 on a usage error. Built with a version resource (client_version.rc.in), it
// is the Windows client of that version as the plug-in sees it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dynamic_library.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: plugin_api_check LIBRARY EXPECTED_API\n");
    return 2;
  }
  std::string error;
  auto library = halcyra::platform::DynamicLibrary::Load(argv[1], &error);
  if (!library) {
    std::printf("%s: cannot be loaded: %s\n", argv[1], error.c_str());
    return 1;
  }
  auto apiVersion = reinterpret_cast<int (*)()>(library->Symbol("ts3plugin_apiVersion"));
  auto name = reinterpret_cast<const char* (*)()>(library->Symbol("ts3plugin_name"));
  if (apiVersion == nullptr || name == nullptr) {
    std::printf("%s: ts3plugin_apiVersion or ts3plugin_name is missing\n", argv[1]);
    return 1;
  }
  int expected = std::atoi(argv[2]);
  int answered = apiVersion();
  std::printf("%s: %s, API %d\n", argv[1], name(), answered);
  return answered == expected ? 0 : 1;
}
