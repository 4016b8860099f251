// Helpers shared by the fuzz targets: a failed check aborts with a message (libFuzzer then saves
// the input), and a log that formats every message but writes to the null device.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/log.h"
#include "platform/env.h"
#include "station/station_record.h"

namespace halcyra::fuzzing {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::halcyra::fuzzing::Fail(#condition, __FILE__, __LINE__))

// A log at LOGLEVEL 6, so every detailed message is formatted as in a real run, written to the
// null device by its writer thread.
inline std::unique_ptr<Clog> DetailedNullLog() {
  auto log = std::make_unique<Clog>(platform::Env::Default());
  if (log->Init(L"/dev/null", 6) != 0) Fail("the null device cannot be opened", __FILE__, __LINE__);
  return log;
}

template <size_t N>
bool Terminated(const char (&text)[N]) {
  return std::memchr(text, '\0', N) != nullptr;
}

// Every text of the record ends inside its array.
inline bool TextsTerminated(const StationRecord& s) {
  return Terminated(s.nickname) && Terminated(s.latitudeText) && Terminated(s.longitudeText) &&
         Terminated(s.altitudeText) && Terminated(s.frequency1) && Terminated(s.frequency2) &&
         Terminated(s.frequency3) && Terminated(s.activeMarks) && Terminated(s.cryptoFrequency);
}

}  // namespace halcyra::fuzzing
