#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "oracle.h"
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

// Where the host played a voice from.
const char* PlacedName(const TS3_VECTOR& position) {
  if (IsSilentPosition(position)) return "far";
  if (position.x < 0) return "left";
  if (position.x > 0) return "right";
  return position.y == 0 ? "centre" : "front";
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string Decision(const Judgement& j) {
  if (j.silenced) return "silenced";
  return j.treated ? "treated" : "untouched";
}

struct Cells {
  std::string time, remote;
  std::string distance, range, hidden, gain, encrypted, placed, heard, age;       // the plug-in's
  std::string modelDistance, modelRange, modelHidden, modelGain, modelEncrypted;  // the model's
  std::string mark;
  std::string verdict;  // the plug-in's radio check (its info panel)
};

// The plug-in's figures of one judgement, "-" where it has none.
void PluginCells(const Judgement& j, Cells* cells) {
  if (!j.audible) {
    cells->gain = "off";  // no local radio on his frequency
    return;
  }
  if (!j.rated) return;
  cells->distance = Fixed(j.distance, 1);
  cells->range = Fixed(j.range, 1);
  cells->hidden = j.distance > j.range ? "-" : YesNo(j.hidden);
  cells->gain = Fixed(j.gain, 2);
  cells->encrypted = YesNo(j.encrypted);
}

Cells CellsOf(const Scenario& scenario, const RunResult& result, const TableRow& row) {
  const Figures& f = row.figures;
  Cells cells;
  cells.time = std::to_string(row.second);
  cells.remote = scenario.remotes[static_cast<size_t>(row.remote)].station.nickname;
  cells.distance = cells.range = cells.hidden = cells.gain = cells.encrypted = cells.placed = cells.age = "-";
  if (row.firstBlock >= 0) {
    const BlockRecord& block = result.blocks[static_cast<size_t>(row.firstBlock)];
    if (block.plugin) PluginCells(*block.plugin, &cells);
    cells.placed = PlacedName(block.position);
    if (block.recordAge) cells.age = std::to_string(*block.recordAge);
  }
  cells.heard = HeardText(row.heard);
  cells.modelDistance = Fixed(f.distance, 1);
  cells.modelRange = Fixed(f.range, 1);
  cells.modelHidden = f.distance > f.range ? "-" : YesNo(f.hidden);
  cells.modelGain = f.audible ? Fixed(f.gain, 2) : "off";
  cells.modelEncrypted = f.audible ? YesNo(f.encrypted) : "-";
  cells.mark = row.disagreement ? "DISAGREES" : "";
  cells.verdict = row.verdict.empty() ? "-" : row.verdict;
  return cells;
}

std::string ModeText(const Scenario& scenario, const RunResult& result) {
  if (!result.fast) {
    return "Real time: one voice block every 20 ms, so the plug-in's refresh cycle (every 2 s) and its "
           "settings reload (every 14 s) ran as in flight.";
  }
  double speed = scenario.duration / std::max(result.wallSeconds, 0.001);
  return "Fast (--fast): scenario time ran about " + Fixed(speed, 0) +
         " times faster than real time. This leaves out the plug-in's refresh cycle (every 2 s of real "
         "time), which hardly ran: each call was judged on the talker's record fetched at his talk event, "
         "so a talker who moved behind terrain or out of range during a call was heard until his next "
         "call; and the settings reload (every 14 s) did not run.";
}

std::string ToleranceText() {
  return "The plug-in's figures come from its own log (LOGLEVEL 5): a judgement agrees with the model "
         "when its distance, range and gain are within " +
         Fixed(kFigureTolerance, 3) +
         " and its sight line and encryption are the same, for the local aircraft of that second and one of "
         "the talker's records the plug-in may hold: in real time those of the last " +
         std::to_string(kRealTimeRecordAgeSeconds) +
         " s (it refreshes them every 2 s), in the fast mode any earlier one. Each voice block must also be "
         "treated as radio when judged receivable and silenced when not, and each talk event must place "
         "the talker as judged.";
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

std::string Dot(double x, double y, const std::string& colour) {
  return "<circle cx=\"" + Fixed(x, 1) + "\" cy=\"" + Fixed(y, 1) +
         "\" r=\"2.5\" style=\"fill:none;stroke:" + colour + "\"/>\n";
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
          block.block < call.firstBlock + call.blockCount && block.Reached()) {
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
  // Hidden stretches of the first remote under the distance plot: as the model expects them (red)
  // and as the plug-in judged his voice blocks (dark red, above).
  for (const TableRow& row : result.rows) {
    if (row.remote != 0) continue;
    double x = distance.X(row.second), width = distance.X(row.second + 1) - x;
    if (row.figures.hidden && row.figures.distance <= row.figures.range)
      body += Rect(x, distance.top + distance.height - 6, width, 6, "fill:#c0392b");
  }
  for (const BlockRecord& block : result.blocks) {
    if (block.remote != 0 || !block.plugin || !block.plugin->hidden) continue;
    double t = static_cast<double>(block.block) / kBlocksPerSecond;
    body += Rect(distance.X(t), distance.top + distance.height - 13, distance.X(t + 0.02) - distance.X(t), 6,
                 "fill:#641e16");
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
    // The plug-in's own figures, one dot per second of talk (its first voice block in that second).
    for (const TableRow& row : result.rows) {
      if (row.remote != static_cast<int>(r) || row.firstBlock < 0) continue;
      const std::optional<Judgement>& j = result.blocks[static_cast<size_t>(row.firstBlock)].plugin;
      if (!j || !j->rated) continue;
      double t = row.second + 0.5;
      body += Dot(distance.X(t), distance.Y(std::min(j->distance, distance.y1)), colour);
      body += Dot(gain.X(t), gain.Y(std::min(j->gain, 20.0)), colour);
    }
  }
  body += Text(870, 120, "lines: the model");
  body += Text(870, 136, "dots: the plug-in");
  body += Text(870, 152, "solid: distance");
  body += Text(870, 168, "dashed: range");
  body += Text(870, 184, "strips: hidden,");
  body += Text(870, 200, "red the model's,");
  body += Text(870, 216, "dark the plug-in's");
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
  int nameWidth = 6;
  for (const Remote& remote : scenario.remotes)
    nameWidth = std::max(nameWidth, static_cast<int>(remote.station.nickname.size()));
  const char* format = "%6s  %-*s  %8s %8s %6s %6s %4s %6s %5s %4s  | %8s %8s %6s %6s %4s  %-9s  %s\n";
  char line[1024];
  std::snprintf(line, sizeof line, "%*s  %-56s| %s\n", 8 + nameWidth, "",
                "the plug-in (first voice block of the second)", "expected by the model");
  std::string text = line;
  std::snprintf(line, sizeof line, format, "time", nameWidth, "remote", "dist NM", "range NM", "hidden",
                "gain", "enc", "placed", "heard", "age", "dist NM", "range NM", "hidden", "gain", "enc", "",
                "the plug-in's radio check");
  text += line;
  for (const TableRow& row : result.rows) {
    Cells c = CellsOf(scenario, result, row);
    std::snprintf(line, sizeof line, format, c.time.c_str(), nameWidth, c.remote.c_str(), c.distance.c_str(),
                  c.range.c_str(), c.hidden.c_str(), c.gain.c_str(), c.encrypted.c_str(), c.placed.c_str(),
                  c.heard.c_str(), c.age.c_str(), c.modelDistance.c_str(), c.modelRange.c_str(),
                  c.modelHidden.c_str(), c.modelGain.c_str(), c.modelEncrypted.c_str(), c.mark.c_str(),
                  c.verdict.c_str());
    text += line;
  }
  return text;
}

std::string FormatBlocks(const Scenario& scenario, const RunResult& result) {
  std::string text =
      "time,remote,audible,distance_nm,range_nm,hidden,gain,encrypted,decision,record_age_s,"
      "placed_x,placed_y,placed_z,reached,"
      "model_audible,model_distance_nm,model_range_nm,model_hidden,model_gain\n";
  size_t remotes = scenario.remotes.size();
  for (const BlockRecord& block : result.blocks) {
    size_t row =
        static_cast<size_t>(block.block / kBlocksPerSecond) * remotes + static_cast<size_t>(block.remote);
    if (row >= result.rows.size()) continue;
    const Figures& f = result.rows[row].figures;
    std::string plugin = ",,,,,,,";
    if (block.plugin) {
      const Judgement& j = *block.plugin;
      plugin = std::to_string(j.audible) + "," +
               (j.rated ? Fixed(j.distance, 3) + "," + Fixed(j.range, 3) + "," + std::to_string(j.hidden) +
                              "," + Fixed(j.gain, 3)
                        : ",,,") +
               "," + std::to_string(j.encrypted) + "," + Decision(j) + "," +
               (block.recordAge ? std::to_string(*block.recordAge) : "");
    }
    text += Fixed(static_cast<double>(block.block) / kBlocksPerSecond, 2) + "," +
            scenario.remotes[static_cast<size_t>(block.remote)].station.nickname + "," + plugin + "," +
            Fixed(block.position.x, 3) + "," + Fixed(block.position.y, 3) + "," + Fixed(block.position.z, 3) +
            "," + std::to_string(block.Reached()) + "," + std::to_string(f.audible) + "," +
            Fixed(f.distance, 3) + "," + Fixed(f.range, 3) + "," + std::to_string(f.hidden) + "," +
            Fixed(f.gain, 3) + "\n";
  }
  return text;
}

std::string FormatSummary(const Scenario& scenario, const RunResult& result) {
  constexpr size_t kShown = 20;
  std::string text = ModeText(scenario, result) + "\n";
  if (!result.decisionsNote.empty()) return text + result.decisionsNote + "\n";
  if (result.disagreements.empty())
    return text + "Every judgement of the plug-in agrees with the model (tolerance " +
           Fixed(kFigureTolerance, 3) + ").\n";
  text +=
      std::to_string(result.disagreements.size()) + " judgements of the plug-in disagree with the model:\n";
  for (size_t i = 0; i < result.disagreements.size() && i < kShown; ++i) {
    const Disagreement& d = result.disagreements[i];
    text += "  " + Fixed(d.time, 2) + " s " +
            scenario.remotes[static_cast<size_t>(d.remote)].station.nickname + ": " + d.what + "\n";
  }
  if (result.disagreements.size() > kShown)
    text += "  ... and " + std::to_string(result.disagreements.size() - kShown) + " more in the report\n";
  return text;
}

bool WriteReport(const Scenario& scenario, const RunResult& result, const std::string& path,
                 std::string* error) {
  auto link = [](const std::string& file) {
    std::string name = Escape(std::filesystem::path(file).filename().string());
    return "<a href=\"" + name + "\">" + name + "</a>";
  };
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Halcyra scenario " +
                     Escape(scenario.name) +
                     "</title>\n<style>body{font-family:sans-serif;margin:24px;max-width:1100px}"
                     "table{border-collapse:collapse;font-size:12px}td,th{padding:2px 8px;text-align:right}"
                     "tr:nth-child(even){background:#f4f4f4}h2{margin-top:32px}.bad{color:#c0392b}"
                     "</style></head><body>\n";
  html += "<h1>Scenario " + Escape(scenario.name) + "</h1>\n<p>" + Escape(scenario.description) + "</p>\n";
  html += "<p>Scenario time " + Fixed(scenario.duration, 0) + " s, run in " + Fixed(result.wallSeconds, 1) +
          " s. " + Escape(ModeText(scenario, result)) + "</p>\n";
  html += "<p>Voice: " + Escape(result.voiceSource) +
          (result.voiceNote.empty() ? "" : " (" + Escape(result.voiceNote) + ")") + ". Listen to " +
          link(result.wavPath) + "; the plug-in's own log is " + link(result.pluginLogPath) +
          ", every voice block with the plug-in's and the model's figures is in " + link(result.blocksPath) +
          ".</p>\n";

  html += "<h2>The plug-in against the model</h2>\n<p>" + Escape(ToleranceText()) + "</p>\n";
  if (!result.decisionsNote.empty()) {
    html += "<p>" + Escape(result.decisionsNote) + "</p>\n";
  } else if (result.disagreements.empty()) {
    html += "<p>Every judgement of the plug-in agrees with the model.</p>\n";
  } else {
    html += "<p class=\"bad\">" + std::to_string(result.disagreements.size()) +
            " judgements disagree:</p>\n<table><tr><th>time</th><th>remote</th><th style=\"text-align:left\">"
            "what</th></tr>\n";
    for (const Disagreement& d : result.disagreements) {
      html += "<tr><td>" + Fixed(d.time, 2) + "</td><td>" +
              Escape(scenario.remotes[static_cast<size_t>(d.remote)].station.nickname) +
              "</td><td style=\"text-align:left\">" + Escape(d.what) + "</td></tr>\n";
    }
    html += "</table>\n";
  }

  html += "<h2>Distance, range and gain over time</h2>\n" + TimePlots(scenario, result);

  html += "<h2>Terrain under the sight line</h2>\n";
  for (const Profile& profile : result.profiles) html += ProfilePlot(scenario, profile);

  html += "<h2>Tracks</h2>\n" + MapPlot(scenario, result);

  html +=
      "<h2>Second by second</h2>\n<p>The plug-in's columns show its judgement of the talker's first voice "
      "block in that second, where the host played him from, whether he was heard, and the age (s) of the "
      "record it judged on; the model's columns what the positions of that second give. The last column is "
      "the verdict of the plug-in's radio check (the client's info panel) at the start of the second.</p>\n"
      "<table><tr><th>time</th><th>remote</th><th>dist NM</th><th>range NM</th><th>hidden</th><th>gain</th>"
      "<th>encrypted</th><th>placed</th><th>heard</th><th>age</th>"
      "<th>model dist NM</th><th>model range NM</th><th>model hidden</th><th>model gain</th>"
      "<th>model encrypted</th><th></th><th style=\"text-align:left\">radio check</th></tr>\n";
  for (const TableRow& row : result.rows) {
    Cells c = CellsOf(scenario, result, row);
    html += "<tr><td>" + c.time + "</td><td>" + Escape(c.remote) + "</td><td>" + c.distance + "</td><td>" +
            c.range + "</td><td>" + c.hidden + "</td><td>" + c.gain + "</td><td>" + c.encrypted +
            "</td><td>" + c.placed + "</td><td>" + c.heard + "</td><td>" + c.age + "</td><td>" +
            c.modelDistance + "</td><td>" + c.modelRange + "</td><td>" + c.modelHidden + "</td><td>" +
            c.modelGain + "</td><td>" + c.modelEncrypted + "</td><td class=\"bad\">" + c.mark +
            "</td><td style=\"text-align:left\">" + Escape(c.verdict) + "</td></tr>\n";
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
