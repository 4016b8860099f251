#include "foundation/ini_keys.h"

#include <climits>
#include <cwctype>
#include <set>
#include <sstream>

#include "platform/env.h"
#include "platform/ini_reader.h"

namespace halcyra {
namespace {

using platform::IsIniBlank;
std::wstring Trim(const std::wstring& text) { return platform::TrimIniBlanks(text); }

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return text;
}

// UTF-16 little-endian text (after its byte-order mark) as UTF-8.
std::string Utf16ToUtf8(const std::string& bytes) {
  std::wstring wide;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t low = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if constexpr (sizeof(wchar_t) == 2) {
      if (unit >= 0x10000) {
        wide += static_cast<wchar_t>(0xD800 + ((unit - 0x10000) >> 10));
        wide += static_cast<wchar_t>(0xDC00 + ((unit - 0x10000) & 0x3FF));
        continue;
      }
    }
    wide += static_cast<wchar_t>(unit);
  }
  return platform::WideToUtf8(wide);
}

std::wstring IniTextAsWide(const std::string& iniText) {
  if (iniText.size() >= 2 && static_cast<unsigned char>(iniText[0]) == 0xFF &&
      static_cast<unsigned char>(iniText[1]) == 0xFE) {
    return platform::Utf8ToWide(Utf16ToUtf8(iniText));
  }
  std::string text = iniText;
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return platform::Utf8ToWide(text);
}

std::string KeysOf(const std::wstring& section) {
  std::string keys;
  for (const IniKey& key : IniKeys()) {
    if (Upper(key.section) != section) continue;
    if (!keys.empty()) keys += ", ";
    keys += platform::WideToUtf8(key.key);
  }
  return keys;
}

std::string Sections() {
  std::string sections;
  std::set<std::wstring> seen;
  for (const IniKey& key : IniKeys()) {
    if (!seen.insert(key.section).second) continue;
    if (!sections.empty()) sections += " ";
    sections += "[" + platform::WideToUtf8(key.section) + "]";
  }
  return sections;
}

}  // namespace

const std::vector<IniKey>& IniKeys() {
  static const std::vector<IniKey> keys = {
      {L"LOG", L"LOGLEVEL", L"0", "0",
       "How much Halcyra.log tells: 0 errors and the main settings ... 6 every simulator datagram (read at "
       "start)"},
      {L"HGT", L"Path", L"", "",
       "Folder of the .hgt elevation tiles; empty = the halcyra\\HGT folder beside the plug-in (read at "
       "start)"},
      {L"HCS", L"HOST", L"127.0.0.1", "teamspeak",
       "Station server: teamspeak = the host of the TeamSpeak server you are connected to; or an address or "
       "host name"},
      {L"HCS", L"UDP", L"10600", "10600", "UDP port of the station server, 1 to 65535"},
      {L"DCS", L"LISTEN", L"127.0.0.1", "127.0.0.1",
       "Where the simulator's commands are taken: 127.0.0.1 this computer only, 0.0.0.0 every address (read "
       "at start)"},
      {L"EAR", L"RADIO1", L"0", "0", "Ear of radio 1: -1 left, 0 both, 1 right"},
      {L"EAR", L"RADIO2", L"0", "0", "Ear of radio 2: -1 left, 0 both, 1 right"},
      {L"EAR", L"RADIO3", L"0", "0", "Ear of radio 3: -1 left, 0 both, 1 right"},
      {L"SYSTEM", L"ATTN", L"1", "1", "Radio model: 1 on (range, terrain, noise, encryption), 0 plain voice"},
      {L"SELECTOR", L"RADIO1", L"-1 -1", "-1 -1",
       "Joystick id (0 to 31) and button (1 to 32) that select radio 1; -1 -1 = none"},
      {L"SELECTOR", L"RADIO2", L"-1 -1", "-1 -1", "The same for radio 2"},
      {L"SELECTOR", L"RADIO3", L"-1 -1", "-1 -1", "The same for radio 3"},
      {L"SELECTOR", L"PTT", L"0", "0",
       "1 = holding a radio's button selects it and opens the microphone (push-to-talk), 0 = it only "
       "selects"},
  };
  return keys;
}

std::string DefaultIniText() {
  std::string text =
      "; Halcyra settings, written with the defaults at the plug-in's first start; yours to edit.\r\n"
      "; Keys not marked \"read at start\" are read again every 14 seconds while the plug-in runs.\r\n";
  std::wstring section;
  for (const IniKey& key : IniKeys()) {
    if (section != key.section) {
      section = key.section;
      text += "\r\n[" + platform::WideToUtf8(section) + "]\r\n";
    }
    text += std::string("; ") + key.comment + "\r\n";
    text += platform::WideToUtf8(key.key) + "=" + key.writtenValue + "\r\n";
  }
  return text;
}

std::wstring WithoutInlineComment(const std::wstring& value) {
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == L';' && (i == 0 || IsIniBlank(value[i - 1]))) return Trim(value.substr(0, i));
  }
  return Trim(value);
}

std::optional<int> ParseWholeNumber(const std::wstring& text) {
  std::wstring trimmed = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < trimmed.size() && (trimmed[i] == L'-' || trimmed[i] == L'+')) {
    negative = trimmed[i] == L'-';
    ++i;
  }
  if (i == trimmed.size()) return std::nullopt;
  long long value = 0;
  for (; i < trimmed.size(); ++i) {
    if (trimmed[i] < L'0' || trimmed[i] > L'9') return std::nullopt;
    value = value * 10 + (trimmed[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return static_cast<int>(value);
}

std::vector<std::string> UnknownIniEntries(const std::string& iniText) {
  std::set<std::wstring> sections;
  std::set<std::wstring> keys;  // "SECTION\nKEY"
  for (const IniKey& key : IniKeys()) {
    sections.insert(Upper(key.section));
    keys.insert(Upper(key.section) + L"\n" + Upper(key.key));
  }

  std::vector<std::string> problems;
  std::wistringstream lines(IniTextAsWide(iniText));
  std::wstring line;
  std::optional<std::wstring> section;  // upper case; none before the first section line
  std::wstring sectionName;             // as written
  bool sectionKnown = false;
  while (std::getline(lines, line)) {
    std::wstring trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == L';' || trimmed[0] == L'#') continue;
    if (trimmed[0] == L'[') {
      size_t close = trimmed.find(L']');
      std::wstring name =
          Trim(trimmed.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
      section = Upper(name);
      sectionName = name;
      sectionKnown = sections.count(*section) != 0;
      if (!sectionKnown) {
        problems.push_back("Halcyra.ini: unknown section [" + platform::WideToUtf8(name) +
                           "] is ignored with its keys (the sections: " + Sections() + ")");
      }
      continue;
    }
    size_t equals = trimmed.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring key = Trim(trimmed.substr(0, equals));
    if (!section) {
      problems.push_back("Halcyra.ini: " + platform::WideToUtf8(key) +
                         " stands before any [section] and is ignored");
      continue;
    }
    if (!sectionKnown || keys.count(*section + L"\n" + Upper(key)) != 0) continue;
    problems.push_back("Halcyra.ini: unknown key " + platform::WideToUtf8(key) + " in [" +
                       platform::WideToUtf8(sectionName) + "] is ignored (its keys: " + KeysOf(*section) +
                       ")");
  }
  return problems;
}

}  // namespace halcyra
