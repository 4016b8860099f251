#include "foundation/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "fake_env.h"
#include "log_reader.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using testing::FakeEnv;
using testing::ReadFile;
using testing::SplitLines;
using testing::TempDir;

class LogTest : public ::testing::Test {
 protected:
  std::wstring LogPath() { return (dir_.path() / "Halcyra.log").wstring(); }
  std::vector<std::string> FileLines() { return SplitLines(ReadFile(dir_.path() / "Halcyra.log")); }

  // Waits (at most 5 s) until Thread_Log has written every queued line: these tests are about it.
  static void Drain(Clog& log) {
    for (int i = 0; i < 5000 && log.QueueCount() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  TempDir dir_;
  FakeEnv env_;
};

TEST_F(LogTest, SetUpLineCarriesLevelZeroAndTheConfiguredLevelAndWriterThread) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 4));
  auto lines = FileLines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_TRUE(testing::MatchesShape(
      lines[0],
      "[2024-05-17 14:02:03.045][L00] Initialize Log file with 4 level. Thread #%i (%X%X%X%X%X%X%X%X)"))
      << lines[0];
  EXPECT_FALSE(log.Suspended());
}

TEST_F(LogTest, QueuedLinesCarryCountTagAndText) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 5));
  EXPECT_EQ(0, log.Write("UpdatePluginInfo", "Attenuation is ON", 5));
  Drain(log);
  EXPECT_EQ(0, log.Write("Halcyra plugin is initialized", "", 0));
  Drain(log);
  auto lines = FileLines();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("[2024-05-17 14:02:03.045][L05] (001) UpdatePluginInfo : Attenuation is ON", lines[1]);
  EXPECT_EQ("[2024-05-17 14:02:03.045][L00] (001) Halcyra plugin is initialized", lines[2]);
}

TEST_F(LogTest, LevelFilterKeepsOnlyLevelsUpToLoglevel) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 2));
  EXPECT_EQ(0, log.Write("kept", "", 2));
  EXPECT_EQ(-1, log.Write("dropped", "", 3));
  Drain(log);
  auto lines = FileLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("kept"));
}

TEST_F(LogTest, NegativeLevelKeepsOnlySetUpAndClosingLines) {
  {
    Clog log(env_);
    ASSERT_EQ(0, log.Init(LogPath(), -1));
    EXPECT_EQ(-1, log.Write("tag", "text", 0));
    EXPECT_EQ(-1, log.Write(L"tag", L"text", 0));
  }
  auto lines = FileLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("Initialize Log file with -1 level."));
  EXPECT_EQ("[2024-05-17 14:02:03.045][L00] ~Clog : Close log file.", lines[1]);
}

TEST_F(LogTest, BurstFromManyThreadsIsKeptWhileTheFileIsUnavailableThenShowsFallingCounts) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 6));
  env_.refuseFileOpens = true;  // the writer keeps retrying; everything stays queued
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([&log, t] {
      for (int i = 0; i < 50; ++i) log.Write("burst", "thread " + std::to_string(t), 6);
    });
  }
  for (auto& producer : producers) producer.join();
  EXPECT_EQ(200, log.QueueCount());
  log.Flush();
  EXPECT_EQ(200, log.QueueCount()) << "a flush that cannot open the file keeps the lines";
  env_.refuseFileOpens = false;
  log.Flush();  // when it returns, every line is in the file
  auto lines = FileLines();
  ASSERT_EQ(201u, lines.size());  // set-up line + 200, none lost
  for (size_t i = 1; i < lines.size(); ++i) {
    ASSERT_TRUE(testing::MatchesShape(lines[i], "[2024-05-17 14:02:03.045][L06] (%d%d%d) burst : thread %d"))
        << lines[i];
    EXPECT_EQ(static_cast<int>(201 - i), std::stoi(lines[i].substr(lines[i].find("(") + 1, 3))) << lines[i];
  }
}

// Messages that come faster than the file takes them (here: a file that cannot be opened for a
// while) fill the queue up to its capacity and no further; those beyond it are dropped, and one line
// where they would have been says how many.
TEST_F(LogTest, FloodFillsTheQueueToItsCapacityAndOneLineSaysHowManyWereDropped) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 6));
  env_.refuseFileOpens = true;
  const std::string text(200, 't');
  int queued = 0;
  int dropped = 0;
  for (int i = 0; dropped < 1000; ++i) {
    ASSERT_LT(i, 100000) << "the queue takes everything: " << log.QueueCount() << " messages";
    if (log.Write("flood", text + std::to_string(i), 6) == 0) {
      ++queued;
    } else {
      ++dropped;
    }
  }
  EXPECT_EQ(queued, log.QueueCount());
  EXPECT_LE(log.QueuedBytes(), Clog::kQueueCapacityBytes);
  EXPECT_GT(log.QueuedBytes(), Clog::kQueueCapacityBytes - 1000);

  env_.refuseFileOpens = false;
  Drain(log);
  EXPECT_EQ(0, log.Write("after", "the flood", 0));
  Drain(log);
  auto lines = FileLines();
  ASSERT_EQ(static_cast<size_t>(queued) + 3, lines.size());  // set-up, queued, dropped, after
  EXPECT_NE(std::string::npos, lines[queued].find(") flood : " + text + std::to_string(queued - 1)));
  EXPECT_EQ(
      "[2024-05-17 14:02:03.045][L00] (002) Clog::Write : 1000 lines dropped: the log could not write them "
      "as fast as they came",
      lines[queued + 1]);
  EXPECT_EQ("[2024-05-17 14:02:03.045][L00] (001) after : the flood", lines[queued + 2]);
}

