// PilotControls: what the pilot does from inside the client - the hotkeys of the key-binding
// dialog, the plug-in's menu items and the info panel - and the joystick selector's calls into the
// host (push-to-talk's microphone, a binding's result in the chat tab).
//
// Threads: hotkeys, menu items and the info panel arrive on the client's event thread, where host
// calls are allowed; they never wait for the network (the info panel judges on the current records,
// a reload is left to the refresh thread, files are opened on a thread of their own). The joystick
// selector calls Microphone and CaptureDone on its scanner thread: those go through the host call
// relay and give up once the stop has stopped scannerCalls. Nothing of ours is locked across a host call.
#pragma once

#include <optional>
#include <string>

#include "foundation/configuration.h"
#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "input/joystick.h"
#include "network/server_exchange.h"
#include "platform/env.h"
#include "platform/stop.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"

namespace halcyra {

inline constexpr uint32_t kBindingCaptureMs = 10000;  // a bind item waits this long for a button

struct PilotControlsParts {
  platform::Env& env;
  Clog& log;
  Settings& settings;
  SimulatorStatus& simulator;
  Configuration& config;
  CJoystick& joystick;
  CHalcyra& model;
  CTS3ClientsBase& clients;
  StationServerExchange& exchange;
  const TS3Functions& host;          // for calls on the client's event thread
  HostCallRelay& hostCalls;          // for calls from the scanner thread
  platform::StopToken scannerCalls;  // stopped by the plug-in's stop
};

class PilotControls {
 public:
  explicit PilotControls(const PilotControlsParts& parts) : p_(parts) {}

  // --- the client's event thread ---
  void OnHotkey(const char* keyword);
  void OnMenuItem(uint64 serverConnectionHandlerID, int type, int menuItemID, uint64 selectedItemID);
  // The info panel's text for a client of the own channel (or the own client); nothing otherwise.
  std::optional<std::string> InfoData(uint64 serverConnectionHandlerID, uint64 id, int type);

  // --- the joystick scanner's thread ---
  bool Microphone(bool open);
  void CaptureDone(int radioIndex, std::optional<JoystickButton> pressed);

 private:
  void SelectRadio(int radioIndex, bool saySelected);
  void SelectNextRadio();
  void ToggleRadioModel();
  void StartBinding(int radioIndex);
  void RadioCheck(uint64 serverConnectionHandlerID, uint64 clientID);
  void OpenForUser(const std::wstring& path);
  std::optional<std::string> TalkerText(anyID clientID, std::string* verdict);
  void Say(const std::string& text);             // chat tab, on the client's thread
  void SayFromScanner(const std::string& text);  // chat tab, through the relay

  PilotControlsParts p_;
};

}  // namespace halcyra
