// Win32 implementation of Env: Winsock 2, Win32 threads, the registry, the private-profile API,
// MessageBoxW and the multimedia joystick interface.
// The Windows headers in the order they need: Winsock 2 before windows.h, mmsystem.h after it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <new>

#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra::platform {
namespace {

constexpr wchar_t kShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kSavedGamesValue[] = L"{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}";
constexpr wchar_t kInstallerKey[] = L"Software\\Qoral\\Halcyra";
constexpr wchar_t kInstallDirValue[] = L"Install_Dir";
constexpr DWORD kRegistryBufferBytes = 1024;

class Win32Thread : public Thread {
 public:
  explicit Win32Thread(std::function<void()> body) : body_(std::move(body)) {}
  ~Win32Thread() override { Join(); }

  bool Start() EXCLUDES(joinMutex_) {
    DWORD id = 0;
    MutexLock lock(joinMutex_);
    handle_ = CreateThread(nullptr, 0, &Win32Thread::Run, this, 0, &id);
    id_ = id;
    handleValue_ = reinterpret_cast<uint64_t>(handle_);
    return handle_ != nullptr;
  }

  void Join() override EXCLUDES(joinMutex_) {
    MutexLock lock(joinMutex_);
    if (handle_ != nullptr) {
      WaitForSingleObject(handle_, INFINITE);
      CloseHandle(handle_);
      handle_ = nullptr;
    }
  }
  uint32_t Id() const override { return id_; }
  uint64_t HandleValue() const override { return handleValue_; }

 private:
  static DWORD WINAPI Run(LPVOID self) {
    static_cast<Win32Thread*>(self)->body_();
    return 0;
  }

