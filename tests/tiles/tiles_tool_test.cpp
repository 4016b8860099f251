// halcyra-tiles, the real program, against a tile server on loopback that serves each square its
// own way (gzip, zip and plain tiles; 404 for sea; an HTML page with status 200; a connection cut
// early; a short file; broken gzip; a slow body; a busy answer before the tile; a body that stalls),
// and the loaded plug-in that lists a missing square, which the program then fetches and whose
// ridge then hides a talker.
#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

#include "child_process.h"
#include "hgt_tile.h"
#include "host_folders.h"
#include "plugin_session.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace halcyra {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::HgtTile;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr size_t kSrtm3Bytes = 2884802;
constexpr int kRunMs = 120000;

// --- bodies ---

std::string Deflated(const std::string& bytes, int windowBits) {
  z_stream stream{};
  deflateInit2(&stream, 1, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Gzip(const std::string& bytes) { return Deflated(bytes, 16 + MAX_WBITS); }

void PutLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A zip archive of one deflated entry, with a stored readme before it.
std::string Zip(const std::string& name, const std::string& bytes) {
  struct Entry {
    std::string name, data, stored;
    uint16_t method;
  };
  std::vector<Entry> entries = {{"readme.txt", "SRTM", "SRTM", 0},
                                {name, bytes, Deflated(bytes, -MAX_WBITS), 8}};
  std::string zip;
  std::string directory;
  for (const Entry& entry : entries) {
    uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size()));
    auto header = [&](bool central, uint32_t offset) {
      std::string h;
      PutLe(h, central ? 0x02014b50 : 0x04034b50, 4);
      if (central) PutLe(h, 20, 2);
      PutLe(h, 20, 2);
      PutLe(h, 0, 2);
      PutLe(h, entry.method, 2);
      PutLe(h, 0, 4);  // time and date
      PutLe(h, crc, 4);
      PutLe(h, static_cast<uint32_t>(entry.stored.size()), 4);
      PutLe(h, static_cast<uint32_t>(entry.data.size()), 4);
      PutLe(h, static_cast<uint32_t>(entry.name.size()), 2);
      PutLe(h, 0, 2);
      if (central) {
        PutLe(h, 0, 2);
        PutLe(h, 0, 2);
        PutLe(h, 0, 2);
        PutLe(h, 0, 4);
        PutLe(h, offset, 4);
      }
      return h + entry.name;
    };
    directory += header(true, static_cast<uint32_t>(zip.size()));
    zip += header(false, 0) + entry.stored;
  }
  std::string end;
  PutLe(end, 0x06054b50, 4);
  PutLe(end, 0, 4);
  PutLe(end, static_cast<uint32_t>(entries.size()), 2);
  PutLe(end, static_cast<uint32_t>(entries.size()), 2);
  PutLe(end, static_cast<uint32_t>(directory.size()), 4);
  PutLe(end, static_cast<uint32_t>(zip.size()), 4);
  PutLe(end, 0, 2);
  return zip + directory + end;
}

// An SRTM1 tile whose SRTM3 grid (every third row and column) holds grid(row, column) and whose
// other samples hold 8500 m, which would hide every sight line if they were read. Also returns
// the SRTM3 tile the plug-in must get from it.
std::string Srtm1Tile(const std::function<uint16_t(int, int)>& grid, std::string* srtm3) {
  HgtTile srtm1(8500, HgtTile::kSrtm1Size);
  HgtTile expected;
  for (int row = 0; row < HgtTile::kSize; ++row) {
    for (int column = 0; column < HgtTile::kSize; ++column) {
      srtm1.Set(row * 3, column * 3, grid(row, column));
      expected.Set(row, column, grid(row, column));
    }
  }
  *srtm3 = expected.Bytes();
  return srtm1.Bytes();
}

// --- the tile server ---

enum class Serving {
  kBody,       // 200 with the body
  kSea,        // 404
  kCutEarly,   // declares the body's length, sends half, closes
  kSlow,       // the body in 40 pieces, 25 ms apart
  kBusyFirst,  // 503 at the first request, then the body
  kStall,      // sends half, then nothing until Release()
};

