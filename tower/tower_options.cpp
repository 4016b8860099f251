#include "tower_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

#include "platform/ipv4.h"
#include "wire/simulator_command_text.h"

namespace halcyra::tower {
namespace {

bool ParseDecimal(const std::string& text, double low, double high, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed) || parsed < low ||
      parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseWhole(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// A frequency in MHz below 1000 as the plug-in compares it: "%07.3f" ("124.000"); 0 = radio off.
bool ParseFrequency(const std::string& text, std::string* frequency) {
  double megahertz = 0;
  if (!ParseDecimal(text, 0, 999.9994, &megahertz)) return false;
  char formatted[16];
  std::snprintf(formatted, sizeof formatted, "%07.3f", megahertz);
  *frequency = formatted;
  return true;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

struct Setting {
  std::string name;
  std::string value;
  std::string where;  // "--lat" or "tower.txt line 3: lat"
};

// Reads "name = value" lines; false with the error when the file cannot be read or a line is no
// setting.
bool ReadSettingsFile(const std::string& path, std::vector<Setting>* settings, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "--file: cannot read \"" + path + "\"";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    std::string content = Trim(line.substr(0, line.find_first_of("#;")));
    if (content.empty()) continue;
    size_t equals = content.find('=');
    std::string where = path + " line " + std::to_string(number);
    if (equals == std::string::npos) {
      *error = where + ": \"" + content + "\" is not a setting (name = value)";
      return false;
    }
    std::string name = Trim(content.substr(0, equals));
    settings->push_back({name, Trim(content.substr(equals + 1)), where + ": " + name});
  }
  return true;
}

using Apply = std::function<bool(const std::string&, TowerOptions&)>;

const std::map<std::string, std::pair<std::string, Apply>>& Rules() {
  static const std::map<std::string, std::pair<std::string, Apply>> rules = {
      {"lat",
       {"a latitude in degrees from -90 to 90",
        [](const std::string& v, TowerOptions& o) { return ParseDecimal(v, -90, 90, &o.latitude); }}},
      {"lon",
       {"a longitude in degrees from -180 to 180",
        [](const std::string& v, TowerOptions& o) { return ParseDecimal(v, -180, 180, &o.longitude); }}},
      {"alt",
       {"an altitude in whole feet from -99999 to 999999",
        [](const std::string& v, TowerOptions& o) {
          return ParseWhole(v, -99999, 999999, &o.altitudeFeet);
        }}},
      {"class",
       {"a radio class: 0, 1, 2, 100 or 200",
        [](const std::string& v, TowerOptions& o) {
          long value = 0;
          if (!ParseWhole(v, 0, 200, &value) || (value > 2 && value != 100 && value != 200)) return false;
          o.radioClass = static_cast<int>(value);
          return true;
        }}},
      {"radio1",
       {"a frequency in MHz below 1000 (0 = off)",
        [](const std::string& v, TowerOptions& o) { return ParseFrequency(v, &o.frequencies[0]); }}},
      {"radio2",
       {"a frequency in MHz below 1000 (0 = off)",
        [](const std::string& v, TowerOptions& o) { return ParseFrequency(v, &o.frequencies[1]); }}},
      {"radio3",
       {"a frequency in MHz below 1000 (0 = off)",
        [](const std::string& v, TowerOptions& o) { return ParseFrequency(v, &o.frequencies[2]); }}},
      {"active",
       {"1, 2, 3 or none",
        [](const std::string& v, TowerOptions& o) {
          long value = 0;
          if (v == "none") {
            o.activeRadio = 0;
            return true;
          }
          if (!ParseWhole(v, 1, 3, &value)) return false;
          o.activeRadio = static_cast<int>(value);
          return true;
        }}},
      {"crypto-frequency",
       {"a frequency in MHz below 1000 (0 = none)",
        [](const std::string& v, TowerOptions& o) { return ParseFrequency(v, &o.cryptoFrequency); }}},
      {"crypto-key",
       {"a whole number",
        [](const std::string& v, TowerOptions& o) {
          long value = 0;
          if (!ParseWhole(v, -2147483647L - 1, 2147483647L, &value)) return false;
          o.cryptoKey = static_cast<int>(value);
          return true;
        }}},
      {"volumes",
       {"three percentages from 0 to 200 separated by commas, such as 100,80,100",
        [](const std::string& v, TowerOptions& o) {
          long values[3];
          size_t start = 0;
          for (int i = 0; i < 3; ++i) {
            size_t comma = v.find(',', start);
            if ((i < 2) == (comma == std::string::npos)) return false;
            std::string part =
                Trim(v.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (!ParseWhole(part, 0, 200, &values[i])) return false;
            start = comma + 1;
          }
          for (int i = 0; i < 3; ++i) o.volumes[i] = static_cast<int>(values[i]);
          return true;
        }}},
      {"plugin",
       {"the plug-in's IPv4 address and port, such as 127.0.0.1:10602",
        [](const std::string& v, TowerOptions& o) {
          size_t colon = v.rfind(':');
          long port = 0;
          if (colon == std::string::npos || !ParseDottedIPv4(v.substr(0, colon), &o.pluginAddress) ||
              !ParseWhole(v.substr(colon + 1), 1, 65535, &port)) {
            return false;
          }
          o.pluginPort = static_cast<uint16_t>(port);
          return true;
        }}},
      {"count",
       {"a number of rounds from 1 to 1000000",
        [](const std::string& v, TowerOptions& o) {
          long value = 0;
          if (!ParseWhole(v, 1, 1000000, &value)) return false;
          o.count = static_cast<int>(value);
          return true;
        }}},
  };
  return rules;
}

bool ApplySetting(const Setting& setting, TowerOptions& options, std::string* error) {
  auto rule = Rules().find(setting.name);
  if (rule == Rules().end()) {
    *error = setting.where + ": unknown setting";
    return false;
  }
  if (!rule->second.second(setting.value, options)) {
    *error = setting.where + " needs " + rule->second.first + ", not \"" + setting.value + "\"";
    return false;
  }
  return true;
}

}  // namespace

ParsedTowerOptions ParseTowerOptions(const std::vector<std::string>& arguments) {
  ParsedTowerOptions result;
  std::vector<Setting> fromFile;
  std::vector<Setting> fromCommandLine;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      result.options.help = true;
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
    if (name == "file") {
      if (!ReadSettingsFile(value, &fromFile, &result.error)) return result;
    } else {
      fromCommandLine.push_back({name, value, "--" + name});
    }
  }
  if (result.options.help) return result;

  bool hasLatitude = false;
  bool hasLongitude = false;
  for (const std::vector<Setting>* settings : {&fromFile, &fromCommandLine}) {
    for (const Setting& setting : *settings) {
      if (!ApplySetting(setting, result.options, &result.error)) return result;
      hasLatitude = hasLatitude || setting.name == "lat";
      hasLongitude = hasLongitude || setting.name == "lon";
    }
  }
  if (!hasLatitude || !hasLongitude) {
    result.error =
        std::string(hasLatitude ? "--lon" : "--lat") + " is missing: the station's position is needed";
  }
  return result;
}

std::string TowerUsage() {
  return "Usage: halcyra-tower --lat DEGREES --lon DEGREES [options]\n"
         "\n"
         "A radio station for a controller who does not fly: sends the Halcyra plug-in of this\n"
         "computer's TeamSpeak client the position and radios of a fixed station, every second until\n"
         "stopped (Ctrl-C), as the simulator would for an aircraft.\n"
         "\n"
         "  --lat DEGREES            latitude, -90 to 90 (south negative)\n"
         "  --lon DEGREES            longitude, -180 to 180 (west negative)\n"
         "  --alt FEET               altitude in whole feet (default 0); the plug-in puts class 1 and 2\n"
         "                           stations on its terrain when it has tiles for the place\n"
         "  --class N                radio class: 2 tower (default), 1 short-range ground station,\n"
         "                           0 aircraft, 100 and 200 longer range\n"
         "  --radio1 MHZ             frequency of radio 1, 2, 3 (default 0 = off), e.g. 124.000\n"
         "  --radio2 MHZ\n"
         "  --radio3 MHZ\n"
         "  --active 1|2|3|none      the radio you transmit on (default 1), selected in the first\n"
         "                           round only: a radio selected afterwards with the joystick\n"
         "                           buttons of the plug-in's [SELECTOR] stays; none leaves the\n"
         "                           choice to those buttons alone\n"
         "  --crypto-frequency MHZ   frequency the encryption applies to (default 0 = none)\n"
         "  --crypto-key N           encryption key (default 0)\n"
         "  --volumes A,B,C          volume of radio 1, 2, 3 in percent (default 100,100,100)\n"
         "  --plugin ADDRESS:PORT    where the plug-in listens (default 127.0.0.1:10602)\n"
         "  --count N                send N rounds, then stop (default: until stopped)\n"
         "  --file FILE              settings from FILE, one \"name = value\" a line with the names\n"
         "                           above (lat = 42.18); the command line wins\n"
         "  --help                   this text\n";
}

std::vector<std::string> TowerCommands(const TowerOptions& o, bool withSelection) {
  std::vector<std::string> commands;
  commands.push_back(wire::SetVolumCommand(o.volumes[0], o.volumes[1], o.volumes[2]));
  commands.push_back(wire::SetLLAltCommand(wire::DegreesText(o.latitude), wire::DegreesText(o.longitude),
                                           std::to_string(o.altitudeFeet), o.radioClass));
  if (withSelection && o.activeRadio != 0)
    commands.push_back(wire::SetActivCommand(wire::ActiveMarks(o.activeRadio)));
  commands.push_back(wire::SetRadioCommand(o.frequencies[0], o.frequencies[1], o.frequencies[2],
                                           o.cryptoFrequency, o.cryptoKey));
  return commands;
}

}  // namespace halcyra::tower