  std::function<void()> body_;
  Mutex joinMutex_;  // a leaf; Join() holds it while it waits for the thread
  HANDLE handle_ GUARDED_BY(joinMutex_) = nullptr;
  uint64_t handleValue_ = 0;  // set by Start, before the thread is handed out
  uint32_t id_ = 0;           // set by Start, before the thread is handed out
};

// A thread started by StartDetachedThread keeps this library loaded while it runs: the starter takes
// a reference on the module that holds this code, and the thread gives it back with
// FreeLibraryAndExitThread, which never returns into the (possibly unloaded) library.
struct DetachedStart {
  std::function<void()> body;
  HMODULE module;
};

DWORD WINAPI RunDetached(LPVOID argument) {
  auto* start = static_cast<DetachedStart*>(argument);
  HMODULE module = start->module;
  try {
    start->body();
  } catch (...) {
  }
  delete start;
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// A receive without time limit waits on two events: the socket's (FD_READ, through WSAEventSelect,
// which also makes the socket non-blocking from then on) and interrupted_'s, which Interrupt sets
// from another thread. Wine implements both as Windows does.
class Win32UdpSocket : public UdpSocket {
 public:
  explicit Win32UdpSocket(SOCKET socket) : socket_(socket), interruptEvent_(WSACreateEvent()) {}
  ~Win32UdpSocket() override {
    Close();
    if (readEvent_ != WSA_INVALID_EVENT) WSACloseEvent(readEvent_);
    if (interruptEvent_ != WSA_INVALID_EVENT) WSACloseEvent(interruptEvent_);
  }

  int Bind(uint32_t address, uint16_t port) override {
    sockaddr_in local = MakeAddress(address, port);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
      lastError_ = WSAGetLastError();
      return lastError_;
    }
    return 0;
  }

  int SendTo(const void* data, size_t size, uint32_t address, uint16_t port) override {
    sockaddr_in remote = MakeAddress(address, port);
    int sent = ::sendto(socket_, static_cast<const char*>(data), static_cast<int>(size), 0,
                        reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    if (sent == SOCKET_ERROR) {
      lastError_ = WSAGetLastError();
      return -1;
    }
    return sent;
  }

  int ReceiveFrom(void* buffer, size_t capacity, int timeoutMs, uint32_t* fromAddress,
                  uint16_t* fromPort) override {
    if (socket_ == INVALID_SOCKET) {
      lastError_ = WSAENOTSOCK;
      return kReceiveError;
    }
    if (interrupted_.load()) return kReceiveInterrupted;
    if (timeoutMs < 0) return ReceiveUntilInterrupted(buffer, capacity, fromAddress, fromPort);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int ready = ::select(0, &readable, nullptr, nullptr, &limit);
    if (ready == 0) return kReceiveTimedOut;
    if (ready == SOCKET_ERROR) {
      lastError_ = WSAGetLastError();
      return kReceiveError;
    }
    int received = ReceiveOne(buffer, capacity, fromAddress, fromPort);
    if (received == kReceiveTimedOut) return kReceiveTimedOut;  // readable, but taken meanwhile
    return received;
  }

  uint16_t LocalPort() const override {
    sockaddr_in local{};
    int size = sizeof local;
    if (socket_ == INVALID_SOCKET ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) == SOCKET_ERROR) {
      return 0;
    }
    return ntohs(local.sin_port);
  }

  void Shutdown() override {
    if (socket_ != INVALID_SOCKET) ::shutdown(socket_, SD_BOTH);
  }

  void Interrupt() override {
    interrupted_.store(true);
    if (interruptEvent_ != WSA_INVALID_EVENT) WSASetEvent(interruptEvent_);
  }

  void Close() override {
    if (socket_ != INVALID_SOCKET) {
      ::closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
  }

  int LastError() const override { return lastError_; }

 private:
  // One recvfrom: the length, kReceiveTooLong, kReceiveError, or kReceiveTimedOut when nothing is
  // waiting on a non-blocking socket.
  int ReceiveOne(void* buffer, size_t capacity, uint32_t* fromAddress, uint16_t* fromPort) {
    sockaddr_in from{};
    int fromSize = sizeof from;
    int received = ::recvfrom(socket_, static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                              reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (received == SOCKET_ERROR) {
      lastError_ = WSAGetLastError();
      if (lastError_ == WSAEWOULDBLOCK) return kReceiveTimedOut;
      return lastError_ == WSAEMSGSIZE ? kReceiveTooLong : kReceiveError;
    }
    if (fromAddress) *fromAddress = ntohl(from.sin_addr.s_addr);
    if (fromPort) *fromPort = ntohs(from.sin_port);
    return received;
  }

  // recvfrom re-enables FD_READ when it finds nothing, so a datagram that comes after it sets
  // readEvent_ and ends the wait; a stale event costs one more recvfrom.
  int ReceiveUntilInterrupted(void* buffer, size_t capacity, uint32_t* fromAddress, uint16_t* fromPort) {
    if (interruptEvent_ == WSA_INVALID_EVENT) {
      lastError_ = WSAGetLastError();
      return kReceiveError;
    }
    if (readEvent_ == WSA_INVALID_EVENT) {
      readEvent_ = WSACreateEvent();
      if (readEvent_ == WSA_INVALID_EVENT || WSAEventSelect(socket_, readEvent_, FD_READ) == SOCKET_ERROR) {
        lastError_ = WSAGetLastError();
        return kReceiveError;
      }
    }
    for (;;) {
      int received = ReceiveOne(buffer, capacity, fromAddress, fromPort);
      if (received != kReceiveTimedOut) return received;
      WSAEVENT events[2] = {readEvent_, interruptEvent_};
      DWORD woken = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
      if (interrupted_.load()) return kReceiveInterrupted;
      if (woken == WSA_WAIT_FAILED) {
        lastError_ = WSAGetLastError();
        return kReceiveError;
      }
      WSAResetEvent(readEvent_);
    }
  }

  static sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
  }

  SOCKET socket_;
  int lastError_ = 0;
  WSAEVENT readEvent_ = WSA_INVALID_EVENT;  // made by the first receive without time limit
  const WSAEVENT interruptEvent_;           // manual reset: once set, it stays set
  std::atomic<bool> interrupted_{false};    // set by Interrupt, from any thread
};

// Reads a string value of at most kRegistryBufferBytes bytes.
RegistryResult ReadRegistryString(HKEY root, const wchar_t* keyName, const wchar_t* valueName,
                                  std::wstring* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return RegistryResult::kKeyMissing;
  wchar_t buffer[kRegistryBufferBytes / sizeof(wchar_t) + 1] = {};
  DWORD size = kRegistryBufferBytes;
  DWORD type = 0;
  LONG status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return RegistryResult::kValueMissing;
  }
  *value = buffer;  // the extra element keeps the text terminated even if the value was not
  return RegistryResult::kOk;
}

class Win32Env : public Env {
 public:
  uint64_t TickMs() override { return GetTickCount64(); }

  LocalTime Now() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    LocalTime result;
    result.year = now.wYear;
    result.month = now.wMonth;
    result.day = now.wDay;
    result.hour = now.wHour;
    result.minute = now.wMinute;
    result.second = now.wSecond;
    result.millisecond = now.wMilliseconds;
    return result;
  }