class TileServer {
 public:
  TileServer() {
    server_.Get(
        R"(/([NS]\d\d)/([NS]\d\d[EW]\d\d\d))",
        [this](const httplib::Request& request, httplib::Response& response) { Answer(request, response); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    testing::WaitUntil([this] { return server_.is_running(); });
  }
  ~TileServer() {
    Release();
    server_.stop();
    thread_.join();
  }

  void Serve(const std::string& name, Serving serving, std::string body = "") {
    std::lock_guard<std::mutex> lock(mutex_);
    squares_[name] = {serving, std::move(body)};
  }
  std::string Template() const { return "http://127.0.0.1:" + std::to_string(port_) + "/{lat}/{name}"; }
  int Requests(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_[name];
  }
  bool Stalling() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stalling_;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    wake_.notify_all();
  }

 private:
  struct Square {
    Serving serving = Serving::kSea;
    std::string body;
  };

  void Answer(const httplib::Request& request, httplib::Response& response) {
    std::string name = request.matches[2];
    Square square;
    int count = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      count = ++requests_[name];
      if (request.matches[1] != name.substr(0, 3) || !squares_.count(name)) {
        response.status = 404;
        return;
      }
      square = squares_[name];
    }
    auto body = std::make_shared<std::string>(std::move(square.body));
    switch (square.serving) {
      case Serving::kSea:
        response.status = 404;
        response.set_content("<Error><Code>NoSuchKey</Code></Error>", "application/xml");
        return;
      case Serving::kBusyFirst:
        if (count == 1) {
          response.status = 503;
          return;
        }
        [[fallthrough]];
      case Serving::kBody:
        response.set_content(*body, "application/octet-stream");
        return;
      case Serving::kCutEarly:
      case Serving::kSlow:
      case Serving::kStall:
        break;
    }
    Serving serving = square.serving;
    response.set_content_provider(body->size(), "application/octet-stream",
                                  [this, body, serving](size_t offset, size_t, httplib::DataSink& sink) {
                                    size_t half = body->size() / 2;
                                    if (serving == Serving::kSlow) {
                                      size_t piece = body->size() / 40 + 1;
                                      std::this_thread::sleep_for(std::chrono::milliseconds(25));
                                      return sink.write(body->data() + offset,
                                                        std::min(piece, body->size() - offset));
                                    }
                                    if (offset < half)
                                      return sink.write(body->data() + offset, half - offset);
                                    if (serving == Serving::kStall) {
                                      std::unique_lock<std::mutex> lock(mutex_);
                                      stalling_ = true;
                                      wake_.wait(lock, [this] { return released_; });
                                    }
                                    return false;  // closes the connection before the end of the body
                                  });
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Square> squares_;
  std::map<std::string, int> requests_;
  bool stalling_ = false;
  bool released_ = false;
};

// --- the program ---

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and error
};

