// FakeEnv: the real Env with a fake clock, a fixed local time, recorded message boxes and fault
// switches for the registry, name look-up and networking start; boxes and look-ups can be held
// (a box the user leaves open, a name service that does not answer); joysticks plugged in and
// buttons pressed by the test; files opened for the user only recorded. Everything else is real.
#pragma once

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"
#include "wait_until.h"

namespace halcyra::testing {

// Holds the calls that pass it while it is closed, until it is opened again.
class Gate {
 public:
  void Close() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    closed_ = true;
  }
  void Open() EXCLUDES(mutex_) {
    {
      platform::MutexLock lock(mutex_);
      closed_ = false;
    }
    opened_.NotifyAll();
  }
  void Pass() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    ++waiting_;
    opened_.Wait(lock, [this]() REQUIRES(mutex_) { return !closed_; });
    --waiting_;
  }
  int Waiting() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return waiting_;
  }

 private:
  mutable platform::Mutex mutex_;  // a leaf: nothing is called while it is held
  platform::ConditionVariable opened_;
  bool closed_ GUARDED_BY(mutex_) = false;
  int waiting_ GUARDED_BY(mutex_) = 0;
};

class FakeEnv : public platform::EnvWrapper {
 public:
  FakeEnv() : EnvWrapper(platform::Env::Default()) {}
  // Lets held calls go and waits for the threads nobody joins, which may still use this object.
  ~FakeEnv() override {
    boxGate.Open();
    lookupGate.Open();
    WaitUntil([this] { return detachedRunning.load() == 0; });
  }

  // --- clock: SleepMs advances the fake tick count at once and really sleeps at most
  // realSleepCapMs, so a 2000 ms cycle takes a millisecond of real time. ---
  std::atomic<uint64_t> tickMs{1000000};
  std::atomic<uint32_t> realSleepCapMs{1};
  std::atomic<uint64_t> sleptMs{0};  // total fake sleep, all threads
  // While set, sleeping advances no tick count: a wait that ends only by its time limit never ends.
  std::atomic<bool> clockStopped{false};
  platform::LocalTime localTime{2024, 5, 17, 14, 2, 3, 45};

  uint64_t TickMs() override { return tickMs.load(); }
  platform::LocalTime Now() override { return localTime; }
  void SleepMs(uint32_t ms) override {
    if (!clockStopped.load()) tickMs += ms;
    sleptMs += ms;
    uint32_t real = ms < realSleepCapMs.load() ? ms : realSleepCapMs.load();
    target().SleepMs(real);
  }
  // A wait that is not notified within realSleepCapMs of real time counts as having waited its
  // whole time, as SleepMs does.
  void WaitOnClock(platform::ConditionVariable& signal, platform::MutexLock& lock, uint32_t ms) override {
    uint32_t real = ms < realSleepCapMs.load() ? ms : realSleepCapMs.load();
    if (signal.WaitFor(lock, std::chrono::milliseconds(real))) return;
    if (!clockStopped.load()) tickMs += ms;
    sleptMs += ms;
  }

  // --- threads: from the refuseThreadsFrom-th start on (0: the first), StartThread refuses, as a
  // system out of threads does; threadStarts counts the starts asked for ---
  std::atomic<int> threadStarts{0};
  std::atomic<int> refuseThreadsFrom{INT_MAX};
  std::unique_ptr<platform::Thread> StartThread(std::function<void()> body) override {
    if (threadStarts++ >= refuseThreadsFrom.load()) return nullptr;
    return target().StartThread(std::move(body));
  }

  // --- threads nobody joins (boxes, name look-ups, host calls): counted, so that a test can wait
  // for them ---
  std::atomic<int> detachedRunning{0};
  bool StartDetachedThread(std::function<void()> body) override {
    ++detachedRunning;
    bool started = target().StartDetachedThread([this, body = std::move(body)]() mutable {
      body();
      body = nullptr;
      --detachedRunning;
    });
    if (!started) --detachedRunning;
    return started;
  }
  // Waits until every such thread has ended or waits at a gate; false when that took too long.
  bool WaitForDetachedThreads(int timeoutMs = 5000) {
    return WaitUntil([this] { return detachedRunning.load() <= boxGate.Waiting() + lookupGate.Waiting(); },
                     timeoutMs);
  }

  // --- message boxes: recorded when shown; boxGate closed keeps them open ---
  struct Box {
    std::wstring caption;
    std::wstring text;
    platform::MessageIcon icon;
  };
  Gate boxGate;
  void ShowMessageBox(const std::wstring& caption, const std::wstring& text,
                      platform::MessageIcon icon) override EXCLUDES(mutex_) {
    {
      platform::MutexLock lock(mutex_);
      boxes_.push_back({caption, text, icon});
    }
    boxGate.Pass();
  }
  // The boxes shown so far, once every box on its way has been shown.
  std::vector<Box> Boxes() EXCLUDES(mutex_) {
    WaitForDetachedThreads();
    platform::MutexLock lock(mutex_);
    return boxes_;
  }

