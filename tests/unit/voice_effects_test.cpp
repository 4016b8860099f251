#include "audio/voice_effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <numeric>
#include <thread>
#include <vector>

#include "fake_env.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using Block = std::vector<int16_t>;

// Runs body on a new thread, whose noise source starts from its seed like every fresh thread.
void OnFreshThread(const std::function<void()>& body) { std::thread(body).join(); }

int16_t ClipTo16(double value) { return static_cast<int16_t>(std::clamp(value, -32767.0, 32767.0)); }

// A speech-like test block: two sines, loud enough that doubling clips at the peaks.
Block SpeechBlock(int count, double amplitude = 20000) {
  Block block(count);
  for (int i = 0; i < count; ++i) {
    block[i] = static_cast<int16_t>(amplitude * (0.7 * std::sin(i * 0.031) + 0.3 * std::sin(i * 0.21)));
  }
  return block;
}

Block LowPassed(Block block) {
  LowPassFilter(block.data(), static_cast<int>(block.size()), kVoiceCutoffHz, kVoiceSampleRateHz);
  return block;
}

// ---------------------------------------------------------------- random source and noise

TEST(RadioNoiseRandomTest, EveryThreadStartsTheSameSequenceFromSeedOne) {
  std::vector<int> first;
  OnFreshThread([&] {
    for (int i = 0; i < 5; ++i) first.push_back(RadioNoiseRandom());
  });
  EXPECT_EQ((std::vector<int>{41, 18467, 6334, 26500, 19169}), first);

  for (int i = 0; i < 100000; ++i)
    ASSERT_LE(RadioNoiseRandom(), 32767);                     // this thread's sequence moves on...
  OnFreshThread([&] { EXPECT_EQ(41, RadioNoiseRandom()); });  // ...another thread's does not
}

TEST(RadioNoiseTest, SignAlternatesStartingNonPositiveAndMagnitudeStaysWithin8185) {
  for (int block = 0; block < 50; ++block) {
    RadioNoiseState state = MakeRadioNoiseState();
    for (int32_t row : state.rows) ASSERT_LE(static_cast<uint32_t>(row), 1637u);
    int largest = 0;
    for (int i = 0; i < 4096; ++i) {
      int value = NextRadioNoise(state);
      if (i % 2 == 0) {
        ASSERT_LE(value, 0) << "sample " << i;
      } else {
        ASSERT_GE(value, 0) << "sample " << i;
      }
      largest = std::max(largest, std::abs(value));
    }
    EXPECT_LE(largest, kRadioNoiseMaxMagnitude);
    EXPECT_GT(largest, 4000);  // five rows of 0..1637 summed: a flat noise would never get here
  }
}

TEST(RadioNoiseTest, ValueIsTheSumOfTheRowsAfterTheirRefresh) {
  RadioNoiseState state = MakeRadioNoiseState();
  for (int i = 0; i < 100; ++i) {
    int value = NextRadioNoise(state);
    int sum = std::accumulate(std::begin(state.rows), std::end(state.rows), 0);
    ASSERT_EQ(i % 2 == 0 ? -sum : sum, value);
  }
}

// Rows are primed with a value the generator never draws, so a row still holding it was not refreshed.
TEST(RadioNoiseTest, RowKIsRefreshedWhenBitKOfTheCounterChanges) {
  constexpr int kUntouched = 5000;
  RadioNoiseState state = MakeRadioNoiseState();
  for (int32_t& row : state.rows) row = kUntouched;

  // Expected refreshed rows for counter steps 0->1, 1->2, 2->3, 3->4, 4->5, 5->6, 6->7, 7->8.
  const std::vector<int> highestRefreshed = {0, 1, 0, 2, 0, 1, 0, 3};
  for (size_t step = 0; step < highestRefreshed.size(); ++step) {
    NextRadioNoise(state);
    EXPECT_EQ(static_cast<int32_t>(step + 1), state.counter);
    for (int k = 0; k <= highestRefreshed[step]; ++k) EXPECT_LE(state.rows[k], 1637) << "step " << step;
    for (int k = highestRefreshed[step] + 1; k < 5; ++k) {
      EXPECT_EQ(kUntouched, state.rows[k]) << "step " << step << " row " << k;
    }
    for (int k = 0; k <= highestRefreshed[step]; ++k) state.rows[k] = kUntouched;
  }

  state.counter = 31;  // wrapping to 0 changes all five bits
  NextRadioNoise(state);
  EXPECT_EQ(0, state.counter);
  for (int32_t row : state.rows) EXPECT_LE(row, 1637);
}

