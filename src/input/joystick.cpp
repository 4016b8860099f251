#include "input/joystick.h"

#include <bit>

#include "foundation/format.h"

namespace halcyra {
namespace {

constexpr char kSetTag[] = "CJoystick::SetRadioSelector";
constexpr char kShowTag[] = "CJoystick::ShowRadioSelectors";
constexpr char kSelectedTag[] = "CJoystick::IsRadioSelected";
constexpr char kTerminateTag[] = "CJoystick::Terminate";
constexpr char kStartTag[] = "CJoystick::StartScanning";
constexpr char kThreadTag[] = "Thread_ScanJoystick";

// The stop's wait for the scanner's last call is woken when the loop ends; the slice only bounds how
// far a clock that is not the wall clock (a test's) runs ahead of that call.
constexpr uint32_t kStopWaitSliceMs = 1;

constexpr uint32_t kUnreadable = 0xFFFFFFFFu;  // last word of a joystick that could not be read
constexpr int kButtonsPerJoystick = 32;

bool IsUnbound(int device, int button) { return device == -1 && button == -1; }

bool IsReachable(int device, int button) {
  return device >= 0 && device < CJoystick::kJoysticks && button >= 1 && button <= kButtonsPerJoystick;
}

uint32_t BitOf(int button) { return 1u << (button - 1); }

}  // namespace

CJoystick::CJoystick(platform::Env& env, Clog& log) : env_(env), log_(log) { ResetState(); }

CJoystick::~CJoystick() { StopScanner(); }

std::string CJoystick::ActiveMarksFor(int radioIndex) {
  if (radioIndex < 0 || radioIndex >= kRadios) return "";
  std::string marks(kRadios, '_');
  marks[radioIndex] = 'X';
  return marks;
}

void CJoystick::ResetState() {
  platform::MutexLock lock(selectorLock_);
  bindings_.fill(JoystickButton{});
  lastButtons_.fill(kUnreadable);
  readings_.fill(Reading{});
  capture_ = Capture{};
}

void CJoystick::Init() {
  std::array<Reading, kJoysticks> readings{};
  for (int id = 0; id < kJoysticks; ++id) {
    readings[id].readable = env_.ReadJoystickButtons(id, &readings[id].buttons);
  }
  {
    platform::MutexLock lock(selectorLock_);
    bindings_.fill(JoystickButton{});
    capture_ = Capture{};
    readings_ = readings;
    for (int id = 0; id < kJoysticks; ++id)
      lastButtons_[id] = readings[id].readable ? readings[id].buttons : kUnreadable;
  }
  initialized_ = true;
}

void CJoystick::SetCallbacks(SelectRadio selectRadio, Publish publish) {
  platform::MutexLock lock(selectorLock_);
  selectRadio_ = std::move(selectRadio);
  publish_ = std::move(publish);
}

void CJoystick::SetMicrophone(Microphone microphone, GiveUp giveUp) {
  platform::MutexLock lock(selectorLock_);
  microphone_ = std::move(microphone);
  giveUp_ = std::move(giveUp);
}

void CJoystick::SetCaptureDone(CaptureDone captureDone) {
  platform::MutexLock lock(selectorLock_);
  captureDone_ = std::move(captureDone);
}

void CJoystick::SetRadioSelector(int radioIndex, int device, int button) {
  if (static_cast<unsigned>(radioIndex) >= static_cast<unsigned>(kRadios)) {
    log_.Write(kSetTag, Format("/!\\ Bad Radio ID (+1) :%lld", static_cast<long long>(radioIndex) + 1), 0);
    return;
  }
  bool changed = false;
  {
    platform::MutexLock lock(selectorLock_);
    JoystickButton& binding = bindings_[radioIndex];
    changed = binding.device != device || binding.button != button;
    binding = {device, button};
    if (IsReachable(device, button)) wake_.NotifyAll();
  }
  // A binding that no joystick can produce is kept (it never matches) but reported once, not at
  // every reload of the configuration.
  if (changed && !IsUnbound(device, button) && !IsReachable(device, button)) {
    log_.Write(kSetTag,
               Format("/!\\ Joystick button out of range, RadioID #%d, DeviceID #%d, ButtonID #%d "
                      "(joystick 0..31, button 1..32): this radio can not be selected",
                      radioIndex + 1, device, button),
               0);
  }
  if (log_.Detailed()) {
    log_.Write(kSetTag,
               Format("Joystick Radio button added [%08X],RadioID #%d, DeviceID #%d, ButtonID #%d",
                      ThreadHandleValue(), radioIndex + 1, device, button),
               5);
  }
}

void CJoystick::ShowRadioSelectors() {
  std::array<JoystickButton, kRadios> bindings;
  {
    platform::MutexLock lock(selectorLock_);
    bindings = bindings_;
  }
  for (int radio = 0; radio < kRadios; ++radio) {
    log_.Write(kShowTag,
               Format("Button configuration [%08X],RadioID #%d, DeviceID #%d, ButtonID #%d",
                      ThreadHandleValue(), radio + 1, bindings[radio].device, bindings[radio].button),
               0);
  }
  if (pushToTalk_.load())
    log_.Write(kShowTag, "Push-to-talk: holding a radio's button opens the microphone", 0);
}

JoystickButton CJoystick::Binding(int radioIndex) const {
  if (radioIndex < 0 || radioIndex >= kRadios) return {};
  platform::MutexLock lock(selectorLock_);
  return bindings_[radioIndex];
}

void CJoystick::Select(int radioIndex, const char* tag) {
  if (radioIndex < 0 || radioIndex >= kRadios) return;
  ReportSelection(radioIndex, tag);
}

bool CJoystick::StartCapture(int radioIndex, uint32_t timeoutMs) {
  if (radioIndex < 0 || radioIndex >= kRadios || threadHandle_.load() == 0 || StopRequested()) return false;
  uint64_t deadline = env_.TickMs() + timeoutMs;
  platform::MutexLock lock(selectorLock_);
  capture_ = Capture{radioIndex, deadline, false};
  wake_.NotifyAll();
  return true;
}

bool CJoystick::Capturing() const {
  platform::MutexLock lock(selectorLock_);
  return capture_.radioIndex >= 0;
}

int CJoystick::CheckNewPress(int joystick, uint32_t buttons, int* radioIndex) {
  int button = 0;
  int found = -1;
  {
    platform::MutexLock lock(selectorLock_);
    uint32_t last = lastButtons_[joystick];
    if (buttons == last) return -1;
    lastButtons_[joystick] = buttons;
    uint32_t pressed = buttons & ~last;
    if (pressed == 0) return -1;  // releases only
    button = std::countr_zero(pressed) + 1;
    for (int radio = 0; radio < kRadios && found < 0; ++radio) {
      if (bindings_[radio].device == joystick && bindings_[radio].button == button) found = radio;
    }
  }
  if (log_.Detailed()) {
    log_.Write(kSelectedTag, Format("ReadJoystickKey  == %d / %d", joystick, button), 5);
  }
  *radioIndex = found;
  return found >= 0 ? 1 : 0;
}

// Joysticks are looked at in id order. The first newly pressed button ends the pass whether it is
// bound or not; joysticks after it keep their recorded word and are looked at in the next pass.
int CJoystick::SelectionPass(bool includeAbsent, int* radioIndex) {
  int selected = -1;
  for (int joystick = 0; joystick < kJoysticks; ++joystick) {
    if (!includeAbsent) {
      platform::MutexLock lock(selectorLock_);
      if (!readings_[joystick].readable) continue;
    }
    uint32_t buttons = 0;
    bool readable = env_.ReadJoystickButtons(joystick, &buttons);
    {
      platform::MutexLock lock(selectorLock_);
      readings_[joystick] = Reading{readable, buttons};
    }
    if (!readable) continue;
    int result = CheckNewPress(joystick, buttons, &selected);
    if (result >= 0) {
      if (radioIndex != nullptr) *radioIndex = selected;
      return result;
    }
  }
  if (radioIndex != nullptr) *radioIndex = -1;
  return 0;
}

int CJoystick::IsRadioSelected(int* radioIndex) { return SelectionPass(true, radioIndex); }

std::array<CJoystick::Reading, CJoystick::kJoysticks> CJoystick::ReadAll(bool includeAbsent) {
  std::array<Reading, kJoysticks> known;
  {
    platform::MutexLock lock(selectorLock_);
    known = readings_;
  }
  std::array<Reading, kJoysticks> read{};
  for (int id = 0; id < kJoysticks; ++id) {
    if (!includeAbsent && !known[id].readable) continue;
    read[id].readable = env_.ReadJoystickButtons(id, &read[id].buttons);
  }
  platform::MutexLock lock(selectorLock_);
  for (int id = 0; id < kJoysticks; ++id) {
    if (includeAbsent || known[id].readable) readings_[id] = read[id];
  }
  return read;
}

// What the buttons are now, so that a press is one made from now on (a capture starts with it).
void CJoystick::TakeBaseline() {
  std::array<Reading, kJoysticks> read = ReadAll(true);
  platform::MutexLock lock(selectorLock_);
  for (int id = 0; id < kJoysticks; ++id) {
    if (read[id].readable) lastButtons_[id] = read[id].buttons;
  }
}

void CJoystick::CapturePass(bool includeAbsent) {
  bool baselineTaken = false;
  {
    platform::MutexLock lock(selectorLock_);
    if (capture_.radioIndex < 0) return;
    baselineTaken = capture_.baselineTaken;
  }
  if (!baselineTaken) {
    TakeBaseline();
    platform::MutexLock lock(selectorLock_);
    capture_.baselineTaken = true;
    return;
  }
  std::array<Reading, kJoysticks> read = ReadAll(includeAbsent);
  uint64_t now = env_.TickMs();
  std::optional<JoystickButton> pressed;
  int radioIndex = -1;
  CaptureDone done;
  {
    platform::MutexLock lock(selectorLock_);
    if (capture_.radioIndex < 0 || !capture_.baselineTaken) return;  // ended or replaced meanwhile
    for (int id = 0; id < kJoysticks; ++id) {
      if (!read[id].readable) continue;
      uint32_t fresh = read[id].buttons & ~lastButtons_[id];
      lastButtons_[id] = read[id].buttons;
      if (fresh != 0 && !pressed) pressed = JoystickButton{id, std::countr_zero(fresh) + 1};
    }
    if (!pressed && now < capture_.deadlineMs) return;
    radioIndex = capture_.radioIndex;
    capture_ = Capture{};
    done = captureDone_;
  }
  if (log_.Detailed()) {
    log_.Write(kThreadTag,
               pressed ? Format("Radio #%d captured joystick %d, button %d", radioIndex + 1, pressed->device,
                                pressed->button)
                       : Format("Radio #%d: no joystick button pressed", radioIndex + 1),
               3);
  }
  if (done) done(radioIndex, pressed);
}

void CJoystick::UpdatePushToTalk() {
  if (!pushToTalk_.load()) {
    if (microphoneOpen_.load()) SetMicrophoneOpen(false);
    return;
  }
  bool held = false;
  {
    platform::MutexLock lock(selectorLock_);
    for (const JoystickButton& binding : bindings_) {
      if (!IsReachable(binding.device, binding.button)) continue;
      const Reading& reading = readings_[binding.device];
      if (reading.readable && (reading.buttons & BitOf(binding.button)) != 0) held = true;
    }
  }
  if (held != microphoneOpen_.load()) {
    SetMicrophoneOpen(held);
  } else if (!held && !microphoneSettled_.load()) {
    SetMicrophoneOpen(false, true);  // quiet: asked again at every pass until there is a connection
  }
}

// The state asked for is kept even when the host refused it, so that a refusing host is not asked
// again at every pass; the next change asks again.
bool CJoystick::SetMicrophoneOpen(bool open, bool quiet) {
  Microphone microphone;
  {
    platform::MutexLock lock(selectorLock_);
    microphone = microphone_;
  }
  microphoneOpen_ = open;
  bool asked = microphone && microphone(open);
  if (asked) microphoneSettled_ = true;
  if (!asked && !quiet) {
    log_.Write(kThreadTag,
               open ? "Push-to-talk: the microphone cannot be opened (not connected to a server)"
                    : "Push-to-talk: the microphone cannot be closed (not connected to a server)",
               3);
  } else if (asked && log_.Detailed()) {
    log_.Write(kThreadTag, open ? "Push-to-talk: microphone open" : "Push-to-talk: microphone closed", 5);
  }
  return asked;
}

void CJoystick::ScanPass(bool includeAbsent) {
  bool capturing = false;
  {
    platform::MutexLock lock(selectorLock_);
    capturing = capture_.radioIndex >= 0;
  }
  if (capturing) {
    CapturePass(includeAbsent);
  } else {
    int radioIndex = -1;
    if (SelectionPass(includeAbsent, &radioIndex) == 1) ReportSelection(radioIndex, kThreadTag);
  }
  UpdatePushToTalk();
}

bool CJoystick::StopRequested() const {
  platform::MutexLock lock(threadLock_);
  return stop_.StopRequested();
}

int CJoystick::StartScanning() {
  platform::MutexLock lock(threadLock_);
  if (scanner_) return 0;
  stop_ = platform::StopSource();
  started_ = false;
  scanner_ = env_.StartThread([this, stop = stop_.Token()] { ScanLoop(stop); });
  if (!scanner_) {
    log_.Write(kStartTag, "/!\\ Can not start the joystick thread: radios can not be selected by joystick",
               0);
    return -1;
  }
  threadHandle_ = static_cast<uint32_t>(scanner_->HandleValue());
  return 0;
}

bool CJoystick::ActiveLocked() const {
  if (capture_.radioIndex >= 0) return true;
  for (const JoystickButton& binding : bindings_) {
    if (IsReachable(binding.device, binding.button)) return true;
  }
  return false;
}

bool CJoystick::WaitUntilActive(const platform::StopToken& stop) {
  bool idle = false;
  {
    platform::MutexLock lock(selectorLock_);
    idle = !ActiveLocked();
  }
  if (idle && !stop.StopRequested() && log_.Detailed()) log_.Write(kThreadTag, "Joystick ID not defined", 5);
  platform::MutexLock lock(selectorLock_);
  while (!stop.StopRequested() && !ActiveLocked()) wake_.Wait(lock);
  return !stop.StopRequested();
}

// Reads every kScanPeriodMs while a button is bound or a capture runs; otherwise sleeps until one
// is, without reading anything. An open microphone is closed before the scanner goes idle or ends.
void CJoystick::ScanLoop(const platform::StopToken& stop) {
  platform::NameCurrentThread(kThreadTag);
  platform::StopCallback wake(stop, [this] {
    platform::MutexLock lock(selectorLock_);
    wake_.NotifyAll();
  });
  {
    platform::MutexLock lock(selectorLock_);
    running_ = true;
  }
  started_ = true;
  while (WaitUntilActive(stop)) {
    for (int pass = 1;; ++pass) {
      if (!stop.SleepFor(env_, kScanPeriodMs)) break;
      bool active = false;
      {
        platform::MutexLock lock(selectorLock_);
        active = ActiveLocked();
      }
      if (!active) break;
      ScanPass(pass == 1 || pass % kAbsentRetryPasses == 0);
    }
    if (microphoneOpen_.load()) SetMicrophoneOpen(false);
  }
  platform::MutexLock lock(selectorLock_);
  running_ = false;
  ended_.NotifyAll();
}

void CJoystick::ReportSelection(int radioIndex, const char* tag) {
  SelectRadio selectRadio;
  Publish publish;
  {
    platform::MutexLock lock(selectorLock_);
    selectRadio = selectRadio_;
    publish = publish_;
  }
  std::string marks = selectRadio ? selectRadio(radioIndex) : ActiveMarksFor(radioIndex);
  if (log_.Detailed()) {
    log_.Write(tag, Format("Radio #%d is selected. HCS active : %s", radioIndex + 1, marks.c_str()), 2);
  }
  if (publish) publish(marks.c_str());
}

// The scanner gets kStopWaitMs to close a microphone it opened; a host call that takes longer is
// given up, so the stop never waits for the host.
void CJoystick::StopScanner() {
  std::unique_ptr<platform::Thread> scanner;
  platform::StopSource stop;
  {
    platform::MutexLock lock(threadLock_);
    scanner = std::move(scanner_);
    stop = stop_;
  }
  stop.RequestStop();
  if (scanner) {
    if (!ScannerEnded(kStopWaitMs)) {
      GiveUp giveUp;
      {
        platform::MutexLock lock(selectorLock_);
        giveUp = giveUp_;
      }
      if (giveUp) giveUp();
    }
    scanner->Join();
  }
  threadHandle_ = 0;
  started_ = false;
}

bool CJoystick::ScannerEnded(uint32_t waitMs) {
  uint64_t deadline = env_.TickMs() + waitMs;
  platform::MutexLock lock(selectorLock_);
  while (running_ && env_.TickMs() < deadline) env_.WaitOnClock(ended_, lock, kStopWaitSliceMs);
  return !running_;
}

void CJoystick::Terminate() {
  if (!initialized_.exchange(false)) {
    StopScanner();
    return;
  }
  log_.Write(kTerminateTag, "", 2);
  StopScanner();
  ResetState();
}

}  // namespace halcyra
