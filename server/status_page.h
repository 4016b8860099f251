// The status page of halcyra-server for a squadron's admin, served over HTTP (--http):
//   /                 a self-contained HTML page that reloads itself every few seconds: every
//                     station (nickname, class, position, altitude, frequencies with the active one
//                     marked, crypto frequency, last seen, source address), a map of the positions
//                     and the counters. The encryption key is never shown.
//   /stations.json    the same stations and counters as JSON
//   /metrics          the counters in the Prometheus text format
// Texts that pilots publish are escaped for their context and made valid UTF-8.
#pragma once

#include <functional>
#include <string>

#include "platform/http_server.h"
#include "server_loop.h"

namespace halcyra::server {

// Seconds between the page's reloads.
inline constexpr int kStatusPageRefreshSeconds = 5;

// Answers one GET path; status() is called only for the three known paths.
platform::HttpResponse AnswerStatusRequest(const std::string& path,
                                           const std::function<ServerStatus()>& status);

std::string StatusPageHtml(const ServerStatus& status);
std::string StationsJson(const ServerStatus& status);
std::string MetricsText(const ServerStatus& status);

}  // namespace halcyra::server