// A block's noise made at once draws the same values in the same order as a fresh state stepped
// sample by sample, for stretches of any length, and leaves the source where the state would.
TEST(RadioNoiseTest, BlockNoiseIsTheStateByStateNoiseAndMovesTheSourceAlike) {
  const std::vector<int> stretches = {7, 32, 512, 1, 100, 64, 300};
  std::vector<int> stepped, made;
  int afterStepped = 0, afterMade = 0, afterSkipped = 0;
  OnFreshThread([&] {
    RadioNoiseState state = MakeRadioNoiseState();
    for (int stretch : stretches) {
      for (int i = 0; i < stretch; ++i) stepped.push_back(NextRadioNoise(state));
    }
    afterStepped = RadioNoiseRandom();
  });
  OnFreshThread([&] {
    RadioNoiseBlock block;
    for (int stretch : stretches) {
      int16_t noise[RadioNoiseBlock::kMaxStretch];
      block.Fill(noise, stretch);
      made.insert(made.end(), noise, noise + stretch);
    }
    afterMade = RadioNoiseRandom();
  });
  OnFreshThread([&] {
    RadioNoiseBlock::Skip(static_cast<int>(stepped.size()));
    afterSkipped = RadioNoiseRandom();
  });
  EXPECT_EQ(stepped, made);
  EXPECT_EQ(afterStepped, afterMade);
  EXPECT_EQ(afterStepped, afterSkipped);
}

// ---------------------------------------------------------------- low-pass filter

TEST(LowPassFilterTest, AlphaFor3000HzAt48000HzIs0_28197) {
  EXPECT_NEAR(0.28197, LowPassAlpha(kVoiceCutoffHz, kVoiceSampleRateHz), 0.000005);
}

// Expected values worked out by hand from alpha = 0.28196982 with float arithmetic:
// y1 = trunc(10000 * alpha) = 2819, y2 = trunc(7181 * alpha + 2819) = 4843, ...
TEST(LowPassFilterTest, StepResponseKeepsTheFirstSampleAndTruncatesEachStep) {
  Block up = {0, 10000, 10000, 10000, 10000, 10000, 10000, 10000, 10000, 10000};
  LowPassFilter(up.data(), static_cast<int>(up.size()), kVoiceCutoffHz, kVoiceSampleRateHz);
  EXPECT_EQ((Block{0, 2819, 4843, 6297, 7341, 8090, 8628, 9014, 9292, 9491}), up);

  // Truncation is toward zero, so a falling step ends above the float result.
  Block down = {-5, -20000, -20000, -20000, -20000, -20000, -20000};
  LowPassFilter(down.data(), static_cast<int>(down.size()), kVoiceCutoffHz, kVoiceSampleRateHz);
  EXPECT_EQ((Block{-5, -5642, -9690, -12597, -14684, -16182, -17258}), down);

  Block swing = {32767, -32768, 32767, -32768, 32767};
  LowPassFilter(swing.data(), static_cast<int>(swing.size()), kVoiceCutoffHz, kVoiceSampleRateHz);
  EXPECT_EQ((Block{32767, 14288, 19498, 4760, 12657}), swing);
}

// The filter works on stretches side by side; its output must be the plain loop's below, sample for
// sample, also where a stretch never meets the plain loop's outputs (constant runs) and for lengths
// around the stretch sizes.
TEST(LowPassFilterTest, EqualsTheOneStepAtATimeLoopOnEveryKindOfInput) {
  auto plain = [](Block x) {
    float alpha = LowPassAlpha(kVoiceCutoffHz, kVoiceSampleRateHz);
    for (size_t i = 1; i < x.size(); ++i) {
      float filtered = static_cast<float>(x[i] - x[i - 1]) * alpha + static_cast<float>(x[i - 1]);
      x[i] = static_cast<int16_t>(filtered);
    }
    return x;
  };
  uint32_t random = 12345;
  auto next = [&random](int range) {
    random = random * 1103515245u + 12345u;
    return static_cast<int>((random >> 8) % static_cast<uint32_t>(range));
  };
  for (int round = 0; round < 300; ++round) {
    int count = round < 40 ? 240 + round * 3 : 1 + next(5000);
    Block block;
    while (static_cast<int>(block.size()) < count) {
      int run = 1 + next(400);
      switch (next(4)) {
        case 0:  // hiss
          for (int i = 0; i < run; ++i) block.push_back(static_cast<int16_t>(next(65536) - 32768));
          break;
        case 1:  // a constant level
          block.insert(block.end(), run, static_cast<int16_t>(next(65536) - 32768));
          break;
        case 2:  // full swings
          for (int i = 0; i < run; ++i) block.push_back(i % 2 ? -32768 : 32767);
          break;
        default:  // a slow wave
          for (int i = 0; i < run; ++i)
            block.push_back(static_cast<int16_t>(std::abs(i % 200 - 100) * 300 - 15000));
      }
    }
    block.resize(count);
    ASSERT_EQ(plain(block), LowPassed(block)) << "round " << round << ", " << count << " samples";
  }
}

