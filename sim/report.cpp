#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "render.h"

namespace halcyra::sim {
namespace {

constexpr const char* kRemoteColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e"};
constexpr const char* kLocalColour = "#222";

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char* Colour(int remote) {
  return kRemoteColours[static_cast<size_t>(remote) % std::size(kRemoteColours)];
}

const char* HeardText(Heard heard) {
  switch (heard) {
    case Heard::kHeard:
      return "yes";
    case Heard::kSilent:
      return "no";
    default:
      return "-";
  }
}

struct Cells {
  std::string time, remote, distance, range, hidden, gain, radio, ear, encrypted, heard;
};

Cells CellsOf(const Scenario& scenario, const TableRow& row) {
  const Figures& f = row.figures;
  Cells cells;
  cells.time = std::to_string(row.second);
  cells.remote = scenario.remotes[static_cast<size_t>(row.remote)].station.nickname;
  cells.distance = Fixed(f.distance, 1);
  cells.range = Fixed(f.range, 1);
  cells.hidden = f.hidden ? "yes" : "no";
  cells.gain = f.audible ? Fixed(f.gain, 2) : "-";
  cells.radio = f.audible ? std::to_string(f.localRadio) : "-";
  cells.ear = f.audible ? EarName(row.ear) : "-";
  cells.encrypted = f.audible ? (f.encrypted ? "yes" : "no") : "-";
  cells.heard = HeardText(row.heard);
  return cells;
}

// Maps data coordinates into a plot area of an SVG picture.
struct Axes {
  double x0, x1, y0, y1;            // data range
  double left, top, width, height;  // pixels
  double X(double x) const { return left + (x - x0) / (x1 - x0) * width; }
  double Y(double y) const { return top + height - (y - y0) / (y1 - y0) * height; }
};

std::string Text(double x, double y, const std::string& text, const std::string& extra = "") {
  return "<text x=\"" + Fixed(x, 1) + "\" y=\"" + Fixed(y, 1) + "\" " + extra + ">" + Escape(text) +
         "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& style) {
  return "<line x1=\"" + Fixed(x1, 1) + "\" y1=\"" + Fixed(y1, 1) + "\" x2=\"" + Fixed(x2, 1) + "\" y2=\"" +
         Fixed(y2, 1) + "\" style=\"" + style + "\"/>\n";
}

std::string Rect(double x, double y, double w, double h, const std::string& style) {
  return "<rect x=\"" + Fixed(x, 1) + "\" y=\"" + Fixed(y, 1) + "\" width=\"" + Fixed(std::max(w, 0.5), 1) +
         "\" height=\"" + Fixed(h, 1) + "\" style=\"" + style + "\"/>\n";
}

std::string Polyline(const std::vector<std::pair<double, double>>& points, const std::string& style) {
  std::string out = "<polyline fill=\"none\" style=\"" + style + "\" points=\"";
  for (const auto& [x, y] : points) out += Fixed(x, 1) + "," + Fixed(y, 1) + " ";
  return out + "\"/>\n";
}

double NiceStep(double span, int ticks) {
  double raw = span / ticks;
  double power = std::pow(10, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

std::string Frame(const Axes& a, const std::string& xLabel, const std::string& yLabel) {
  std::string out = Rect(a.left, a.top, a.width, a.height, "fill:none;stroke:#888");
  double xStep = NiceStep(a.x1 - a.x0, 8);
  for (double x = std::ceil(a.x0 / xStep) * xStep; x <= a.x1 + 1e-9; x += xStep) {
    out += Line(a.X(x), a.top + a.height, a.X(x), a.top + a.height + 4, "stroke:#888");
    out += Text(a.X(x), a.top + a.height + 16, Fixed(x, xStep < 1 ? 1 : 0), "text-anchor=\"middle\"");
  }
  double yStep = NiceStep(a.y1 - a.y0, 5);
  for (double y = std::ceil(a.y0 / yStep) * yStep; y <= a.y1 + 1e-9; y += yStep) {
    out += Line(a.left, a.Y(y), a.left + a.width, a.Y(y), "stroke:#eee");
    out += Text(a.left - 6, a.Y(y) + 4, Fixed(y, yStep < 1 ? 1 : 0), "text-anchor=\"end\"");
  }
  out += Text(a.left + a.width / 2, a.top + a.height + 34, xLabel, "text-anchor=\"middle\"");
  out += Text(a.left - 44, a.top - 8, yLabel);
  return out;
}

std::string Svg(int width, int height, const std::string& body) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"11\">\n" + body + "</svg>\n";
}

// Calls as bands: green where heard, grey where the talker was silenced.
std::string CallBands(const RunResult& result, const Axes& a, int remote) {
  std::string out;
  for (const Call& call : result.calls) {
    if (call.remote != remote) continue;
    bool heard = false;
    for (const BlockRecord& block : result.blocks) {
      if (block.remote == remote && block.block >= call.firstBlock &&
          block.block < call.firstBlock + call.blockCount && block.renderedPeak > 0) {
        heard = true;
        break;
      }
    }
    out += Rect(a.X(call.Start()), a.top, a.X(call.End()) - a.X(call.Start()), a.height,
                heard ? "fill:#2ca02c;fill-opacity:0.15" : "fill:#999;fill-opacity:0.2");
  }
  return out;
}

std::string TimePlots(const Scenario& scenario, const RunResult& result) {
  double maxDistance = 10;
  for (const TableRow& row : result.rows)
    maxDistance = std::max({maxDistance, row.figures.distance, std::min(row.figures.range, 400.0)});
  std::string body;
  Axes distance{0, scenario.duration, 0, maxDistance * 1.05, 60, 30, 800, 180};
  Axes gain{0, scenario.duration, 0, 21, 60, 280, 800, 150};
  body += CallBands(result, distance, 0) + CallBands(result, gain, 0);
  // Hidden stretches of the first remote, as a red strip under the distance plot.
  for (const TableRow& row : result.rows) {
    if (row.remote == 0 && row.figures.hidden) {
      body += Rect(distance.X(row.second), distance.top + distance.height - 6,
                   distance.X(row.second + 1) - distance.X(row.second), 6, "fill:#c0392b");
    }
  }
  body += Frame(distance, "", "NM");
  body += Frame(gain, "scenario time (s)", "gain (0 = perfect, 20 = not received)");
  body +=
      Line(gain.left, gain.Y(20), gain.left + gain.width, gain.Y(20), "stroke:#c0392b;stroke-dasharray:4,3");
  for (size_t r = 0; r < scenario.remotes.size(); ++r) {
    std::vector<std::pair<double, double>> d, range, g;
    for (const TableRow& row : result.rows) {
      if (row.remote != static_cast<int>(r)) continue;
      d.push_back({distance.X(row.second), distance.Y(row.figures.distance)});
      range.push_back({distance.X(row.second), distance.Y(std::min(row.figures.range, distance.y1))});
      g.push_back({gain.X(row.second), gain.Y(std::min(row.figures.gain, 20.0))});
    }
    std::string colour = Colour(static_cast<int>(r));
    body += Polyline(d, "stroke:" + colour + ";stroke-width:2");
    body += Polyline(range, "stroke:" + colour + ";stroke-dasharray:6,3");
    body += Polyline(g, "stroke:" + colour + ";stroke-width:2");
    body += Text(870, 40 + 16.0 * r, scenario.remotes[r].station.nickname, "fill=\"" + colour + "\"");
  }
  body += Text(870, 120, "solid: distance");
  body += Text(870, 136, "dashed: range");
  body += Text(870, 152, "red strip: hidden");
  body += Text(870, 300, "green band: call heard");
  body += Text(870, 316, "grey band: call silent");
  return Svg(1000, 470, body);
}

std::string ProfilePlot(const Scenario& scenario, const Profile& profile) {
  double top = std::max(profile.local.altitude, profile.remoteRecord.altitude);
  for (double feet : profile.terrainFeet) top = std::max(top, feet);
  double distance = std::max(profile.figures.distance, 0.1);
  Axes a{0, distance, 0, top * 1.15 + 100, 70, 30, 560, 200};
  std::string body;
  std::string ground = "<polygon style=\"fill:#b08d57;fill-opacity:0.7\" points=\"" + Fixed(a.X(0), 1) + "," +
                       Fixed(a.Y(0), 1) + " ";
  for (size_t i = 0; i < profile.terrainFeet.size(); ++i) {
    double x = distance * static_cast<double>(i) / (profile.terrainFeet.size() - 1);
    ground += Fixed(a.X(x), 1) + "," + Fixed(a.Y(profile.terrainFeet[i]), 1) + " ";
  }
  body += ground + Fixed(a.X(distance), 1) + "," + Fixed(a.Y(0), 1) + "\"/>\n";
  body += Frame(a, "distance from " + scenario.local.nickname + " (NM)", "feet");
  const char* lineColour = profile.figures.hidden ? "#c0392b" : "#27ae60";
  body += Line(a.X(0), a.Y(profile.local.altitude), a.X(distance), a.Y(profile.remoteRecord.altitude),
               std::string("stroke:") + lineColour + ";stroke-width:2");
  body += Text(a.X(0) + 4, a.Y(profile.local.altitude) - 6, scenario.local.nickname);
  body += Text(a.X(distance) - 4, a.Y(profile.remoteRecord.altitude) - 6,
               scenario.remotes[static_cast<size_t>(profile.remote)].station.nickname, "text-anchor=\"end\"");
  std::string verdict = profile.figures.hidden ? "sight line cut by terrain" : "sight line clear";
  if (profile.figures.distance > profile.figures.range) verdict += ", out of range";
  body +=
      Text(a.left, 16,
           "t = " + Fixed(profile.time, 0) + " s: " + verdict + " (distance " +
               Fixed(profile.figures.distance, 1) + " NM, range " + Fixed(profile.figures.range, 1) + " NM)");
  return Svg(660, 270, body);
}

std::string MapPlot(const Scenario& scenario, const RunResult& result) {
  const TerrainMap& map = result.map;
  const std::vector<std::vector<double>>& grid = map.metres;
  double south = map.south, north = map.north, west = map.west, east = map.east;
  double aspect =
      (north - south) / std::max((east - west) * std::cos((south + north) / 2 * 3.14159265 / 180), 1e-6);
  int height = static_cast<int>(std::clamp(420 * aspect, 200.0, 560.0));
  Axes a{west, east, south, north, 70, 20, 420, static_cast<double>(height)};
  std::string body;
  double highest = 1;
  for (const auto& row : grid)
    for (double v : row) highest = std::max(highest, v);
  size_t rows = grid.size(), columns = grid.empty() ? 0 : grid[0].size();
  for (size_t i = 0; i < rows; ++i) {
    for (size_t j = 0; j < columns; ++j) {
      int shade = static_cast<int>(235 - 150 * grid[i][j] / highest);
      double lat0 = south + (north - south) * i / rows, lat1 = south + (north - south) * (i + 1) / rows;
      double lon0 = west + (east - west) * j / columns, lon1 = west + (east - west) * (j + 1) / columns;
      body += Rect(a.X(lon0), a.Y(lat1), a.X(lon1) - a.X(lon0) + 0.6, a.Y(lat0) - a.Y(lat1) + 0.6,
                   "fill:rgb(" + std::to_string(shade) + "," + std::to_string(shade - 10) + "," +
                       std::to_string(shade - 30) + ")");
    }
  }
  body += Frame(a, "longitude", "latitude");
  for (size_t s = 0; s <= scenario.remotes.size(); ++s) {
    std::vector<std::pair<double, double>> points;
    for (const auto& second : result.tracks)
      points.push_back({a.X(second[s].longitude), a.Y(second[s].latitude)});
    if (points.empty()) continue;
    std::string colour = s == 0 ? kLocalColour : Colour(static_cast<int>(s - 1));
    std::string name = s == 0 ? scenario.local.nickname : scenario.remotes[s - 1].station.nickname;
    body += Polyline(points, "stroke:" + colour + ";stroke-width:2");
    body += "<circle cx=\"" + Fixed(points.front().first, 1) + "\" cy=\"" + Fixed(points.front().second, 1) +
            "\" r=\"4\" fill=\"" + colour + "\"/>\n";
    body += Text(points.front().first + 6, points.front().second - 6, name, "fill=\"" + colour + "\"");
  }
  body += Text(a.left, a.top + a.height + 50,
               "dots: positions at the start; darker ground is higher (highest " + Fixed(highest, 0) + " m)");
  return Svg(520, height + 80, body);
}

}  // namespace

std::string FormatTable(const Scenario& scenario, const RunResult& result) {
  size_t nameWidth = 6;
  for (const Remote& remote : scenario.remotes)
    nameWidth = std::max(nameWidth, remote.station.nickname.size());
  char line[512];
  std::string text;
  std::snprintf(line, sizeof line, "%6s  %-*s %9s %9s  %-6s %6s  %-5s  %-5s  %-9s  %s\n", "time",
                static_cast<int>(nameWidth), "remote", "dist NM", "range NM", "hidden", "gain", "radio",
                "ear", "encrypted", "heard");
  text += line;
  for (const TableRow& row : result.rows) {
    Cells c = CellsOf(scenario, row);
    std::snprintf(line, sizeof line, "%6s  %-*s %9s %9s  %-6s %6s  %-5s  %-5s  %-9s  %s\n", c.time.c_str(),
                  static_cast<int>(nameWidth), c.remote.c_str(), c.distance.c_str(), c.range.c_str(),
                  c.hidden.c_str(), c.gain.c_str(), c.radio.c_str(), c.ear.c_str(), c.encrypted.c_str(),
                  c.heard.c_str());
    text += line;
  }
  return text;
}

bool WriteReport(const Scenario& scenario, const RunResult& result, const std::string& path,
                 std::string* error) {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Halcyra scenario " +
                     Escape(scenario.name) +
                     "</title>\n<style>body{font-family:sans-serif;margin:24px;max-width:1100px}"
                     "table{border-collapse:collapse;font-size:12px}td,th{padding:2px 8px;text-align:right}"
                     "tr:nth-child(even){background:#f4f4f4}h2{margin-top:32px}</style></head><body>\n";
  html += "<h1>Scenario " + Escape(scenario.name) + "</h1>\n<p>" + Escape(scenario.description) + "</p>\n";
  html += "<p>Scenario time " + Fixed(scenario.duration, 0) + " s, run in " + Fixed(result.wallSeconds, 1) +
          " s. Voice: " + Escape(result.voiceSource) +
          (result.voiceNote.empty() ? "" : " (" + Escape(result.voiceNote) + ")") + ". Listen to <a href=\"" +
          Escape(std::filesystem::path(result.wavPath).filename().string()) + "\">" +
          Escape(std::filesystem::path(result.wavPath).filename().string()) +
          "</a>; the plug-in's own log is <a href=\"" +
          Escape(std::filesystem::path(result.pluginLogPath).filename().string()) + "\">" +
          Escape(std::filesystem::path(result.pluginLogPath).filename().string()) + "</a>.</p>\n";

  html += "<h2>Distance, range and gain over time</h2>\n" + TimePlots(scenario, result);

  html += "<h2>Terrain under the sight line</h2>\n";
  for (const Profile& profile : result.profiles) html += ProfilePlot(scenario, profile);

  html += "<h2>Tracks</h2>\n" + MapPlot(scenario, result);

  html +=
      "<h2>Second by second</h2>\n<table><tr><th>time</th><th>remote</th><th>dist NM</th><th>range NM</th>"
      "<th>hidden</th><th>gain</th><th>radio</th><th>ear</th><th>encrypted</th><th>heard</th></tr>\n";
  for (const TableRow& row : result.rows) {
    Cells c = CellsOf(scenario, row);
    html += "<tr><td>" + c.time + "</td><td>" + Escape(c.remote) + "</td><td>" + c.distance + "</td><td>" +
            c.range + "</td><td>" + c.hidden + "</td><td>" + c.gain + "</td><td>" + c.radio + "</td><td>" +
            c.ear + "</td><td>" + c.encrypted + "</td><td>" + c.heard + "</td></tr>\n";
  }
  html += "</table>\n</body></html>\n";
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << html;
  file.close();
  if (!file) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace halcyra::sim
