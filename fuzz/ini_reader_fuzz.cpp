// The INI reader of the POSIX platform layer: platform::FindIniValue on any file content, asked
// for one of the plug-in's own keys (chosen by the first byte). A value found is at most 511
// characters, and a second section of the same name added at the end never changes it, since the
// first matching section wins.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/ini_reader.h"

namespace {

struct Key {
  const wchar_t* section;
  const wchar_t* key;
  const char* sectionText;
  const char* keyText;
};

constexpr Key kKeys[] = {
    {L"LOG", L"LOGLEVEL", "LOG", "LOGLEVEL"},
    {L"HGT", L"Path", "HGT", "Path"},
    {L"HCS", L"HOST", "HCS", "HOST"},
    {L"HCS", L"UDP", "HCS", "UDP"},
    {L"EAR", L"RADIO2", "EAR", "RADIO2"},
    {L"SYSTEM", L"ATTN", "SYSTEM", "ATTN"},
    {L"SELECTOR", L"RADIO1", "SELECTOR", "RADIO1"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace halcyra;
  if (size == 0) return 0;
  const Key& wanted = kKeys[data[0] % (sizeof kKeys / sizeof kKeys[0])];
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::wstring value = L"untouched";
  bool found = platform::FindIniValue(text, wanted.section, wanted.key, &value);
  if (!found) {
    FUZZ_CHECK(value == L"untouched");
    return 0;
  }
  FUZZ_CHECK(value.size() < platform::kIniValueCapacity);

  if (!text.empty() && text.back() == '\n') {
    std::string longer = text + "[" + wanted.sectionText + "]\n" + wanted.keyText + "=appended\n";
    std::wstring again;
    FUZZ_CHECK(platform::FindIniValue(longer, wanted.section, wanted.key, &again));
    FUZZ_CHECK(again == value);
  }
  return 0;
}
