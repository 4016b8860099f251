// Reading the voice file, resampling it, and writing the stereo output.
#include "wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "temp_dir.h"
#include "voice.h"

namespace halcyra::sim {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}

// A WAV file with the given format fields and data bytes; statedDataSize overrides the data size.
std::string WavBytes(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data,
                     int64_t statedDataSize = -1) {
  std::string bytes = "RIFF";
  Put32(bytes, static_cast<uint32_t>(36 + data.size()));
  bytes += "WAVEfmt ";
  Put32(bytes, 16);
  Put16(bytes, tag);
  Put16(bytes, channels);
  Put32(bytes, rate);
  Put32(bytes, rate * channels * bits / 8);
  Put16(bytes, static_cast<uint16_t>(channels * bits / 8));
  Put16(bytes, bits);
  bytes += "LIST";  // a chunk readers must skip
  Put32(bytes, 3);
  bytes += std::string("abc") + '\0';
  bytes += "data";
  Put32(bytes,
        statedDataSize < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(statedDataSize));
  return bytes + data;
}

std::string Samples(const std::vector<int16_t>& samples) {
  std::string data;
  for (int16_t s : samples) Put16(data, static_cast<uint16_t>(s));
  return data;
}

std::vector<int16_t> Tone(double frequency, int rate, int count) {
  std::vector<int16_t> samples(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * frequency * i / rate));
  return samples;
}

