// Reads the lines a running Clog has written, once its writer has caught up.
#pragma once

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
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

// Waits (really, at most 5 s) until the writer has taken every queued line.
inline void WaitForEmptyQueue(Clog& log) {
  for (int i = 0; i < 5000 && log.QueueCount() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Waits (at most 5 s) until the queue is empty, then for the batch being written: WriteDirect
// takes the file lock that the writer holds for a whole batch. Adds one "--" line to the file.
inline std::vector<std::string> LogLinesNow(Clog& log, const std::filesystem::path& file) {
  WaitForEmptyQueue(log);
  log.WriteDirect("--", "", 0);
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
