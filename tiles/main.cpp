// halcyra-tiles: fetches the elevation tiles of a theatre, a box or the squares the plug-in missed.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/version.h"
#include "http_client.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/stop_signal.h"
#include "progress.h"
#include "theatres.h"
#include "tile_fetcher.h"
#include "tile_folder.h"
#include "tiles_options.h"

namespace {

using namespace halcyra;
using namespace halcyra::tiles;

constexpr uint32_t kRefreshMs = 250;
constexpr uint32_t kStopGraceMs = 3000;  // for downloads to end after Ctrl-C

void Print(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

int Fail(const std::string& message, int code = 1) {
  Print(stderr, "halcyra-tiles: " + message + "\n");
  return code;
}

struct Plan {
  std::vector<Square> squares;                       // each once, south to north, west to east
  std::optional<std::filesystem::path> missingList;  // when --missing: the list read
};

// The squares of every theatre, area and the missing list, each once.
bool PlanSquares(platform::Env& env, const TilesOptions& options, Plan* plan, std::string* error) {
  std::set<Square> squares;
  for (const std::string& name : options.theatres) {
    for (const Square& square : SquaresOf(FindTheatre(name)->box)) squares.insert(square);
  }
  for (const SquareBox& box : options.areas) {
    for (const Square& square : SquaresOf(box)) squares.insert(square);
  }
  if (options.missing) {
    plan->missingList = MissingListFile(env);
    if (!plan->missingList) {
      *error = "--missing: cannot find your Saved Games folder, where the plug-in keeps missing-tiles.txt";
      return false;
    }
    MissingList list;
    if (!ReadMissingList(*plan->missingList, &list, error)) return false;
    for (const std::string& line : list.unreadable) {
      Print(stderr, "halcyra-tiles: " + platform::PathText(*plan->missingList) + ": \"" + line +
                        "\" names no square (such as N42E041); left out\n");
    }
    Print(stdout, "halcyra-tiles: " + std::to_string(list.squares.size()) + " squares listed as missing in " +
                      platform::PathText(*plan->missingList) + "\n");
    squares.insert(list.squares.begin(), list.squares.end());
  }
  plan->squares.assign(squares.begin(), squares.end());
  return true;
}

std::optional<std::filesystem::path> ChooseFolder(platform::Env& env, const TilesOptions& options,
                                                  std::string* error) {
  std::filesystem::path folder;
  std::string origin;
  if (!options.outFolder.empty()) {
    folder = platform::PathFromWide(platform::Utf8ToWide(options.outFolder));
    origin = "--out";
  } else {
    std::optional<TileFolder> chosen = PluginTileFolder(env, platform::ExecutableFolder(), error);
    if (!chosen) return std::nullopt;
    folder = chosen->folder;
    origin = chosen->origin;
  }
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made || !std::filesystem::is_directory(folder, made)) {
    *error =
        "cannot make the tile folder " + platform::PathText(folder) + (made ? ": " + made.message() : "");
    return std::nullopt;
  }
  Print(stdout, "halcyra-tiles: tiles go to " + platform::PathText(folder) + " (" + origin + ")\n");
  return folder;
}

std::string Summary(const FetchProgress& p, const std::filesystem::path& folder) {
  return "halcyra-tiles: " + std::to_string(p.fetched) + " fetched, " + std::to_string(p.skipped) +
         " skipped (complete already), " + std::to_string(p.sea) + " sea (no tile), " +
         std::to_string(p.failed) + " failed, of " + std::to_string(p.total) + " squares; " +
         MegabytesText(p.receivedBytes) + " received in " + DurationText(p.elapsedMs) + "; tiles in " +
         platform::PathText(folder);
}

// The squares now complete on disk leave the list; sea squares stay (the plug-in would list them
// again), and so do failed ones.
void UpdateMissingList(const std::filesystem::path& list, const std::vector<TileResult>& results) {
  std::set<Square> complete;
  for (const TileResult& result : results) {
    if (result.outcome == Outcome::kFetched || result.outcome == Outcome::kSkipped)
      complete.insert(result.square);
  }
  std::string error;
  if (!complete.empty() && !RemoveFromMissingList(list, complete, &error)) Fail(error);
}

}  // namespace

int main(int argc, char** argv) {
  ParsedTilesOptions parsed = ParseTilesOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return Fail(parsed.error + " (see --help)", 2);
  const TilesOptions& options = parsed.options;
  if (options.help) {
    Print(stdout, TilesUsage());
    return 0;
  }
  if (options.list) {
    Print(stdout, TheatreList());
    return 0;
  }
  platform::Env& env = platform::Env::Default();
  std::string error;
  std::optional<std::filesystem::path> folder = ChooseFolder(env, options, &error);
  if (!folder) return Fail(error);
  Plan plan;
  if (!PlanSquares(env, options, &plan, &error)) return Fail(error);
  if (plan.squares.empty()) {
    Print(stdout, "halcyra-tiles: no squares to fetch\n");
    return 0;
  }

  platform::InstallStopHandlers();
  Reporter reporter(platform::StandardErrorIsTerminal());
  FetchSettings settings{*folder, options.urlTemplate, options.jobs, options.retries, options.stallSeconds};
  auto fetcher = std::make_unique<TileFetcher>(
      env, settings, plan.squares, [&reporter](const TileResult& result, const FetchProgress& progress) {
        reporter.TileSettled(result, progress);
      });
  std::string userAgent = std::string("halcyra-tiles/") + kPluginVersion;
  if (!fetcher->Start([&userAgent](std::string* why) { return MakeHttpClient(userAgent, why); }, &error)) {
    return Fail(error);
  }
  uint64_t stoppedAt = 0;
  while (!fetcher->Finished()) {
    env.SleepMs(kRefreshMs);
    if (platform::StopRequested() && stoppedAt == 0) {
      fetcher->RequestStop();
      stoppedAt = env.TickMs();
    }
    if (stoppedAt != 0 && env.TickMs() - stoppedAt > kStopGraceMs) break;
    reporter.Refresh(fetcher->Progress());
  }
  FetchProgress progress = fetcher->Progress();
  std::vector<TileResult> results = fetcher->Results();
  if (plan.missingList) UpdateMissingList(*plan.missingList, results);
  reporter.Line(stdout, Summary(progress, *folder));
  if (stoppedAt != 0) {
    reporter.Line(stderr, "halcyra-tiles: stopped with " + std::to_string(progress.total - progress.settled) +
                              " squares not done; the same command goes on where this run ended");
    // A download stalled inside the HTTP library may take up to --stall-seconds to notice the
    // stop; its temporary files are replaced by the next run.
    if (!fetcher->Finished()) std::_Exit(1);
    return 1;
  }
  fetcher->Join();
  if (progress.failed > 0) {
    std::string names;
    for (const TileResult& result : results) {
      if (result.outcome == Outcome::kFailed)
        names += (names.empty() ? "" : ", ") + SquareName(result.square);
    }
    reporter.Line(stderr, "halcyra-tiles: failed: " + names + "; the same command tries them again");
    return 1;
  }
  return 0;
}
