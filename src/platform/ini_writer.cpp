#include "platform/ini_writer.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/files.h"

namespace halcyra::platform {
namespace {

template <typename Char>
bool IsBlank(Char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

template <typename Char>
Char LowerAscii(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
std::basic_string<Char> Trim(const std::basic_string<Char>& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

template <typename Char>
bool SameName(const std::basic_string<Char>& a, const std::basic_string<Char>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

template <typename Char>
std::basic_string<Char> Widen(const std::string& ascii) {
  return std::basic_string<Char>(ascii.begin(), ascii.end());
}

// One line of the text: [begin, contentEnd) is its content, [contentEnd, end) its line end.
struct Line {
  size_t begin = 0;
  size_t contentEnd = 0;
  size_t end = 0;
};

template <typename Char>
std::vector<Line> SplitLines(const std::basic_string<Char>& text) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t newline = text.find(static_cast<Char>('\n'), begin);
    Line line;
    line.begin = begin;
    line.end = newline == std::basic_string<Char>::npos ? text.size() : newline + 1;
    line.contentEnd = newline == std::basic_string<Char>::npos ? text.size() : newline;
    if (line.contentEnd > begin && text[line.contentEnd - 1] == '\r') --line.contentEnd;
    lines.push_back(line);
    begin = line.end;
  }
  return lines;
}

template <typename Char>
std::basic_string<Char> LineEndOf(const std::basic_string<Char>& text) {
  size_t newline = text.find(static_cast<Char>('\n'));
  if (newline != std::basic_string<Char>::npos && (newline == 0 || text[newline - 1] != '\r'))
    return Widen<Char>("\n");
  return Widen<Char>("\r\n");
}

// Where the value of a key line lies: after the '=' and its blanks, up to the blanks before an
// inline comment or the end of the line.
template <typename Char>
void ValueSpan(const std::basic_string<Char>& content, size_t equals, size_t* begin, size_t* end,
               bool* commentFollows) {
  size_t start = equals + 1;
  while (start < content.size() && IsBlank(content[start])) ++start;
  size_t stop = content.size();
  *commentFollows = false;
  for (size_t i = start; i < content.size(); ++i) {
    if (content[i] == ';' && (i == start || IsBlank(content[i - 1]))) {
      stop = i;
      *commentFollows = true;
      break;
    }
  }
  while (stop > start && IsBlank(content[stop - 1])) --stop;
  *begin = start;
  *end = stop;
}

template <typename Char>
std::basic_string<Char> Edit(std::basic_string<Char> text, const std::basic_string<Char>& section,
                             const std::basic_string<Char>& key, const std::basic_string<Char>& value) {
  const std::basic_string<Char> eol = LineEndOf(text);
  std::vector<Line> lines = SplitLines(text);
  bool inSection = false;
  bool sectionSeen = false;
  const Line* lastOfSection = nullptr;  // the header, then each key line of the section
  for (const Line& line : lines) {
    std::basic_string<Char> content = text.substr(line.begin, line.contentEnd - line.begin);
    std::basic_string<Char> trimmed = Trim(content);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      if (inSection) break;  // only the first matching section counts
      size_t close = trimmed.find(static_cast<Char>(']'));
      std::basic_string<Char> name = Trim(trimmed.substr(
          1, close == std::basic_string<Char>::npos ? std::basic_string<Char>::npos : close - 1));
      inSection = !sectionSeen && SameName(name, section);
      if (inSection) {
        sectionSeen = true;
        lastOfSection = &line;
      }
      continue;
    }
    if (!inSection) continue;
    size_t equals = content.find(static_cast<Char>('='));
    if (equals == std::basic_string<Char>::npos) continue;
    lastOfSection = &line;
    if (!SameName(Trim(content.substr(0, equals)), key)) continue;
    size_t begin = 0, end = 0;
    bool commentFollows = false;
    ValueSpan(content, equals, &begin, &end, &commentFollows);
    std::basic_string<Char> replacement = value;
    // A comment right behind the value would become part of it.
    if (commentFollows && end < content.size() && content[end] == ';') replacement += static_cast<Char>(' ');
    return text.replace(line.begin + begin, end - begin, replacement);
  }
  std::basic_string<Char> keyLine = key + static_cast<Char>('=') + value + eol;
  if (lastOfSection != nullptr) {
    size_t at = lastOfSection->end;
    if (lastOfSection->contentEnd == lastOfSection->end) keyLine = eol + keyLine;  // the text's last line
    return text.insert(at, keyLine);
  }
  if (!text.empty() && text.back() != '\n') text += eol;
  if (!text.empty()) text += eol;
  return text + static_cast<Char>('[') + section + static_cast<Char>(']') + eol + keyLine;
}

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

bool IsUtf16(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::u16string Utf16Units(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return units;
}

std::string Utf16Bytes(const std::u16string& units, const std::string& original) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  if (original.size() % 2 == 1) bytes += original.back();  // an odd last byte stays
  return bytes;
}

}  // namespace

std::string SetIniValue(const std::string& iniText, const std::string& section, const std::string& key,
                        const std::string& value) {
  if (IsUtf16(iniText)) {
    return Utf16Bytes(
        Edit(Utf16Units(iniText), Widen<char16_t>(section), Widen<char16_t>(key), Widen<char16_t>(value)),
        iniText);
  }
  if (iniText.compare(0, 3, kUtf8Mark) == 0) {
    return kUtf8Mark + Edit(iniText.substr(3), section, key, value);
  }
  return Edit(iniText, section, key, value);
}

bool WriteIniValue(const std::filesystem::path& file, const std::string& section, const std::string& key,
                   const std::string& value, std::string* reason) {
  std::error_code error;
  std::string text;
  if (std::filesystem::exists(file, error)) {
    if (!CanRewriteFile(file, reason)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      *reason = "cannot be read";
      return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
      *reason = "cannot be read";
      return false;
    }
  }
  std::string edited = SetIniValue(text, section, key, value);
  if (edited == text && !text.empty()) return true;
  return ReplaceFileContent(file, edited, reason);
}

}  // namespace halcyra::platform
