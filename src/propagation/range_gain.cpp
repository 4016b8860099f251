// Range and gain: how well a talker within frequency is received, from his radio class, the
// altitude difference, the transmitting frequency, the great-circle distance and the terrain.
#include "propagation/range_gain.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "foundation/format.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "station/record_text.h"

namespace halcyra {
namespace propagation {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEarthRadius = 3444.0;  // NM
constexpr float kFrequencyReference = 500.0f;
constexpr double kRangeMargin = 0.0001;              // NM, added to both distance and range
constexpr double kGainKnee = 0.2;                    // att of perfect reception
constexpr double kGainDivisor = 0.6400000000000001;  // 0.8 squared
constexpr double kSightLineStep = 0.002;             // degrees between terrain samples

double Radians(float degrees) { return degrees * kPi / 180.0; }

}  // namespace

RadioClassFigures FiguresOfClass(int32_t radioClass) {
  switch (radioClass) {
    case 0:
      return {1.23f, 20.0f};
    case 1:
      return {0.071f, 5.0f};
    case 2:
      return {0.107f, 20.0f};
    case 100:
      return {0.25f, 45.0f};
    case 200:
      return {0.642f, 45.0f};
    default:
      return {};
  }
}

float ReadFrequency(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  if (start < text.size() && text[start] == '+') ++start;
  double value = 0;
  std::from_chars_result read = std::from_chars(text.data() + start, text.data() + text.size(), value);
  if (read.ec == std::errc::result_out_of_range) {
    // Beyond double: infinite, or 0 for a negative exponent (1e-999).
    std::string_view number(text.data() + start, static_cast<size_t>(read.ptr - (text.data() + start)));
    size_t exponent = number.find_first_of("eE");
    if (exponent != std::string_view::npos && number.substr(exponent + 1, 1) == "-") return 0;
    return number.front() == '-' ? -INFINITY : INFINITY;
  }
  if (read.ec != std::errc()) return 0;
  if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
    return value < 0 ? -INFINITY : INFINITY;
  }
  return static_cast<float>(value);
}

float FrequencyTerm(float frequency) {
  float quotient = frequency / kFrequencyReference;
  float square = quotient * quotient;
  return static_cast<float>(1.0 - 0.5 * square);
}

float RadioRange(const RadioClassFigures& figures, float frequencyTerm, float altitudeDifference) {
  float horizon = std::sqrt(altitudeDifference) * figures.rangeFactor + figures.baseRange;
  float range = horizon * frequencyTerm;
  return static_cast<float>(range + kRangeMargin);
}

float ClearSightGain(float attenuation, float gainLimit) {
  double scaled = std::sqrt(gainLimit / kGainDivisor) * (attenuation - kGainKnee);
  return static_cast<float>(scaled * scaled);
}

}  // namespace propagation

float CHalcyra::CalculateDistance(const StationRecord& local, StationRecord& remote,
                                  float* altitudeDifference) {
  using propagation::Radians;
  double localLatitude = Radians(local.latitude);
  double localLongitude = Radians(local.longitude);
  double remoteLatitude = Radians(remote.latitude);
  double remoteLongitude = Radians(remote.longitude);
  double cosine =
      std::cos(remoteLongitude - localLongitude) * (std::cos(remoteLatitude) * std::cos(localLatitude)) +
      std::sin(remoteLatitude) * std::sin(localLatitude);
  // Rounding can push the sum just past 1 for stations at one position.
  cosine = std::clamp(cosine, -1.0, 1.0);
  double exactDistance = std::acos(cosine) * propagation::kEarthRadius;
  float distance = static_cast<float>(exactDistance);
  float heightDifference = std::fabs(local.altitude - remote.altitude);

  remote.distance = distance;
  StoreDistance(remote.nickname, distance);
  if (altitudeDifference != nullptr) *altitudeDifference = heightDifference;
  if (log_.Detailed()) {
    LogNarrow(log_, "CHalcyra::CalculateDistance",
              Format("Remote Nickname \"%s\" @ %4.3f NM / %4.3f ft", PrintableText(remote.nickname).c_str(),
                     exactDistance, heightDifference),
              5);
  }
  return distance;
}

float CHalcyra::CalculateDBLost(StationRecord& remote, int remoteRadio, float gainLimit) {
  return JudgeRange(remote, remoteRadio, gainLimit).gain;
}

RangeJudgement CHalcyra::JudgeRange(const StationRecord& local, StationRecord& remote, int remoteRadio,
                                    float gainLimit) {
  propagation::RadioClassFigures figures = propagation::FiguresOfClass(remote.radioClass);
  const char* frequencyField = RadioFrequency(remote, remoteRadio);
  float frequency = 0;
  if (frequencyField != nullptr) {
    frequency = propagation::ReadFrequency(
        std::string_view(frequencyField, strnlen(frequencyField, kFrequencyCapacity - 1)));
  }
  float frequencyTerm = propagation::FrequencyTerm(frequency);

  float altitudeDifference = 0;
  float distance = CalculateDistance(local, remote, &altitudeDifference);
  float d = static_cast<float>(distance + propagation::kRangeMargin);
  float range = propagation::RadioRange(figures, frequencyTerm, altitudeDifference);
  float attenuation = d / range;

  int hidden = 0;
  float gain = gainLimit;
  // A frequency that is no finite number (1e99, inf, nan) leaves no range: out of range.
  bool inRange = std::isfinite(frequency) && !(d > range);
  if (inRange) {
    hidden = IsHiddenByRelief(local, remote);
    if (hidden == 0) gain = propagation::ClearSightGain(attenuation, gainLimit);
  }
  if (gain < 0) gain = 0;
  // Positions or figures that are not numbers leave no judgement: such a talker is not received.
  if (std::isnan(gain)) gain = gainLimit;

  if (log_.Detailed()) {
    LogNarrow(
        log_, "CHalcyra::CalculateDBLost",
        Format("Remote Nickname \"%s\" : Radio #%d (%f) : Factor=%4.3f , DBLost=%4.3f , Distance=%4.3f NM , "
               "Hidden=%d(0=No,1=Yes) Range=%4.3f NM ===> Gain=%4.3f (%4.3f)(att=%4.3f) ",
               PrintableText(remote.nickname).c_str(), remoteRadio, frequency, figures.rangeFactor,
               frequencyTerm, d, hidden, range, gain, gainLimit, attenuation),
        5);
  }
  RangeJudgement judgement;
  judgement.distance = distance;
  judgement.range = range;
  judgement.inRange = inRange;
  judgement.sightExamined = inRange;
  judgement.hidden = hidden == 1;
  judgement.gain = gain;
  return judgement;
}

int CHalcyra::IsHiddenByRelief(const StationRecord& local, const StationRecord& remote) {
  LLAltPoint from{local.latitude, local.longitude, local.altitude};
  LLAltPoint to{remote.latitude, remote.longitude, remote.altitude};
  return tiles_.CheckSightLineFromLLToLL(from, to, propagation::kSightLineStep);
}

}  // namespace halcyra
