// HTTP GET for halcyra-tiles behind a small interface: libcurl on Linux (http_client_curl.cpp),
// WinHTTP on Windows (http_client_winhttp.cpp). One client serves one thread at a time.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace halcyra::tiles {

struct HttpAnswer {
  bool complete = false;  // the whole answer arrived (whatever its status)
  int status = 0;         // the HTTP status of the answer, 0 when none came
  std::string error;      // why the answer is not complete (time-out, closed connection, ...)
};

// Takes the next piece of the body; false stops the transfer.
using BodySink = std::function<bool(const char* data, size_t size)>;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // GETs the URL, following redirects, handing the body to sink as it arrives. Gives up when
  // nothing arrives for stallSeconds, and soon after stop is set.
  virtual HttpAnswer Get(const std::string& url, int stallSeconds, const BodySink& sink,
                         const std::atomic<bool>& stop) = 0;
};

// Null with the reason when the HTTP library cannot start. Call on the main thread.
std::unique_ptr<HttpClient> MakeHttpClient(const std::string& userAgent, std::string* error);

}  // namespace halcyra::tiles
