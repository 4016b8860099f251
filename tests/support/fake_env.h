// FakeEnv: the real Env with a fake clock, a fixed local time, recorded message boxes and fault
// switches for the registry, name look-up and networking start. Everything else is real.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace halcyra::testing {

class FakeEnv : public platform::EnvWrapper {
 public:
  FakeEnv() : EnvWrapper(platform::Env::Default()) {}

  // --- clock: SleepMs advances the fake tick count at once and really sleeps at most
  // realSleepCapMs, so a 2000 ms cycle takes a millisecond of real time. ---
  std::atomic<uint64_t> tickMs{1000000};
  std::atomic<uint32_t> realSleepCapMs{1};
  std::atomic<uint64_t> sleptMs{0};  // total fake sleep, all threads
  platform::LocalTime localTime{2024, 5, 17, 14, 2, 3, 45};

  uint64_t TickMs() override { return tickMs.load(); }
  platform::LocalTime Now() override { return localTime; }
  void SleepMs(uint32_t ms) override {
    tickMs += ms;
    sleptMs += ms;
    uint32_t real = ms < realSleepCapMs.load() ? ms : realSleepCapMs.load();
    target().SleepMs(real);
  }

  // --- message boxes ---
  struct Box {
    std::wstring caption;
    std::wstring text;
    platform::MessageIcon icon;
  };
  void ShowMessageBox(const std::wstring& caption, const std::wstring& text, platform::MessageIcon icon) override {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({caption, text, icon});
  }
  std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
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

  // --- name look-up: names listed here resolve (or fail) without DNS ---
  std::map<std::string, std::optional<uint32_t>> names;
  std::atomic<int> lookups{0};
  bool ResolveIPv4(const std::string& hostName, uint32_t* address) override {
    ++lookups;
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

  // --- networking start ---
  int startNetworkingResult = 0;
  int StartNetworking() override {
    return startNetworkingResult != 0 ? startNetworkingResult : target().StartNetworking();
  }

 private:
  std::mutex mutex_;  // guards boxes_
  std::vector<Box> boxes_;
};

}  // namespace halcyra::testing
