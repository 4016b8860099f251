#include "status_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "platform/ipv4.h"
#include "wire/field_scanner.h"
#include "wire/station_messages.h"

namespace halcyra::server {
namespace {

// One stored record read back into its fields, as a plug-in would read it.
struct StationView {
  std::string nickname;
  StationRecord record;
  uint32_t source = 0;
  uint64_t silentMs = 0;
};

std::vector<StationView> Views(const ServerStatus& status) {
  std::vector<StationView> views;
  for (const StoredStation& stored : status.stations) {
    StationView view;
    view.nickname = stored.nickname;
    view.record = StationRecord{};
    std::string_view text = stored.text;
    size_t at = text.find('@');
    wire::FieldScanner scan(at == std::string_view::npos ? std::string_view() : text.substr(at + 1));
    StationRecord& r = view.record;
    scan.Text(r.latitudeText)
        .Text(r.longitudeText)
        .Text(r.altitudeText)
        .Text(r.frequency1)
        .Text(r.frequency2)
        .Text(r.frequency3)
        .Text(r.activeMarks)
        .Text(r.cryptoFrequency)
        .Int(r.cryptoKey)
        .Int(r.radioClass);
    r.latitude = wire::DecimalValue(r.latitudeText);
    r.longitude = wire::DecimalValue(r.longitudeText);
    view.source = stored.source;
    view.silentMs = stored.silentMs;
    views.push_back(std::move(view));
  }
  std::sort(views.begin(), views.end(),
            [](const StationView& a, const StationView& b) { return a.nickname < b.nickname; });
  return views;
}

// Valid UTF-8: every byte that does not start or continue a well-formed sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80                   ? 1
                    : (c >= 0xC2 && c <= 0xDF) ? 2
                    : (c >= 0xE0 && c <= 0xEF) ? 3
                    : (c >= 0xF0 && c <= 0xF4) ? 4
                                               : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (valid && length >= 3) {
      unsigned char d = static_cast<unsigned char>(text[i + 1]);
      // No overlong forms, no surrogates, nothing beyond U+10FFFF.
      if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
          (c == 0xF4 && d >= 0x90)) {
        valid = false;
      }
    }
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string Html(std::string_view text) {
  std::string out;
  for (char c : ValidUtf8(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "&#xFFFD;";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string Json(std::string_view text) {
  std::string out = "\"";
  for (char c : ValidUtf8(text)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ago(uint64_t ms) { return Fixed(static_cast<double>(ms) / 1000.0, 0) + " s ago"; }

// 1..3 for the first radio marked 'X', 0 when none is.
int ActiveRadio(const StationRecord& record) {
  for (int r = 0; r < 3 && record.activeMarks[r] != '\0'; ++r) {
    if (record.activeMarks[r] == 'X') return r + 1;
  }
  return 0;
}

uint64_t Refusals(const ServerStatus& s) {
  const StationServerCounters& c = s.counters;
  return s.loop.notAllowed + s.loop.rateLimited + c.held + c.sourceLimit + c.refused + c.oversize +
         c.tooLong + c.malformed;
}

struct Counter {
  const char* metric;  // Prometheus name without the halcyra_ prefix
  const char* label;   // the reason of a refusal, or null
  const char* help;    // shown on the page
  uint64_t value;
};

std::vector<Counter> Counters(const ServerStatus& s) {
  const StationServerCounters& c = s.counters;
  return {
      {"requests_total", nullptr, "datagrams received", s.loop.received},
      {"stored_total", nullptr, "records stored (SET)", c.stored},
      {"answers_total", nullptr, "queries answered with a record (GET)", c.answered},
      {"not_found_total", nullptr, "queries for an unknown nickname", c.notFound},
      {"refusals_total", "not_allowed", "refused: address outside --allow", s.loop.notAllowed},
      {"refusals_total", "rate_limited", "refused: over the rate limit", s.loop.rateLimited},
      {"refusals_total", "held", "refused: nickname held by another address", c.held},
      {"refusals_total", "source_limit", "refused: address holds too many nicknames", c.sourceLimit},
      {"refusals_total", "store_full", "refused: store full", c.refused},
      {"refusals_total", "oversize", "refused: record longer than a plug-in sends", c.oversize},
      {"refusals_total", "too_long", "refused: datagram over 1022 bytes", c.tooLong},
      {"refusals_total", "malformed", "refused: not a request", c.malformed},
      {"takeovers_total", nullptr, "nicknames taken over after silence", c.takenOver},
      {"expired_total", nullptr, "records expired", c.expired},
      {"unanswered_total", nullptr, "answers the socket would not send", s.loop.sendFailures},
  };
}

// False for a station that has not published where it is: a plug-in publishes latitude and
// longitude 0 until it has its first position, and a value off the globe is no position either.
bool HasPosition(const StationRecord& record) {
  double latitude = record.latitude, longitude = record.longitude;
  if (latitude == 0 && longitude == 0) return false;
  return std::fabs(latitude) <= 90 && std::fabs(longitude) <= 180;
}

// An SVG map of the stations with a position: equirectangular, north up, scaled to fit with a
// margin.
std::string Map(const std::vector<StationView>& views) {
  constexpr double kWidth = 640, kHeight = 360, kMargin = 40;
  std::string svg =
      "<svg class=\"map\" xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"360\" "
      "viewBox=\"0 0 640 360\" role=\"img\" aria-label=\"positions\">"
      "<rect width=\"640\" height=\"360\" fill=\"#0b1d2a\"/>";
  std::vector<const StationView*> placed;
  for (const StationView& v : views) {
    if (HasPosition(v.record)) placed.push_back(&v);
  }
  if (placed.empty()) {
    return svg + "<text x=\"320\" y=\"180\" fill=\"#9ab\" text-anchor=\"middle\">" +
           (views.empty() ? "no stations" : "no station has a position yet") + "</text></svg>";
  }
  double latMin = 90, latMax = -90, lonMin = 180, lonMax = -180;
  for (const StationView* p : placed) {
    const StationView& v = *p;
    latMin = std::min(latMin, static_cast<double>(v.record.latitude));
    latMax = std::max(latMax, static_cast<double>(v.record.latitude));
    lonMin = std::min(lonMin, static_cast<double>(v.record.longitude));
    lonMax = std::max(lonMax, static_cast<double>(v.record.longitude));
  }
  double shrink = std::cos((latMin + latMax) / 2 * 3.14159265358979 / 180);
  if (shrink < 0.05) shrink = 0.05;
  double spanX = std::max((lonMax - lonMin) * shrink, 0.1), spanY = std::max(latMax - latMin, 0.1);
  double scale = std::min((kWidth - 2 * kMargin) / spanX, (kHeight - 2 * kMargin) / spanY);
  double centreLon = (lonMin + lonMax) / 2, centreLat = (latMin + latMax) / 2;
  // One degree of latitude is 60 nautical miles.
  svg += "<text x=\"8\" y=\"352\" fill=\"#9ab\" font-size=\"11\">map width " + Fixed(kWidth / scale * 60, 0) +
         " NM</text>";
  for (const StationView* p : placed) {
    const StationView& v = *p;
    double x = kWidth / 2 + (v.record.longitude - centreLon) * shrink * scale;
    double y = kHeight / 2 - (v.record.latitude - centreLat) * scale;
    svg += "<g class=\"pin\"><circle cx=\"" + Fixed(x, 1) + "\" cy=\"" + Fixed(y, 1) +
           "\" r=\"5\" fill=\"#ffb347\"/><text x=\"" + Fixed(x + 8, 1) + "\" y=\"" + Fixed(y + 4, 1) +
           "\" fill=\"#e8eef2\" font-size=\"12\">" + Html(v.nickname) + "</text></g>";
  }
  return svg + "</svg>";
}

// ", N without a position (not on the map)" when there are such stations, else nothing.
std::string Unplaced(const std::vector<StationView>& views) {
  auto count =
      std::count_if(views.begin(), views.end(), [](const StationView& v) { return !HasPosition(v.record); });
  return count == 0 ? "" : ", " + std::to_string(count) + " without a position (not on the map)";
}

// The latitude and longitude cells of the stations table, one cell saying so for a station without
// a position.
std::string PositionCells(const StationRecord& record) {
  if (!HasPosition(record)) return "<td class=\"noposition\" colspan=\"2\">no position</td>";
  return "<td>" + Html(record.latitudeText) + "</td><td>" + Html(record.longitudeText) + "</td>";
}

std::string Frequency(const char* frequency, bool active) {
  std::string shown = std::string_view(frequency) == kRadioOff ? "off" : Html(frequency);
  return active ? "<td class=\"freq active\" title=\"active radio\">&#9654; " + shown + "</td>"
                : "<td class=\"freq\">" + shown + "</td>";
}

const char* kStyle =
    "body{font-family:sans-serif;font-size:14px;margin:1.5em;background:#f4f6f8;color:#1b2733}"
    "table{border-collapse:collapse;margin:1em 0;background:#fff}"
    "th,td{border:1px solid #c8d0d8;padding:.25em .5em;text-align:left;white-space:nowrap}"
    "th{background:#e3e8ee}td.active{font-weight:bold;color:#0a6b2d}"
    ".counters td:last-child{text-align:right}.note,td.noposition{color:#5a6570}";

}  // namespace

std::string StatusPageHtml(const ServerStatus& status) {
  std::vector<StationView> views = Views(status);
  std::string html =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"refresh\" content=\"" +
      std::to_string(kStatusPageRefreshSeconds) +
      "\">"
      "<title>Halcyra station server</title><style>" +
      std::string(kStyle) +
      "</style></head><body>"
      "<h1>Halcyra station server</h1>"
      "<p class=\"note\">" +
      std::to_string(status.records) + " stations" + Unplaced(views) + ", up " +
      Fixed(static_cast<double>(status.uptimeMs) / 1000.0, 0) + " s; this page reloads every " +
      std::to_string(kStatusPageRefreshSeconds) + " s.</p>" + Map(views) +
      "<table id=\"stations\"><thead><tr><th>nickname</th><th>class</th><th>latitude</th><th>longitude</th>"
      "<th>altitude (ft)</th><th>radio 1</th><th>radio 2</th><th>radio 3</th><th>crypto frequency</th>"
      "<th>last seen</th><th>source</th></tr></thead><tbody>";
  for (const StationView& v : views) {
    const StationRecord& r = v.record;
    int active = ActiveRadio(r);
    html += "<tr class=\"station\"><td class=\"nickname\">" + Html(v.nickname) + "</td><td>" +
            std::to_string(r.radioClass) + "</td>" + PositionCells(r) + "<td>" + Html(r.altitudeText) +
            "</td>" + Frequency(r.frequency1, active == 1) + Frequency(r.frequency2, active == 2) +
            Frequency(r.frequency3, active == 3) + "<td>" +
            (std::string_view(r.cryptoFrequency) == kRadioOff ? "off" : Html(r.cryptoFrequency)) +
            "</td><td>" + Ago(v.silentMs) + "</td><td class=\"source\">" + FormatDottedIPv4(v.source) +
            "</td></tr>";
  }
  html +=
      "</tbody></table><table class=\"counters\" id=\"counters\"><thead><tr><th>counter</th><th>since "
      "start</th>"
      "</tr></thead><tbody>";
  for (const Counter& counter : Counters(status)) {
    html +=
        "<tr><td>" + std::string(counter.help) + "</td><td>" + std::to_string(counter.value) + "</td></tr>";
  }
  html += "<tr><td>refusals in all</td><td>" + std::to_string(Refusals(status)) + "</td></tr>";
  return html + "</tbody></table></body></html>\n";
}

std::string StationsJson(const ServerStatus& status) {
  std::string json = "{\"uptimeSeconds\":" + Fixed(static_cast<double>(status.uptimeMs) / 1000.0, 0) +
                     ",\"records\":" + std::to_string(status.records) + ",\"stations\":[";
  bool first = true;
  for (const StationView& v : Views(status)) {
    const StationRecord& r = v.record;
    json += std::string(first ? "" : ",") + "{\"nickname\":" + Json(v.nickname) +
            ",\"radioClass\":" + std::to_string(r.radioClass) + ",\"latitude\":" + Json(r.latitudeText) +
            ",\"longitude\":" + Json(r.longitudeText) + ",\"altitude\":" + Json(r.altitudeText) +
            ",\"frequencies\":[" + Json(r.frequency1) + "," + Json(r.frequency2) + "," + Json(r.frequency3) +
            "],\"activeRadio\":" + std::to_string(ActiveRadio(r)) +
            ",\"cryptoFrequency\":" + Json(r.cryptoFrequency) +
            ",\"lastSeenSeconds\":" + Fixed(static_cast<double>(v.silentMs) / 1000.0, 1) +
            ",\"source\":" + Json(FormatDottedIPv4(v.source)) + "}";
    first = false;
  }
  json += "],\"counters\":{";
  first = true;
  for (const Counter& counter : Counters(status)) {
    std::string name = counter.label ? std::string("refused_") + counter.label : counter.metric;
    json += std::string(first ? "" : ",") + Json(name) + ":" + std::to_string(counter.value);
    first = false;
  }
  return json + "}}\n";
}

std::string MetricsText(const ServerStatus& status) {
  std::string text;
  std::string lastMetric;
  for (const Counter& counter : Counters(status)) {
    std::string name = std::string("halcyra_") + counter.metric;
    if (name != lastMetric) {
      const char* help = counter.label ? "Datagrams refused, by reason." : counter.help;
      text += "# HELP " + name + " " + help + "\n# TYPE " + name + " counter\n";
      lastMetric = name;
    }
    text += name + (counter.label ? std::string("{reason=\"") + counter.label + "\"}" : "") + " " +
            std::to_string(counter.value) + "\n";
  }
  text += "# HELP halcyra_records Station records held.\n# TYPE halcyra_records gauge\nhalcyra_records " +
          std::to_string(status.records) + "\n";
  text +=
      "# HELP halcyra_sources Addresses that hold at least one nickname.\n# TYPE halcyra_sources gauge\n"
      "halcyra_sources " +
      std::to_string(status.sourcesHolding) + "\n";
  text +=
      "# HELP halcyra_rate_tracked_sources Addresses with a rate-limit bucket.\n"
      "# TYPE halcyra_rate_tracked_sources gauge\nhalcyra_rate_tracked_sources " +
      std::to_string(status.sourcesRateTracked) + "\n";
  text +=
      "# HELP halcyra_uptime_seconds Seconds since the server started.\n# TYPE halcyra_uptime_seconds gauge\n"
      "halcyra_uptime_seconds " +
      Fixed(static_cast<double>(status.uptimeMs) / 1000.0, 3) + "\n";
  return text;
}

platform::HttpResponse AnswerStatusRequest(const std::string& path,
                                           const std::function<ServerStatus()>& status) {
  platform::HttpResponse response;
  response.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
  if (path == "/" || path == "/index.html") {
    response.contentType = "text/html; charset=utf-8";
    // Nothing but the page itself and its inline style may load.
    response.headers.push_back({"Content-Security-Policy",
                                "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; "
                                "form-action 'none'; frame-ancestors 'none'"});
    response.body = StatusPageHtml(status());
  } else if (path == "/stations.json") {
    response.contentType = "application/json";
    response.body = StationsJson(status());
  } else if (path == "/metrics") {
    response.contentType = "text/plain; version=0.0.4; charset=utf-8";
    response.body = MetricsText(status());
  } else {
    response.status = 404;
    response.body = "not found; try /, /stations.json or /metrics\n";
  }
  return response;
}

}  // namespace halcyra::server
