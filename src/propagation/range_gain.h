// The figures of the range and gain model, as pure functions. CHalcyra::CalculateDBLost combines
// them with the distance and the sight-line test. Units: ranges and distances in nautical miles,
// altitudes in feet, frequencies as the number written in the frequency text (251.000 is 251).
// The float/double mix of every step is deliberate: it fixes the figures to the last digit.
#pragma once

#include <cstdint>
#include <string_view>

namespace halcyra::propagation {

// Range factor (NM per square root of a foot) and base range (NM) of a radio class; 0 and 0 for a
// class outside the table (0, 1, 2, 100, 200).
struct RadioClassFigures {
  float rangeFactor = 0;
  float baseRange = 0;
};
RadioClassFigures FiguresOfClass(int32_t radioClass);

// The decimal number at the start of a frequency text (0 when the text does not start with one), as
// a float: beyond the float range it is infinite; "inf" and "nan" read as such. CalculateDBLost
// counts a frequency that is not finite as out of range.
float ReadFrequency(std::string_view text);

// 1 - 0.5 (f / 500)^2: 0.873998 at 251, negative above about 707.1.
float FrequencyTerm(float frequency);

// (sqrt(altitudeDifference) x factor + base) x frequencyTerm + 0.0001, in NM.
float RadioRange(const RadioClassFigures& figures, float frequencyTerm, float altitudeDifference);

// Gain of a talker heard with a clear sight line: gainLimit x ((att - 0.2) / 0.8)^2, where att is
// distance / range: 0 at att 0.2, gainLimit at att 1, gainLimit / 16 at att 0.
float ClearSightGain(float attenuation, float gainLimit);

}  // namespace halcyra::propagation
