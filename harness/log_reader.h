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

}  // namespace halcyra::testing
