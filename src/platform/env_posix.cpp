// POSIX implementation of Env: BSD sockets, pthreads, the Linux joystick API, and our own
// stand-ins for the Windows registry (environment variables) and profile API (ini_reader).
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/joystick.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>

#include "platform/env.h"
#include "platform/ini_reader.h"
#include "platform/mutex.h"

namespace halcyra::platform {
namespace {

class PosixThread : public Thread {
 public:
  explicit PosixThread(std::function<void()> body) : body_(std::move(body)) {}
  ~PosixThread() override { Join(); }

  bool Start() EXCLUDES(mutex_) {
    if (pthread_create(&thread_, nullptr, &PosixThread::Run, this) != 0) return false;
    started_ = true;
    // Wait until the thread has published its id, so Id() is valid at once.
    MutexLock lock(mutex_);
    while (id_ == 0) idReady_.Wait(lock);
    return true;
  }

  void Join() override EXCLUDES(joinMutex_) {
    MutexLock joinLock(joinMutex_);
    if (started_ && !joined_) {
      pthread_join(thread_, nullptr);
      joined_ = true;
    }
  }
  uint32_t Id() const override EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return id_;
  }
  uint64_t HandleValue() const override { return static_cast<uint64_t>(thread_); }

 private:
  static void* Run(void* self) {
    auto* thread = static_cast<PosixThread*>(self);
    {
      MutexLock lock(thread->mutex_);
      thread->id_ = static_cast<uint32_t>(syscall(SYS_gettid));
    }
    thread->idReady_.NotifyAll();
    thread->body_();
    return nullptr;
  }

  // Two leaves, never held together: Join() holds joinMutex_ while it waits for the thread.
  std::function<void()> body_;
  pthread_t thread_{};    // set by Start, before the thread is handed out
  bool started_ = false;  // set by Start, before the thread is handed out
  Mutex joinMutex_;
  bool joined_ GUARDED_BY(joinMutex_) = false;
  mutable Mutex mutex_;
  ConditionVariable idReady_;
  uint32_t id_ GUARDED_BY(mutex_) = 0;
};

// A thread started by StartDetachedThread keeps this library loaded while it runs. Its first act is
// to make a thread-local object whose destructor is code of this library: the C runtime does not
// unload a library while such a destructor is pending (dlclose leaves it mapped, and a later dlclose
// unloads it once the thread has ended). The destructor runs after the body has returned, and the
// thread then goes on in the C runtime only. The starter waits until the pin is in place, so a host
// that unloads the library right after the starter returned still finds it pinned.
struct LibraryPin {
  ~LibraryPin() { held = false; }  // not trivial, so the runtime registers it
  bool held = false;
};

void PinLibraryToThisThread() {
  static thread_local LibraryPin pin;
  pin.held = true;
}

// Threads started by StartDetachedThread whose body has not ended. The library is unloaded only
// after they have all ended (see LibraryPin); reading the count at unload orders everything they
// did before it, also for tools that cannot see the C runtime's bookkeeping (ThreadSanitizer).
std::atomic<int> g_detachedThreads{0};

struct DetachedThreadsAtUnload {
  ~DetachedThreadsAtUnload() { static_cast<void>(g_detachedThreads.load(std::memory_order_acquire)); }
} g_detachedThreadsAtUnload;

struct DetachedStart {
  explicit DetachedStart(std::function<void()> work) : body(std::move(work)) {}
  Mutex lock;  // a leaf
  ConditionVariable pinnedSignal;
  std::function<void()> body GUARDED_BY(lock);
  bool pinned GUARDED_BY(lock) = false;
};

void* RunDetached(void* argument) {
  PinLibraryToThisThread();
  std::function<void()> body;
  {
    auto* start = static_cast<DetachedStart*>(argument);  // the starter's: gone once it is released
    MutexLock lock(start->lock);
    body = std::move(start->body);
    start->pinned = true;
    start->pinnedSignal.NotifyAll();
  }
  try {
    body();
  } catch (...) {
  }
  body = nullptr;
  g_detachedThreads.fetch_sub(1, std::memory_order_release);
  return nullptr;
}

class PosixUdpSocket : public UdpSocket {
 public:
  explicit PosixUdpSocket(int fd) : fd_(fd) {}
  ~PosixUdpSocket() override { Close(); }

  int Bind(uint32_t address, uint16_t port) override {
    sockaddr_in local = MakeAddress(address, port);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      lastError_ = errno;
      return lastError_;
    }
    return 0;
  }

