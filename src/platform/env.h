// The one interface between Halcyra and the operating system.
//
// Every OS call of the plug-in, the station server and the scenario runner goes through Env:
// time, sleeping, threads, UDP sockets, the registry (or its POSIX stand-in), INI files, message
// boxes, files with wide paths and joysticks. The build picks one implementation: Win32 on Windows,
// POSIX elsewhere. Tests replace parts of it by wrapping the real one (EnvWrapper), as leveldb does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/mutex.h"

namespace halcyra::platform {

// Local wall-clock time with milliseconds. month 1..12, day 1..31, hour 0..23.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

enum class MessageIcon { kError, kWarning };

// Registry hives read for the installer folder.
enum class RegistryRoot { kLocalMachine, kCurrentUser };

enum class RegistryResult {
  kOk,
  kKeyMissing,    // the key could not be opened
  kValueMissing,  // the key opened but the value could not be read
};

// A thread started by Env::StartThread. Join() waits for the body to return; destroying a Thread
// that was not joined joins it. Threads are never killed: bodies stop cooperatively.
class Thread {
 public:
  virtual ~Thread() = default;
  virtual void Join() = 0;
  // The OS thread identifier (GetThreadId / gettid) and the handle as a number, for log lines.
  virtual uint32_t Id() const = 0;
  virtual uint64_t HandleValue() const = 0;
};

// Special results of UdpSocket::ReceiveFrom besides a byte count >= 0.
inline constexpr int kReceiveError = -1;
inline constexpr int kReceiveTimedOut = -2;
inline constexpr int kReceiveTooLong = -3;      // the datagram did not fit the buffer; it is dropped
inline constexpr int kReceiveInterrupted = -4;  // Interrupt() was called

// One IPv4 UDP socket. Addresses are IPv4 in host order (a.b.c.d = a << 24 | b << 16 | c << 8 | d),
// ports are in host order. Closing happens in the destructor if Close() was not called. One thread
// uses a socket; only Interrupt() may be called from another one (while the socket is not closed).
class UdpSocket {
 public:
  virtual ~UdpSocket() = default;
  // Binds to the address (0 = all local addresses) and port. Returns 0, or the OS error code.
  virtual int Bind(uint32_t address, uint16_t port) = 0;
  // Sends one datagram. Returns the bytes sent, or -1 with the error in LastError().
  virtual int SendTo(const void* data, size_t size, uint32_t address, uint16_t port) = 0;
  // Waits for one datagram, at most timeoutMs milliseconds (negative: without limit). Returns its
  // length, kReceiveTimedOut, kReceiveTooLong, kReceiveInterrupted, or kReceiveError with the error
  // in LastError().
  virtual int ReceiveFrom(void* buffer, size_t capacity, int timeoutMs, uint32_t* fromAddress,
                          uint16_t* fromPort) = 0;
  // The port the socket is bound to (useful after binding port 0), 0 when unknown.
  virtual uint16_t LocalPort() const = 0;
  virtual void Shutdown() = 0;  // both directions
  // From any thread: a ReceiveFrom waiting now returns kReceiveInterrupted at once, and so does
  // every later one (the socket receives nothing more). Sockets without their own way shut down.
  virtual void Interrupt() { Shutdown(); }
  virtual void Close() = 0;
  virtual int LastError() const = 0;  // the OS socket error of the last failed call
};

class Env {
 public:
  virtual ~Env() = default;

  // The real implementation for this OS; lives for the whole process.
  static Env& Default();

  // --- time ---
  virtual uint64_t TickMs() = 0;  // monotonic milliseconds since an arbitrary start
  virtual LocalTime Now() = 0;    // local time of day
  virtual void SleepMs(uint32_t ms) = 0;
  // Waits on signal (lock held, given up while waiting) until it is notified or ms milliseconds of
  // this clock have passed; may also end early without either. The waiter checks its condition.
  virtual void WaitOnClock(ConditionVariable& signal, MutexLock& lock, uint32_t ms) {
    signal.WaitFor(lock, std::chrono::milliseconds(ms));
  }

  // --- threads ---
  // Starts body on a new thread; null when the OS refused to start it.
  virtual std::unique_ptr<Thread> StartThread(std::function<void()> body) = 0;
  // Starts body on a thread that nobody joins, for work that may outlast whoever asked for it (a
  // message box the user leaves open, a name look-up that stalls, a host call that blocks). The
  // library holding this code stays loaded until body has returned, even when the host unloads it
  // meanwhile; body must use only what it owns or what lives as long as the process. False when
  // the thread could not be started.
  virtual bool StartDetachedThread(std::function<void()> body) = 0;
  virtual uint32_t CurrentThreadId() = 0;

  // --- networking (IPv4 UDP) ---
  // Starts the socket library (WSAStartup 2.2 on Windows). Returns 0 or the error code.
  virtual int StartNetworking() = 0;
  virtual int LastNetworkingError() = 0;  // WSAGetLastError / errno
  // Null when the socket could not be created; the error is in LastNetworkingError().
  virtual std::unique_ptr<UdpSocket> CreateUdpSocket() = 0;
  // Resolves a host name to its first IPv4 address (host order). False when it cannot.
  virtual bool ResolveIPv4(const std::string& hostName, uint32_t* address) = 0;

