#include "wav.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace halcyra::sim {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr double kPi = 3.14159265358979323846;

uint32_t Read32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}
uint16_t Read16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}
void Put32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
void Put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value));
  out.push_back(static_cast<char>(value >> 8));
}

struct Format {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
};

std::string Describe(const Format& format) {
  if (format.channels != 1) return std::to_string(format.channels) + " channels";
  if (format.tag == kFormatFloat) return std::to_string(format.bits) + "-bit floating-point samples";
  if (format.tag != kFormatPcm) return "sample format " + std::to_string(format.tag) + " (compressed)";
  return std::to_string(format.bits) + "-bit samples";
}

double Sinc(double x) { return x == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

}  // namespace

std::optional<MonoAudio> ParseMonoWav(const std::string& bytes, const std::string& name, std::string* error) {
  auto fail = [&](const std::string& problem) {
    *error = name + ": " + problem;
    return std::nullopt;
  };
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
    return fail("not a WAV file (no RIFF/WAVE header)");
  }
  std::optional<Format> format;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    std::string id = bytes.substr(at, 4);
    uint32_t size = Read32(bytes, at + 4);
    size_t body = at + 8;
    if (id == "fmt ") {
      if (size < 16 || body + 16 > bytes.size()) return fail("the format chunk is cut short");
      Format f{Read16(bytes, body), Read16(bytes, body + 2), Read32(bytes, body + 4),
               Read16(bytes, body + 14)};
      if (f.tag == kFormatExtensible && size >= 26 && body + 26 <= bytes.size())
        f.tag = Read16(bytes, body + 24);
      format = f;
    } else if (id == "data") {
      if (!format) return fail("the data chunk comes before the format chunk");
      if (format->tag != kFormatPcm || format->channels != 1 || format->bits != 16) {
        return fail(Describe(*format) + "; the voice must be mono 16-bit PCM");
      }
      if (format->rate < 1000 || format->rate > 192000) {
        return fail("sample rate " + std::to_string(format->rate) + " Hz is not usable");
      }
      size_t available = std::min<size_t>(size, bytes.size() - body) / 2;
      if (available == 0) return fail("holds no samples");
      MonoAudio audio;
      audio.sampleRate = static_cast<int>(format->rate);
      audio.samples.resize(available);
      for (size_t i = 0; i < available; ++i)
        audio.samples[i] = static_cast<int16_t>(Read16(bytes, body + 2 * i));
      return audio;
    }
    at = body + size + (size & 1);
  }
  return fail(format ? "no data chunk" : "no format chunk");
}

std::optional<MonoAudio> ReadMonoWav(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = path + ": cannot be read (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    *error = path + ": cannot be read";
    return std::nullopt;
  }
  return ParseMonoWav(bytes, path, error);
}

std::vector<int16_t> Resample(const std::vector<int16_t>& samples, int fromRate, int toRate) {
  if (fromRate == toRate || samples.empty() || fromRate <= 0 || toRate <= 0) return samples;
  constexpr int kHalfTaps = 16;
  double ratio = static_cast<double>(toRate) / fromRate;
  double cutoff = std::min(1.0, ratio);  // of the input's Nyquist frequency
  size_t count = static_cast<size_t>(std::floor(samples.size() * ratio));
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    double centre = i / ratio;
    long first = static_cast<long>(std::floor(centre)) - kHalfTaps + 1;
    double sum = 0;
    for (long k = first; k < first + 2 * kHalfTaps; ++k) {
      if (k < 0 || k >= static_cast<long>(samples.size())) continue;
      double x = centre - k;
      double window = 0.5 + 0.5 * std::cos(kPi * x / kHalfTaps);  // Hann
      sum += samples[static_cast<size_t>(k)] * cutoff * Sinc(cutoff * x) * window;
    }
    out[i] = static_cast<int16_t>(std::clamp(std::lround(sum), -32767L, 32767L));
  }
  return out;
}

bool WriteStereoWav(const std::string& path, const std::vector<int16_t>& interleaved, int sampleRate,
                    std::string* error) {
  uint32_t dataBytes = static_cast<uint32_t>(interleaved.size() * 2);
  std::string header = "RIFF";
  Put32(header, 36 + dataBytes);
  header += "WAVEfmt ";
  Put32(header, 16);
  Put16(header, kFormatPcm);
  Put16(header, 2);
  Put32(header, static_cast<uint32_t>(sampleRate));
  Put32(header, static_cast<uint32_t>(sampleRate) * 4);
  Put16(header, 4);
  Put16(header, 16);
  header += "data";
  Put32(header, dataBytes);
  std::string body;
  body.reserve(dataBytes);
  for (int16_t sample : interleaved) Put16(body, static_cast<uint16_t>(sample));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << header << body;
  file.close();
  if (!file) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace halcyra::sim
