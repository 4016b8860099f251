#include "audio/voice_effects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "plugin/format.h"

namespace halcyra {
namespace {

constexpr double kFilterPi = 3.14159265;
constexpr double kToneTwoPi = 6.2831853;
constexpr double kToneRateHz = 48000.0;
constexpr double kToneStepHz = 440.0;
constexpr float kClearLevelFactor = 2.0f;
constexpr double kNoiseWeight = 0.75;
constexpr double kGainLimitInMix = 20.0;

bool IsEmptyBlock(const int16_t* samples, int count) { return samples == nullptr || count <= 0; }

// Truncates toward zero and limits to -32767..32767. Values beyond the int range (a huge volume)
// are clipped before any conversion; NaN gives 0.
int16_t ClipSample(double value) {
  if (value >= kSampleLimit) return kSampleLimit;
  if (value <= -kSampleLimit) return -kSampleLimit;
  if (std::isnan(value)) return 0;
  return static_cast<int16_t>(static_cast<int>(value));
}

// The amplitude at which the tone is as loud as the block would be as clear speech (doubled and
// clipped): a half-wave rectified sine of amplitude A has the RMS level A / 2, so A is twice the
// RMS level of the doubled block, within the clip range.
int ToneAmplitude(const int16_t* samples, int count) {
  int64_t sumOfSquares = 0;
  for (int i = 0; i < count; ++i) {
    int64_t clear = std::clamp<int64_t>(2 * static_cast<int64_t>(samples[i]), -kSampleLimit, kSampleLimit);
    sumOfSquares += clear * clear;
  }
  double level = std::sqrt(static_cast<double>(sumOfSquares) / count);
  return static_cast<int>(std::min(2.0 * level, static_cast<double>(kSampleLimit)));
}

// One sample of the tone: a sine of digit x 440 Hz at sample index i, negative half cut to 0.
int16_t ToneSample(int index, int digit, int amplitude) {
  if (digit == 0) return 0;
  double value = std::sin(index / (kToneRateHz / (digit * kToneStepHz * kToneTwoPi))) * amplitude;
  int truncated = static_cast<int>(value);
  return static_cast<int16_t>(truncated < 0 ? 0 : truncated);
}

// A row value 0..(range / 5 - 1), range / 5 in unsigned division (8192 gives 0..1637).
int32_t NextRowValue(int32_t range) {
  uint32_t rowRange = static_cast<uint32_t>(range) / 5;
  uint32_t value = static_cast<uint32_t>(RadioNoiseRandom());
  return rowRange == 0 ? 0 : static_cast<int32_t>(value % rowRange);
}

// Adds radio noise sample by sample: out = trunc(trunc(noise * noiseShare * 0.75) + out * voiceShare).
void MixRadioNoise(int16_t* samples, int count, float gain) {
  RadioNoiseState noise = MakeRadioNoiseState();
  double noiseShare = gain / kGainLimitInMix;
  double voiceShare = static_cast<float>(kGainLimit - gain) / kGainLimitInMix;
  for (int i = 0; i < count; ++i) {
    int16_t z = NextRadioNoise(noise);
    int noiseTerm = static_cast<int>(z * noiseShare * kNoiseWeight);
    samples[i] = ClipSample(noiseTerm + samples[i] * voiceShare);
  }
}

}  // namespace

int RadioNoiseRandom() {
  thread_local uint32_t seed = 1;
  seed = seed * 214013u + 2531011u;
  return static_cast<int>((seed >> 16) & 0x7FFF);
}

RadioNoiseState MakeRadioNoiseState() {
  RadioNoiseState state;
  for (int32_t& row : state.rows) row = NextRowValue(state.range);
  return state;
}

int16_t NextRadioNoise(RadioNoiseState& state) {
  int32_t old = state.counter;
  state.counter = old + 1 > state.limit ? 0 : old + 1;
  int32_t changed = old ^ state.counter;
  int32_t sum = 0;
  for (int k = 0; k < 5; ++k) {
    if ((changed >> k) & 1) state.rows[k] = NextRowValue(state.range);
    sum += state.rows[k];
  }
  if (state.signToggle == 0) {
    state.signToggle = 1;
    return static_cast<int16_t>(-sum);
  }
  state.signToggle = 0;
  return static_cast<int16_t>(sum);
}

float LowPassAlpha(float cutoffHz, float sampleRateHz) {
  float dt = static_cast<float>(1.0 / static_cast<double>(sampleRateHz));
  float corner = cutoffHz * 2.0f;
  float rc = static_cast<float>(1.0 / (static_cast<double>(corner) * kFilterPi));
  return dt / (rc + dt);
}

// Each output lies between the input and the previous output, so it needs no clip, and working in
// place is safe: x[i] is read before y[i] replaces it.
void LowPassFilter(int16_t* samples, int count, float cutoffHz, float sampleRateHz) {
  if (IsEmptyBlock(samples, count)) return;
  float alpha = LowPassAlpha(cutoffHz, sampleRateHz);
  int previous = samples[0];
  for (int i = 1; i < count; ++i) {
    float difference = static_cast<float>(samples[i] - previous);
    float filtered = difference * alpha + static_cast<float>(previous);
    previous = static_cast<int>(filtered);
    samples[i] = static_cast<int16_t>(previous);
  }
}

void ScaleSamples(int16_t* out, const int16_t* in, int count, float factor) {
  if (IsEmptyBlock(out, count) || in == nullptr) return;
  for (int i = 0; i < count; ++i) {
    float scaled = static_cast<float>(in[i]) * factor;
    out[i] = ClipSample(scaled);
  }
}

void MakeEncryptionTone(int16_t* samples, int count, int32_t cryptoKey) {
  if (IsEmptyBlock(samples, count)) return;
  char digits[8];
  int length = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(cryptoKey & 1023));
  int amplitude = ToneAmplitude(samples, count);