  int SendTo(const void* data, size_t size, uint32_t address, uint16_t port) override {
    sockaddr_in remote = MakeAddress(address, port);
    ssize_t sent =
        ::sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    if (sent < 0) {
      lastError_ = errno;
      return -1;
    }
    return static_cast<int>(sent);
  }

  int ReceiveFrom(void* buffer, size_t capacity, int timeoutMs, uint32_t* fromAddress,
                  uint16_t* fromPort) override {
    if (fd_ < 0) {
      lastError_ = EBADF;
      return kReceiveError;
    }
    if (interrupted_.load()) return kReceiveInterrupted;
    if (timeoutMs >= 0) {
      pollfd waiting{fd_, POLLIN, 0};
      int ready;
      do {
        ready = ::poll(&waiting, 1, timeoutMs);
      } while (ready < 0 && errno == EINTR);
      if (ready == 0) return kReceiveTimedOut;
      if (ready < 0) {
        lastError_ = errno;
        return kReceiveError;
      }
    }
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    ssize_t received;
    do {
      received = ::recvfrom(fd_, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromSize);
    } while (received < 0 && errno == EINTR);
    if (interrupted_.load()) return kReceiveInterrupted;
    if (received < 0) {
      lastError_ = errno;
      return kReceiveError;
    }
    if (static_cast<size_t>(received) > capacity) {
      lastError_ = EMSGSIZE;
      return kReceiveTooLong;
    }
    if (fromAddress) *fromAddress = ntohl(from.sin_addr.s_addr);
    if (fromPort) *fromPort = ntohs(from.sin_port);
    return static_cast<int>(received);
  }

  uint16_t LocalPort() const override {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
    return ntohs(local.sin_port);
  }

  void Shutdown() override {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  }

  // Linux wakes a receive (and a poll) waiting on a datagram socket that is shut down for reading,
  // connected or not, and every later one returns at once.
  void Interrupt() override {
    interrupted_.store(true);
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RD);
  }

  void Close() override {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  int LastError() const override { return lastError_; }

 private:
  static sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
  }

  int fd_;
  int lastError_ = 0;
  std::atomic<bool> interrupted_{false};  // set by Interrupt, from any thread
};

// Keeps one non-blocking descriptor and one button word per /dev/input/jsN, updated from the
// kernel's button events. Guarded by mutex_: the joystick thread and plug-in start both read.
class LinuxJoysticks {
 public:
  ~LinuxJoysticks() {
    for (Device& device : devices_) {
      if (device.fd >= 0) ::close(device.fd);
    }
  }

  bool Read(int id, uint32_t* buttons) EXCLUDES(mutex_) {
    if (id < 0 || id >= kDevices) return false;
    MutexLock lock(mutex_);
    Device& device = devices_[id];
    if (device.fd < 0) {
      std::string path = "/dev/input/js" + std::to_string(id);
      device.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (device.fd < 0) return false;
      device.buttons = 0;
    }
    js_event event;
    for (;;) {
      ssize_t got = ::read(device.fd, &event, sizeof event);
      if (got == static_cast<ssize_t>(sizeof event)) {
        Apply(device, event);
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (got < 0 && errno == EINTR) continue;
      ::close(device.fd);  // unplugged or unreadable: a failure, reopened at the next read
      device.fd = -1;
      return false;
    }
    *buttons = device.buttons;
    return true;
  }

 private:
  static constexpr int kDevices = 32;
  struct Device {
    int fd = -1;
    uint32_t buttons = 0;
  };

  static void Apply(Device& device, const js_event& event) {
    if ((event.type & ~JS_EVENT_INIT) != JS_EVENT_BUTTON || event.number >= 32) return;
    uint32_t bit = 1u << event.number;
    device.buttons = event.value ? (device.buttons | bit) : (device.buttons & ~bit);
  }

  Mutex mutex_;  // a leaf
  Device devices_[kDevices] GUARDED_BY(mutex_);
};

// An address inside this module, for dladdr to name the file that holds it.
void ModuleAnchor() {}

class PosixEnv : public Env {
 public:
  uint64_t TickMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  }

