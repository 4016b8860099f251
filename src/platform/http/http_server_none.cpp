// Builds without an HTTP library (Windows): --http is refused with the reason.
#include "platform/http_server.h"

namespace halcyra::platform {

std::unique_ptr<HttpServer> StartHttpServer(uint32_t, uint16_t, HttpHandler, std::string* error) {
  *error = "this build has no status page (the HTTP library is available for Linux builds only)";
  return nullptr;
}

bool HttpServerAvailable() { return false; }

}  // namespace halcyra::platform
