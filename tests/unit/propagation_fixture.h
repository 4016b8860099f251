// Shared set-up of the radio model tests: a tile folder in a temp folder, an Env that records the
// files opened, the log, the tile store and the station model.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fake_env.h"
#include "hgt_tile.h"
#include "platform/mutex.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "temp_dir.h"

namespace halcyra::testing {

class FileRecordingEnv : public FakeEnv {
 public:
  std::FILE* OpenFile(const std::wstring& path, const char* mode) override EXCLUDES(openedLock_) {
    std::string name = platform::WideToUtf8(path);
    bool lowerCaseFallback = name.size() > 4 && name.compare(name.size() - 4, 4, ".hgt") == 0;
    if (std::string(mode) == "rb" && !lowerCaseFallback) {
      platform::MutexLock lock(openedLock_);
      opened_.push_back(name);
    }
    return FakeEnv::OpenFile(path, mode);
  }
  // Paths of every tile open attempt ("rb") by the tile's own name, in order (the second try of a
  // lower-case "N42E041.hgt" on POSIX is not counted).
  std::vector<std::string> Opened() EXCLUDES(openedLock_) {
    platform::MutexLock lock(openedLock_);
    return opened_;
  }

 private:
  // Taken while the tile store holds its tile lock, so it comes after it; a leaf.
  platform::Mutex openedLock_;
  std::vector<std::string> opened_ GUARDED_BY(openedLock_);
};

class PropagationTest : public ::testing::Test {
 protected:
  PropagationTest() { tiles_.SetTileFolder(Folder()); }

  std::string Folder() const { return platform::WideToUtf8(dir_.path().wstring()); }
  std::filesystem::path TilePath(const std::string& name) const { return dir_ / name; }

  // Starts the log file at the level; LogLines() flushes it and reads it back.
  void StartLog(int level) { ASSERT_EQ(0, log_.Init((logDir_ / "Halcyra.log").wstring(), level)); }
  std::vector<std::string> LogLines() {
    log_.Flush();
    std::vector<std::string> lines;
    std::istringstream stream(ReadFile(logDir_ / "Halcyra.log"));
    for (std::string line; std::getline(stream, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t body = line.find("] ", line.find("][L"));  // drop the time stamp and level
      lines.push_back(body == std::string::npos ? line : line.substr(body + 2));
    }
    return lines;
  }

  void SetLocal(float latitude, float longitude, float altitude) {
    model_.UpdateLocalStation([&](StationRecord& local) {
      local.latitude = latitude;
      local.longitude = longitude;
      local.altitude = altitude;
    });
  }

  static StationRecord Remote(const char* nickname, float latitude, float longitude, float altitude) {
    StationRecord remote;
    CopyText(remote.nickname, nickname);
    CopyText(remote.frequency1, "251.000");
    CopyText(remote.frequency2, kRadioOff);
    CopyText(remote.frequency3, kRadioOff);
    CopyText(remote.activeMarks, "X__");
    CopyText(remote.cryptoFrequency, kRadioOff);
    remote.latitude = latitude;
    remote.longitude = longitude;
    remote.altitude = altitude;
    return remote;
  }

  TempDir dir_;
  TempDir logDir_;
  FileRecordingEnv env_;
  Clog log_{env_};
  CHGTFiles tiles_{env_, log_};
  CHalcyra model_{log_, tiles_};
};

}  // namespace halcyra::testing
