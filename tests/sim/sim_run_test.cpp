// The scenario runner end to end around the built plug-in library and halcyra-server, on built-in
// scenarios in the fast mode and one short scenario in real time. Every run must find each of the
// plug-in's judgements confirmed by the runner's radio model; then the sound itself is checked, in
// the WAV file as the listener would hear it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "render.h"
#include "runner.h"
#include "temp_dir.h"
#include "voice.h"

namespace halcyra::sim {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

Scenario BuiltIn(const std::string& name, double scale) {
  std::string error;
  std::optional<Scenario> scenario = ParseScenario(BuiltInScenarioJson(name), &error);
  EXPECT_TRUE(scenario) << error;
  ScaleDuration(*scenario, scale);
  return *scenario;
}

// "Two" calls on the leader's radio 1 (left ear) and drops behind a ridge 2.5 s into his call;
// "Three", encrypted with another key on radio 2, leaves range 2.8 s into his. Both calls last the
// 6 s of the voice, so the plug-in's refresh (every 2 s) must catch both while they talk.
constexpr char kMidCallScenario[] = R"({
  "name": "mid-call", "description": "Two drops behind a ridge, Three leaves range, both in mid-call.",
  "duration": 7, "ears": [-1, 1, 0],
  "local": {"nickname": "Leader", "radios": [{"frequency": "251.000"}, {"frequency": "262.000"}],
            "crypto": {"frequency": "262.000", "key": 12},
            "track": [{"t": 0, "lat": 42.05, "lon": 41.5, "alt": 11200}]},
  "remotes": [
    {"nickname": "Two", "radios": [{"frequency": "251.000"}],
     "track": [{"t": 0, "lat": 42.5324, "lon": 41.5, "alt": 10000}, {"t": 7, "lat": 42.6489, "lon": 41.5, "alt": 10000}],
     "calls": [{"at": 0.5}]},
    {"nickname": "Three", "radios": [{"frequency": "000.000"}, {"frequency": "262.000"}], "active": 2,
     "crypto": {"frequency": "262.000", "key": 37},
     "track": [{"t": 0, "lat": 41.3846, "lon": 41.5, "alt": 10000}, {"t": 7, "lat": 40.8023, "lon": 41.5, "alt": 10000}],
     "calls": [{"at": 0.5}]}
  ],
  "terrain": {"baseMetres": 300,
              "ridges": [{"from": {"lat": 42.5824, "lon": 40.8}, "to": {"lat": 42.5824, "lon": 42.2},
                          "heightMetres": 2854, "widthNM": 2}]},
  "profiles": [1]
})";

// A mono 16-bit WAV file at 48 kHz.
std::string MonoWav(const std::vector<int16_t>& samples) {
  auto word = [](uint32_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return text;
  };
  uint32_t size = static_cast<uint32_t>(samples.size() * 2);
  std::string wav = "RIFF" + word(36 + size, 4) + "WAVEfmt " + word(16, 4) + word(1, 2) + word(1, 2) +
                    word(48000, 4) + word(96000, 4) + word(2, 2) + word(16, 2) + "data" + word(size, 4);
  for (int16_t sample : samples) wav += word(static_cast<uint16_t>(sample), 2);
  return wav;
}

// Levels of stereo frames [first, first + count) of one channel (0 left, 1 right, -1 both summed):
// the voice band (a two-sample average passes the low-passed voice and cancels the radio noise,
// whose sign alternates from sample to sample) and the noise band (the two-sample difference).
struct Levels {
  double voice = 0;
  double noise = 0;
  double all = 0;  // RMS of the frames themselves
  bool silent = true;
};

Levels LevelsOf(const std::vector<int16_t>& stereo, size_t first, size_t count, int channel) {
  auto at = [&](size_t frame) {
    return channel < 0 ? double(stereo[2 * frame]) + stereo[2 * frame + 1]
                       : double(stereo[2 * frame + channel]);
  };
  Levels levels;
  double voice = 0, noise = 0, all = 0;
  size_t end = std::min(first + count, stereo.size() / 2);
  for (size_t i = first; i + 1 < end; ++i) {
    voice += std::pow((at(i) + at(i + 1)) / 2, 2);
    noise += std::pow((at(i) - at(i + 1)) / 2, 2);
    all += at(i) * at(i);
    levels.silent &= at(i) == 0;
  }
  double n = std::max<double>(1, static_cast<double>(end - first));
  levels.voice = std::sqrt(voice / n);
  levels.noise = std::sqrt(noise / n);
  levels.all = std::sqrt(all / n);
  return levels;
}

