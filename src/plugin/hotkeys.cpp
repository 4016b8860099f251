#include "plugin/hotkeys.h"

#include <cstring>

#include "plugin/client_memory.h"

namespace halcyra {

const std::vector<HotkeyEntry>& Hotkeys() {
  static const std::vector<HotkeyEntry> hotkeys = {
      {"halcyra_radio1", "Halcyra: transmit on radio 1", HotkeyAction::kSelectRadio1},
      {"halcyra_radio2", "Halcyra: transmit on radio 2", HotkeyAction::kSelectRadio2},
      {"halcyra_radio3", "Halcyra: transmit on radio 3", HotkeyAction::kSelectRadio3},
      {"halcyra_next_radio", "Halcyra: transmit on the next radio that is on", HotkeyAction::kNextRadio},
      {"halcyra_model", "Halcyra: radio model on/off", HotkeyAction::kToggleRadioModel},
  };
  return hotkeys;
}

std::optional<HotkeyAction> HotkeyActionOf(const char* keyword) {
  if (keyword == nullptr) return std::nullopt;
  for (const HotkeyEntry& hotkey : Hotkeys()) {
    if (std::strcmp(hotkey.keyword, keyword) == 0) return hotkey.action;
  }
  return std::nullopt;
}

PluginHotkey** AllocateHotkeys() {
  std::vector<PluginHotkey> entries;
  for (const HotkeyEntry& hotkey : Hotkeys()) {
    PluginHotkey entry{};
    CopyField(entry.keyword, hotkey.keyword);
    CopyField(entry.description, hotkey.description);
    entries.push_back(entry);
  }
  return AllocateNullEndedArray(entries);
}

}  // namespace halcyra
