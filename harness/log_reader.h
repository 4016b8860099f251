// Reads the lines a running Clog has written, once its writer has caught up.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "temp_dir.h"

namespace halcyra::testing {

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Every line the log has been given so far, read back from its file.
inline std::vector<std::string> LogLinesNow(Clog& log, const std::filesystem::path& file) {
  log.Flush();
  return SplitLines(ReadFile(file));
}

inline int CountContaining(const std::vector<std::string>& lines, const std::string& text) {
  int count = 0;
  for (const std::string& line : lines) count += line.find(text) != std::string::npos ? 1 : 0;
  return count;
}

// The first line containing text, or "" when none.
inline std::string LineContaining(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return line;
  }
  return std::string();
}

// Whether the whole text has the shape: its characters stand for themselves, except "%d" (one
// digit), "%X" (one of 0-9A-F), "%i" (an optional '-' and one or more digits), "%*" (whatever is
// left: the rest of the text) and "%%" (a '%'). Cheaper to build than <regex> for log-line checks.
inline bool MatchesShape(const std::string& text, const std::string& shape) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t at = 0;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] != '%' || i + 1 == shape.size()) {
      if (at >= text.size() || text[at++] != shape[i]) return false;
      continue;
    }
    switch (shape[++i]) {
      case '*':
        return true;
      case 'i': {
        if (at < text.size() && text[at] == '-') ++at;
        size_t first = at;
        while (at < text.size() && isDigit(text[at])) ++at;
        if (at == first) return false;
        break;
      }
      case 'd':
        if (at >= text.size() || !isDigit(text[at++])) return false;
        break;
      case 'X':
        if (at >= text.size() || !(isDigit(text[at]) || (text[at] >= 'A' && text[at] <= 'F'))) return false;
        ++at;
        break;
      case '%':
        if (at >= text.size() || text[at++] != '%') return false;
        break;
      default:
        return false;
    }
  }
  return at == text.size();
}

}  // namespace halcyra::testing