  // --- folders: unset optionals fall through to the real Env ---
  std::optional<std::wstring> savedGames;  // empty text = not found
  bool SavedGamesFolder(std::wstring* folder) override {
    if (!savedGames) return target().SavedGamesFolder(folder);
    if (savedGames->empty()) return false;
    *folder = *savedGames;
    return true;
  }
  struct Install {
    platform::RegistryResult result;
    std::wstring folder;
  };
  std::map<platform::RegistryRoot, Install> install;  // roots without entry: key missing
  bool fakeInstall = true;
  platform::RegistryResult InstallFolder(platform::RegistryRoot root, std::wstring* folder) override {
    if (!fakeInstall) return target().InstallFolder(root, folder);
    auto found = install.find(root);
    if (found == install.end()) return platform::RegistryResult::kKeyMissing;
    if (found->second.result == platform::RegistryResult::kOk) *folder = found->second.folder;
    return found->second.result;
  }

  std::optional<std::wstring> moduleFolder;  // the plug-in's own folder; empty text = unknown
  bool ModuleFolder(std::wstring* folder) override {
    if (!moduleFolder) return target().ModuleFolder(folder);
    if (moduleFolder->empty()) return false;
    *folder = *moduleFolder;
    return true;
  }

  // --- name look-up: names listed here resolve (or fail) without DNS; lookupGate closed holds every
  // look-up, as a name service that does not answer ---
  std::map<std::string, std::optional<uint32_t>> names;
  std::atomic<int> lookups{0};
  Gate lookupGate;
  bool ResolveIPv4(const std::string& hostName, uint32_t* address) override {
    ++lookups;
    lookupGate.Pass();
    auto found = names.find(hostName);
    if (found == names.end()) return target().ResolveIPv4(hostName, address);
    if (!found->second) return false;
    *address = *found->second;
    return true;
  }

  // --- files: refuseFileOpens makes every open fail, as a locked or vanished file would ---
  std::atomic<bool> refuseFileOpens{false};
  std::FILE* OpenFile(const std::wstring& path, const char* mode) override {
    if (refuseFileOpens.load()) return nullptr;
    return target().OpenFile(path, mode);
  }

  // --- joysticks: none until plugged in; a plugged joystick reads as the word it was given ---
  void PlugJoystick(int id, uint32_t buttons) EXCLUDES(joystickMutex_) {
    platform::MutexLock lock(joystickMutex_);
    joysticks_[id] = buttons;
  }
  void UnplugJoystick(int id) EXCLUDES(joystickMutex_) {
    platform::MutexLock lock(joystickMutex_);
    joysticks_.erase(id);
  }
  int JoystickReads(int id) EXCLUDES(joystickMutex_) {
    platform::MutexLock lock(joystickMutex_);
    return joystickReads_[id];
  }
  int TotalJoystickReads() EXCLUDES(joystickMutex_) {
    platform::MutexLock lock(joystickMutex_);
    int total = 0;
    for (auto& [id, count] : joystickReads_) total += count;
    return total;
  }
  bool ReadJoystickButtons(int id, uint32_t* buttons) override EXCLUDES(joystickMutex_) {
    platform::MutexLock lock(joystickMutex_);
    ++joystickReads_[id];
    auto found = joysticks_.find(id);
    if (found == joysticks_.end()) return false;
    *buttons = found->second;
    return true;
  }

  // --- files and folders opened for the user: recorded, nothing is started ---
  bool OpenInDesktop(const std::wstring& path) override EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    opened_.push_back(path);
    return true;
  }
  std::vector<std::wstring> Opened() EXCLUDES(mutex_) {
    WaitForDetachedThreads();
    platform::MutexLock lock(mutex_);
    return opened_;
  }

  // --- networking start ---
  int startNetworkingResult = 0;
  int StartNetworking() override {
    return startNetworkingResult != 0 ? startNetworkingResult : target().StartNetworking();
  }

 private:
  platform::Mutex mutex_;  // a leaf; released before a box waits at boxGate
  std::vector<Box> boxes_ GUARDED_BY(mutex_);
  std::vector<std::wstring> opened_ GUARDED_BY(mutex_);
  platform::Mutex joystickMutex_;  // a leaf
  std::map<int, uint32_t> joysticks_ GUARDED_BY(joystickMutex_);
  std::map<int, int> joystickReads_ GUARDED_BY(joystickMutex_);
};

// The real Env on a clock that runs `factor` times faster: ticks count factor milliseconds for each
// real one and a sleep lasts 1/factor of its length (at least a millisecond), so the plug-in's
// 2000 ms cycle passes in 2000 / factor real milliseconds. Sockets keep real time.
class FastClock : public platform::EnvWrapper {
 public:
  FastClock(platform::Env& target, uint32_t factor)
      : EnvWrapper(target), factor_(factor), startMs_(target.TickMs()) {}
  uint32_t factor() const { return factor_; }

  uint64_t TickMs() override { return startMs_ + (target().TickMs() - startMs_) * factor_; }
  void SleepMs(uint32_t ms) override {
    if (ms > 0) target().SleepMs(ms / factor_ > 0 ? ms / factor_ : 1);
  }
  void WaitOnClock(platform::ConditionVariable& signal, platform::MutexLock& lock, uint32_t ms) override {
    target().WaitOnClock(signal, lock, ms / factor_ > 0 ? ms / factor_ : 1);
  }

 private:
  const uint32_t factor_;
  const uint64_t startMs_;
};

}  // namespace halcyra::testing