TEST(LowPassFilterTest, OneSampleAndEmptyBlocksAreUnchanged) {
  Block one = {-1234};
  LowPassFilter(one.data(), 1, kVoiceCutoffHz, kVoiceSampleRateHz);
  EXPECT_EQ(-1234, one[0]);

  Block two = {5, 9};
  LowPassFilter(two.data(), 0, kVoiceCutoffHz, kVoiceSampleRateHz);
  LowPassFilter(two.data(), -3, kVoiceCutoffHz, kVoiceSampleRateHz);
  LowPassFilter(nullptr, 960, kVoiceCutoffHz, kVoiceSampleRateHz);
  EXPECT_EQ((Block{5, 9}), two);
}

// ---------------------------------------------------------------- scaling and volumes

TEST(ScaleSamplesTest, TruncatesTowardZeroAndClipsSymmetrically) {
  Block in = {3, -3, 20000, -20000, -32768, 32767, 0};
  Block out(in.size());
  ScaleSamples(out.data(), in.data(), static_cast<int>(in.size()), 2.0f);
  EXPECT_EQ((Block{6, -6, 32767, -32767, -32767, 32767, 0}), out);

  ScaleSamples(out.data(), in.data(), static_cast<int>(in.size()), 0.5f);
  EXPECT_EQ((Block{1, -1, 10000, -10000, -16384, 16383, 0}), out);

  ScaleSamples(out.data(), in.data(), static_cast<int>(in.size()), 1.0f);
  EXPECT_EQ(-32767, out[4]) << "-32768 is outside the clip range";

  ScaleSamples(in.data(), in.data(), static_cast<int>(in.size()), 2.0e9f);  // in place, far beyond int
  EXPECT_EQ((Block{32767, -32767, 32767, -32767, -32767, 32767, 0}), in);
}

TEST(SamplesByHCVolumesTest, EachRadioUsesItsOwnVolumeAndOtherRadiosCopy) {
  RadioVolumes volumes{100, 50, 200};
  Block in = {1000, -1001, 20000, -20000};
  auto apply = [&](int localRadio) {
    Block out(in.size(), 7);
    SamplesByHCVolumes(out.data(), in.data(), static_cast<int>(in.size()), localRadio, volumes, nullptr);
    return out;
  };
  EXPECT_EQ(in, apply(1));
  EXPECT_EQ((Block{500, -500, 10000, -10000}), apply(2));
  EXPECT_EQ((Block{2000, -2002, 32767, -32767}), apply(3));
  EXPECT_EQ(in, apply(0));
  EXPECT_EQ(in, apply(4));
}

TEST(VolumesLogTest, DetailedLogNamesTheRadioAndTheThreeVolumes) {
  testing::TempDir dir;
  testing::FakeEnv env;
  std::filesystem::path file = dir / "Halcyra.log";
  {
    Clog log(env);
    ASSERT_EQ(0, log.Init(file.wstring(), 5));
    Block block = {100, 200};
    SamplesByHCVolumes(block.data(), block.data(), 2, 2, RadioVolumes{100, 50, 200}, &log);
  }  // closing the log writes what is queued
  EXPECT_NE(std::string::npos,
            testing::ReadFile(file).find("SamplesByHCVolumes :  Radio #2 / Volume (1=100 , 2=50 , 3=200) "));
}

// ---------------------------------------------------------------- encryption tone

// Index of the digit of "digits" that sounds at sample i >= 1: the first digit for samples 1..257,
// every later one for 256 samples, cycling.
int DigitAt(int i, const std::string& digits) {
  int stretch = i <= 257 ? 0 : 1 + (i - 258) / 256;
  return digits[stretch % digits.size()] - '0';
}

int16_t ExpectedTone(int i, int digit, int amplitude) {
  if (digit == 0) return 0;
  double value = std::sin(i / (48000.0 / (digit * 440.0 * 6.2831853))) * amplitude;
  return static_cast<int16_t>(std::max(0, static_cast<int>(value)));
}

