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

constexpr uint32_t kUnreadable = 0xFFFFFFFFu;  // last word of a joystick that could not be read
constexpr int kButtonsPerJoystick = 32;

bool IsUnbound(int device, int button) { return device == -1 && button == -1; }

bool IsReachable(int device, int button) {
  return device >= 0 && device < CJoystick::kJoysticks && button >= 1 && button <= kButtonsPerJoystick;
}

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
  bindings_.fill(Binding{});
  lastButtons_.fill(kUnreadable);
  selectorDefined_ = false;
}

void CJoystick::Init() {
  std::array<uint32_t, kJoysticks> words;
  for (int id = 0; id < kJoysticks; ++id) {
    if (!env_.ReadJoystickButtons(id, &words[id])) words[id] = kUnreadable;
  }
  {
    platform::MutexLock lock(selectorLock_);
    bindings_.fill(Binding{});
    lastButtons_ = words;
  }
  selectorDefined_ = false;
  initialized_ = true;
}

void CJoystick::SetCallbacks(SelectRadio selectRadio, Publish publish) {
  platform::MutexLock lock(selectorLock_);
  selectRadio_ = std::move(selectRadio);
  publish_ = std::move(publish);
}

void CJoystick::SetRadioSelector(int radioIndex, int device, int button) {
  selectorDefined_ = true;
  if (static_cast<unsigned>(radioIndex) >= static_cast<unsigned>(kRadios)) {
    log_.Write(kSetTag, Format("/!\\ Bad Radio ID (+1) :%lld", static_cast<long long>(radioIndex) + 1), 0);
    return;
  }
  bool changed = false;
  {
    platform::MutexLock lock(selectorLock_);
    Binding& binding = bindings_[radioIndex];
    changed = binding.device != device || binding.button != button;
    binding = {device, button};
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
  std::array<Binding, kRadios> bindings;
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
int CJoystick::IsRadioSelected(int* radioIndex) {
  int selected = -1;
  for (int joystick = 0; joystick < kJoysticks; ++joystick) {
    uint32_t buttons = 0;
    if (!env_.ReadJoystickButtons(joystick, &buttons)) continue;
    int result = CheckNewPress(joystick, buttons, &selected);
    if (result >= 0) {
      if (radioIndex != nullptr) *radioIndex = selected;
      return result;
    }
  }
  if (radioIndex != nullptr) *radioIndex = -1;
  return 0;
}

int CJoystick::StartScanning() {
  platform::MutexLock lock(threadLock_);
  if (scanner_) return 0;
  stop_ = false;
  started_ = false;
  scanner_ = env_.StartThread([this] { ScanLoop(); });
  if (!scanner_) {
    log_.Write(kStartTag, "/!\\ Can not start the joystick thread: radios can not be selected by joystick",
               0);
    return -1;
  }
  threadHandle_ = static_cast<uint32_t>(scanner_->HandleValue());
  return 0;
}

void CJoystick::ScanLoop() {
  started_ = true;
  for (;;) {
    env_.SleepMs(kScanPeriodMs);
    if (stop_.load()) return;
    if (!selectorDefined_.load()) {
      if (log_.Detailed()) log_.Write(kThreadTag, "Joystick ID not defined", 5);
      continue;
    }
    int radioIndex = -1;
    if (IsRadioSelected(&radioIndex) == 1) ReportSelection(radioIndex);
  }
}

void CJoystick::ReportSelection(int radioIndex) {
  SelectRadio selectRadio;
  Publish publish;
  {
    platform::MutexLock lock(selectorLock_);
    selectRadio = selectRadio_;
    publish = publish_;
  }
  std::string marks = selectRadio ? selectRadio(radioIndex) : ActiveMarksFor(radioIndex);
  if (log_.Detailed()) {
    log_.Write(kThreadTag, Format("Radio #%d is selected. HCS active : %s", radioIndex + 1, marks.c_str()),
               2);
  }
  if (publish) publish(marks.c_str());
}

void CJoystick::StopScanner() {
  std::unique_ptr<platform::Thread> scanner;
  {
    platform::MutexLock lock(threadLock_);
    scanner = std::move(scanner_);
    stop_ = true;
  }
  if (scanner) scanner->Join();
  threadHandle_ = 0;
  started_ = false;
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
