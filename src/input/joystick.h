// CJoystick: selects the active radio with joystick buttons, like a cockpit radio selector.
//
// A small button map binds each of the three radios to one button of one joystick (ids 0..31,
// buttons 1..32, -1 -1 = unbound). The scanner thread Thread_ScanJoystick polls every joystick
// every 200 ms; when a bound button is newly pressed it has the local station's activeMarks
// rewritten (X__, _X_ or __X) through the selectRadio callback and publishes them through the
// publish callback. The selector knows nothing of the station model: both are callbacks.
//
// Threads: the configuration (start, then the refresh thread at every reload) writes the button
// map while the scanner reads it; selectorLock_ guards the map, the last-seen button words and
// the callbacks. No joystick is read and no callback is called while it is held. The scanner
// stops cooperatively: Terminate raises stop_, which the thread checks after each sleep.
//
// Lock order: selectorLock_ is a leaf. threadLock_ is held while the scanner thread is started and
// while a failed start is logged, so it comes before the platform's thread locks and the log's;
// the two locks of CJoystick are never held together.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/log.h"
#include "foundation/radio_selector_sink.h"
#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra {

class CJoystick : public RadioSelectorSink {
 public:
  static constexpr int kRadios = 3;
  static constexpr int kJoysticks = 32;  // joystick ids 0..31
  static constexpr uint32_t kScanPeriodMs = 200;

  // Rewrites the local station's activeMarks for radioIndex 0..2 and returns the new marks.
  using SelectRadio = std::function<std::string(int radioIndex)>;
  // Publishes the local station after a selection; gets the new activeMarks.
  using Publish = std::function<void(const char* activeMarks)>;

  CJoystick(platform::Env& env, Clog& log);
  ~CJoystick() override;  // stops the scanner thread (without logging)

  CJoystick(const CJoystick&) = delete;
  CJoystick& operator=(const CJoystick&) = delete;

  // The marks for radioIndex 0..2: 'X' at that index, '_' at the other two ("" for other values).
  static std::string ActiveMarksFor(int radioIndex);

  // Unbinds every radio, records the current button word of every joystick (all bits set for one
  // that cannot be read) and forgets any earlier SetRadioSelector.
  void Init() EXCLUDES(selectorLock_);
  // Callbacks used by the scanner after a selection; either may be empty.
  void SetCallbacks(SelectRadio selectRadio, Publish publish) EXCLUDES(selectorLock_);

  // radioIndex 0..2; device a joystick id, button 1..32. Any call enables scanning; a bad
  // radioIndex is logged and changes nothing.
  void SetRadioSelector(int radioIndex, int device, int button) override EXCLUDES(selectorLock_);
  // Logs the three bindings (level 0).
  void ShowRadioSelectors() override EXCLUDES(selectorLock_);

  // One pass over the joysticks: 1 when a bound button was newly pressed (radioIndex 0..2), else 0
  // (radioIndex -1). A newly pressed unbound button ends the pass.
  int IsRadioSelected(int* radioIndex) EXCLUDES(selectorLock_);

  // Starts Thread_ScanJoystick. 0 when it runs (or already ran), -1 when it could not be started.
  int StartScanning() EXCLUDES(threadLock_);
  // Logs "CJoystick::Terminate", stops the scanner and unbinds everything. A second call, or one
  // without Init, does nothing.
  void Terminate() EXCLUDES(selectorLock_, threadLock_);

  bool ScannerStarted() const { return started_.load(); }
  // True from Terminate (or the destructor) until the next StartScanning.
  bool StopRequested() const { return stop_.load(); }
  // Low 32 bits of the scanner thread's handle, 0 while no scanner runs.
  uint32_t ThreadHandleValue() const { return threadHandle_.load(); }

 private:
  struct Binding {
    int device = -1;
    int button = -1;  // 1-based
  };

  void ScanLoop() EXCLUDES(selectorLock_);
  void ReportSelection(int radioIndex) EXCLUDES(selectorLock_);
  // Compares one joystick's word with the one last seen. 1 = a newly pressed button was found and
  // is bound (radioIndex set), 0 = one was found but is unbound, -1 = no new press.
  int CheckNewPress(int joystick, uint32_t buttons, int* radioIndex) EXCLUDES(selectorLock_);
  void StopScanner() EXCLUDES(threadLock_);
  void ResetState() EXCLUDES(selectorLock_);

  platform::Env& env_;
  Clog& log_;

  platform::Mutex selectorLock_;
  std::array<Binding, kRadios> bindings_ GUARDED_BY(selectorLock_);
  std::array<uint32_t, kJoysticks> lastButtons_ GUARDED_BY(selectorLock_) = {};
  SelectRadio selectRadio_ GUARDED_BY(selectorLock_);
  Publish publish_ GUARDED_BY(selectorLock_);

  std::atomic<bool> initialized_{false};
  std::atomic<bool> selectorDefined_{false};  // set by the first SetRadioSelector
  std::atomic<bool> started_{false};          // set by the scanner when it begins
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> threadHandle_{0};

  platform::Mutex threadLock_;  // orders StartScanning against Terminate
  std::unique_ptr<platform::Thread> scanner_ GUARDED_BY(threadLock_);
};

}  // namespace halcyra
