// The plug-in's settings, read from the INI file by Configuration.
//
// Start-only values (iniPath, logLevel, hgtPath) are written once during start on the host's
// thread, before any other thread exists. The re-readable values are rewritten by every reload on
// the refresh thread while other threads read them: the ints are atomics, and the station server
// address and port are replaced together under serverLock_, so a reader always gets one pair.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/mutex.h"

namespace halcyra {

// The UDP port the simulator link listens on for the simulator's commands.
inline constexpr uint16_t kSimulatorPort = 10602;

struct ServerEndpoint {
  std::string address;  // dotted IPv4 text, at most 15 characters
  int port = 10600;     // UDP port; the low 16 bits are used
};

class Settings {
 public:
  // --- start-only ---
  std::wstring iniPath;  // full path of Halcyra.ini
  int logLevel = 0;      // LOGLEVEL
  std::string hgtPath;   // elevation tile folder, UTF-8, fewer than 260 characters; empty = none
  // [DCS] LISTEN: the local IPv4 address (host order) the simulator link listens on; 0 = every
  // address, for a simulator on another computer.
  uint32_t simulatorListenAddress = 0x7F000001;

  // --- re-readable ---
  std::atomic<int> ear1{0};  // ear of local radio 1: -1 left, 1 right, other values in front
  std::atomic<int> ear2{0};
  std::atomic<int> ear3{0};
  std::atomic<int> attenuation{1};  // [SYSTEM] ATTN: 0 off, any other value on; also switched from the
                                    // client (Configuration::StoreAttenuation)

  ServerEndpoint Server() const EXCLUDES(serverLock_) {
    platform::MutexLock lock(serverLock_);
    return server_;
  }
  void SetServer(ServerEndpoint server) EXCLUDES(serverLock_) {
    platform::MutexLock lock(serverLock_);
    server_ = std::move(server);
  }

 private:
  mutable platform::Mutex serverLock_;  // a leaf: held only to copy the pair
  ServerEndpoint server_ GUARDED_BY(serverLock_);
};

}  // namespace halcyra