  samples[0] = 0;
  int digitIndex = 0;
  int digitCounter = 0;
  for (int i = 1; i < count; ++i) {
    if (digitIndex == length) digitIndex = 0;
    samples[i] = ToneSample(i, digits[digitIndex] - '0', amplitude);
    if (digitCounter == kToneDigitSamples) {
      digitCounter = 0;
      ++digitIndex;
    }
    ++digitCounter;
  }
}

void SamplesByHCVolumes(int16_t* out, const int16_t* in, int count, int localRadio,
                        const RadioVolumes& volumes, Clog* log) {
  if (IsEmptyBlock(out, count) || in == nullptr) return;
  if (log != nullptr && log->Detailed()) {
    log->Write("SamplesByHCVolumes",
               Format(" Radio #%d / Volume (1=%d , 2=%d , 3=%d) ", localRadio, volumes.volume1,
                      volumes.volume2, volumes.volume3),
               5);
  }
  int32_t volume = 0;
  switch (localRadio) {
    case 1:
      volume = volumes.volume1;
      break;
    case 2:
      volume = volumes.volume2;
      break;
    case 3:
      volume = volumes.volume3;
      break;
    default:
      if (out != in) std::memmove(out, in, static_cast<size_t>(count) * sizeof(int16_t));
      return;
  }
  ScaleSamples(out, in, count, static_cast<float>(volume / 100.0));
}

// The whole treatment runs in place on the host's block: every step reads a sample before it
// writes it, so no scratch copy is needed and nothing outlives the call.
void TreatVoiceBlock(int16_t* samples, int count, float gain, bool encrypted, int32_t cryptoKey,
                     int localRadio, const RadioVolumes& volumes, Clog* log) {
  if (IsEmptyBlock(samples, count)) return;
  if (!(gain < kGainLimit)) return;
  if (gain < 0.0f) gain = 0.0f;

  LowPassFilter(samples, count, kVoiceCutoffHz, kVoiceSampleRateHz);
  if (encrypted) {
    MakeEncryptionTone(samples, count, cryptoKey);
  } else {
    ScaleSamples(samples, samples, count, kClearLevelFactor);
  }
  MixRadioNoise(samples, count, gain);
  SamplesByHCVolumes(samples, samples, count, localRadio, volumes, log);
}

}  // namespace halcyra
