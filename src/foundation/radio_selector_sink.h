// Where the configuration delivers the radio selector bindings of [SELECTOR] (the joystick
// selector implements it).
#pragma once

namespace halcyra {

class RadioSelectorSink {
 public:
  virtual ~RadioSelectorSink() = default;
  // radioIndex 0..2; device a joystick id 0..31 and button 1..32, or -1 -1 when unbound.
  virtual void SetRadioSelector(int radioIndex, int device, int button) = 0;
  virtual void ShowRadioSelectors() = 0;
  // [SELECTOR] PTT: true when holding a radio's button also opens the microphone.
  virtual void SetPushToTalk(bool pushToTalk) { static_cast<void>(pushToTalk); }
};

}  // namespace halcyra
