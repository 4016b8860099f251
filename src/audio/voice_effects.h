// Voice effects: the sample processing that makes a received voice sound like a radio.
//
// Samples are signed 16-bit at 48000 Hz; every clip limits to -32767..32767 (never -32768). A block
// is edited in place and nothing of the sound is kept between blocks. No function here allocates,
// but TreatInterleavedVoiceBlock for a block of more than 4096 frames. Every function treats a null
// buffer or a count of 0 or less as an empty block and edits nothing.
//
// The arithmetic keeps the precision of each step as noted (float or double): the results are
// compared sample for sample, so a "simpler" expression is a different sound. Faster loops that
// reorder the work keep every step's arithmetic as it is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/radio_noise.h"
#include "foundation/log.h"

namespace halcyra {

inline constexpr float kVoiceSampleRateHz = 48000.0f;
inline constexpr float kVoiceCutoffHz = 3000.0f;  // low-pass corner of the receiver
inline constexpr float kGainLimit = 20.0f;        // gain at which a talker can no longer be received
inline constexpr int kSampleLimit = 32767;        // clip bound, both signs
inline constexpr int kToneDigitSamples = 256;     // length of one digit of the encryption tone

// Volumes of the three local radios in percent (100 = unchanged, 200 = doubled).
struct RadioVolumes {
  int32_t volume1 = 100;
  int32_t volume2 = 100;
  int32_t volume3 = 100;
};

// alpha of the one-pole low-pass for a corner frequency and sample rate, both in Hz (float steps
// as the filter uses them): 0.28197 for 3000 Hz at 48000 Hz.
float LowPassAlpha(float cutoffHz, float sampleRateHz);

// One-pole low-pass in place: y[0] = x[0], y[i] = trunc((x[i] - y[i-1]) * alpha + y[i-1]).
void LowPassFilter(int16_t* samples, int count, float cutoffHz, float sampleRateHz);

// out[i] = in[i] * factor in float, truncated toward zero and clipped. out may equal in.
void ScaleSamples(int16_t* out, const int16_t* in, int count, float factor);

// Replaces the block by the encryption tone of cryptoKey: the decimal digits of (cryptoKey & 1023)
// in turn, each a half-wave rectified sine of digit x 440 Hz (0 = silence), the first digit for
// samples 1..257 and every later one for 256 samples, repeating; sample 0 is 0. The amplitude makes
// each sounding digit as loud (RMS) as the block would be as clear speech, doubled and clipped:
// twice that level, at most 32767.
void MakeEncryptionTone(int16_t* samples, int count, int32_t cryptoKey);

// Writes in to out scaled by the volume of local radio 1..3 (volume / 100); any other radio copies
// in unchanged. With a log at LOGLEVEL >= 3 it writes the radio and the three volumes (level 5).
// out may equal in.
void SamplesByHCVolumes(int16_t* out, const int16_t* in, int count, int localRadio,
                        const RadioVolumes& volumes, Clog* log);

// Treats one block of a received talker in place: low-pass, then doubled (clear) or replaced by
// the tone of cryptoKey (encrypted), mixed with radio noise in the share gain / 20, and scaled by
// the volume of localRadio. gain is 0 (perfect) up to kGainLimit; at or above the limit (or NaN)
// the block is left as it came, and a gain below 0 counts as 0.
void TreatVoiceBlock(int16_t* samples, int count, float gain, bool encrypted, int32_t cryptoKey,
                     int localRadio, const RadioVolumes& volumes, Clog* log);

// Samples in a block of frames frames of channels interleaved samples each (1 mono, 2 stereo, ...);
// 0 when either count is below 1.
[[nodiscard]] size_t InterleavedSampleCount(int frames, int channels);

// TreatVoiceBlock for a block of frames frames of channels interleaved samples: every channel is
// treated as a mono block of its own (its own filter, tone and noise), and a mono block exactly as
// TreatVoiceBlock treats it. The volume is logged once per block. Where the scratch space for a
// channel cannot be had, the whole block is silenced rather than left as plain speech. channels
// below 1 edits nothing.
void TreatInterleavedVoiceBlock(int16_t* samples, int frames, int channels, float gain, bool encrypted,
                                int32_t cryptoKey, int localRadio, const RadioVolumes& volumes, Clog* log);

}  // namespace halcyra
