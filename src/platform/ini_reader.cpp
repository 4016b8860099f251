#include "platform/ini_reader.h"

#include <cwctype>
#include <sstream>

#include "platform/env.h"

namespace halcyra::platform {
namespace {

std::wstring Trim(const std::wstring& text) { return TrimIniBlanks(text); }

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::wstring StripQuotes(const std::wstring& value) {
  if (value.size() >= 2) {
    wchar_t first = value.front();
    if ((first == L'"' || first == L'\'') && value.back() == first) {
      return value.substr(1, value.size() - 2);
    }
  }
  return value;
}

std::wstring Cut(const std::wstring& value) {
  return value.size() < kIniValueCapacity ? value : value.substr(0, kIniValueCapacity - 1);
}

}  // namespace

bool IsIniBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring TrimIniBlanks(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsIniBlank(text[begin])) ++begin;
  while (end > begin && IsIniBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::wstring NormaliseIniValue(const std::wstring& value) { return Cut(Trim(value)); }

bool FindIniValue(const std::string& iniText, const std::wstring& section, const std::wstring& key,
                  std::wstring* value) {
  std::string text = iniText;
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::wstring wide = Utf8ToWide(text);
  std::wstring wantedSection = Trim(section);
  std::wstring wantedKey = Trim(key);

  std::wistringstream lines(wide);
  std::wstring line;
  bool inSection = false;
  bool sectionSeen = false;
  while (std::getline(lines, line)) {
    std::wstring trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == L';') continue;
    if (trimmed[0] == L'[') {
      size_t close = trimmed.find(L']');
      std::wstring name =
          Trim(trimmed.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
      if (inSection) return false;  // only the first matching section is searched
      inSection = !sectionSeen && EqualsNoCase(name, wantedSection);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    size_t equals = trimmed.find(L'=');
    if (equals == std::wstring::npos) continue;
    if (!EqualsNoCase(Trim(trimmed.substr(0, equals)), wantedKey)) continue;
    *value = Cut(StripQuotes(Trim(trimmed.substr(equals + 1))));
    return true;
  }
  return false;
}

}  // namespace halcyra::platform