void ExpectToneOf(const std::string& digits, int amplitude, const Block& tone) {
  ASSERT_FALSE(tone.empty());
  EXPECT_EQ(0, tone[0]);
  for (int i = 1; i < static_cast<int>(tone.size()); ++i) {
    ASSERT_EQ(ExpectedTone(i, DigitAt(i, digits), amplitude), tone[i]) << "sample " << i;
  }
}

// The tone of key made from a constant block whose level gives it the amplitude (a multiple of 4
// up to 32764: the block doubled has the level amplitude / 2).
Block ToneOf(int32_t key, int count, int amplitude) {
  Block block(count, static_cast<int16_t>(amplitude / 4));
  MakeEncryptionTone(block.data(), count, key);
  return block;
}

// Frequency of a half-wave rectified tone within [begin, end): from the distance between the first
// and the last start of a positive half-wave.
double MeasuredFrequency(const Block& tone, int begin, int end) {
  std::vector<int> starts;
  for (int i = begin + 1; i < end; ++i) {
    if (tone[i - 1] == 0 && tone[i] > 0) starts.push_back(i);
  }
  if (starts.size() < 2) return 0;
  double period = double(starts.back() - starts.front()) / double(starts.size() - 1);
  return 48000.0 / period;
}

TEST(EncryptionToneTest, Key123SoundsItsDigitsAs440_880And1320Hz) {
  Block tone = ToneOf(123, 1200, 10000);
  ExpectToneOf("123", 10000, tone);
  // Stretches: 1..257, 258..513, 514..769, then the first digit again.
  EXPECT_NEAR(440.0, MeasuredFrequency(tone, 1, 258), 15.0);
  EXPECT_NEAR(880.0, MeasuredFrequency(tone, 258, 514), 30.0);
  EXPECT_NEAR(1320.0, MeasuredFrequency(tone, 514, 770), 45.0);
  EXPECT_NEAR(440.0, MeasuredFrequency(tone, 770, 1026), 15.0);
  for (int16_t sample : tone) ASSERT_GE(sample, 0);
}

TEST(EncryptionToneTest, Key1234IsMaskedTo210WithSilenceForTheZero) {
  Block tone = ToneOf(1234, 1100, 8000);
  ExpectToneOf("210", 8000, tone);
  EXPECT_NEAR(880.0, MeasuredFrequency(tone, 1, 258), 30.0);
  EXPECT_NEAR(440.0, MeasuredFrequency(tone, 258, 514), 15.0);
  EXPECT_TRUE(std::all_of(tone.begin() + 514, tone.begin() + 770, [](int16_t s) { return s == 0; }));
  EXPECT_GT(*std::max_element(tone.begin() + 770, tone.end()), 7900);  // the 2 again
}

TEST(EncryptionToneTest, OneDigitKeySoundsThroughoutAndNegativeKeysKeepTheirLowTenBits) {
  Block tone = ToneOf(1024 + 7, 1024, 5000);  // 1031 & 1023 = 7
  ExpectToneOf("7", 5000, tone);
  EXPECT_NEAR(7 * 440.0, MeasuredFrequency(tone, 1, 1024), 60.0);
  ExpectToneOf("1023", 3000, ToneOf(-1, 1300, 3000));  // negative keys too keep their low ten bits
}

TEST(EncryptionToneTest, AmplitudeIsTwiceTheLevelOfTheBlockAsClearSpeechWithinTheClipRange) {
  Block block(960);
  for (size_t i = 0; i < block.size(); ++i) block[i] = (i % 3 == 0) ? -3000 : 1500;
  MakeEncryptionTone(block.data(), static_cast<int>(block.size()), 3);
  ExpectToneOf("3", 8485, block);  // doubled: -6000, 3000, 3000; RMS 4242.6

  Block loud(960, -20000);  // doubled and clipped to -32767: the amplitude stops at 32767
  MakeEncryptionTone(loud.data(), static_cast<int>(loud.size()), 3);
  ExpectToneOf("3", 32767, loud);

  Block silent = ToneOf(123, 960, 0);
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](int16_t s) { return s == 0; }));
  EXPECT_EQ((Block{0}), ToneOf(5, 1, 12000));
  MakeEncryptionTone(nullptr, 960, 5);
}

// ---------------------------------------------------------------- the whole block

