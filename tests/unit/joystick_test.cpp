#include "input/joystick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "fake_env.h"
#include "foundation/configuration.h"
#include "platform/mutex.h"
#include "station/station_record.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using testing::FakeEnv;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr uint32_t Button(int number) { return 1u << (number - 1); }

// Joysticks as scripted words (FakeEnv's): an id without a word cannot be read. Counts the
// scanner's sleeps between two passes (waits of kScanPeriodMs on the clock).
class JoystickEnv : public FakeEnv {
 public:
  void Plug(int id, uint32_t word) { PlugJoystick(id, word); }
  void Unplug(int id) { UnplugJoystick(id); }
  int Reads(int id) { return JoystickReads(id); }
  int TotalReads() { return TotalJoystickReads(); }

  std::atomic<int> scannerSleeps{0};
  void WaitOnClock(platform::ConditionVariable& signal, platform::MutexLock& lock, uint32_t ms) override {
    if (ms == CJoystick::kScanPeriodMs) ++scannerSleeps;
    FakeEnv::WaitOnClock(signal, lock, ms);
  }
};

// Waits (really, up to 10 s) until done() holds; a guard against hanging, not a timing check.
template <typename Condition>
bool Eventually(Condition done) {
  for (int i = 0; i < 10000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Stands in for the station model and the station server: keeps activeMarks and counts publishes.
class FakeStation {
 public:
  std::string Select(int radioIndex) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    selections_.push_back(radioIndex);
    CopyText(local_.activeMarks, CJoystick::ActiveMarksFor(radioIndex).c_str());
    return local_.activeMarks;
  }
  void Publish(const char* marks) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    published_.push_back(marks);
  }
  std::vector<std::string> Published() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return published_;
  }
  std::vector<int> Selections() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return selections_;
  }
  void Attach(CJoystick& joystick) {
    joystick.SetCallbacks([this](int radio) { return Select(radio); },
                          [this](const char* marks) { Publish(marks); });
  }

 private:
  platform::Mutex mutex_;  // a leaf; the joystick calls the callbacks without its own locks
  StationRecord local_ GUARDED_BY(mutex_);
  std::vector<int> selections_ GUARDED_BY(mutex_);
  std::vector<std::string> published_ GUARDED_BY(mutex_);
};

// The log file with lines ending in LF on every platform.
std::string ReadLog(const std::filesystem::path& path) {
  std::string text = ReadFile(path);
  std::erase(text, '\r');
  return text;
}

// The level ("L05") of the log line that ends with text, "" when no line does.
std::string LevelOfLine(const std::string& log, const std::string& text) {
  size_t found = log.find(text + "\n");
  if (found == std::string::npos) return "";
  size_t begin = log.rfind('\n', found);
  begin = begin == std::string::npos ? 0 : begin + 1;
  size_t level = log.find("][L", begin);
  return level < found ? log.substr(level + 2, 3) : "";
}

class JoystickTest : public ::testing::Test {
 protected:
  JoystickTest() {
    log_ = std::make_unique<Clog>(platform::Env::Default());
    log_->Init(LogPath().wstring(), 5);
    joystick_ = std::make_unique<CJoystick>(env_, *log_);
  }
  ~JoystickTest() override { joystick_.reset(); }

  std::filesystem::path LogPath() { return dir_ / "Halcyra.log"; }
  // Stops the selector, closes the log (writing what is queued) and returns the file.
  std::string FinishLog() {
    joystick_.reset();
    log_.reset();
    return ReadLog(LogPath());
  }
  int Selected() {
    int radio = 99;
    int result = joystick_->IsRadioSelected(&radio);
    EXPECT_EQ(result == 1, radio >= 0) << "result " << result << ", radio " << radio;
    return radio;
  }

  TempDir dir_;
  JoystickEnv env_;
  std::unique_ptr<Clog> log_;
  std::unique_ptr<CJoystick> joystick_;
};

// ---------------------------------------------------------------- one pass

