// The keys a pilot binds in the client's own key-binding dialog: the client binds keyboard keys and
// game-controller buttons to these keywords, so no joystick ids are needed.
#pragma once

#include <optional>
#include <vector>

#include "foundation/host_abi.h"

namespace halcyra {

enum class HotkeyAction { kSelectRadio1, kSelectRadio2, kSelectRadio3, kNextRadio, kToggleRadioModel };

struct HotkeyEntry {
  const char* keyword;      // what the client hands back to ts3plugin_onHotkeyEvent
  const char* description;  // what its dialog shows
  HotkeyAction action;
};

// halcyra_radio1, halcyra_radio2, halcyra_radio3, halcyra_next_radio, halcyra_model, in this order.
const std::vector<HotkeyEntry>& Hotkeys();

// The action of a keyword; nothing for an unknown (or null) one.
std::optional<HotkeyAction> HotkeyActionOf(const char* keyword);

// The list for ts3plugin_initHotkeys (see client_memory.h); null when memory runs out.
PluginHotkey** AllocateHotkeys();

}  // namespace halcyra
