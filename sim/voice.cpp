#include "voice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "child_process.h"
#include "wav.h"

namespace halcyra::sim {
namespace {

constexpr int kVoicePeak = 10000;  // leaves room for the plug-in's doubling and its radio noise
constexpr double kPi = 3.14159265358979323846;
constexpr int kSpeechTimeoutMs = 30000;

struct Vowel {
  double f1, f2, f3;  // formant frequencies, Hz
};
constexpr Vowel kVowels[] = {
    {730, 1090, 2440}, {270, 2290, 3010}, {300, 870, 2240}, {530, 1840, 2480}, {570, 840, 2410}};

// Two-pole resonator at a frequency with a bandwidth, unity gain at its peak (roughly).
class Resonator {
 public:
  Resonator(double frequency, double bandwidth) {
    double r = std::exp(-kPi * bandwidth / kOutputRate);
    a1_ = 2 * r * std::cos(2 * kPi * frequency / kOutputRate);
    a2_ = -r * r;
    gain_ = 1 - r;
  }
  double Step(double x) {
    double y = gain_ * x + a1_ * y1_ + a2_ * y2_;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

 private:
  double a1_ = 0, a2_ = 0, gain_ = 0, y1_ = 0, y2_ = 0;
};

void AppendSyllable(std::vector<double>& out, const Vowel& vowel, double pitch, double seconds) {
  Resonator r1(vowel.f1, 90), r2(vowel.f2, 110), r3(vowel.f3, 160);
  int count = static_cast<int>(seconds * kOutputRate);
  double phase = 0;
  for (int i = 0; i < count; ++i) {
    double progress = static_cast<double>(i) / count;
    double f0 = pitch * (1.08 - 0.16 * progress);  // falling intonation
    phase += f0 / kOutputRate;
    double pulse = 0;
    if (phase >= 1) {
      phase -= 1;
      pulse = 1;
    }
    double envelope = std::sin(kPi * progress);
    double x = pulse * envelope;
    out.push_back(r1.Step(x) * 1.0 + r2.Step(x) * 0.6 + r3.Step(x) * 0.3);
  }
}

std::vector<int16_t> ToSamples(const std::vector<double>& signal) {
  double peak = 0;
  for (double v : signal) peak = std::max(peak, std::fabs(v));
  std::vector<int16_t> samples(signal.size());
  for (size_t i = 0; i < signal.size(); ++i) {
    samples[i] = static_cast<int16_t>(peak > 0 ? std::lround(signal[i] / peak * kVoicePeak) : 0);
  }
  return samples;
}

std::optional<VoiceClip> ClipFromFile(const std::string& path, std::string* error) {
  std::optional<MonoAudio> audio = ReadMonoWav(path, error);
  if (!audio) return std::nullopt;
  VoiceClip clip{Resample(audio->samples, audio->sampleRate, kOutputRate)};
  NormalizePeak(clip.samples, kVoicePeak);
  return clip;
}

std::optional<VoiceClip> Speak(const std::string& text, const std::string& file, std::string* error) {
  testing::ChildProcess speaker("espeak-ng", {"-w", file, "-s", "165", text}, file + ".out");
  if (!speaker.started()) {
    *error = speaker.error();
    return std::nullopt;
  }
  std::optional<int> code = speaker.WaitForExit(kSpeechTimeoutMs);
  if (!code || *code != 0) {
    *error = code ? "espeak-ng failed (exit code " + std::to_string(*code) + ")" : "espeak-ng did not finish";
    return std::nullopt;
  }
  return ClipFromFile(file, error);
}

}  // namespace

void NormalizePeak(std::vector<int16_t>& samples, int peak) {
  int largest = 0;
  for (int16_t s : samples) largest = std::max(largest, std::abs(static_cast<int>(s)));
  if (largest == 0) return;
  double scale = static_cast<double>(peak) / largest;
  for (int16_t& s : samples) s = static_cast<int16_t>(std::clamp(std::lround(s * scale), -32767L, 32767L));
}

std::vector<int16_t> SyntheticVoice(int variant) {
  // Syllable vowels and lengths of a short call, like "two, ops normal".
  static constexpr int kPattern[] = {0, 3, 4, 1, 2, 0, 4};
  static constexpr double kLengths[] = {0.22, 0.18, 0.25, 0.16, 0.2, 0.24, 0.3};
  double pitch = 110 + 18 * (variant % 5);
  std::vector<double> signal;
  for (size_t s = 0; s < std::size(kPattern); ++s) {
    AppendSyllable(signal, kVowels[(kPattern[s] + variant) % std::size(kVowels)], pitch, kLengths[s]);
    double gap = (s == 1 || s == 4) ? 0.15 : 0.05;  // word breaks are longer
    signal.insert(signal.end(), static_cast<size_t>(gap * kOutputRate), 0.0);
  }
  return ToSamples(signal);
}

std::optional<VoiceSet> MakeVoices(const std::string& source, const std::vector<std::string>& texts,
                                   const std::string& workFolder, std::string* error) {
  VoiceSet set;
  if (!source.empty() && source != "espeak" && source != "synthetic") {
    std::optional<VoiceClip> clip = ClipFromFile(source, error);
    if (!clip) return std::nullopt;
    set.clips.assign(texts.size(), *clip);
    set.source = source;
    return set;
  }
  if (source != "synthetic") {
    std::string problem;
    for (size_t i = 0; i < texts.size(); ++i) {
      std::optional<VoiceClip> clip =
          Speak(texts[i], workFolder + "/call-" + std::to_string(i) + ".wav", &problem);
      if (!clip) break;
      set.clips.push_back(*clip);
    }
    if (set.clips.size() == texts.size()) {
      set.source = "espeak-ng";
      return set;
    }
    if (source == "espeak") {
      *error = "the speech synthesiser cannot be used: " + problem;
      return std::nullopt;
    }
    set.clips.clear();
    set.note = "espeak-ng is not usable (" + problem + "), so the built-in synthetic voice talks";
  }
  for (size_t i = 0; i < texts.size(); ++i) set.clips.push_back({SyntheticVoice(static_cast<int>(i))});
  set.source = "synthetic";
  return set;
}

}  // namespace halcyra::sim
