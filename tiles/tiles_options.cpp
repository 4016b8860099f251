#include "tiles_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "theatres.h"
#include "tile_source.h"

namespace halcyra::tiles {
namespace {

bool ParseDegrees(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

bool ParseWhole(const std::string& text, long low, long high, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() || parsed < low || parsed > high) return false;
  *value = static_cast<int>(parsed);
  return true;
}

std::string TheatreNames() {
  std::string names;
  for (const Theatre& theatre : Theatres()) names += (names.empty() ? "" : ", ") + theatre.name;
  return names;
}

// Reads --area's four values from arguments[*i + 1 ...]; false with the error.
bool ParseArea(const std::vector<std::string>& arguments, size_t* i, SquareBox* box, std::string* error) {
  static const char* const kNames[] = {"SOUTH", "WEST", "NORTH", "EAST"};
  double values[4];
  for (int k = 0; k < 4; ++k) {
    if (*i + 1 >= arguments.size()) {
      *error = "--area needs four values in degrees: SOUTH WEST NORTH EAST";
      return false;
    }
    const std::string& text = arguments[++*i];
    if (!ParseDegrees(text, &values[k])) {
      *error = std::string("--area ") + kNames[k] + " needs a number of degrees, not \"" + text + "\"";
      return false;
    }
  }
  std::string why;
  std::optional<SquareBox> parsed = BoxOfArea(values[0], values[1], values[2], values[3], &why);
  if (!parsed) {
    *error = "--area " + why;
    return false;
  }
  *box = *parsed;
  return true;
}

bool Apply(const std::string& name, const std::string& value, TilesOptions& options, std::string* error) {
  if (name == "theatre") {
    if (!FindTheatre(value)) {
      *error = "--theatre: unknown theatre \"" + value + "\"; the theatres are " + TheatreNames();
      return false;
    }
    options.theatres.push_back(value);
  } else if (name == "source") {
    std::optional<std::string> urlTemplate = SourceTemplate(value, error);
    if (!urlTemplate) return false;
    options.urlTemplate = *urlTemplate;
  } else if (name == "out") {
    if (value.empty()) {
      *error = "--out needs a folder";
      return false;
    }
    options.outFolder = value;
  } else if (name == "jobs") {
    if (!ParseWhole(value, 1, 16, &options.jobs)) {
      *error = "--jobs needs a number of downloads at once from 1 to 16, not \"" + value + "\"";
      return false;
    }
  } else if (name == "retries") {
    if (!ParseWhole(value, 0, 10, &options.retries)) {
      *error = "--retries needs a number from 0 to 10, not \"" + value + "\"";
      return false;
    }
  } else if (name == "stall-seconds") {
    if (!ParseWhole(value, 1, 3600, &options.stallSeconds)) {
      *error = "--stall-seconds needs a number of seconds from 1 to 3600, not \"" + value + "\"";
      return false;
    }
  } else {
    *error = "unknown option --" + name;
    return false;
  }
  return true;
}

}  // namespace

ParsedTilesOptions ParseTilesOptions(const std::vector<std::string>& arguments) {
  ParsedTilesOptions result;
  TilesOptions& options = result.options;
  options.urlTemplate = kAwsTemplate;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      return result;
    }
    if (argument == "--list") {
      options.list = true;
      continue;
    }
    if (argument == "--missing") {
      options.missing = true;
      continue;
    }
    if (argument == "--area") {
      SquareBox box;
      if (!ParseArea(arguments, &i, &box, &result.error)) return result;
      options.areas.push_back(box);
      continue;
    }
    if (argument.rfind("--", 0) != 0 || argument.size() == 2) {
      result.error = "unexpected argument \"" + argument + "\"";
      return result;
    }
    std::string name = argument.substr(2);
    std::string value;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      result.error = "--" + name + " needs a value";
      return result;
    }
    if (!Apply(name, value, options, &result.error)) return result;
  }
  if (!options.list && options.theatres.empty() && options.areas.empty() && !options.missing) {
    result.error = "say what to fetch: --theatre NAME, --area SOUTH WEST NORTH EAST or --missing";
  }
  return result;
}

std::string TilesUsage() {
  return "Usage: halcyra-tiles --theatre NAME | --area SOUTH WEST NORTH EAST | --missing [options]\n"
         "       halcyra-tiles --list\n"
         "\n"
         "Fetches the elevation tiles (.HGT files, one per whole-degree square) that the Halcyra\n"
         "plug-in masks terrain with, into its tile folder: [HGT] Path of Halcyra.ini in your Saved\n"
         "Games folder's Halcyra folder, else the installer's folder's HGT folder, else the HGT folder\n"
         "beside this program. SRTM1 tiles are stored at the plug-in's SRTM3 spacing (2.9 MB a tile).\n"
         "Squares of open sea have no tile. A tile already complete is skipped, so a run can be\n"
         "repeated or resumed. The exit code is 0 unless some tile failed.\n"
         "\n"
         "  --theatre NAME           the squares of a theatre of the simulator (see --list); repeatable\n"
         "  --area S W N E           the squares of a box in degrees (south and west negative), e.g.\n"
         "                           --area 41.5 40 43 42.5; repeatable\n"
         "  --missing                the squares the plug-in found without a tile (missing-tiles.txt in\n"
         "                           the Halcyra folder); those fetched are taken off the list\n"
         "  --list                   the theatres, their boxes and numbers of squares\n"
         "  --source aws|TEMPLATE    where from (default aws: AWS Open Data terrain tiles, the whole\n"
         "                           globe); a TEMPLATE is a URL with {name} (N42E041), {lat} (N42)\n"
         "                           and {lon} (E041), serving .hgt, .hgt.gz or .hgt.zip files\n"
         "  --out DIR                the tile folder (default: the plug-in's, above); made when missing\n"
         "  --jobs N                 downloads at once (default 4)\n"
         "  --retries N              further tries of a failed download, after 1 s, 2 s, 4 s ... (default\n"
         "                           3); an answer \"not found\" (sea) is not tried again\n"
         "  --stall-seconds N        a download that receives nothing for N seconds fails (default 60)\n"
         "  --help                   this text\n";
}

std::string TheatreList() {
  std::string list;
  for (const Theatre& theatre : Theatres()) {
    const SquareBox& box = theatre.box;
    Square first{box.south, box.west};
    Square last{box.north, box.east};
    char line[160];
    std::snprintf(line, sizeof line, "%-16s %s ... %s, %s ... %s  %4d squares", theatre.name.c_str(),
                  LatitudePart(first).c_str(), LatitudePart(last).c_str(), LongitudePart(first).c_str(),
                  LongitudePart(last).c_str(), box.Count());
    list += line;
    if (!theatre.note.empty()) list += "  (" + theatre.note + ")";
    list += "\n";
  }
  return list;
}

}  // namespace halcyra::tiles
