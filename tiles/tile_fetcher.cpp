#include "tile_fetcher.h"

#include <fstream>
#include <optional>
#include <system_error>

#include "platform/files.h"
#include "tile_body.h"
#include "tile_source.h"

namespace halcyra::tiles {
namespace {

namespace fs = std::filesystem;

// A body larger than this is no tile, whatever it holds (an SRTM1 tile is 25.9 MB unpacked).
constexpr unsigned long long kLargestBody = 256ULL << 20;

fs::path WithSuffix(fs::path path, const char* suffix) {
  path += suffix;
  return path;
}

void RemoveQuietly(const fs::path& file) {
  std::error_code ignored;
  fs::remove(file, ignored);
}

// A tile of either size loads in the plug-in.
bool CompleteOnDisk(const fs::path& tile) {
  std::error_code error;
  if (!fs::is_regular_file(tile, error)) return false;
  uintmax_t size = fs::file_size(tile, error);
  return !error && (size == kSrtm3Bytes || size == kSrtm1Bytes);
}

// Statuses worth another try: the server is busy or failing for now.
bool Transient(int status) { return status == 408 || status == 429 || (status >= 500 && status <= 599); }

}  // namespace

struct TileFetcher::Attempt {
  HttpAnswer answer;
  std::string error;  // a failure of our own (the body file), else empty
};

TileFetcher::TileFetcher(platform::Env& env, FetchSettings settings, std::vector<Square> squares,
                         ResultObserver observer)
    : env_(env),
      settings_(std::move(settings)),
      squares_(std::move(squares)),
      observer_(std::move(observer)),
      startMs_(env.TickMs()) {
  platform::MutexLock lock(resultsLock_);
  results_.resize(squares_.size());
  counts_.total = squares_.size();
}

TileFetcher::~TileFetcher() {
  RequestStop();
  Join();
}

bool TileFetcher::Start(const ClientFactory& makeClient, std::string* error) {
  size_t jobs =
      std::min(static_cast<size_t>(std::max(1, settings_.jobs)), std::max<size_t>(1, squares_.size()));
  for (size_t i = 0; i < jobs; ++i) {
    std::unique_ptr<HttpClient> client = makeClient(error);
    if (!client) return false;
    clients_.push_back(std::move(client));
  }
  for (auto& client : clients_) {
    HttpClient* worker = client.get();
    ++running_;
    std::unique_ptr<platform::Thread> thread = env_.StartThread([this, worker] {
      Work(*worker);
      --running_;
    });
    if (!thread) {
      --running_;
      *error = "cannot start a download thread";
      RequestStop();
      return false;
    }
    workers_.push_back(std::move(thread));
  }
  return true;
}

void TileFetcher::Join() {
  for (auto& worker : workers_) worker->Join();
  workers_.clear();
}

FetchProgress TileFetcher::Progress() const {
  platform::MutexLock lock(resultsLock_);
  FetchProgress progress = counts_;
  progress.receivedBytes = receivedBytes_.load();
  progress.elapsedMs = env_.TickMs() - startMs_;
  return progress;
}

std::vector<TileResult> TileFetcher::Results() const {
  platform::MutexLock lock(resultsLock_);
  std::vector<TileResult> settled;
  for (const auto& result : results_) {
    if (result) settled.push_back(*result);
  }
  return settled;
}

void TileFetcher::Work(HttpClient& client) {
  while (!stop_.load()) {
    size_t index = next_++;
    if (index >= squares_.size()) return;
    std::optional<TileResult> result = FetchOne(client, squares_[index]);
    if (result) Record(index, *result);
  }
}

void TileFetcher::Record(size_t index, const TileResult& result) {
  platform::MutexLock lock(resultsLock_);
  results_[index] = result;
  ++counts_.settled;
  switch (result.outcome) {
    case Outcome::kFetched:
      ++counts_.fetched;
      break;
    case Outcome::kSkipped:
      ++counts_.skipped;
      break;
    case Outcome::kSea:
      ++counts_.sea;
      break;
    case Outcome::kFailed:
      ++counts_.failed;
      break;
  }
  FetchProgress progress = counts_;
  progress.receivedBytes = receivedBytes_.load();
  progress.elapsedMs = env_.TickMs() - startMs_;
  if (observer_) observer_(result, progress);
}

std::optional<TileResult> TileFetcher::FetchOne(HttpClient& client, const Square& square) {
  fs::path tile = settings_.folder / TileFileName(square);
  if (CompleteOnDisk(tile)) return TileResult{square, Outcome::kSkipped, ""};
  fs::path body = WithSuffix(tile, ".download");
  fs::path part = WithSuffix(tile, ".part");
  std::string url = TileUrl(settings_.urlTemplate, square);
  std::string lastError;
  std::optional<TileResult> result;
  for (int attempt = 0; attempt <= settings_.retries && !result; ++attempt) {
    if (attempt > 0) {
      uint32_t waitMs = settings_.firstRetryWaitMs << std::min(attempt - 1, 16);
      if (!platform::SleepUnlessStopped(env_, waitMs, stop_)) break;
    }
    Attempt tried = Download(client, url, body);
    const HttpAnswer& answer = tried.answer;
    if (!tried.error.empty()) {
      result = TileResult{square, Outcome::kFailed, tried.error};
    } else if (!answer.complete) {
      if (stop_.load()) break;
      lastError = answer.error;
    } else if (answer.status == 200) {
      result = Store(square, body, part, tile);
    } else if (answer.status == 404 || answer.status == 410) {
      result = TileResult{square, Outcome::kSea, ""};
    } else if (Transient(answer.status)) {
      lastError = "the server answered HTTP " + std::to_string(answer.status);
    } else {
      result = TileResult{square, Outcome::kFailed,
                          "the server answered HTTP " + std::to_string(answer.status) + " for " + url};
    }
  }
  RemoveQuietly(body);
  RemoveQuietly(part);
  if (!result && !stop_.load()) {
    int tries = settings_.retries + 1;
    result = TileResult{
        square, Outcome::kFailed,
        lastError + " (" + std::to_string(tries) + (tries == 1 ? " try" : " tries") + ", " + url + ")"};
  }
  return result;
}

TileFetcher::Attempt TileFetcher::Download(HttpClient& client, const std::string& url, const fs::path& body) {
  Attempt attempt;
  std::ofstream file(body, std::ios::binary | std::ios::trunc);
  if (!file) {
    attempt.error = "cannot write " + platform::PathText(body);
    return attempt;
  }
  unsigned long long size = 0;
  bool tooLarge = false;
  bool writeFailed = false;
  attempt.answer = client.Get(
      url, settings_.stallSeconds,
      [&](const char* data, size_t count) {
        receivedBytes_ += count;
        size += count;
        if (size > kLargestBody) {
          tooLarge = true;
          return false;
        }
        file.write(data, static_cast<std::streamsize>(count));
        writeFailed = !file;
        return !writeFailed;
      },
      stop_);
  file.close();
  if (writeFailed || (!file && attempt.answer.complete)) {
    attempt.error = "cannot write " + platform::PathText(body) + " (disk full?)";
  } else if (tooLarge) {
    attempt.error = "the server sent more than " + WithThousands(kLargestBody) + " bytes: no tile";
  }
  return attempt;
}

TileResult TileFetcher::Store(const Square& square, const fs::path& body, const fs::path& part,
                              const fs::path& tile) {
  std::string reason;
  std::optional<DecodedTile> decoded = DecodeTileBody(body, SquareName(square), &reason);
  if (!decoded) return TileResult{square, Outcome::kFailed, reason};
  {
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    file.write(decoded->samples.data(), static_cast<std::streamsize>(decoded->samples.size()));
    file.close();
    std::error_code error;
    if (!file || fs::file_size(part, error) != kSrtm3Bytes || error) {
      return TileResult{square, Outcome::kFailed,
                        "cannot write " + platform::PathText(part) + " (disk full?)"};
    }
  }
  std::error_code error;
  fs::rename(part, tile, error);
  if (error) {
    return TileResult{
        square, Outcome::kFailed,
        "cannot rename " + platform::PathText(part) + " to " + TileFileName(square) + ": " + error.message()};
  }
  return TileResult{square, Outcome::kFetched, decoded->kind};
}

}  // namespace halcyra::tiles
