// The download queue of halcyra-tiles: a few downloads at once, each tile tried again after a
// failed download with waits that double (1 s, 2 s, 4 s ...), a tile already complete on disk
// skipped, every tile decoded, checked and written to a temporary file that is renamed only once
// it is whole, so that an interrupted run leaves no broken tile (only temporary files, which the
// next run replaces).
//
// Files of a square N42E041 in the folder: N42E041.HGT (the tile), N42E041.HGT.download (the body
// while it arrives), N42E041.HGT.part (the decoded tile while it is written).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http_client.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "tile_square.h"

namespace halcyra::tiles {

enum class Outcome {
  kFetched,  // downloaded and stored
  kSkipped,  // complete on disk already
  kSea,      // the source has no tile (404): open sea, nothing to mask
  kFailed,
};

struct TileResult {
  Square square;
  Outcome outcome = Outcome::kFailed;
  std::string detail;  // fetched: what the body was; failed: why
};

struct FetchSettings {
  std::filesystem::path folder;  // exists
  std::string urlTemplate;
  int jobs = 4;
  int retries = 3;
  int stallSeconds = 60;
  uint32_t firstRetryWaitMs = 1000;  // doubles with each further try
};

struct FetchProgress {
  size_t total = 0;
  size_t settled = 0;  // fetched + skipped + sea + failed
  size_t fetched = 0;
  size_t skipped = 0;
  size_t sea = 0;
  size_t failed = 0;
  unsigned long long receivedBytes = 0;  // every body byte received, retries included
  uint64_t elapsedMs = 0;
};

// Called on a worker thread for each settled tile, one call at a time.
using ResultObserver = std::function<void(const TileResult&, const FetchProgress&)>;
using ClientFactory = std::function<std::unique_ptr<HttpClient>(std::string* error)>;

class TileFetcher {
 public:
  TileFetcher(platform::Env& env, FetchSettings settings, std::vector<Square> squares,
              ResultObserver observer);
  ~TileFetcher();  // RequestStop() and Join()

  TileFetcher(const TileFetcher&) = delete;
  TileFetcher& operator=(const TileFetcher&) = delete;

  // Makes one client per download slot and starts the workers. False with the reason.
  bool Start(const ClientFactory& makeClient, std::string* error);
  // True once every worker has ended (all squares settled, or stopped).
  bool Finished() const { return running_.load() == 0; }
  // Workers end after their current step; tiles not settled then are left for the next run.
  void RequestStop() { stop_ = true; }
  void Join();

  FetchProgress Progress() const EXCLUDES(resultsLock_);
  // The settled tiles, in the order of the squares given.
  std::vector<TileResult> Results() const EXCLUDES(resultsLock_);

 private:
  struct Attempt;
  void Work(HttpClient& client) EXCLUDES(resultsLock_);
  // Nothing when it was stopped before the tile was settled.
  std::optional<TileResult> FetchOne(HttpClient& client, const Square& square);
  Attempt Download(HttpClient& client, const std::string& url, const std::filesystem::path& body);
  TileResult Store(const Square& square, const std::filesystem::path& body, const std::filesystem::path& part,
                   const std::filesystem::path& tile);
  void Record(size_t index, const TileResult& result) EXCLUDES(resultsLock_);

  platform::Env& env_;
  const FetchSettings settings_;
  const std::vector<Square> squares_;
  ResultObserver observer_;
  const uint64_t startMs_;
  std::atomic<size_t> next_{0};  // index of the next square to take
  std::atomic<bool> stop_{false};
  std::atomic<int> running_{0};
  std::atomic<unsigned long long> receivedBytes_{0};

  // Held while the observer runs (it prints), so it comes before the observer's locks.
  mutable platform::Mutex resultsLock_;
  std::vector<std::optional<TileResult>> results_ GUARDED_BY(resultsLock_);
  FetchProgress counts_ GUARDED_BY(resultsLock_);

  std::vector<std::unique_ptr<HttpClient>> clients_;  // one per worker, made before they start
  std::vector<std::unique_ptr<platform::Thread>> workers_;
};

}  // namespace halcyra::tiles