  LocalTime Now() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    LocalTime result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec;
    result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return result;
  }

  void SleepMs(uint32_t ms) override {
    timespec wanted{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&wanted, &wanted) != 0 && errno == EINTR) {
    }
  }

  std::unique_ptr<Thread> StartThread(std::function<void()> body) override {
    auto thread = std::make_unique<PosixThread>(std::move(body));
    if (!thread->Start()) return nullptr;
    return thread;
  }

  bool StartDetachedThread(std::function<void()> body) override {
    DetachedStart start(std::move(body));
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    g_detachedThreads.fetch_add(1);
    int created = pthread_create(&thread, &attributes, &RunDetached, &start);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
      g_detachedThreads.fetch_sub(1);
      return false;
    }
    MutexLock lock(start.lock);
    while (!start.pinned) start.pinnedSignal.Wait(lock);
    return true;
  }

  uint32_t CurrentThreadId() override { return static_cast<uint32_t>(syscall(SYS_gettid)); }

  int StartNetworking() override { return 0; }
  int LastNetworkingError() override { return errno; }

  std::unique_ptr<UdpSocket> CreateUdpSocket() override {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixUdpSocket>(fd);
  }

  bool ResolveIPv4(const std::string& hostName, uint32_t* address) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    *address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
  }

  bool SavedGamesFolder(std::wstring* folder) override {
    std::string value;
    if (GetEnvironmentVariableUtf8("HALCYRA_SAVED_GAMES", &value) && !value.empty()) {
      *folder = Utf8ToWide(value);
      return true;
    }
    if (GetEnvironmentVariableUtf8("HOME", &value) && !value.empty()) {
      *folder = Utf8ToWide(value + "/Saved Games");
      return true;
    }
    return false;
  }

  bool ModuleFolder(std::wstring* folder) override {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleAnchor), &info) == 0 || info.dli_fname == nullptr) return false;
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    *folder = Utf8ToWide(slash == 0 ? "/" : path.substr(0, slash));
    return true;
  }

  RegistryResult InstallFolder(RegistryRoot, std::wstring* folder) override {
    std::string value;
    if (!GetEnvironmentVariableUtf8("HALCYRA_INSTALL_DIR", &value)) return RegistryResult::kValueMissing;
    *folder = Utf8ToWide(value);
    return RegistryResult::kOk;
  }

  std::wstring ReadIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                             const std::wstring& defaultValue) override {
    std::ifstream file(WideToUtf8(path), std::ios::binary);
    if (file) {
      std::ostringstream content;
      content << file.rdbuf();
      std::wstring value;
      if (FindIniValue(content.str(), section, key, &value)) return value;
    }
    return NormaliseIniValue(defaultValue);
  }

  void ShowMessageBox(const std::wstring& caption, const std::wstring& text, MessageIcon) override {
    std::string line = WideToUtf8(caption) + ": " + WideToUtf8(text);
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    std::cerr << line << std::endl;
  }

  std::FILE* OpenFile(const std::wstring& path, const char* mode) override {
    return std::fopen(WideToUtf8(path).c_str(), mode);
  }

  // xdg-open hands the path to the desktop's program for it; its own exit status says whether one
  // was found.
  bool OpenInDesktop(const std::wstring& path) override {
    std::string target = WideToUtf8(path);
    char program[] = "xdg-open";
    char* arguments[] = {program, target.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  bool ReadJoystickButtons(int id, uint32_t* buttons) override { return joysticks_.Read(id, buttons); }

 private:
  LinuxJoysticks joysticks_;
};

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

Env& Env::Default() {
  // Never destroyed, since threads may use it until exit; it lives in static storage rather than on
  // the heap, so a host that unloads the library gets the memory back with the library's image.
  alignas(PosixEnv) static unsigned char storage[sizeof(PosixEnv)];
  static PosixEnv* env = new (storage) PosixEnv;
  return *env;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    uint32_t code = static_cast<uint32_t>(c);
    bool valid = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (valid) {
      AppendUtf8(out, code);
    } else {
      out += '?';
    }
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = -1;
    uint32_t code = 0;
    if (lead < 0x80) {
      extra = 0;
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    }
    bool valid = extra >= 0 && i + static_cast<size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
      } else {
        code = (code << 6) | (next & 0x3F);
      }
    }
    if (valid) {
      static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
      valid = code >= kMinimum[extra] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    }
    if (valid) {
      out += static_cast<wchar_t>(code);
      i += static_cast<size_t>(extra) + 1;
    } else {
      out += static_cast<wchar_t>(0xFFFD);
      i += 1;
    }
  }
  return out;
}

char PathSeparator() { return '/'; }

void NameCurrentThread(const char* name) {
  char shortName[16] = {};
  std::strncpy(shortName, name, sizeof shortName - 1);
  pthread_setname_np(pthread_self(), shortName);
}

bool GetEnvironmentVariableUtf8(const char* name, std::string* value) {
  const char* found = std::getenv(name);
  if (found == nullptr) return false;
  *value = found;
  return true;
}

}  // namespace halcyra::platform