  // --- user-facing folders and settings ---
  // The user's Saved Games folder (Windows: the shell folder value in HKCU; POSIX:
  // $HALCYRA_SAVED_GAMES, else "$HOME/Saved Games"). False when it cannot be found.
  virtual bool SavedGamesFolder(std::wstring* folder) = 0;
  // The installer's folder (value "Install_Dir" of "Software\Qoral\Halcyra" under root; POSIX:
  // $HALCYRA_INSTALL_DIR for both roots, "value missing" when unset).
  virtual RegistryResult InstallFolder(RegistryRoot root, std::wstring* folder) = 0;
  // The folder of the library (or program) this code is part of: beside the plug-in library for the
  // plug-in. False when it cannot be found.
  virtual bool ModuleFolder(std::wstring* folder) = 0;
  // Reads one INI value: sections and keys case-insensitive, value trimmed and cut to 511
  // characters; defaultValue when the file, section or key is missing.
  virtual std::wstring ReadIniString(const std::wstring& path, const std::wstring& section,
                                     const std::wstring& key, const std::wstring& defaultValue) = 0;

  // --- user interface ---
  // Shows a message box without owner window and an OK button; returns when it is closed.
  virtual void ShowMessageBox(const std::wstring& caption, const std::wstring& text, MessageIcon icon) = 0;

  // --- files ---
  // fopen with a wide path; null on failure.
  virtual std::FILE* OpenFile(const std::wstring& path, const char* mode) = 0;
  // Opens a file or folder the way the desktop does when the user double-clicks it (an INI file in
  // the text editor, a folder in the file manager). May take a while: call it on a thread that no
  // one waits for. False when no program could be started for it.
  virtual bool OpenInDesktop(const std::wstring& path) = 0;

  // --- joysticks ---
  // Button word of joystick id 0..31 (bit 0 = button 1). False when it cannot be read.
  virtual bool ReadJoystickButtons(int id, uint32_t* buttons) = 0;
};

// Forwards every call to another Env; tests derive from it and override what they fake.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  uint64_t TickMs() override { return target_.TickMs(); }
  LocalTime Now() override { return target_.Now(); }
  void SleepMs(uint32_t ms) override { target_.SleepMs(ms); }
  void WaitOnClock(ConditionVariable& signal, MutexLock& lock, uint32_t ms) override {
    target_.WaitOnClock(signal, lock, ms);
  }
  std::unique_ptr<Thread> StartThread(std::function<void()> body) override {
    return target_.StartThread(std::move(body));
  }
  bool StartDetachedThread(std::function<void()> body) override {
    return target_.StartDetachedThread(std::move(body));
  }
  uint32_t CurrentThreadId() override { return target_.CurrentThreadId(); }
  int StartNetworking() override { return target_.StartNetworking(); }
  int LastNetworkingError() override { return target_.LastNetworkingError(); }
  std::unique_ptr<UdpSocket> CreateUdpSocket() override { return target_.CreateUdpSocket(); }
  bool ResolveIPv4(const std::string& hostName, uint32_t* address) override {
    return target_.ResolveIPv4(hostName, address);
  }
  bool SavedGamesFolder(std::wstring* folder) override { return target_.SavedGamesFolder(folder); }
  RegistryResult InstallFolder(RegistryRoot root, std::wstring* folder) override {
    return target_.InstallFolder(root, folder);
  }
  bool ModuleFolder(std::wstring* folder) override { return target_.ModuleFolder(folder); }
  std::wstring ReadIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                             const std::wstring& defaultValue) override {
    return target_.ReadIniString(path, section, key, defaultValue);
  }
  void ShowMessageBox(const std::wstring& caption, const std::wstring& text, MessageIcon icon) override {
    target_.ShowMessageBox(caption, text, icon);
  }
  std::FILE* OpenFile(const std::wstring& path, const char* mode) override {
    return target_.OpenFile(path, mode);
  }
  bool OpenInDesktop(const std::wstring& path) override { return target_.OpenInDesktop(path); }
  bool ReadJoystickButtons(int id, uint32_t* buttons) override {
    return target_.ReadJoystickButtons(id, buttons);
  }

 private:
  Env& target_;
};

// Sleeps ms milliseconds through env in slices of at most sliceMs, returning early (false) as soon as
// stop is set; true when the whole time passed. Long-lived threads sleep this way so that they stop
// promptly.
inline bool SleepUnlessStopped(Env& env, uint32_t ms, const std::atomic<bool>& stop, uint32_t sliceMs = 20) {
  while (ms > 0) {
    if (stop.load()) return false;
    uint32_t slice = ms < sliceMs ? ms : sliceMs;
    env.SleepMs(slice);
    ms -= slice;
  }
  return !stop.load();
}

// --- text and paths (pure functions, one implementation per OS) ---

// UTF-8 <-> wide text. Invalid input is replaced by U+FFFD (wide) or '?' (UTF-8); never throws.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// The folder separator of this OS: '\\' on Windows, '/' elsewhere.
char PathSeparator();

// Names the calling thread for debuggers and process viewers (SetThreadDescription on Windows where
// the system has it; on Linux the first 15 bytes, the kernel's limit). Does nothing when the system
// cannot name threads.
void NameCurrentThread(const char* name);

// Reads one environment variable; false when it is not set.
bool GetEnvironmentVariableUtf8(const char* name, std::string* value);

}  // namespace halcyra::platform
