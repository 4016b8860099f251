// CJoystick: selects the active radio with joystick buttons, like a cockpit radio selector, and
// with [SELECTOR] PTT=1 also keys the microphone while a radio's button is held (push-to-talk).
//
// A small button map binds each of the three radios to one button of one joystick (ids 0..31,
// buttons 1..32, -1 -1 = unbound). While any radio is bound (or a binding is being captured) the
// scanner thread Thread_ScanJoystick reads the joysticks every 20 ms, so the first syllable is not
// cut; while none is it reads nothing and sleeps until a binding appears or it is told to stop. When
// a bound button is newly pressed it has the local station's activeMarks rewritten (X__, _X_ or __X)
// through the selectRadio callback and publishes them through the publish callback. With
// push-to-talk the microphone callback opens the microphone while any bound button is held and
// closes it when none is, and when the selector stops; it is also closed at the first pass with
// push-to-talk on and again after each new connection (MicrophoneStateLost), so a client that
// transmits continuously does not send before the first press. A joystick that cannot be read is tried
// again once a second only (on Windows a read of an absent joystick is slow). The selector knows
// nothing of the station model or the host: all of them are callbacks, which the scanner calls
// without a lock of its own.
//
// Capture: StartCapture waits for the next button newly pressed on any joystick (a button already
// held when it starts does not count) for a limited time and hands it, or nothing, to the capture
// callback on the scanner thread; no radio is selected meanwhile.
//
// Threads: the configuration (start, then the refresh thread at every reload) writes the button
// map while the scanner reads it; host events select radios and start captures. selectorLock_
// guards the map, the joysticks' last words, the capture and the callbacks; the scanner waits on
// wake_ with it while idle. No joystick is read and no callback is called while it is held. The
// scanner stops cooperatively: Terminate stops its StopToken, which ends a sleep between two passes
// at once and wakes the idle wait (a StopCallback notifies wake_).
//
// Lock order: selectorLock_ is a leaf but for a StopToken's lock. threadLock_ is held while the
// scanner thread is started and while a failed start is logged, so it comes before the platform's
// thread locks and the log's; the two locks of CJoystick are never held together (the stop is
// requested after threadLock_ is given up, since its callback takes selectorLock_).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/log.h"
#include "foundation/radio_selector_sink.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/stop.h"

namespace halcyra {

// One button of one joystick: id 0..31, button 1..32.
struct JoystickButton {
  int device = -1;
  int button = -1;
};

class CJoystick : public RadioSelectorSink {
 public:
  static constexpr int kRadios = 3;
  static constexpr int kJoysticks = 32;          // joystick ids 0..31
  static constexpr uint32_t kScanPeriodMs = 20;  // between two reads while a button is bound
  static constexpr int kAbsentRetryPasses = 50;  // an unreadable joystick is tried every 50 passes (1 s)
  static constexpr uint32_t kStopWaitMs = 300;   // Terminate's wait for the scanner's last host call

  // Rewrites the local station's activeMarks for radioIndex 0..2 and returns the new marks.
  using SelectRadio = std::function<std::string(int radioIndex)>;
  // Publishes the local station after a selection; gets the new activeMarks.
  using Publish = std::function<void(const char* activeMarks)>;
  // Opens (true) or closes the microphone; false when there is no connection to ask it of.
  using Microphone = std::function<bool(bool open)>;
  // Gives up a microphone call that does not return (called by Terminate on its own thread).
  using GiveUp = std::function<void()>;
  // The end of a capture for radioIndex 0..2: the button pressed, or nothing within the time.
  using CaptureDone = std::function<void(int radioIndex, std::optional<JoystickButton> pressed)>;

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
  // Push-to-talk's microphone and what gives up its call; a capture's result. Any may be empty.
  void SetMicrophone(Microphone microphone, GiveUp giveUp) EXCLUDES(selectorLock_);
  void SetCaptureDone(CaptureDone captureDone) EXCLUDES(selectorLock_);

  // radioIndex 0..2; device a joystick id, button 1..32. A bad radioIndex is logged and changes
  // nothing. A binding that a joystick can produce wakes the scanner.
  void SetRadioSelector(int radioIndex, int device, int button) override EXCLUDES(selectorLock_);
  // Logs the three bindings (level 0).
  void ShowRadioSelectors() override EXCLUDES(selectorLock_);
  void SetPushToTalk(bool pushToTalk) override { pushToTalk_ = pushToTalk; }
  bool PushToTalk() const { return pushToTalk_.load(); }
  // The binding of radioIndex 0..2 (-1 -1 when unbound or for another index).
  JoystickButton Binding(int radioIndex) const EXCLUDES(selectorLock_);

  // Selects radioIndex 0..2 as a bound button does: the marks, the publish and the log line (with
  // tag). Any thread but a voice callback's.
  void Select(int radioIndex, const char* tag) EXCLUDES(selectorLock_);

  // Waits up to timeoutMs for the next button newly pressed on any joystick and hands it to the
  // capture callback as the binding for radioIndex 0..2; replaces a capture in progress. False
  // (and nothing happens) when radioIndex is no radio or the scanner does not run.
  bool StartCapture(int radioIndex, uint32_t timeoutMs) EXCLUDES(selectorLock_);
  bool Capturing() const EXCLUDES(selectorLock_);