// Correlation in the voice band of one channel's frames with the voice the plug-in was handed, over
// the given blocks of a call: near 1 for the radio's version of the voice, near 0 where none of the
// speech comes through (the tone of a block may share a harmonic with it, but not over a call).
double SpeechCorrelation(const std::vector<int16_t>& stereo, const std::vector<int16_t>& clip,
                         const std::vector<const BlockRecord*>& blocks, const Call& call, int channel) {
  double xy = 0, xx = 0, yy = 0;
  for (const BlockRecord* block : blocks) {
    size_t frame = static_cast<size_t>(block->block) * kBlockSamples;
    size_t offset = static_cast<size_t>(block->block - call.firstBlock) * kBlockSamples;
    auto heard = [&](size_t i) {
      return channel < 0 ? double(stereo[2 * (frame + i)]) + stereo[2 * (frame + i) + 1]
                         : double(stereo[2 * (frame + i) + channel]);
    };
    for (size_t i = 0; i + 1 < kBlockSamples && offset + i + 1 < clip.size(); ++i) {
      double x = double(clip[offset + i]) + clip[offset + i + 1];
      double y = heard(i) + heard(i + 1);
      xy += x * y;
      xx += x * x;
      yy += y * y;
    }
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// Power of one frequency in count frames from first, both channels summed (Goertzel).
double PowerAt(const std::vector<int16_t>& stereo, size_t first, size_t count, double frequency) {
  double coefficient = 2 * std::cos(2 * M_PI * frequency / 48000);
  double s1 = 0, s2 = 0;
  for (size_t i = first; i < first + count; ++i) {
    double s = (stereo[2 * i] + stereo[2 * i + 1]) + coefficient * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  return (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / (static_cast<double>(count) * count);
}

// Whether a voice block sounds as the tone of a two-digit key: every block starts again with the
// first digit, which sounds for samples 1..257, the second digit for the next 256.
bool SoundsAsTone(const std::vector<int16_t>& stereo, int64_t block, double firstHz, double secondHz) {
  size_t start = static_cast<size_t>(block) * kBlockSamples;
  bool first = PowerAt(stereo, start + 1, 256, firstHz) > 10 * PowerAt(stereo, start + 1, 256, secondHz);
  bool second = PowerAt(stereo, start + 258, 256, secondHz) > 10 * PowerAt(stereo, start + 258, 256, firstHz);
  return first && second;
}

class ScenarioRunTest : public ::testing::Test {
 protected:
  std::optional<RunResult> Run(const Scenario& scenario, const std::string& voice = "synthetic",
                               bool fast = true) {
    RunOptions options;
    options.scenario = scenario;
    options.voice = voice;
    options.outFolder = out_.path().string();
    options.fast = fast;
    return RunScenario(options, nullptr, &error_);
  }

  // The runner's oracle: every judgement of the plug-in is confirmed by the model.
  static void ExpectAgreement(const RunResult& result) {
    EXPECT_EQ("", result.decisionsNote);
    for (const Disagreement& d : result.disagreements) ADD_FAILURE() << d.time << " s: " << d.what;
    size_t judged = 0;
    for (const BlockRecord& block : result.blocks) judged += block.plugin.has_value();
    EXPECT_EQ(result.blocks.size(), judged) << "every voice block's judgement is read from the plug-in's log";
  }

  static std::vector<const BlockRecord*> BlocksOf(const RunResult& result, const Call& call) {
    std::vector<const BlockRecord*> blocks;
    for (const BlockRecord& block : result.blocks) {
      if (block.remote == call.remote && block.block >= call.firstBlock &&
          block.block < call.firstBlock + call.blockCount) {
        blocks.push_back(&block);
      }
    }
    return blocks;
  }

  static const TableRow& RowAt(const RunResult& result, double time, int remote, size_t remotes) {
    return result.rows[static_cast<size_t>(time) * remotes + static_cast<size_t>(remote)];
  }

  TempDir out_;
  std::string error_;
};

// The wingman flies out: where the model lets him be received, each later call is quieter in the
// voice band and louder in the noise band; masked by the ridge and beyond range it is silent.
TEST_F(ScenarioRunTest, TwoShipGetsNoisierWithDistanceAndIsSilentBehindTheRidgeAndOutOfRange) {
  Scenario scenario = BuiltIn("two-ship", 1.0);
  std::optional<RunResult> result = Run(scenario);
  ASSERT_TRUE(result) << error_;
  ExpectAgreement(*result);
  EXPECT_EQ(0, result->hostMemoryLeft) << "every channel list and nickname is handed back";

  std::vector<Levels> fading;  // heard calls beyond a quarter of the range, where the gain rises
  int masked = 0, beyond = 0;
  for (const Call& call : result->calls) {
    const Figures& model = RowAt(*result, call.Start(), 0, 1).figures;
    Levels levels = LevelsOf(result->stereo, static_cast<size_t>(call.firstBlock) * kBlockSamples,
                             static_cast<size_t>(call.blockCount) * kBlockSamples, -1);
    if (model.gain >= 20) {
      EXPECT_TRUE(levels.silent) << "call at " << call.Start() << " s";
      (model.distance > model.range ? beyond : masked) += 1;
    } else if (model.distance >= 0.25 * model.range) {
      EXPECT_FALSE(levels.silent) << "call at " << call.Start() << " s";
      fading.push_back(levels);
    }
  }
  EXPECT_GE(masked, 2);
  EXPECT_GE(beyond, 2);
  ASSERT_GE(fading.size(), 5u);
  for (size_t i = 1; i < fading.size(); ++i) {
    EXPECT_LT(fading[i].voice, fading[i - 1].voice) << "call " << i;
    EXPECT_GT(fading[i].noise, fading[i - 1].noise) << "call " << i;
  }
  EXPECT_LT(fading.back().voice, fading.front().voice / 4);
  EXPECT_GT(fading.back().noise, fading.front().noise * 4);
  EXPECT_TRUE(std::filesystem::exists(result->reportPath));
  EXPECT_NE(std::string::npos, ReadFile(result->blocksPath).find("treated"));

  // The plug-in's own radio check (its info panel) says the same, second by second, in the report.
  std::map<std::string, int> verdicts;
  for (const TableRow& row : result->rows) ++verdicts[row.verdict.substr(0, row.verdict.find(" ("))];
  EXPECT_GT(verdicts["heard on radio 1"], 0);
  EXPECT_GT(verdicts["not heard: behind terrain"], 0);
  EXPECT_GT(verdicts["not heard: out of range"], 0);
  EXPECT_NE(std::string::npos, ReadFile(result->reportPath).find("not heard: out of range ("));
}

// While the keys differ only the tone of the wingman's key is heard, about as loud as his voice,
// and once he is out of range nothing at all.
TEST_F(ScenarioRunTest, CryptoNeverLetsThePlainVoiceOfTheEncryptedTalkerThrough) {
  Scenario scenario = BuiltIn("crypto", 1.0);
  std::optional<RunResult> result = Run(scenario);
  ASSERT_TRUE(result) << error_;
  ExpectAgreement(*result);
  const std::vector<int16_t> clip = SyntheticVoice(0);

  std::map<int, int> toneBlocksOfKey;
  int clearCalls = 0, silentCalls = 0;
  double clearLevel = 0, toneLevel = 0;  // of the last clear and the first encrypted call, both at 15 NM
  for (const Call& call : result->calls) {
    std::vector<const BlockRecord*> blocks = BlocksOf(*result, call);
    ASSERT_FALSE(blocks.empty());
    const Judgement& judged = *blocks.front()->plugin;
    Levels levels = LevelsOf(result->stereo, static_cast<size_t>(call.firstBlock) * kBlockSamples,
                             static_cast<size_t>(call.blockCount) * kBlockSamples, -1);
    if (!judged.Receivable()) {
      EXPECT_TRUE(levels.silent) << "call at " << call.Start() << " s";
      ++silentCalls;
      continue;
    }
    int key = PanelAt(scenario.remotes[0].station, call.Start()).cryptoKey;
    double correlation = SpeechCorrelation(result->stereo, clip, blocks, call, -1);
    if (judged.encrypted) {
      EXPECT_LT(std::fabs(correlation), 0.3) << "call at " << call.Start() << " s";
      double first = key == 37 ? 1320 : 880, second = key == 37 ? 3080 : 2200;  // 3 and 7, or 2 and 5
      for (const BlockRecord* block : blocks) {
        if (block->inputPeak >= 2000)
          toneBlocksOfKey[key] += SoundsAsTone(result->stereo, block->block, first, second);
      }
    } else {
      EXPECT_GT(correlation, 0.6) << "call at " << call.Start() << " s";
    }
    if (!judged.encrypted) {
      ++clearCalls;
      if (call.Start() < 14) clearLevel = levels.all;
    } else if (toneLevel == 0) {
      toneLevel = levels.all;
    }
  }
  EXPECT_GE(clearCalls, 4);
  EXPECT_GE(silentCalls, 2);
  EXPECT_GE(toneBlocksOfKey[37], 30);
  EXPECT_GE(toneBlocksOfKey[25], 20);
  ASSERT_GT(clearLevel, 0);
  EXPECT_NEAR(0.0, 20 * std::log10(toneLevel / clearLevel), 3.0) << "tone against voice, dB";
}

TEST_F(ScenarioRunTest, EarsScenarioPutsEachRadioOnItsSide) {
  std::optional<RunResult> result = Run(BuiltIn("ears", 0.5));
  ASSERT_TRUE(result) << error_;
  ExpectAgreement(*result);
  std::map<int64_t, int> talkers;  // blocks in which two pilots talk at once are left out
  for (const BlockRecord& block : result->blocks) ++talkers[block.block];
  std::map<int, double> left, right;  // energy per remote
  for (const BlockRecord& block : result->blocks) {
    if (talkers[block.block] > 1) continue;
    size_t first = static_cast<size_t>(block.block) * kBlockSamples * 2;
    for (size_t i = first; i < first + kBlockSamples * 2; i += 2) {
      left[block.remote] += std::pow(result->stereo[i], 2);
      right[block.remote] += std::pow(result->stereo[i + 1], 2);
    }
  }
  ASSERT_EQ(3u, left.size());
  EXPECT_GT(left[0], 100 * right[0]);          // radio 1: left ear
  EXPECT_GT(right[1], 100 * left[1]);          // radio 2: right ear
  EXPECT_NEAR(1.0, left[2] / right[2], 0.01);  // radio 3: in front
  EXPECT_GT(left[2], 0);
}

// In real time the plug-in refreshes the talkers' records every 2 s, so a call goes silent soon
// after its talker drops behind terrain or leaves range, and stays silent to its end; the encrypted
// talker is heard as his tone before that and never as his voice.
TEST_F(ScenarioRunTest, InRealTimeCallsGoSilentWhenTheTalkerDropsBehindTheRidgeOrLeavesRange) {
  std::string error;
  std::optional<Scenario> scenario = ParseScenario(kMidCallScenario, &error);
  ASSERT_TRUE(scenario) << error;
  std::vector<int16_t> clip;
  for (int i = 0; i < 3; ++i) {
    std::vector<int16_t> words = SyntheticVoice(1);
    clip.insert(clip.end(), words.begin(), words.end());
  }
  clip.resize(6 * 48000);
  WriteFile(out_ / "voice.wav", MonoWav(clip));
  NormalizePeak(clip, 10000);  // as the runner reads it

  std::optional<RunResult> result = Run(*scenario, (out_ / "voice.wav").string(), false);
  ASSERT_TRUE(result) << error_;
  EXPECT_FALSE(result->fast);
  ExpectAgreement(*result);
  ASSERT_EQ(2u, result->calls.size());

  // Two is hidden and Three out of range in their records from 3 s on; the plug-in refreshes them
  // within 2 s after they are published.
  constexpr double kGoneFrom = 3, kRefreshedBy = kGoneFrom + 2 + 0.5;
  for (const Call& call : result->calls) {
    std::vector<const BlockRecord*> blocks = BlocksOf(*result, call);
    size_t silencedFrom = blocks.size();
    for (size_t i = 0; i < blocks.size() && silencedFrom == blocks.size(); ++i) {
      if (blocks[i]->plugin->silenced) silencedFrom = i;
    }
    ASSERT_LT(silencedFrom, blocks.size()) << "remote " << call.remote << " was never silenced";
    double silentAt = blocks[silencedFrom]->block / 50.0;
    EXPECT_GE(silentAt, kGoneFrom) << "remote " << call.remote;
    EXPECT_LE(silentAt, kRefreshedBy) << "remote " << call.remote;
    for (size_t i = 0; i < silencedFrom; ++i) EXPECT_TRUE(blocks[i]->Reached());
    for (size_t i = silencedFrom; i < blocks.size(); ++i) {
      EXPECT_EQ(0, blocks[i]->editedPeak) << "block at " << blocks[i]->block / 50.0 << " s";
      EXPECT_EQ(0, blocks[i]->renderedPeak);
    }
    if (call.remote == 1) {  // encrypted, played from the centre: the right channel holds only him
      std::vector<const BlockRecord*> heard(blocks.begin(), blocks.begin() + silencedFrom);
      EXPECT_LT(std::fabs(SpeechCorrelation(result->stereo, clip, heard, call, 1)), 0.3);
      int tone = 0;
      for (const BlockRecord* block : heard)
        tone += block->inputPeak >= 2000 && SoundsAsTone(result->stereo, block->block, 1320, 3080);
      EXPECT_GT(tone, 10);
    }
  }
}

TEST_F(ScenarioRunTest, BadVoiceFilesStopTheRunBeforeItStarts) {
  Scenario scenario = BuiltIn("ears", 0.2);
  EXPECT_FALSE(Run(scenario, (out_ / "no-such.wav").string()));
  EXPECT_NE(std::string::npos, error_.find("no-such.wav: cannot be read")) << error_;

  WriteFile(
      out_ / "stereo.wav",
      std::string(
          "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xBB\0\0\0\xEE\x02\0\x04\0\x10\0data\0\0\0\0",
          44));
  EXPECT_FALSE(Run(scenario, (out_ / "stereo.wav").string()));
  EXPECT_NE(std::string::npos, error_.find("2 channels; the voice must be mono 16-bit PCM")) << error_;
  EXPECT_FALSE(std::filesystem::exists(out_ / "ears.wav"));
}

}  // namespace
}  // namespace halcyra::sim