TEST_F(JoystickTest, HoldingABoundButtonSelectsOnceUntilReleasedAndPressedAgain) {
  env_.Plug(2, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(0, 2, 3);

  env_.Plug(2, Button(3));
  EXPECT_EQ(0, Selected());
  EXPECT_EQ(-1, Selected());  // held
  env_.Plug(2, Button(3) | Button(9));
  EXPECT_EQ(-1, Selected());  // an unbound press while it is held selects nothing
  env_.Plug(2, 0);
  EXPECT_EQ(-1, Selected());  // released
  env_.Plug(2, Button(3));
  EXPECT_EQ(0, Selected());
}

TEST_F(JoystickTest, TwoNewPressesOnOneJoystickSelectByTheLowestButtonAndTheLowestRadio) {
  env_.Plug(0, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(0, 0, 6);
  joystick_->SetRadioSelector(2, 0, 3);
  joystick_->SetRadioSelector(1, 0, 3);  // bound twice: the lower radio wins

  env_.Plug(0, Button(3) | Button(6));
  EXPECT_EQ(1, Selected());
  EXPECT_EQ(-1, Selected()) << "button 6 was recorded with button 3, so it is no new press";
}

TEST_F(JoystickTest, UnboundPressEndsThePassAndAHigherJoystickIsSeenInTheNext) {
  env_.Plug(0, 0);
  env_.Plug(4, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(1, 4, 2);

  env_.Plug(0, Button(1));  // unbound
  env_.Plug(4, Button(2));  // bound, pressed at the same moment
  int readsOf4 = env_.Reads(4);
  EXPECT_EQ(-1, Selected());
  EXPECT_EQ(readsOf4, env_.Reads(4)) << "joystick 4 must not be looked at in that pass";
  EXPECT_EQ(1, Selected());
}

TEST_F(JoystickTest, JoystickAbsentAtStartGivesNoSelectionOnItsFirstRead) {
  joystick_->Init();  // nothing plugged in
  joystick_->SetRadioSelector(2, 3, 1);

  env_.Plug(3, Button(1));  // plugged in with the button held
  EXPECT_EQ(-1, Selected());
  env_.Plug(3, 0);
  EXPECT_EQ(-1, Selected());
  env_.Plug(3, Button(1));
  EXPECT_EQ(2, Selected());
}

TEST_F(JoystickTest, UnreadableJoysticksAreSkippedAndTheHighestIdAndButtonWork) {
  env_.Plug(31, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(1, 31, 32);
  env_.Plug(31, Button(32));
  EXPECT_EQ(1, Selected());

  env_.Unplug(31);  // unplugged: skipped, its last word kept
  EXPECT_EQ(-1, Selected());
  env_.Plug(31, Button(32));
  EXPECT_EQ(-1, Selected()) << "same word as before the unplug: no new press";
}

TEST_F(JoystickTest, BadRadioIndexIsLoggedAndChangesNothing) {
  env_.Plug(0, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(3, 0, 1);
  joystick_->SetRadioSelector(-1, 0, 1);
  env_.Plug(0, Button(1));
  EXPECT_EQ(-1, Selected());
  joystick_->ShowRadioSelectors();

  std::string log = FinishLog();
  EXPECT_EQ("L00", LevelOfLine(log, "CJoystick::SetRadioSelector : /!\\ Bad Radio ID (+1) :4")) << log;
  EXPECT_EQ("L00", LevelOfLine(log, "CJoystick::SetRadioSelector : /!\\ Bad Radio ID (+1) :0"));
  for (int radio = 1; radio <= 3; ++radio) {
    std::string line = "CJoystick::ShowRadioSelectors : Button configuration [00000000],RadioID #" +
                       std::to_string(radio) + ", DeviceID #-1, ButtonID #-1";
    EXPECT_EQ("L00", LevelOfLine(log, line)) << line;
  }
}

TEST_F(JoystickTest, DetailedLogShowsBindingsAndKeys) {
  env_.Plug(2, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(0, 2, 3);
  env_.Plug(2, Button(3));
  Selected();
  std::string log = FinishLog();
  EXPECT_EQ("L05", LevelOfLine(log,
                               "CJoystick::SetRadioSelector : Joystick Radio button added "
                               "[00000000],RadioID #1, DeviceID #2, ButtonID #3"))
      << log;
  EXPECT_EQ("L05", LevelOfLine(log, "CJoystick::IsRadioSelected : ReadJoystickKey  == 2 / 3"));
}

TEST_F(JoystickTest, UnreachableBindingIsReportedOnceNotAtEveryReload) {
  joystick_->Init();
  for (int reload = 0; reload < 3; ++reload) {
    joystick_->SetRadioSelector(0, 0, 40);
    joystick_->SetRadioSelector(1, -1, -1);
  }
  std::string log = FinishLog();
  std::string warning = "Joystick button out of range, RadioID #1, DeviceID #0, ButtonID #40";
  size_t first = log.find(warning);
  ASSERT_NE(std::string::npos, first) << log;
  EXPECT_EQ(std::string::npos, log.find(warning, first + 1));
  EXPECT_EQ(std::string::npos, log.find("RadioID #2, DeviceID #-1, ButtonID #-1 ("));
}

// ---------------------------------------------------------------- the scanner thread

// Without a binding the scanner sleeps until one appears: no read and no timed wake-up meanwhile.
TEST_F(JoystickTest, ScannerReadsNothingUntilAButtonIsBoundAndThenReadsEveryPass) {
  FakeStation station;
  station.Attach(*joystick_);
  env_.Plug(0, 0);
  joystick_->Init();
  int readsAfterInit = env_.TotalReads();
  ASSERT_EQ(0, joystick_->StartScanning());
  ASSERT_TRUE(Eventually([&] { return joystick_->ScannerStarted(); }));
  joystick_->SetRadioSelector(1, -1, -1);  // unbound: still nothing to read
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(0, env_.scannerSleeps);
  EXPECT_EQ(readsAfterInit, env_.TotalReads());

  joystick_->SetRadioSelector(0, 0, 4);
  ASSERT_TRUE(Eventually([&] { return env_.scannerSleeps >= 5; }));
  EXPECT_GE(env_.Reads(0), 5);
  env_.Plug(0, Button(4));
  ASSERT_TRUE(Eventually([&] { return station.Published().size() == 1; }));
  EXPECT_NE(std::string::npos, FinishLog().find("Thread_ScanJoystick : Joystick ID not defined\n"));
}

TEST_F(JoystickTest, ScannerSelectsAHeldButtonOncePublishesAndLogsTheMarks) {
  FakeStation station;
  station.Attach(*joystick_);
  env_.Plug(5, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(2, 5, 7);
  ASSERT_EQ(0, joystick_->StartScanning());

  env_.Plug(5, Button(7));
  ASSERT_TRUE(Eventually([&] { return station.Published().size() == 1; }));
  int sleeps = env_.scannerSleeps;
  ASSERT_TRUE(Eventually([&] { return env_.scannerSleeps >= sleeps + 20; }));  // held for 20 passes
  EXPECT_EQ(std::vector<std::string>{"__X"}, station.Published());

  env_.Plug(5, 0);
  sleeps = env_.scannerSleeps;
  ASSERT_TRUE(Eventually([&] { return env_.scannerSleeps >= sleeps + 3; }));
  env_.Plug(5, Button(7));
  ASSERT_TRUE(Eventually([&] { return station.Published().size() == 2; }));
  EXPECT_EQ((std::vector<int>{2, 2}), station.Selections());

  std::string log = FinishLog();
  EXPECT_EQ("L02", LevelOfLine(log, "Thread_ScanJoystick : Radio #3 is selected. HCS active : __X")) << log;
}

// A bind item's capture: a button held when it starts does not count; the next new press is handed
// over and selects nothing; without a press the capture ends with nothing when its time is up.
TEST_F(JoystickTest, CaptureTakesTheNextNewPressOrEndsWithNothingAtItsTime) {
  FakeStation station;
  station.Attach(*joystick_);
  platform::Mutex mutex;
  std::vector<std::pair<int, std::optional<JoystickButton>>> captured;
  auto capturedCount = [&]() EXCLUDES(mutex) {
    platform::MutexLock lock(mutex);
    return captured.size();
  };
  joystick_->SetCaptureDone([&](int radio, std::optional<JoystickButton> pressed) EXCLUDES(mutex) {
    platform::MutexLock lock(mutex);
    captured.emplace_back(radio, pressed);
  });
  env_.Plug(1, Button(2));  // held from the start
  env_.Plug(4, 0);
  joystick_->Init();
  EXPECT_FALSE(joystick_->StartCapture(1, 10000)) << "no scanner yet";
  ASSERT_EQ(0, joystick_->StartScanning());
  ASSERT_TRUE(joystick_->StartCapture(1, 10000));
  int sleeps = env_.scannerSleeps;
  ASSERT_TRUE(Eventually([&] { return env_.scannerSleeps >= sleeps + 3; }));
  EXPECT_EQ(0u, capturedCount());

  joystick_->SetRadioSelector(0, 4, 3);
  env_.Plug(4, Button(3));  // radio 1's button, newly pressed: captured for radio 2
  ASSERT_TRUE(Eventually([&] { return capturedCount() == 1; }));
  EXPECT_FALSE(joystick_->Capturing());
  EXPECT_TRUE(station.Published().empty());

  env_.Plug(4, 0);
  ASSERT_TRUE(joystick_->StartCapture(2, 100));
  ASSERT_TRUE(Eventually([&] { return capturedCount() == 2; }));
  platform::MutexLock lock(mutex);
  EXPECT_EQ(1, captured[0].first);
  ASSERT_TRUE(captured[0].second);
  EXPECT_EQ(4, captured[0].second->device);
  EXPECT_EQ(3, captured[0].second->button);
  EXPECT_EQ(2, captured[1].first);
  EXPECT_FALSE(captured[1].second);
}

TEST_F(JoystickTest, HandleOfTheRunningScannerAppearsInTheBindingLines) {
  joystick_->Init();
  EXPECT_EQ(0u, joystick_->ThreadHandleValue());
  ASSERT_EQ(0, joystick_->StartScanning());
  uint32_t handle = joystick_->ThreadHandleValue();
  ASSERT_EQ(0, joystick_->StartScanning());  // already running: no second thread
  EXPECT_EQ(handle, joystick_->ThreadHandleValue());
  joystick_->SetRadioSelector(0, 1, 2);
  joystick_->ShowRadioSelectors();
  joystick_->Terminate();
  EXPECT_EQ(0u, joystick_->ThreadHandleValue());

  char expected[128];
  std::snprintf(expected, sizeof expected, "Button configuration [%08X],RadioID #1, DeviceID #1, ButtonID #2",
                handle);
  EXPECT_NE(std::string::npos, FinishLog().find(expected)) << expected;
}

// With the clock stopped the scanner's first sleep never ends by itself: only the stop ends it.
TEST_F(JoystickTest, TerminatedDuringItsSleepTheScannerReadsNothingMore) {
  env_.Plug(0, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(0, 0, 1);
  int reads = env_.TotalReads();
  env_.clockStopped = true;
  ASSERT_EQ(0, joystick_->StartScanning());
  ASSERT_TRUE(Eventually([&] { return env_.scannerSleeps >= 1; }));

  joystick_->Terminate();  // returns: the stop ended the sleep
  EXPECT_TRUE(joystick_->StopRequested());
  EXPECT_FALSE(joystick_->ScannerStarted());
  EXPECT_EQ(reads, env_.TotalReads()) << "a pass ran after the stop";
}

TEST_F(JoystickTest, TerminateTwiceIsHarmlessAndLeavesNothingBound) {
  env_.Plug(0, 0);
  joystick_->Init();
  joystick_->SetRadioSelector(0, 0, 1);
  ASSERT_EQ(0, joystick_->StartScanning());
  joystick_->Terminate();
  joystick_->Terminate();
  EXPECT_FALSE(joystick_->ScannerStarted());

  env_.Plug(0, Button(1));
  EXPECT_EQ(-1, Selected());
  joystick_->ShowRadioSelectors();

  std::string log = FinishLog();
  size_t first = log.find("CJoystick::Terminate\n");
  ASSERT_NE(std::string::npos, first) << log;
  EXPECT_EQ(std::string::npos, log.find("CJoystick::Terminate\n", first + 1));
  EXPECT_NE(std::string::npos, log.find("RadioID #1, DeviceID #-1, ButtonID #-1"));
}

// ---------------------------------------------------------------- with the configuration

TEST(JoystickConfigurationTest, Radio2BoundToButton5OfJoystick0SelectsAndPublishes) {
  TempDir dir;
  JoystickEnv env;
  env.savedGames = dir.path().wstring();
  std::filesystem::create_directories(dir / "tiles");
  WriteFile(dir / "Halcyra" / "Halcyra.ini",
            "[LOG]\nLOGLEVEL=5\n[HGT]\nPath=" + (dir / "tiles").string() + "\n[SELECTOR]\nRADIO2=0 5\n");
  env.Plug(0, 0);

  auto log = std::make_unique<Clog>(env);
  Settings settings;
  SimulatorStatus simulator;
  FakeStation station;
  {
    CJoystick joystick(env, *log);
    joystick.Init();
    station.Attach(joystick);
    Configuration config(env, *log, settings, simulator);
    config.SetRadioSelectorSink(&joystick);
    ASSERT_EQ(1, config.ReadIniFile());
    ASSERT_EQ(0, joystick.StartScanning());

    env.Plug(0, Button(5));
    ASSERT_TRUE(Eventually([&] { return station.Published().size() == 1; }));
    EXPECT_EQ("_X_", station.Published()[0]);
    EXPECT_EQ(std::vector<int>{1}, station.Selections());
    joystick.Terminate();
  }
  log.reset();  // writes what is still queued
  std::string text = ReadLog(dir / "Halcyra" / "Halcyra.log");
  EXPECT_NE(std::string::npos,
            text.find("Button configuration [00000000],RadioID #2, DeviceID #0, ButtonID #5"));
  EXPECT_NE(std::string::npos,
            text.find("Button configuration [00000000],RadioID #1, DeviceID #-1, ButtonID #-1"));
}

}  // namespace
}  // namespace halcyra
