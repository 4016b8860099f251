#include <windows.h>

#include <chrono>
#include <thread>

#include "child_process.h"
#include "platform/env.h"

namespace halcyra::testing {
namespace {

// One command-line argument, quoted when it holds blanks or quotes.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (wchar_t c : argument) {
    if (c == L'"') quoted += L'\\';
    quoted += c;
  }
  return quoted + L"\"";
}

}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  HANDLE output = nullptr;  // read end of the child's standard output
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : impl_(std::make_unique<Impl>()) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  std::wstring commandLine = Quoted(platform::Utf8ToWide(program));
  for (const std::string& argument : arguments) commandLine += L" " + Quoted(platform::Utf8ToWide(argument));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                nullptr, nullptr, &startup, &info);
  CloseHandle(writeEnd);
  if (!created) {
    CloseHandle(readEnd);
    return;
  }
  CloseHandle(info.hThread);
  impl_->process = info.hProcess;
  impl_->output = readEnd;
}

ChildProcess::~ChildProcess() {
  Stop();
  if (impl_->output) CloseHandle(impl_->output);
}

bool ChildProcess::started() const { return impl_->process != nullptr; }

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (std::optional<std::string> line = TakePendingLine()) return line;
    if (!impl_->output) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    DWORD available = 0;
    if (!PeekNamedPipe(impl_->output, nullptr, 0, nullptr, &available, nullptr)) {
      CloseHandle(impl_->output);
      impl_->output = nullptr;
      continue;
    }
    if (available == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    char chunk[512];
    DWORD read = 0;
    DWORD wanted = available < sizeof chunk ? available : static_cast<DWORD>(sizeof chunk);
    if (!ReadFile(impl_->output, chunk, wanted, &read, nullptr) || read == 0) {
      CloseHandle(impl_->output);
      impl_->output = nullptr;
      continue;
    }
    pending_.append(chunk, read);
  }
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs) {
  if (!impl_->process ||
      WaitForSingleObject(impl_->process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  CloseHandle(impl_->process);
  impl_->process = nullptr;
  return static_cast<int>(code);
}

int ChildProcess::Stop() {
  if (!impl_->process) return -1;
  DWORD code = 0;
  if (WaitForSingleObject(impl_->process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(impl_->process, 1);
    WaitForSingleObject(impl_->process, INFINITE);
  }
  GetExitCodeProcess(impl_->process, &code);
  CloseHandle(impl_->process);
  impl_->process = nullptr;
  return static_cast<int>(code);
}

std::string StationServerProgramPath() { return HALCYRA_SERVER_PATH; }

}  // namespace halcyra::testing
