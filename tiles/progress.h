// What halcyra-tiles tells the user while it works: on a terminal one progress line rewritten in
// place (tiles done / total, MB received, rate, time left) and the failures; elsewhere (a log, a
// pipe) one line per tile with the progress beside it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/mutex.h"
#include "tile_fetcher.h"

namespace halcyra::tiles {

std::string MegabytesText(unsigned long long bytes);  // "12.3 MB"
std::string DurationText(uint64_t ms);                // "42 s", "3 min 05 s", "1 h 02 min"
// "12/77 tiles, 34.5 MB, 2.1 MB/s, about 1 min 20 s left"
std::string ProgressText(const FetchProgress& progress);
// One line per tile: "N42E041 fetched (gzip of an SRTM1 tile ...)", "N43E042 sea: no tile" ...
std::string ResultText(const TileResult& result);

class Reporter {
 public:
  explicit Reporter(bool terminal) : terminal_(terminal) {}

  void TileSettled(const TileResult& result, const FetchProgress& progress) EXCLUDES(lock_);
  void Refresh(const FetchProgress& progress) EXCLUDES(lock_);            // the line in place, on a terminal
  void Line(std::FILE* stream, const std::string& text) EXCLUDES(lock_);  // clears the line in place first

 private:
  void ClearLocked() REQUIRES(lock_);

  const bool terminal_;
  platform::Mutex lock_;                // a leaf: held while a line is printed
  size_t shown_ GUARDED_BY(lock_) = 0;  // length of the line in place, 0 when none
};

}  // namespace halcyra::tiles
