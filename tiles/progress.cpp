#include "progress.h"

#include "tile_square.h"

namespace halcyra::tiles {
namespace {

void Print(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

}  // namespace

std::string MegabytesText(unsigned long long bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string DurationText(uint64_t ms) {
  uint64_t seconds = (ms + 500) / 1000;
  char text[32];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%u s", static_cast<unsigned>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%u min %02u s", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%u h %02u min", static_cast<unsigned>(seconds / 3600),
                  static_cast<unsigned>(seconds % 3600 / 60));
  }
  return text;
}

// The rate is that of the whole run; the time left assumes the tiles still to come take as long
// as those that needed the network so far (skipped tiles take none).
std::string ProgressText(const FetchProgress& p) {
  std::string text =
      std::to_string(p.settled) + "/" + std::to_string(p.total) + " tiles, " + MegabytesText(p.receivedBytes);
  if (p.elapsedMs > 0) {
    text += ", " + MegabytesText(p.receivedBytes * 1000 / p.elapsedMs) + "/s";
  }
  size_t fromNetwork = p.settled - p.skipped;
  size_t left = p.total - p.settled;
  if (left == 0) {
    text += ", done in " + DurationText(p.elapsedMs);
  } else if (fromNetwork > 0) {
    text += ", about " + DurationText(p.elapsedMs / fromNetwork * left) + " left";
  }
  return text;
}

std::string ResultText(const TileResult& result) {
  std::string name = SquareName(result.square);
  switch (result.outcome) {
    case Outcome::kFetched:
      return name + " fetched (" + result.detail + ")";
    case Outcome::kSkipped:
      return name + " skipped: complete already";
    case Outcome::kSea:
      return name + " sea: the source has no tile for it (nothing to mask there)";
    case Outcome::kFailed:
      return name + " FAILED: " + result.detail;
  }
  return name;
}

void Reporter::TileSettled(const TileResult& result, const FetchProgress& progress) {
  platform::MutexLock lock(lock_);
  if (terminal_) {
    ClearLocked();
    if (result.outcome == Outcome::kFailed) Print(stderr, "halcyra-tiles: " + ResultText(result) + "\n");
    std::string line = ProgressText(progress);
    Print(stderr, line);
    shown_ = line.size();
  } else {
    std::FILE* stream = result.outcome == Outcome::kFailed ? stderr : stdout;
    Print(stream, (result.outcome == Outcome::kFailed ? "halcyra-tiles: " : "") + ResultText(result) + "  [" +
                      ProgressText(progress) + "]\n");
  }
}

void Reporter::Refresh(const FetchProgress& progress) {
  if (!terminal_) return;
  platform::MutexLock lock(lock_);
  ClearLocked();
  std::string line = ProgressText(progress);
  Print(stderr, line);
  shown_ = line.size();
}

void Reporter::Line(std::FILE* stream, const std::string& text) {
  platform::MutexLock lock(lock_);
  ClearLocked();
  Print(stream, text + "\n");
}

void Reporter::ClearLocked() {
  if (shown_ == 0) return;
  Print(stderr, "\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

}  // namespace halcyra::tiles
