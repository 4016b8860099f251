#include "plugin/pilot_controls.h"

#include <cstring>
#include <memory>

#include "audio/radio_check.h"
#include "foundation/format.h"
#include "platform/files.h"
#include "plugin/hotkeys.h"
#include "plugin/menus.h"
#include "station/record_text.h"

namespace halcyra {
namespace {

constexpr char kHotkeyTag[] = "ts3plugin_onHotkeyEvent";
constexpr char kMenuTag[] = "ts3plugin_onMenuItemEvent";
constexpr char kSay[] = "Halcyra: ";

bool IsOff(const StationRecord& station, int radio) {
  const char* frequency = RadioFrequency(station, radio);
  return frequency == nullptr || std::strcmp(frequency, kRadioOff) == 0;
}

int SelectedRadio(const StationRecord& station) {
  std::string_view marks = TextOf(station.activeMarks);
  for (size_t i = 0; i < marks.size() && i < 3; ++i) {
    if (marks[i] == 'X') return static_cast<int>(i) + 1;
  }
  return 0;
}

std::wstring FolderOf(const std::wstring& path) {
  size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(0, separator);
}

}  // namespace

void PilotControls::Say(const std::string& text) {
  if (p_.host.printMessageToCurrentTab) p_.host.printMessageToCurrentTab((kSay + text).c_str());
}

void PilotControls::SayFromScanner(const std::string& text) {
  std::string message = kSay + text;
  bool said = p_.hostCalls.Run(
      [message](const TS3Functions& host) {
        if (host.printMessageToCurrentTab) host.printMessageToCurrentTab(message.c_str());
      },
      p_.scannerCalls);
  if (!said) p_.log.Write("Thread_ScanJoystick", "Cannot tell the chat tab: " + text, 3);
}

void PilotControls::OnHotkey(const char* keyword) {
  std::optional<HotkeyAction> action = HotkeyActionOf(keyword);
  if (!action) {
    p_.log.Write(kHotkeyTag, "Unknown hotkey \"" + PlainText(keyword ? keyword : "") + "\"", 3);
    return;
  }
  switch (*action) {
    case HotkeyAction::kSelectRadio1:
    case HotkeyAction::kSelectRadio2:
    case HotkeyAction::kSelectRadio3:
      SelectRadio(static_cast<int>(*action) - static_cast<int>(HotkeyAction::kSelectRadio1), false);
      break;
    case HotkeyAction::kNextRadio:
      SelectNextRadio();
      break;
    case HotkeyAction::kToggleRadioModel:
      ToggleRadioModel();
      break;
  }
}

// A key names its radio, so the chat tab hears of it only when the radio is off (nobody would hear
// the pilot on it); the next-radio key always says which one it took.
void PilotControls::SelectRadio(int radioIndex, bool saySelected) {
  p_.joystick.Select(radioIndex, kHotkeyTag);
  StationRecord local = p_.model.LocalStation();
  int radio = radioIndex + 1;
  const char* frequency = RadioFrequency(local, radio);
  if (IsOff(local, radio)) {
    Say(Format("radio %d selected, but it is off: nobody hears you", radio));
  } else if (saySelected) {
    Say(Format("radio %d selected (%s)", radio, PlainText(frequency).c_str()));
  }
}

void PilotControls::SelectNextRadio() {
  StationRecord local = p_.model.LocalStation();
  int current = SelectedRadio(local);  // 0: none, then radio 1 comes first
  for (int step = 1; step <= 3; ++step) {
    int radio = (current + step - 1) % 3 + 1;
    if (!IsOff(local, radio)) {
      SelectRadio(radio - 1, true);
      return;
    }
  }
  Say("every radio is off: no radio to select");
}

void PilotControls::ToggleRadioModel() {
  int next = p_.settings.attenuation.load() == 0 ? 1 : 0;
  std::string problem;
  if (!p_.config.StoreAttenuation(next, &problem)) {
    Say(std::string("the radio model stays ") + (next == 1 ? "off" : "on") + ": " + problem);
    return;
  }
  Say(next == 1 ? "radio model on (range, terrain, noise, encryption)"
                : "radio model off: every voice is heard plainly");
}

void PilotControls::StartBinding(int radioIndex) {
  if (p_.joystick.StartCapture(radioIndex, kBindingCaptureMs)) {
    Say(Format("press the joystick button for radio %d within %u s", radioIndex + 1,
               static_cast<unsigned>(kBindingCaptureMs / 1000)));
  } else {
    Say("the joysticks cannot be read now (the joystick thread is not running)");
  }
}

// Files and folders open on a thread of their own, which uses only the Env: the desktop may take
// its time, and the client's thread must not wait for it.
void PilotControls::OpenForUser(const std::wstring& path) {
  Say("opening " + platform::WideToUtf8(path));
  platform::Env& env = p_.env;
  if (!p_.env.StartDetachedThread([&env, path] { env.OpenInDesktop(path); })) {
    p_.log.Write(kMenuTag, "Cannot open " + platform::WideToUtf8(path), 0);
  }
}

void PilotControls::OnMenuItem(uint64 serverConnectionHandlerID, int type, int menuItemID,
                               uint64 selectedItemID) {
  if (type == PLUGIN_MENU_TYPE_CLIENT && menuItemID == kMenuRadioCheck) {
    RadioCheck(serverConnectionHandlerID, selectedItemID);
    return;
  }
  if (type != PLUGIN_MENU_TYPE_GLOBAL) return;
  switch (menuItemID) {
    case kMenuToggleRadioModel:
      ToggleRadioModel();
      break;
    case kMenuReloadSettings:
      p_.config.RequestReload();
      Say("Halcyra.ini is read again within 2 s");
      break;
    case kMenuOpenSettings:
      OpenForUser(p_.config.IniPath());
      break;
    case kMenuOpenLogFolder:
      OpenForUser(FolderOf(p_.config.IniPath()));
      break;
    default:
      if (menuItemID >= kMenuBindRadio1 && menuItemID <= kMenuBindRadio3)
        StartBinding(menuItemID - kMenuBindRadio1);
      break;
  }
}

std::optional<std::string> PilotControls::TalkerText(anyID clientID, std::string* verdict) {
  std::optional<ClientNode> node = p_.clients.FindByClientID(clientID);
  if (!node) return std::nullopt;
  halcyra::RadioCheck check = CheckTalker(p_.model, p_.log, p_.settings, p_.simulator, node->nickname);
  if (verdict != nullptr) *verdict = PlainText(node->nickname) + ": " + check.verdict;
  return RadioCheckText(check);
}

void PilotControls::RadioCheck(uint64 serverConnectionHandlerID, uint64 clientID) {
  std::string verdict;
  if (serverConnectionHandlerID != p_.clients.CurrentServerConnectionHandlerID() || clientID > 0xFFFF ||
      !TalkerText(static_cast<anyID>(clientID), &verdict)) {
    Say("radio check: that client is not in your channel");
    return;
  }
  Say("radio check of " + verdict);
}

std::optional<std::string> PilotControls::InfoData(uint64 serverConnectionHandlerID, uint64 id, int type) {
  if (type != PLUGIN_CLIENT || id > 0xFFFF) return std::nullopt;
  if (serverConnectionHandlerID != p_.clients.CurrentServerConnectionHandlerID()) return std::nullopt;
  auto clientID = static_cast<anyID>(id);
  if (clientID == p_.clients.OwnClientID()) {
    return OwnStationText(p_.model.LocalStation(), p_.settings.Server(), p_.exchange.LastAnswerTickMs(),
                          p_.env.TickMs(), p_.simulator);
  }
  return TalkerText(clientID, nullptr);
}

// False only when there is no connection to ask; a host that refuses is logged here.
bool PilotControls::Microphone(bool open) {
  uint64 connection = p_.clients.CurrentServerConnectionHandlerID();
  if (connection == 0) return false;
  auto error = std::make_shared<unsigned int>(0);
  bool called = p_.hostCalls.Run(
      [connection, open, error](const TS3Functions& host) {
        if (host.setClientSelfVariableAsInt == nullptr || host.flushClientSelfUpdates == nullptr) {
          *error = ~0u;
          return;
        }
        *error = host.setClientSelfVariableAsInt(connection, CLIENT_INPUT_DEACTIVATED, open ? 0 : 1);
        if (*error == 0) *error = host.flushClientSelfUpdates(connection, nullptr);
      },
      p_.scannerCalls);
  if (called && *error != 0) {
    p_.log.Write("Thread_ScanJoystick",
                 Format("Push-to-talk: the client refused to %s the microphone (error %u)",
                        open ? "open" : "close", *error),
                 0);
  }
  return true;
}

// A button bound to another radio moves to this one, so that one button never selects two radios.
void PilotControls::CaptureDone(int radioIndex, std::optional<JoystickButton> pressed) {
  int radio = radioIndex + 1;
  if (!pressed) {
    SayFromScanner(Format("Radio %d: no joystick button was pressed within %u s; its binding stays as it was",
                          radio, static_cast<unsigned>(kBindingCaptureMs / 1000)));
    return;
  }
  std::string button = Format("joystick %d, button %d", pressed->device, pressed->button);
  std::string problem;
  if (!p_.config.StoreRadioSelector(radioIndex, pressed->device, pressed->button, &problem)) {
    SayFromScanner(Format("Radio %d: %s was pressed, but ", radio, button.c_str()) + problem +
                   "; its binding stays as it was");
    return;
  }
  std::string others;
  for (int other = 0; other < CJoystick::kRadios; ++other) {
    JoystickButton binding = p_.joystick.Binding(other);
    if (other == radioIndex || binding.device != pressed->device || binding.button != pressed->button)
      continue;
    others += p_.config.StoreRadioSelector(other, -1, -1, &problem)
                  ? Format(" (taken from radio %d)", other + 1)
                  : Format(" (radio %d keeps it too: ", other + 1) + problem + ")";
  }
  SayFromScanner(Format("Radio %d: %s", radio, button.c_str()) + others);
}

}  // namespace halcyra
