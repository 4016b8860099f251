#include "audio/voice_effects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/format.h"

namespace halcyra {
namespace {

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

// sin(i / (48000 / (digit x 440 x 2 pi))): the tone's sine of a digit at sample index i.
double ToneSine(int index, int digit) {
  return std::sin(index / (kToneRateHz / (digit * kToneStepHz * kToneTwoPi)));
}

// The tone's sines of the digits 1..9 for the first samples of a block, where every block starts
// its tone: made once, at the first encrypted block.
class ToneSines {
 public:
  static constexpr int kSamples = 2048;
  static const ToneSines& Get() {
    static const ToneSines sines;
    return sines;
  }
  double At(int index, int digit) const {
    return index < kSamples ? values_[digit - 1][index] : ToneSine(index, digit);
  }

 private:
  ToneSines() {
    for (int digit = 1; digit <= 9; ++digit) {
      for (int i = 0; i < kSamples; ++i) values_[digit - 1][i] = ToneSine(i, digit);
    }
  }
  double values_[9][kSamples];
};

// Samples [first, end) of the tone sound the digit: a half-wave rectified sine (0 for the digit 0).
void WriteToneStretch(int16_t* samples, int first, int end, int digit, int amplitude) {
  if (digit == 0) {
    std::fill(samples + first, samples + end, static_cast<int16_t>(0));
    return;
  }
  const ToneSines& sines = ToneSines::Get();
  for (int i = first; i < end; ++i) {
    int truncated = static_cast<int>(sines.At(i, digit) * amplitude);
    samples[i] = static_cast<int16_t>(truncated < 0 ? 0 : truncated);
  }
}

// The clip of ClipSample for a value already truncated to a whole number (vector units clip whole
// numbers more cheaply than floating ones). Truncating first gives the same sample wherever the
// value lies within the int range.
int16_t ClipWhole(int value) {
  value = value < -kSampleLimit ? -kSampleLimit : value;
  value = kSampleLimit < value ? kSampleLimit : value;
  return static_cast<int16_t>(value);
}

// Adds radio noise sample by sample: out = trunc(trunc(noise * noiseShare * 0.75) + out * voiceShare),
// clipped. With 0 <= gain < 20 and samples within the clip range every mixed value stays below 40000
// in magnitude, so it may be truncated before the clip. Where even the loudest noise value would
// give a term below one, every term is 0: the noise source then only moves on as if the values had
// been made.
void MixRadioNoise(int16_t* samples, int count, float gain) {
  double noiseShare = gain / kGainLimitInMix;
  double voiceShare = static_cast<float>(kGainLimit - gain) / kGainLimitInMix;
  if (kRadioNoiseMaxMagnitude * noiseShare * kNoiseWeight < 0.5) {
    RadioNoiseBlock::Skip(count);
    if (voiceShare == 1.0) return;  // samples already lie within the clip range
    for (int i = 0; i < count; ++i) samples[i] = ClipWhole(static_cast<int>(samples[i] * voiceShare));
    return;
  }
  RadioNoiseBlock source;
  int16_t noise[RadioNoiseBlock::kMaxStretch];
  for (int first = 0; first < count; first += RadioNoiseBlock::kMaxStretch) {
    int n = std::min(RadioNoiseBlock::kMaxStretch, count - first);
    source.Fill(noise, n);
    int16_t* out = samples + first;
    for (int i = 0; i < n; ++i) {
      int noiseTerm = static_cast<int>(noise[i] * noiseShare * kNoiseWeight);
      out[i] = ClipWhole(static_cast<int>(noiseTerm + out[i] * voiceShare));
    }
  }
}

}  // namespace

void ScaleSamples(int16_t* out, const int16_t* in, int count, float factor) {
  if (IsEmptyBlock(out, count) || in == nullptr) return;
  constexpr float kLargestWholeFactor = 65535.0f;  // 32768 x 65535 still fits an int
  if (!(std::fabs(factor) <= kLargestWholeFactor)) {
    for (int i = 0; i < count; ++i) out[i] = ClipSample(static_cast<float>(in[i]) * factor);
    return;
  }
  for (int i = 0; i < count; ++i) out[i] = ClipWhole(static_cast<int>(static_cast<float>(in[i]) * factor));
}

void MakeEncryptionTone(int16_t* samples, int count, int32_t cryptoKey) {
  if (IsEmptyBlock(samples, count)) return;
  char digits[8];
  int length = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(cryptoKey & 1023));
  int amplitude = ToneAmplitude(samples, count);

  // Sample 0 is 0; the first digit sounds for samples 1..257, every later one for 256 samples.
  samples[0] = 0;
  int digitIndex = 0;
  int stretch = kToneDigitSamples + 1;
  for (int first = 1; first < count; first += stretch, stretch = kToneDigitSamples) {
    WriteToneStretch(samples, first, std::min(count, first + stretch), digits[digitIndex] - '0', amplitude);
    digitIndex = (digitIndex + 1) % length;
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

size_t InterleavedSampleCount(int frames, int channels) {
  if (frames < 1 || channels < 1) return 0;
  return static_cast<size_t>(frames) * static_cast<size_t>(channels);
}

// A channel other than the only one is copied out of the interleaved block into scratch space,
// treated there and copied back. The space is on the stack for blocks of up to kStackFrames frames
// (the host's blocks are 20 ms: 960 frames), so the voice path allocates nothing; a longer block
// takes it from the heap for the call. (A thread_local buffer would outlive a library the host has
// unloaded on the host's own playback thread.)
void TreatInterleavedVoiceBlock(int16_t* samples, int frames, int channels, float gain, bool encrypted,
                                int32_t cryptoKey, int localRadio, const RadioVolumes& volumes, Clog* log) {
  size_t total = InterleavedSampleCount(frames, channels);
  if (samples == nullptr || total == 0) return;
  if (channels == 1) {
    TreatVoiceBlock(samples, frames, gain, encrypted, cryptoKey, localRadio, volumes, log);
    return;
  }
  if (!(gain < kGainLimit)) return;
  constexpr int kStackFrames = 4096;
  int16_t onStack[kStackFrames];
  std::vector<int16_t> onHeap;
  int16_t* channel = onStack;
  if (frames > kStackFrames) {
    try {
      onHeap.resize(static_cast<size_t>(frames));
    } catch (const std::bad_alloc&) {
      std::fill_n(samples, total, static_cast<int16_t>(0));
      return;
    }
    channel = onHeap.data();
  }
  const size_t stride = static_cast<size_t>(channels);
  for (size_t c = 0; c < stride; ++c) {
    const int16_t* in = samples + c;
    for (int i = 0; i < frames; ++i, in += stride) channel[i] = *in;
    TreatVoiceBlock(channel, frames, gain, encrypted, cryptoKey, localRadio, volumes, c == 0 ? log : nullptr);
    int16_t* out = samples + c;
    for (int i = 0; i < frames; ++i, out += stride) *out = channel[i];
  }
}

}  // namespace halcyra