  // One pass over the joysticks: 1 when a bound button was newly pressed (radioIndex 0..2), else 0
  // (radioIndex -1). A newly pressed unbound button ends the pass.
  int IsRadioSelected(int* radioIndex) EXCLUDES(selectorLock_);

  // Starts Thread_ScanJoystick. 0 when it runs (or already ran), -1 when it could not be started.
  int StartScanning() EXCLUDES(threadLock_);
  // Logs "CJoystick::Terminate", stops the scanner (which closes a microphone it opened, given
  // kStopWaitMs at most) and unbinds everything. A second call, or one without Init, does nothing.
  void Terminate() EXCLUDES(selectorLock_, threadLock_);

  bool ScannerStarted() const { return started_.load(); }
  // True from Terminate (or the destructor) until the next StartScanning.
  bool StopRequested() const EXCLUDES(threadLock_);
  // Low 32 bits of the scanner thread's handle, 0 while no scanner runs.
  uint32_t ThreadHandleValue() const { return threadHandle_.load(); }
  bool MicrophoneOpen() const { return microphoneOpen_.load(); }
  // The client's microphone may be open again (a new connection starts with it open): push-to-talk
  // closes it at its next pass unless a bound button is held.
  void MicrophoneStateLost() { microphoneSettled_ = false; }

 private:
  struct Capture {
    int radioIndex = -1;  // -1: none
    uint64_t deadlineMs = 0;
    bool baselineTaken = false;
  };
  // The latest read of one joystick.
  struct Reading {
    bool readable = false;
    uint32_t buttons = 0;
  };

  void ScanLoop(const platform::StopToken& stop) EXCLUDES(selectorLock_);
  // Sleeps until a binding or a capture appears or the stop; false on the stop.
  bool WaitUntilActive(const platform::StopToken& stop) EXCLUDES(selectorLock_);
  bool ActiveLocked() const REQUIRES(selectorLock_);
  void ScanPass(bool includeAbsent) EXCLUDES(selectorLock_);
  // Reads every joystick (absent ones only when includeAbsent) and records what it read.
  std::array<Reading, kJoysticks> ReadAll(bool includeAbsent) EXCLUDES(selectorLock_);
  void TakeBaseline() EXCLUDES(selectorLock_);
  int SelectionPass(bool includeAbsent, int* radioIndex) EXCLUDES(selectorLock_);
  void CapturePass(bool includeAbsent) EXCLUDES(selectorLock_);
  void UpdatePushToTalk() EXCLUDES(selectorLock_);
  // True when there was a connection to ask.
  bool SetMicrophoneOpen(bool open, bool quiet = false) EXCLUDES(selectorLock_);
  void ReportSelection(int radioIndex, const char* tag) EXCLUDES(selectorLock_);
  // Compares one joystick's word with the one last seen. 1 = a newly pressed button was found and
  // is bound (radioIndex set), 0 = one was found but is unbound, -1 = no new press.
  int CheckNewPress(int joystick, uint32_t buttons, int* radioIndex) EXCLUDES(selectorLock_);
  void StopScanner() EXCLUDES(threadLock_, selectorLock_);
  // Waits up to waitMs (Env clock) for the scanner's loop to end; true when it has.
  [[nodiscard]] bool ScannerEnded(uint32_t waitMs) EXCLUDES(selectorLock_);
  void ResetState() EXCLUDES(selectorLock_);

  platform::Env& env_;
  Clog& log_;

  mutable platform::Mutex selectorLock_;
  platform::ConditionVariable wake_;   // with selectorLock_: a binding, a capture or the stop
  platform::ConditionVariable ended_;  // with selectorLock_: the scanner's loop has ended
  std::array<JoystickButton, kRadios> bindings_ GUARDED_BY(selectorLock_);
  std::array<uint32_t, kJoysticks> lastButtons_ GUARDED_BY(selectorLock_) = {};
  std::array<Reading, kJoysticks> readings_ GUARDED_BY(selectorLock_) = {};
  Capture capture_ GUARDED_BY(selectorLock_);
  SelectRadio selectRadio_ GUARDED_BY(selectorLock_);
  Publish publish_ GUARDED_BY(selectorLock_);
  Microphone microphone_ GUARDED_BY(selectorLock_);
  GiveUp giveUp_ GUARDED_BY(selectorLock_);
  CaptureDone captureDone_ GUARDED_BY(selectorLock_);

  std::atomic<bool> initialized_{false};
  std::atomic<bool> pushToTalk_{false};
  std::atomic<bool> microphoneOpen_{false};         // the scanner's last microphone call opened it
  std::atomic<bool> microphoneSettled_{false};      // the client's microphone is as microphoneOpen_ says
  std::atomic<bool> started_{false};                // set by the scanner when it begins
  bool running_ GUARDED_BY(selectorLock_) = false;  // the scanner's loop runs (ends after its last call)
  std::atomic<uint32_t> threadHandle_{0};

  mutable platform::Mutex threadLock_;  // orders StartScanning against Terminate
  std::unique_ptr<platform::Thread> scanner_ GUARDED_BY(threadLock_);
  platform::StopSource stop_ GUARDED_BY(threadLock_);  // a fresh one for every StartScanning
};

}  // namespace halcyra
