// The HTTP server on cpp-httplib: one listening thread and a pool of two workers, GET
// only, short time-outs, no request bodies, and the port's only listener (cpp-httplib's own socket
// options would let a second server share the port on Linux, or take it over on Windows).
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/http/listen_socket.h"
#include "platform/http_server.h"
#include "platform/ipv4.h"
#include "platform/socket_errors.h"
#include "platform/stop_signal.h"

namespace halcyra::platform {
namespace {

constexpr size_t kWorkers = 2;
constexpr time_t kTimeoutSeconds = 5;
constexpr size_t kKeepAliveRequests = 100;

// Why nothing listens on address:port, as the OS tells it when asked again.
std::string ListenFailure(uint32_t address, uint16_t port) {
  std::string text = "cannot listen on TCP " + FormatDottedIPv4(address) + ":" + std::to_string(port);
  int cause = ListenError(address, port);
  if (cause == 0) return text;  // the port came free in between
  std::string reason = IsAddressInUseError(cause)
                           ? "another program already listens on port " + std::to_string(port)
                           : SocketErrorText(cause);
  return text + ": " + reason + " (error " + std::to_string(cause) + ")";
}

class HttplibServer : public HttpServer {
 public:
  explicit HttplibServer(HttpHandler handler) : handler_(std::move(handler)) {
    server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server_.set_read_timeout(kTimeoutSeconds, 0);
    server_.set_write_timeout(kTimeoutSeconds, 0);
    server_.set_keep_alive_timeout(kTimeoutSeconds);
    server_.set_keep_alive_max_count(kKeepAliveRequests);
    server_.set_payload_max_length(0);
    server_.set_socket_options(
        [](socket_t socket) { MakeSoleListener(static_cast<std::uintptr_t>(socket)); });
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      Answer(request, response);
    });
  }
  ~HttplibServer() override {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  bool Listen(uint32_t address, uint16_t port, std::string* error) {
    std::string host = FormatDottedIPv4(address);
    int bound = -1;
    if (port == 0) {
      bound = server_.bind_to_any_port(host);
    } else if (server_.bind_to_port(host, port)) {
      bound = port;
    }
    if (bound <= 0) {
      *error = ListenFailure(address, port);
      return false;
    }
    port_ = static_cast<uint16_t>(bound);
    thread_ = std::thread([this] {
      // The stop signals go to the program's own thread: here they would break into the listener's
      // accept or a worker's call (and under ThreadSanitizer the handler waits until that call
      // returns, which may be never). The pool's workers start here and inherit the mask.
      KeepStopSignalsOffThisThread();
      server_.listen_after_bind();
      finished_ = true;
    });
    // stop() does nothing until the server runs, so the destructor could not end a server that has
    // not started yet: wait for it to run (it does at once).
    while (!server_.is_running() && !finished_.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }
  uint16_t Port() const override { return port_; }

 private:
  void Answer(const httplib::Request& request, httplib::Response& response) {
    HttpResponse answer;
    try {
      answer = handler_(request.path);
    } catch (...) {
      answer = HttpResponse{500, "text/plain; charset=utf-8", "internal error\n", {}};
    }
    response.status = answer.status;
    for (const auto& [name, value] : answer.headers) response.set_header(name, value);
    response.set_content(answer.body, answer.contentType);
  }

  HttpHandler handler_;
  httplib::Server server_;
  uint16_t port_ = 0;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<HttpServer> StartHttpServer(uint32_t address, uint16_t port, HttpHandler handler,
                                            std::string* error) {
  auto server = std::make_unique<HttplibServer>(std::move(handler));
  if (!server->Listen(address, port, error)) return nullptr;
  return server;
}

}  // namespace halcyra::platform
