#include <windows.h>

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

// The file a child's standard stream is opened on, inheritable; null when it cannot be opened.
HANDLE OpenInheritable(const std::wstring& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, creation,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

}  // namespace

struct ChildProcess::Impl {
  ~Impl() {
    if (process) CloseHandle(process);
    if (output) CloseHandle(output);
  }
  HANDLE process = nullptr;
  HANDLE output = nullptr;  // read end of the pipe from the child's standard output; null: closed or none
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& outputFile)
    : impl_(std::make_unique<Impl>()) {
  HANDLE input = OpenInheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE output = nullptr;  // the child's end
  if (outputFile.empty()) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (CreatePipe(&impl_->output, &output, &inheritable, 0)) {
      SetHandleInformation(impl_->output, HANDLE_FLAG_INHERIT, 0);
    }
  } else {
    output = OpenInheritable(platform::Utf8ToWide(outputFile), GENERIC_WRITE, CREATE_ALWAYS);
  }

  std::wstring commandLine = Quoted(platform::Utf8ToWide(program));
  for (const std::string& argument : arguments) commandLine += L" " + Quoted(platform::Utf8ToWide(argument));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = outputFile.empty() ? GetStdHandle(STD_ERROR_HANDLE) : output;
  PROCESS_INFORMATION info{};
  BOOL created = output && CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  DWORD failure = GetLastError();
  if (input) CloseHandle(input);
  if (output) CloseHandle(output);
  if (!created) {
    error_ = "cannot start " + program + ": error " + std::to_string(failure);
    return;
  }
  CloseHandle(info.hThread);
  impl_->process = info.hProcess;
}

ChildProcess::~ChildProcess() { Stop(kDestructorGraceMs); }

bool ChildProcess::ReadOutput(int timeoutMs) {
  if (!impl_->output) return false;
  DWORD available = 0;
  bool open = PeekNamedPipe(impl_->output, nullptr, 0, nullptr, &available, nullptr);
  if (open && available == 0) {
    Sleep(timeoutMs < 5 ? timeoutMs : 5);
    return true;
  }
  char chunk[512];
  DWORD read = 0;
  DWORD wanted = available < sizeof chunk ? available : static_cast<DWORD>(sizeof chunk);
  if (!open || !ReadFile(impl_->output, chunk, wanted, &read, nullptr) || read == 0) {
    CloseHandle(impl_->output);
    impl_->output = nullptr;
    return false;
  }
  pending_.append(chunk, read);
  return true;
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs) {
  if (exitCode_ || !impl_->process) return exitCode_;
  DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  if (WaitForSingleObject(impl_->process, limit) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  exitCode_ = static_cast<int>(code);
  return exitCode_;
}

void ChildProcess::End(bool) { TerminateProcess(impl_->process, 1); }

}  // namespace halcyra::testing
