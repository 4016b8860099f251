// HttpClient on WinHTTP: one session per client (the system's proxy settings), one connection and
// request per GET, synchronous.
#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "http_client.h"
#include "platform/env.h"

namespace halcyra::tiles {
namespace {

constexpr DWORD kChunk = 64 * 1024;

// Closes a WinHTTP handle at the end of its scope.
class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_) WinHttpCloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

std::string ErrorText(DWORD code, int stallSeconds) {
  if (code == ERROR_WINHTTP_TIMEOUT) return "nothing arrived for " + std::to_string(stallSeconds) + " s";
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                GetModuleHandleW(L"winhttp.dll"), code, 0,
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : L"";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
    text.pop_back();
  std::string number = "WinHTTP error " + std::to_string(code);
  return text.empty() ? number : platform::WideToUtf8(text) + " (" + number + ")";
}

bool QueryNumber(HINTERNET request, DWORD what, unsigned long long* value) {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX))
    return false;
  wchar_t* end = nullptr;
  *value = wcstoull(text, &end, 10);
  return end != text;
}

class WinHttpClient : public HttpClient {
 public:
  explicit WinHttpClient(HINTERNET session) : session_(session) {}

  HttpAnswer Get(const std::string& url, int stallSeconds, const BodySink& sink,
                 const std::atomic<bool>& stop) override {
    HttpAnswer answer;
    std::wstring wideUrl = platform::Utf8ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
      answer.error = "not a URL WinHTTP can fetch: " + ErrorText(GetLastError(), stallSeconds);
      return answer;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    Handle connection(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    Handle request(connection
                       ? WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                       : nullptr);
    if (!request) {
      answer.error = ErrorText(GetLastError(), stallSeconds);
      return answer;
    }
    int timeoutMs = stallSeconds * 1000;
    WinHttpSetTimeouts(request.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs);
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
      answer.error = ErrorText(GetLastError(), stallSeconds);
      return answer;
    }
    unsigned long long status = 0;
    QueryNumber(request.get(), WINHTTP_QUERY_STATUS_CODE, &status);
    answer.status = static_cast<int>(status);
    unsigned long long declared = 0;
    bool hasLength = QueryNumber(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, &declared);

    std::vector<char> buffer(kChunk);
    unsigned long long received = 0;
    for (;;) {
      if (stop.load()) {
        answer.error = "stopped";
        return answer;
      }
      DWORD read = 0;
      if (!WinHttpReadData(request.get(), buffer.data(), kChunk, &read)) {
        answer.error = ErrorText(GetLastError(), stallSeconds);
        return answer;
      }
      if (read == 0) break;
      received += read;
      if (!sink(buffer.data(), read)) {
        answer.error = "refused while it arrived";
        return answer;
      }
    }
    // A connection closed early ends the body like its end would.
    if (hasLength && received != declared) {
      answer.error = "the connection closed after " + std::to_string(received) + " of " +
                     std::to_string(declared) + " bytes";
      return answer;
    }
    answer.complete = true;
    return answer;
  }

 private:
  Handle session_;
};

}  // namespace

std::unique_ptr<HttpClient> MakeHttpClient(const std::string& userAgent, std::string* error) {
  std::wstring agent = platform::Utf8ToWide(userAgent);
  // The system's proxy settings where Windows has that access type (8.1 and later), else the
  // proxy configured for WinHTTP.
  HINTERNET session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr)
    session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    *error = "WinHTTP does not start: " + ErrorText(GetLastError(), 0);
    return nullptr;
  }
  // TLS 1.2 is off by default in Windows 7's WinHTTP; the tile servers need it. TLS 1.3 where the
  // system has it; where both are refused the system's defaults stay.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  return std::make_unique<WinHttpClient>(session);
}

}  // namespace halcyra::tiles