TEST_F(LogTest, EmptyTextEndsRightAfterTheTag) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 0));
  EXPECT_EQ(0, log.WriteDirect("Only a tag", "", 3));
  auto lines = FileLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("[2024-05-17 14:02:03.045][L03] Only a tag", lines[1]);
}

TEST_F(LogTest, AFileThatCannotBeCreatedLeavesTheLogSuspendedForGood) {
  Clog log(env_);
  std::wstring missing = (dir_.path() / "no-such-folder" / "Halcyra.log").wstring();
  EXPECT_EQ(-1, log.Init(missing, 6));
  EXPECT_TRUE(log.Suspended());
  EXPECT_EQ(-1, log.Write("tag", "text", 0));
  EXPECT_EQ(-1, LogNarrow(log, "tag", "text", 0));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "no-such-folder"));
}

TEST_F(LogTest, BeforeSetUpEveryMessageIsDropped) {
  Clog log(env_);
  EXPECT_EQ(-1, log.Write("tag", "text", 0));
  EXPECT_EQ(-1, log.WriteDirect("tag", "text", 0));
}

TEST_F(LogTest, LongTagsAndTextsAreCutTo1023Characters) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 0));
  std::string longText(5000, 'x');
  EXPECT_EQ(0, log.WriteDirect(std::string(2000, 't'), longText, 0));
  auto lines = FileLines();
  ASSERT_EQ(2u, lines.size());
  std::string expectedBody = std::string(1023, 't') + " : " + std::string(1023, 'x');
  EXPECT_EQ(expectedBody, lines[1].substr(lines[1].size() - expectedBody.size()));
}

TEST_F(LogTest, WideTextIsWrittenAsUtf8AndNarrowTextAsItsBytes) {
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 0));
  log.Write(L"HGT Files path", L"C:\\Caf\u00e9\\HGT", 0);
  LogNarrow(log, "new Client", "\"Jos\xC3\xA9\"", 0);
  Drain(log);
  std::string content = ReadFile(dir_.path() / "Halcyra.log");
  EXPECT_NE(std::string::npos, content.find("HGT Files path : C:\\Caf\xC3\xA9\\HGT"));
  EXPECT_NE(std::string::npos, content.find("new Client : \"Jos\xC3\xA9\""));
}

TEST_F(LogTest, LinesQueuedAtShutdownAreWrittenBeforeTheClosingLine) {
  auto log = std::make_unique<Clog>(env_);
  ASSERT_EQ(0, log->Init(LogPath(), 5));
  env_.refuseFileOpens = true;
  log->Write("first", "", 1);
  log->Write("second", "", 1);
  env_.refuseFileOpens = false;
  log.reset();
  auto lines = FileLines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("[2024-05-17 14:02:03.045][L01] (002) first", lines[1]);
  EXPECT_EQ("[2024-05-17 14:02:03.045][L01] (001) second", lines[2]);
  EXPECT_EQ("[2024-05-17 14:02:03.045][L00] ~Clog : Close log file.", lines[3]);
}

// Thread_Log sleeps until a line comes (no sleep on the clock while idle, which a poll would
// take), is woken by each one, keeps the order of a stream it writes while it comes, and what is
// still queued at the stop is written before the closing line.
TEST_F(LogTest, TheWriterSleepsUntilALineComesAndWritesAStreamInOrderToTheStop) {
  auto log = std::make_unique<Clog>(env_);
  ASSERT_EQ(0, log->Init(LogPath(), 6));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(0u, env_.sleptMs.load()) << "the idle writer slept on the clock: it polls";
  log->Write("woken", "", 6);
  Drain(*log);
  ASSERT_EQ(2u, FileLines().size());
  EXPECT_EQ(0u, env_.sleptMs.load());

  constexpr int kLines = 3000;
  std::thread producer([&log] {
    for (int i = 0; i < kLines; ++i) log->Write("stream", std::to_string(i), 6);
  });
  producer.join();
  log.reset();
  auto lines = FileLines();
  ASSERT_EQ(static_cast<size_t>(kLines) + 3, lines.size());  // set-up, woken, the stream, closing
  for (int i = 0; i < kLines; ++i) {
    const std::string& line = lines[static_cast<size_t>(i) + 2];
    ASSERT_EQ(" stream : " + std::to_string(i), line.substr(line.find(')') + 1)) << line;
  }
  EXPECT_EQ("[2024-05-17 14:02:03.045][L00] ~Clog : Close log file.", lines.back());
}

TEST_F(LogTest, TruncatesTheFileOfAnEarlierRun) {
  testing::WriteFile(dir_.path() / "Halcyra.log", "old line\nold line\n");
  Clog log(env_);
  ASSERT_EQ(0, log.Init(LogPath(), 0));
  auto lines = FileLines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("Initialize Log file"));
}

}  // namespace
}  // namespace halcyra