class TreatVoiceBlockTest : public ::testing::Test {
 protected:
  Block Treat(Block block, float gain, bool encrypted = false, int32_t key = 0, int radio = 1) {
    TreatVoiceBlock(block.data(), static_cast<int>(block.size()), gain, encrypted, key, radio, volumes_,
                    nullptr);
    return block;
  }
  // The treated block before the noise mix: low-passed, then doubled with clipping.
  static Block Doubled(const Block& block) {
    Block treated = LowPassed(block);
    for (int16_t& sample : treated) sample = ClipTo16(sample * 2.0);
    return treated;
  }
  RadioVolumes volumes_{100, 50, 200};
};

TEST_F(TreatVoiceBlockTest, PerfectClearReceptionIsTheLowPassedBlockDoubledAndClipped) {
  Block in = SpeechBlock(960);
  Block out = Treat(in, 0.0f);
  EXPECT_EQ(Doubled(in), out);
  EXPECT_EQ(32767, *std::max_element(out.begin(), out.end()));
  EXPECT_EQ(-32767, *std::min_element(out.begin(), out.end()));
}

TEST_F(TreatVoiceBlockTest, HalfLossMixesHalfTheVoiceWithScaledNoise) {
  Block in = SpeechBlock(960, 6000);
  Block treated = Doubled(in);
  Block out;
  Block expected(in.size());
  OnFreshThread([&] { out = Treat(in, 10.0f); });
  OnFreshThread([&] {  // the same noise sequence, drawn again on a thread of its own
    RadioNoiseState noise = MakeRadioNoiseState();
    for (size_t i = 0; i < in.size(); ++i) {
      int noiseTerm = static_cast<int>(NextRadioNoise(noise) * 0.375);
      expected[i] = ClipTo16(std::trunc(noiseTerm + treated[i] * 0.5));
    }
  });
  EXPECT_EQ(expected, out);
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_LE(std::abs(out[i] - treated[i] * 0.5), 3069.0 + 1.0) << "sample " << i;
  }
}

TEST_F(TreatVoiceBlockTest, MixClipsAtBothEnds) {
  Block in(960, 20000);  // doubled to 40000 before the mix
  Block out = Treat(in, 0.0f);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 32767; }));
  std::fill(in.begin(), in.end(), -20000);
  out = Treat(in, 0.0f);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == -32767; }));
}

TEST_F(TreatVoiceBlockTest, EncryptedTalkerIsReplacedByTheToneOfTheFilteredBlock) {
  Block in = SpeechBlock(960, 6000);
  Block expected = LowPassed(in);
  MakeEncryptionTone(expected.data(), static_cast<int>(expected.size()), 123);
  EXPECT_EQ(expected, Treat(in, 0.0f, true, 123));
}

// An encrypted talker sounds as loud as a clear one would, block by block: within 3 dB.
TEST_F(TreatVoiceBlockTest, EncryptionToneIsAsLoudAsTheSameBlockAsClearSpeech) {
  auto level = [](const Block& block) {
    double sum = 0;
    for (int16_t sample : block) sum += static_cast<double>(sample) * sample;
    return std::sqrt(sum / static_cast<double>(block.size()));
  };
  for (double amplitude : {1000.0, 6000.0, 20000.0}) {
    Block in = SpeechBlock(960, amplitude);
    double clear = level(Treat(in, 0.0f));
    for (int32_t key : {7, 59, 123, 987}) {  // keys without a 0 digit (silence)
      double tone = level(Treat(in, 0.0f, true, key));
      EXPECT_NEAR(0.0, 20 * std::log10(tone / clear), 3.0) << "amplitude " << amplitude << ", key " << key;
    }
  }
}

TEST_F(TreatVoiceBlockTest, ReceivingRadioVolumeIsAppliedLast) {
  Block in = SpeechBlock(960, 6000);
  Block doubled = Doubled(in);
  Block half(doubled.size());
  for (size_t i = 0; i < doubled.size(); ++i) half[i] = static_cast<int16_t>(doubled[i] / 2);
  EXPECT_EQ(half, Treat(in, 0.0f, false, 0, 2));

  Block loud = Treat(in, 0.0f, false, 0, 3);
  for (size_t i = 0; i < doubled.size(); ++i) ASSERT_EQ(ClipTo16(doubled[i] * 2.0), loud[i]);
}

TEST_F(TreatVoiceBlockTest, AtOrAboveTheGainLimitTheBlockIsUntouched) {
  Block in = SpeechBlock(960);
  EXPECT_EQ(in, Treat(in, 20.0f));
  EXPECT_EQ(in, Treat(in, 35.5f));
  EXPECT_EQ(in, Treat(in, std::nanf("")));
  EXPECT_EQ(in, Treat(in, 20.0f, true, 123));
}