ToolRun RunTool(const std::vector<std::string>& arguments, const fs::path& outputFile) {
  ChildProcess tool(HALCYRA_TILES_PATH, arguments, outputFile.string());
  EXPECT_TRUE(tool.started()) << tool.error();
  ToolRun run;
  run.exitCode = tool.WaitForExit(kRunMs).value_or(-1);
  std::string output = ReadFile(outputFile);
  output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
  run.output = output;
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class TilesToolTest : public ::testing::Test {
 protected:
  TilesToolTest() : savedGames_(saved_.path().string()) {}
  TempDir saved_;  // a Saved Games folder of the test's own, whatever the program looks for
  testing::ScopedSavedGames savedGames_;
  TempDir tiles_;
  TempDir logs_;
  TileServer server_;
};

// Nine squares, each served its way; a tile left half-written by an earlier run is replaced.
TEST_F(TilesToolTest, FetchesGzipZipAndPlainTilesCountsSeaAndRefusesTheBadOnesByName) {
  std::string fromSrtm1;
  std::string srtm1 = Srtm1Tile(
      [](int row, int column) { return static_cast<uint16_t>((row * 7 + column * 3) % 8000); }, &fromSrtm1);
  std::string plain = HgtTile(321).Set(0, 0, 1).Bytes();
  std::string zipped = HgtTile(654).Set(1200, 1200, 2).Bytes();
  server_.Serve("N41E041", Serving::kBody, Gzip(srtm1));
  server_.Serve("N41E042", Serving::kBody, Zip("N41E042.hgt", zipped));
  server_.Serve("N41E043", Serving::kSlow, plain);
  server_.Serve("N42E041", Serving::kSea);
  server_.Serve("N42E042", Serving::kBody, "<!DOCTYPE html><html><title>Rate exceeded</title></html>");
  server_.Serve("N42E043", Serving::kCutEarly, plain);
  server_.Serve("N43E041", Serving::kBody, plain.substr(0, 1000));
  server_.Serve("N43E042", Serving::kBusyFirst, Gzip(zipped));
  std::string gzipped = Gzip(srtm1);
  server_.Serve("N43E043", Serving::kBody, gzipped.substr(0, gzipped.size() / 2));
  WriteFile(tiles_ / "N41E042.HGT", zipped.substr(0, 5000));
  WriteFile(tiles_ / "N43E043.HGT.part", "from a run that was stopped");

  ToolRun run = RunTool({"--area", "41", "41", "43.5", "43.2", "--source", server_.Template(), "--out",
                         tiles_.path().string(), "--retries", "1", "--jobs", "4"},
                        logs_ / "first.txt");
  EXPECT_EQ(1, run.exitCode) << run.output;
  EXPECT_EQ((std::vector<std::string>{"N41E041.HGT", "N41E042.HGT", "N41E043.HGT", "N43E042.HGT"}),
            FilesIn(tiles_.path()))
      << run.output;
  EXPECT_EQ(fromSrtm1, ReadFile(tiles_ / "N41E041.HGT"));
  EXPECT_EQ(zipped, ReadFile(tiles_ / "N41E042.HGT"));
  EXPECT_EQ(plain, ReadFile(tiles_ / "N41E043.HGT"));
  EXPECT_EQ(zipped, ReadFile(tiles_ / "N43E042.HGT"));
  EXPECT_TRUE(Contains(run.output, "N41E041 fetched (gzip of an SRTM1 tile, stored at SRTM3 spacing)"));
  EXPECT_TRUE(Contains(run.output, "N41E042 fetched (zip of an SRTM3 tile)"));
  EXPECT_TRUE(Contains(run.output, "N42E041 sea"));
  EXPECT_TRUE(Contains(run.output,
                       "N42E042 FAILED: the server sent a web page, not a tile (it begins "
                       "\"<!DOCTYPE html><html><title>Rate exceeded</title></html>\")"))
      << run.output;
  EXPECT_TRUE(Contains(run.output, "N42E043 FAILED: ")) << run.output;
  EXPECT_TRUE(Contains(run.output, "(2 tries, http://127.0.0.1:")) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "N43E041 FAILED: 1,000 bytes: neither an SRTM3 tile (2,884,802 bytes) nor "
                       "an SRTM1 tile (25,934,402 bytes), truncated?"));
  EXPECT_TRUE(Contains(run.output, "N43E043 FAILED: the gzip data ends early")) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "4 fetched, 0 skipped (complete already), 1 sea (no tile), 4 failed, of 9 squares"))
      << run.output;
  EXPECT_TRUE(
      Contains(run.output, "failed: N42E042, N42E043, N43E041, N43E043; the same command tries them again"))
      << run.output;
  EXPECT_EQ(2, server_.Requests("N42E043"));  // a connection cut early is tried again
  EXPECT_EQ(1, server_.Requests("N42E042"));  // a web page is not
  EXPECT_EQ(1, server_.Requests("N42E041"));  // nor sea

  // Complete tiles are not fetched again, and sea is no failure.
  ToolRun again = RunTool({"--area", "41", "41", "42.5", "41.5", "--area", "41", "42", "42", "44", "--source",
                           server_.Template(), "--out", tiles_.path().string()},
                          logs_ / "again.txt");
  EXPECT_EQ(0, again.exitCode) << again.output;
  EXPECT_TRUE(Contains(again.output,
                       "0 fetched, 3 skipped (complete already), 1 sea (no tile), 0 failed, of 4 squares"))
      << again.output;
  EXPECT_EQ(1, server_.Requests("N41E041"));
}

// Stopped while a body arrives, a run leaves no tile; the next run replaces what it left and
// completes. The stop is a kill where the system has one without a grace (POSIX), else the end.
TEST_F(TilesToolTest, RunStoppedMidDownloadLeavesNoTileAndTheSameCommandCompletesIt) {
  std::string tile = HgtTile(777).Bytes();
  server_.Serve("N42E041", Serving::kStall, tile);
  std::vector<std::string> arguments = {"--area",
                                        "42.2",
                                        "41.2",
                                        "42.8",
                                        "41.8",
                                        "--source",
                                        server_.Template(),
                                        "--out",
                                        tiles_.path().string()};
  {
    ChildProcess tool(HALCYRA_TILES_PATH, arguments, (logs_ / "stopped.txt").string());
    ASSERT_TRUE(tool.started()) << tool.error();
    ASSERT_TRUE(testing::WaitUntil([&] { return server_.Stalling(); }, kRunMs));
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
          std::error_code error;
          uintmax_t size = fs::file_size(tiles_ / "N42E041.HGT.download", error);
          return !error && size > 0;
        },
        kRunMs))
        << "the body arrives in a temporary file";
    tool.Stop(0);
  }
  EXPECT_FALSE(fs::exists(tiles_ / "N42E041.HGT"));
  WriteFile(tiles_ / "N42E041.HGT.part", "half a tile");  // as a run killed while it wrote the tile
  server_.Release();
  server_.Serve("N42E041", Serving::kBody, tile);

  ToolRun resumed = RunTool(arguments, logs_ / "resumed.txt");
  EXPECT_EQ(0, resumed.exitCode) << resumed.output;
  EXPECT_EQ((std::vector<std::string>{"N42E041.HGT"}), FilesIn(tiles_.path()));
  EXPECT_EQ(tile, ReadFile(tiles_ / "N42E041.HGT"));
}

