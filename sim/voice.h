// The voices the remote pilots talk with, as 48 kHz mono clips: a WAV file given by the user, a
// radio call spoken by espeak-ng when it is installed, or a built-in synthetic voice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halcyra::sim {

struct VoiceClip {
  std::vector<int16_t> samples;  // 48 kHz mono, peak normalised
};

struct VoiceSet {
  std::vector<VoiceClip> clips;  // one per remote pilot, in scenario order
  std::string source;            // what was used, for the output: "voice.wav", "espeak-ng", "synthetic"
  std::string note;              // why the preferred source was not used; empty when it was
};

// source: a path to a WAV file, "espeak" (espeak-ng or fail), "synthetic", or empty (espeak-ng
// when it can be run, else the synthetic voice). texts are the calls of the remote pilots;
// workFolder receives the speech files. Nothing with error set when the voice cannot be had.
std::optional<VoiceSet> MakeVoices(const std::string& source, const std::vector<std::string>& texts,
                                   const std::string& workFolder, std::string* error);

// A speech-like clip of about two seconds: voiced syllables with vowel formants below 3 kHz at a
// pitch that differs with variant (0, 1, 2, ...). The same variant gives the same samples.
std::vector<int16_t> SyntheticVoice(int variant);

// Scales the clip so that its largest magnitude is peak (a silent clip stays silent).
void NormalizePeak(std::vector<int16_t>& samples, int peak);

}  // namespace halcyra::sim