TEST_F(TreatVoiceBlockTest, NegativeGainCountsAsPerfect) {
  Block in = SpeechBlock(960);
  EXPECT_EQ(Doubled(in), Treat(in, -3.0f));
}

TEST_F(TreatVoiceBlockTest, EmptyOrMissingBlocksEditNothing) {
  Block in = {1000, 2000, 3000};
  Block block = in;
  TreatVoiceBlock(block.data(), 0, 0.0f, false, 0, 1, volumes_, nullptr);
  TreatVoiceBlock(block.data(), -960, 0.0f, true, 123, 1, volumes_, nullptr);
  EXPECT_EQ(in, block);
  TreatVoiceBlock(nullptr, 960, 0.0f, false, 0, 1, volumes_, nullptr);
}

TEST_F(TreatVoiceBlockTest, BlocksOfAnySizeAreTreated) {
  for (int count : {1, 2, 257, 960, 48000}) {
    Block in = SpeechBlock(count, 6000);
    EXPECT_EQ(Doubled(in), Treat(in, 0.0f)) << count << " samples";
  }
}

// Interleaves channels of equal length frame by frame, and takes channel c out again.
Block Interleaved(const std::vector<Block>& channels) {
  Block block;
  for (size_t i = 0; i < channels[0].size(); ++i) {
    for (const Block& channel : channels) block.push_back(channel[i]);
  }
  return block;
}
Block ChannelOf(const Block& block, size_t c, size_t channels) {
  Block channel;
  for (size_t i = c; i < block.size(); i += channels) channel.push_back(block[i]);
  return channel;
}

// Every channel of an interleaved block is a mono block of its own: filtered from its own first
// sample, its own tone level, the receiving radio's volume on each.
TEST_F(TreatVoiceBlockTest, EveryChannelOfAnInterleavedBlockIsTreatedAsItsOwnMonoBlock) {
  const Block speech = SpeechBlock(960, 6000);
  const Block other = SpeechBlock(960, -20000);
  const Block quiet = SpeechBlock(960, 700);
  auto treat = [this](Block block, int channels, bool encrypted, int radio) {
    TreatInterleavedVoiceBlock(block.data(), static_cast<int>(block.size()) / channels, channels, 0.0f,
                               encrypted, 123, radio, volumes_, nullptr);
    return block;
  };
  for (bool encrypted : {false, true}) {
    for (int radio : {1, 2}) {
      Block mono = Treat(speech, 0.0f, encrypted, 123, radio);
      EXPECT_EQ(mono, treat(speech, 1, encrypted, radio));
      EXPECT_EQ(Interleaved({mono, mono}), treat(Interleaved({speech, speech}), 2, encrypted, radio))
          << "the same signal on both channels, encrypted " << encrypted << ", radio " << radio;
      EXPECT_EQ(Interleaved({mono, Treat(other, 0.0f, encrypted, 123, radio),
                             Treat(quiet, 0.0f, encrypted, 123, radio)}),
                treat(Interleaved({speech, other, quiet}), 3, encrypted, radio))
          << "three channels, encrypted " << encrypted << ", radio " << radio;
    }
  }
}

// With loss every channel gets noise of its own; at or beyond the limit, or with no channels, the
// block is left as it came.
TEST_F(TreatVoiceBlockTest, InterleavedBlocksGetNoiseInEveryChannelAndKeepTheGainLimit) {
  Block silence(2 * 960, 0);
  Block noisy = silence;
  TreatInterleavedVoiceBlock(noisy.data(), 960, 2, 10.0f, false, 0, 1, volumes_, nullptr);
  for (size_t c = 0; c < 2; ++c) {
    Block channel = ChannelOf(noisy, c, 2);
    EXPECT_GT(std::count_if(channel.begin(), channel.end(), [](int16_t s) { return s != 0; }), 900)
        << "channel " << c;
  }

  const Block stereo = Interleaved({SpeechBlock(960), SpeechBlock(960, 5000)});
  for (float gain : {20.0f, 35.0f, std::nanf("")}) {
    Block block = stereo;
    TreatInterleavedVoiceBlock(block.data(), 960, 2, gain, true, 123, 1, volumes_, nullptr);
    EXPECT_EQ(stereo, block) << "gain " << gain;
  }
  Block block = stereo;
  TreatInterleavedVoiceBlock(block.data(), 960, 0, 0.0f, false, 0, 1, volumes_, nullptr);
  TreatInterleavedVoiceBlock(block.data(), 960, -2, 0.0f, false, 0, 1, volumes_, nullptr);
  TreatInterleavedVoiceBlock(block.data(), 0, 2, 0.0f, false, 0, 1, volumes_, nullptr);
  TreatInterleavedVoiceBlock(nullptr, 960, 2, 0.0f, false, 0, 1, volumes_, nullptr);
  EXPECT_EQ(stereo, block);
  EXPECT_EQ(0u, InterleavedSampleCount(960, 0));
  EXPECT_EQ(0u, InterleavedSampleCount(-1, 2));
  EXPECT_EQ(size_t{65535} * 65535, InterleavedSampleCount(65535, 65535));  // beyond int, no overflow
}