// --- the plug-in and the program together ---

// The talker on his radio 1 at 42.0 N 41.0 E, 10000 ft; the local aircraft 3.5 NM north of him on
// his meridian. The source's N42E041 has a ridge of 2500 m (8200 ft) across that meridian between
// 42.02 and 42.04 N: it cuts the line from 5000 ft, not from 10000 ft.
constexpr char kTalkerRecord[] = "Talker@42.000000 41.000000 10000 251.000 000.000 000.000 X__ 000.000 0 0 ";
constexpr TS3_VECTOR kFar{0.0f, 100.0f, 0.0f};

testing::SimulatorState Local(const char* altitude) {
  testing::SimulatorState state;
  state.latitude = "42.058158";
  state.longitude = "41.000000";
  state.altitude = altitude;
  state.frequency1 = "251.000";
  return state;
}

// Where his talk event places him: far (not heard) or on the ear of radio 1.
bool PlacedFar(testing::PluginSession& session) {
  session.host().ClearPlacements();
  session.plugin().onTalkStatusChangeEvent(testing::PluginSession::kConnection, 1, 0,
                                           testing::PluginSession::kTalkerClient);
  std::vector<testing::FakeHost::Placement> placed = session.host().Placements();
  EXPECT_EQ(1u, placed.size());
  return placed.empty() || (placed.back().position.y == kFar.y && placed.back().position.x == kFar.x);
}

TEST_F(TilesToolTest, SquareThePluginMissesIsListedFetchedWithMissingAndThenItsRidgeHidesTheTalker) {
  std::string srtm3;
  server_.Serve("N42E041", Serving::kBody,
                Gzip(Srtm1Tile(
                    [](int row, int column) {
                      bool ridge = row >= 1152 && row <= 1176 && column <= 3;
                      return static_cast<uint16_t>(ridge ? 2500 : 0);
                    },
                    &srtm3)));
  testing::SessionOptions options;
  options.tileFolder = tiles_.path();
  options.logLevel = 5;  // the refresh cycle logs the talker's record
  testing::PluginSession session(options, kTalkerRecord);
  ASSERT_EQ("", session.Start());
  ASSERT_TRUE(session.Simulate(Local("5000")));
  session.KeepSimulatorAlive();
  std::string folder = tiles_.path().string();
  EXPECT_TRUE(session.WaitForLogLine("CHGTFiles::SetTileFolder : Elevation tile folder " + folder +
                                         " holds 0 tiles (.hgt files): terrain is not masked; halcyra-tiles "
                                         "--theatre NAME fetches the tiles of a theatre into it",
                                     0, 10000));
  ASSERT_TRUE(session.WaitForTalkerRecord(10000));
  EXPECT_FALSE(PlacedFar(session)) << "no terrain yet";
  EXPECT_TRUE(session.WaitForLogLine("No elevation tile N42E041 in " + folder +
                                         ": terrain there is not masked; halcyra-tiles --missing fetches it",
                                     0, 10000));
  fs::path list = session.folder() / "Halcyra" / "missing-tiles.txt";
  ASSERT_TRUE(testing::WaitUntil([&] { return Contains(ReadFile(list), "N42E041"); }, 10000));

  // The program finds the folder through the plug-in's Halcyra.ini.
  testing::ScopedSavedGames pluginSavedGames(session.folder().path().string());
  ToolRun run = RunTool({"--missing", "--source", server_.Template()}, logs_ / "missing.txt");
  EXPECT_EQ(0, run.exitCode) << run.output;
  EXPECT_TRUE(Contains(run.output, "tiles go to " + folder + " ([HGT] Path of ")) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "1 fetched, 0 skipped (complete already), 0 sea (no tile), 0 failed, of 1 squares"))
      << run.output;
  EXPECT_EQ(srtm3, ReadFile(tiles_ / "N42E041.HGT"));
  EXPECT_FALSE(Contains(ReadFile(list), "N42E041"));

  // The plug-in tries the square again at its next look-up: from 5000 ft the ridge hides him, from
  // 10000 ft it does not (nor do the samples between the SRTM3 grid's, 8500 m high).
  EXPECT_TRUE(PlacedFar(session));
  ASSERT_TRUE(session.Simulate(Local("10000")));
  EXPECT_FALSE(PlacedFar(session));
}

}  // namespace
}  // namespace halcyra
