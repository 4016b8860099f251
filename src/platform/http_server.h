// A small HTTP server for the station server's status page: answers GET requests from a handler.
// Both builds serve with cpp-httplib (src/platform/http/).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace halcyra::platform {

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Type
};

// Called on the server's own threads, possibly several at once, with the path of a GET request
// (without the query string).
using HttpHandler = std::function<HttpResponse(const std::string& path)>;

// Serves until destroyed; the destructor stops it and waits for its threads.
class HttpServer {
 public:
  virtual ~HttpServer() = default;
  virtual uint16_t Port() const = 0;  // the port bound (useful after asking for port 0)
};

// Listens on the IPv4 address (host order) and port, as the port's only listener. Null with *error
// set when it cannot, e.g. "cannot listen on TCP 127.0.0.1:8080: another program already listens on
// port 8080 (error 98)".
std::unique_ptr<HttpServer> StartHttpServer(uint32_t address, uint16_t port, HttpHandler handler,
                                            std::string* error);

}  // namespace halcyra::platform