// ---------------------------------------------------------------- golden outputs

// The treatment's output for fixed blocks, recorded from the straightforward implementation with
// the noise source starting from its seed: a faster loop or other build flags must leave every
// sample as it was. Blocks are made with integer arithmetic only, so both targets treat the same
// input, and the cases run in order on one thread, so the noise sequence also carries over from
// block to block.
namespace golden {

enum class Shape { kSpeech, kLoudSpeech, kConstant, kStep, kHighest, kLowest, kSwing, kSilence };

// A voice-like block: two triangle waves and a little pseudo-random hiss, peaks near level.
Block IntegerSpeech(int count, int level, uint32_t seed) {
  Block block(count);
  uint32_t state = seed;
  for (int i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    int hiss = static_cast<int>(state >> 22) - 512;   // -512..511
    int slow = std::abs(i % 173 - 86) * 2 - 86;       // -86..86
    int fast = std::abs((i * 7) % 37 - 18) * 2 - 18;  // -18..18
    block[i] = static_cast<int16_t>((slow * 8 + fast * 12 + hiss / 4) * level / 1000);
  }
  return block;
}

Block Make(Shape shape, int count) {
  switch (shape) {
    case Shape::kSpeech:
      return IntegerSpeech(count, 9000, static_cast<uint32_t>(count));
    case Shape::kLoudSpeech:
      return IntegerSpeech(count, 20000, 77);
    case Shape::kConstant:
      return Block(count, 100);
    case Shape::kStep: {  // the filter settles 3 below the step and stays there
      Block block(count, 1000);
      std::fill(block.begin(), block.begin() + count / 4, 0);
      return block;
    }
    case Shape::kHighest:
      return Block(count, 32767);
    case Shape::kLowest:
      return Block(count, -32768);
    case Shape::kSwing: {
      Block block(count);
      for (int i = 0; i < count; ++i) block[i] = i % 2 ? -32768 : 32767;
      return block;
    }
    case Shape::kSilence:
      break;
  }
  return Block(count, 0);
}

uint64_t Fingerprint(const Block& block) {  // FNV-1a over the samples' bytes, low byte first
  uint64_t hash = 14695981039346656037ull;
  for (int16_t sample : block) {
    for (int shift : {0, 8}) {
      hash ^= (static_cast<uint16_t>(sample) >> shift) & 0xFFu;
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

struct Case {
  Shape shape;
  int count;
  float gain;
  bool encrypted;
  int32_t key;
  int radio;  // volumes 100, 50, 200 on radios 1, 2, 3
  uint64_t fingerprint;
};

// clang-format off
const Case kCases[] = {
    {Shape::kSpeech,      960,  0.0f,     false, 0,    1, 0xc909072d226287f6ull},
    {Shape::kSpeech,      960,  1e-10f,   false, 0,    1, 0xc909072d226287f6ull},
    {Shape::kSpeech,      960,  0.5f,     false, 0,    2, 0x362ece4025248bdcull},
    {Shape::kSpeech,      960,  7.5f,     false, 0,    3, 0x4ffe5df790044f26ull},
    {Shape::kSpeech,      960,  10.0f,    false, 0,    0, 0x484d8c176b854edeull},
    {Shape::kSpeech,      960,  20.0f,    false, 0,    1, 0xc58f6485726e0fe1ull},  // untouched: draws no noise
    {Shape::kSpeech,      960,  19.99f,   false, 0,    1, 0x2f5c8a32f5ecdb5cull},
    {Shape::kLoudSpeech,  960,  3.25f,    false, 0,    1, 0x290d1079af6f4124ull},
    {Shape::kSpeech,      960,  0.0f,     true,  123,  1, 0x990935b4dec1a5b6ull},
    {Shape::kSpeech,      960,  7.5f,     true,  1234, 2, 0xeca30485ac91d247ull},
    {Shape::kSpeech,      960,  12.5f,    true,  37,   3, 0xafbcf51a34d917f4ull},
    {Shape::kLoudSpeech,  960,  2.0f,     true,  -1,   1, 0x648680823842c32bull},
    {Shape::kSpeech,      1,    5.0f,     false, 0,    1, 0xafc1c07b7499ec7ull},
    {Shape::kSpeech,      2,    5.0f,     true,  7,    1, 0x9d033bcf5e044bdcull},
    {Shape::kSpeech,      257,  5.0f,     false, 0,    1, 0x8e1013566e2a55bdull},
    {Shape::kSpeech,      1001, 5.0f,     true,  59,   2, 0x972971b839f7e7b9ull},
    {Shape::kSpeech,      4800, 5.0f,     false, 0,    2, 0x781a98195f14456cull},
    {Shape::kConstant,    960,  5.0f,     false, 0,    1, 0x8a09b8f1d158510full},
    {Shape::kHighest,     960,  1.0f,     false, 0,    1, 0xc494ce93041237abull},
    {Shape::kLowest,      960,  1.0f,     true,  9,    1, 0x56f38c58f560e94bull},
    {Shape::kSwing,       960,  15.0f,    false, 0,    3, 0x6de0efc200ff3531ull},
    {Shape::kSilence,     960,  8.0f,     false, 0,    1, 0xe40a0e17ee7064d2ull},
    {Shape::kSpeech,      960,  -3.0f,    false, 0,    1, 0xc909072d226287f6ull},
    {Shape::kSpeech,      48000, 6.0f,    false, 0,    1, 0x91c1aebe2dc4dfecull},
    {Shape::kSpeech,      960,  6.0f,     true,  5,    2, 0x5a5c30f9c2648b10ull},
    {Shape::kSpeech,      960,  19.0f,    false, 0,    1, 0x3cea506f763a15b3ull},
    {Shape::kStep,        960,  0.0f,     false, 0,    1, 0xc2cbecef2a665cf3ull},
    {Shape::kStep,        960,  0.0f,     true,  4,    1, 0xb8672372110ae8b0ull},
};
// clang-format on

}  // namespace golden

TEST(VoiceGoldenTest, EveryCaseTreatsItsBlockToTheRecordedSamples) {
  std::vector<uint64_t> actual;
  OnFreshThread([&] {
    RadioVolumes volumes{100, 50, 200};
    for (const golden::Case& c : golden::kCases) {
      Block block = golden::Make(c.shape, c.count);
      TreatVoiceBlock(block.data(), c.count, c.gain, c.encrypted, c.key, c.radio, volumes, nullptr);
      actual.push_back(golden::Fingerprint(block));
    }
  });
  ASSERT_EQ(std::size(golden::kCases), actual.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(golden::kCases[i].fingerprint, actual[i])
        << "case " << i << ": 0x" << std::hex << actual[i] << "ull";
  }
}

// ---------------------------------------------------------------- float contraction

// Results are compared sample for sample, so every multiply and add must round on its own. A
// compiler may fuse a * b + c into one multiply-add that rounds once (unless -ffp-contract=off);
// these two are compiled for processors that have the instruction, so that it could.
__attribute__((target("fma"), noinline)) double MultiplyAdd(double a, double b, double c) {
  return a * b + c;
}
__attribute__((target("fma"), noinline)) float MultiplyAdd(float a, float b, float c) { return a * b + c; }

TEST(FloatContractionTest, MultiplyThenAddRoundsTwiceWhereAFusedMultiplyAddExists) {
  if (!__builtin_cpu_supports("fma")) GTEST_SKIP() << "this processor has no fused multiply-add";
  volatile double a = 1.0 + 0x1p-28, b = 1.0 - 0x1p-28, c = -1.0;  // a * b = 1 - 2^-56 rounds to 1
  EXPECT_EQ(0.0, MultiplyAdd(a, b, c)) << "fused: -2^-56";
  volatile float af = 1.0f + 0x1p-13f, bf = 1.0f - 0x1p-13f, cf = -1.0f;  // 1 - 2^-26 rounds to 1
  EXPECT_EQ(0.0f, MultiplyAdd(af, bf, cf)) << "fused: -2^-26";
}

}  // namespace
}  // namespace halcyra