// Power of one frequency in a signal (Goertzel), normalised by the length.
double PowerAt(const std::vector<int16_t>& samples, double frequency, int rate) {
  double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
  double s1 = 0, s2 = 0;
  for (int16_t x : samples) {
    double s = x + coefficient * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  return (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / (static_cast<double>(samples.size()) * samples.size());
}

TEST(VoiceFile, ReadsMonoSixteenBitAtItsRate) {
  std::string error;
  auto audio = ParseMonoWav(WavBytes(1, 1, 22050, 16, Samples({1, -2, 300, -32768})), "v.wav", &error);
  ASSERT_TRUE(audio) << error;
  EXPECT_EQ(22050, audio->sampleRate);
  EXPECT_EQ((std::vector<int16_t>{1, -2, 300, -32768}), audio->samples);
}

TEST(VoiceFile, DataSizeRunningPastTheEndReadsWhatIsThere) {
  std::string error;
  auto audio = ParseMonoWav(WavBytes(1, 1, 16000, 16, Samples({5, 6, 7}), 0x7FFFFFFF), "v.wav", &error);
  ASSERT_TRUE(audio) << error;
  EXPECT_EQ((std::vector<int16_t>{5, 6, 7}), audio->samples);
}

TEST(VoiceFile, WrongSampleFormatsAreRefusedWithWhatTheyHold) {
  std::string error;
  EXPECT_FALSE(ParseMonoWav(WavBytes(1, 2, 48000, 16, Samples({1, 2})), "stereo.wav", &error));
  EXPECT_EQ("stereo.wav: 2 channels; the voice must be mono 16-bit PCM", error);
  EXPECT_FALSE(ParseMonoWav(WavBytes(1, 1, 48000, 8, "\x10\x20"), "byte.wav", &error));
  EXPECT_EQ("byte.wav: 8-bit samples; the voice must be mono 16-bit PCM", error);
  EXPECT_FALSE(ParseMonoWav(WavBytes(3, 1, 48000, 32, std::string(8, '\0')), "float.wav", &error));
  EXPECT_EQ("float.wav: 32-bit floating-point samples; the voice must be mono 16-bit PCM", error);
  EXPECT_FALSE(ParseMonoWav(WavBytes(0x55, 1, 48000, 16, std::string(8, '\0')), "mp3.wav", &error));
  EXPECT_NE(std::string::npos, error.find("compressed"));
  EXPECT_FALSE(ParseMonoWav(WavBytes(1, 1, 100, 16, Samples({1})), "slow.wav", &error));
  EXPECT_NE(std::string::npos, error.find("100 Hz"));
}

TEST(VoiceFile, UnreadableFilesSaySo) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(ReadMonoWav((dir / "missing.wav").string(), &error));
  EXPECT_NE(std::string::npos, error.find("missing.wav: cannot be read"));

  WriteFile(dir / "text.wav", "just some text, no header at all");
  EXPECT_FALSE(ReadMonoWav((dir / "text.wav").string(), &error));
  EXPECT_NE(std::string::npos, error.find("text.wav: not a WAV file"));

  std::string cut = WavBytes(1, 1, 48000, 16, Samples({1, 2})).substr(0, 30);
  EXPECT_FALSE(ParseMonoWav(cut, "cut.wav", &error));
  EXPECT_EQ("cut.wav: the format chunk is cut short", error);
  EXPECT_FALSE(ParseMonoWav(WavBytes(1, 1, 48000, 16, ""), "empty.wav", &error));
  EXPECT_EQ("empty.wav: holds no samples", error);

  std::string voiceError;
  EXPECT_FALSE(MakeVoices((dir / "text.wav").string(), {"call"}, dir.path().string(), &voiceError));
  EXPECT_NE(std::string::npos, voiceError.find("not a WAV file"));
}

TEST(VoiceFile, ResamplingKeepsThePitchAndTheLength) {
  std::vector<int16_t> tone = Tone(1000, 22050, 22050);
  std::vector<int16_t> resampled = Resample(tone, 22050, 48000);
  EXPECT_NEAR(48000, static_cast<double>(resampled.size()), 1);
  double at1000 = PowerAt(resampled, 1000, 48000);
  EXPECT_GT(at1000, 100 * PowerAt(resampled, 1500, 48000));
  EXPECT_GT(at1000, 100 * PowerAt(resampled, 21050, 48000));  // no image of the old rate
  EXPECT_NEAR(8000.0 * 8000 / 4, at1000, 8000.0 * 8000 / 4 * 0.1);
}

TEST(VoiceFile, FileVoiceIsResampledAndNormalisedForEveryPilot) {
  TempDir dir;
  WriteFile(dir / "call.wav", WavBytes(1, 1, 24000, 16, Samples(Tone(500, 24000, 12000))));
  std::string error;
  auto voices = MakeVoices((dir / "call.wav").string(), {"a", "b"}, dir.path().string(), &error);
  ASSERT_TRUE(voices) << error;
  ASSERT_EQ(2u, voices->clips.size());
  EXPECT_NEAR(24000, static_cast<double>(voices->clips[0].samples.size()), 1);
  int peak = 0;
  for (int16_t s : voices->clips[1].samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_EQ(10000, peak);
}

TEST(VoiceFile, SyntheticVoiceIsSpeechLikeAndRepeatable) {
  std::vector<int16_t> voice = SyntheticVoice(0);
  EXPECT_EQ(voice, SyntheticVoice(0));
  EXPECT_NE(voice, SyntheticVoice(1));
  EXPECT_GT(voice.size(), 48000u);
  EXPECT_LT(voice.size(), 48000u * 4);
  // Its energy lies below the radio's 3 kHz low-pass.
  double low = 0, high = 0;
  for (double f = 100; f < 3000; f += 50) low += PowerAt(voice, f, 48000);
  for (double f = 6000; f < 12000; f += 50) high += PowerAt(voice, f, 48000);
  EXPECT_GT(low, 20 * high);
}

TEST(StereoOutput, WritesAPlayableHeaderAndTheSamples) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteStereoWav((dir / "out.wav").string(), {1, -1, 32767, -32767}, 48000, &error)) << error;
  std::string bytes = ReadFile(dir / "out.wav");
  ASSERT_EQ(44u + 8u, bytes.size());
  EXPECT_EQ(0, bytes.compare(0, 4, "RIFF"));
  EXPECT_EQ(0, bytes.compare(36, 4, "data"));
  EXPECT_EQ(2, bytes[22]);       // channels
  EXPECT_EQ('\x80', bytes[24]);  // 48000 = 0xBB80
  EXPECT_EQ('\xBB', bytes[25]);
  EXPECT_EQ(8, static_cast<unsigned char>(bytes[40]));  // data bytes
  EXPECT_EQ('\xFF', bytes[46]);                         // -1
  EXPECT_FALSE(WriteStereoWav((dir / "no-such-folder" / "out.wav").string(), {0, 0}, 48000, &error));
}

}  // namespace
}  // namespace halcyra::sim