  void SleepMs(uint32_t ms) override { Sleep(ms); }

  std::unique_ptr<Thread> StartThread(std::function<void()> body) override {
    auto thread = std::make_unique<Win32Thread>(std::move(body));
    if (!thread->Start()) return nullptr;
    return thread;
  }

  bool StartDetachedThread(std::function<void()> body) override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunDetached),
                            &module)) {
      return false;
    }
    auto* start = new DetachedStart{std::move(body), module};
    HANDLE thread = CreateThread(nullptr, 0, &RunDetached, start, 0, nullptr);
    if (thread == nullptr) {
      delete start;
      FreeLibrary(module);
      return false;
    }
    CloseHandle(thread);
    return true;
  }

  uint32_t CurrentThreadId() override { return GetCurrentThreadId(); }

  int StartNetworking() override {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }
  int LastNetworkingError() override { return WSAGetLastError(); }

  std::unique_ptr<UdpSocket> CreateUdpSocket() override {
    SOCKET created = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (created == INVALID_SOCKET) return nullptr;
    return std::make_unique<Win32UdpSocket>(created);
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
    return ReadRegistryString(HKEY_CURRENT_USER, kShellFoldersKey, kSavedGamesValue, folder) ==
           RegistryResult::kOk;
  }

  bool ModuleFolder(std::wstring* folder) override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&RunDetached), &module)) {
      return false;
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return false;
      if (length < path.size()) {
        path.resize(length);
        break;
      }
      if (path.size() >= 32768) return false;
      path.resize(path.size() * 2);
    }
    size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return false;
    *folder = path.substr(0, separator);
    return true;
  }

  RegistryResult InstallFolder(RegistryRoot root, std::wstring* folder) override {
    HKEY hive = root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    return ReadRegistryString(hive, kInstallerKey, kInstallDirValue, folder);
  }

  std::wstring ReadIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                             const std::wstring& defaultValue) override {
    wchar_t buffer[512] = {};
    GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer, 512, path.c_str());
    return buffer;
  }

  void ShowMessageBox(const std::wstring& caption, const std::wstring& text, MessageIcon icon) override {
    UINT style = MB_OK | (icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONWARNING);
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
  }

  std::FILE* OpenFile(const std::wstring& path, const char* mode) override {
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
  }

  // The shell's "open" verb, as a double-click does; the shell wants COM on the calling thread.
  bool OpenInDesktop(const std::wstring& path) override {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    HINSTANCE result = ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com)) CoUninitialize();
    return reinterpret_cast<INT_PTR>(result) > 32;
  }

  bool ReadJoystickButtons(int id, uint32_t* buttons) override {
    JOYINFOEX info{};
    info.dwSize = sizeof(JOYINFOEX);   // 52 bytes
    info.dwFlags = JOY_RETURNBUTTONS;  // 0x80: the buttons only
    if (joyGetPosEx(static_cast<UINT>(id), &info) != JOYERR_NOERROR) return false;
    *buttons = info.dwButtons;
    return true;
  }
};

static_assert(sizeof(JOYINFOEX) == 52, "JOYINFOEX must be 52 bytes");

}  // namespace

Env& Env::Default() {
  // Never destroyed, since threads may use it until exit; it lives in static storage rather than on
  // the heap, so a host that unloads the library gets the memory back with the library's image.
  alignas(Win32Env) static unsigned char storage[sizeof(Win32Env)];
  static Win32Env* env = new (storage) Win32Env;
  return *env;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  if (size <= 0) return std::string(text.size(), '?');
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                      nullptr);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return std::wstring(text.size(), static_cast<wchar_t>(0xFFFD));
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

char PathSeparator() { return '\\'; }

void NameCurrentThread(const char* name) {
  // Windows 10 1607 and later; looked up so that the library still loads on older systems.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  auto setDescription = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
  if (setDescription == nullptr) return;
  std::wstring wide = Utf8ToWide(name);
  setDescription(GetCurrentThread(), wide.c_str());
}

bool GetEnvironmentVariableUtf8(const char* name, std::string* value) {
  std::wstring wideName = Utf8ToWide(name);
  DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return false;
  std::wstring buffer(size, L'\0');
  DWORD written = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), size);
  buffer.resize(written);
  *value = WideToUtf8(buffer);
  return true;
}

}  // namespace halcyra::platform
