// WAV files: reading a mono 16-bit PCM voice, resampling it, and writing the stereo result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halcyra::sim {

inline constexpr int kOutputRate = 48000;  // Hz, the host's voice rate

struct MonoAudio {
  int sampleRate = 0;  // Hz
  std::vector<int16_t> samples;
};

// Reads a RIFF/WAVE file holding mono 16-bit PCM at any rate from 1000 to 192000 Hz. Anything else
// gives nothing and an error saying what the file holds, e.g. "voice.wav: 2 channels; the voice must
// be mono 16-bit PCM". A data chunk whose stated size runs past the end of the file (as streaming
// writers leave it) is read up to the end.
std::optional<MonoAudio> ReadMonoWav(const std::string& path, std::string* error);
std::optional<MonoAudio> ParseMonoWav(const std::string& bytes, const std::string& name, std::string* error);

// Band-limited resampling (windowed sinc) from one rate to another.
std::vector<int16_t> Resample(const std::vector<int16_t>& samples, int fromRate, int toRate);

// Writes interleaved left/right 16-bit samples as a stereo PCM WAV file. False with error on failure.
bool WriteStereoWav(const std::string& path, const std::vector<int16_t>& interleaved, int sampleRate,
                    std::string* error);

}  // namespace halcyra::sim
