// The receiver's one-pole low-pass. Each output depends on the one before, so a plain loop waits
// for every step's float arithmetic in turn. Instead, lanes filter stretches of a block side by
// side, each starting a little earlier from a guessed output; as every step shrinks a start error
// (by 1 - alpha), a lane's outputs soon become exactly those of the plain loop. A pass in order then
// recomputes each stretch from the true output before it until it meets the lane's outputs, after
// which they are identical (the same input and the same previous output give the same step); where
// they never meet (a constant input can hold a filter a few units from where another start would),
// the pass recomputes the whole stretch. The result is the plain loop's, sample for sample.
#include <algorithm>

#include "audio/voice_effects.h"

namespace halcyra {
namespace {

constexpr double kFilterPi = 3.14159265;

constexpr int kLanes = 8;
constexpr int kWarmUp = 32;           // 0.718^32 of the largest start error is below one step
constexpr int kMaxLaneSamples = 128;  // outputs per lane and round
constexpr int kMinLaneSamples = 32;   // below this the plain loop is as fast

// The difference is formed in integers, then the product and the sum in float (never fused), and
// the result truncated toward zero. It lies between input and previous: no clip is needed.
inline int LowPassStep(int input, int previous, float alpha) {
  float difference = static_cast<float>(input - previous);
  float filtered = difference * alpha + static_cast<float>(previous);
  return static_cast<int>(filtered);
}

// Filters samples [first, first + kLanes * laneSamples) in place; samples[first - 1] is final.
void FilterRound(int16_t* samples, int first, int laneSamples, float alpha) {
  int steps = kWarmUp + laneSamples;
  int16_t input[kWarmUp + kMaxLaneSamples][kLanes];  // [step][lane]
  int16_t output[kWarmUp + kMaxLaneSamples][kLanes];
  int start[kLanes];     // first input of each lane
  int previous[kLanes];  // the lane's previous output
  for (int lane = 0; lane < kLanes; ++lane) {
    // Lane 0 starts from the true output; the others kWarmUp samples before their stretch, from
    // the input there as the guess.
    start[lane] = lane == 0 ? first : first + lane * laneSamples - kWarmUp;
    previous[lane] = samples[start[lane] - 1];
    for (int step = 0; step < steps; ++step) input[step][lane] = samples[start[lane] + step];
  }
  for (int step = 0; step < steps; ++step) {
    for (int lane = 0; lane < kLanes; ++lane) {
      previous[lane] = LowPassStep(input[step][lane], previous[lane], alpha);
      output[step][lane] = static_cast<int16_t>(previous[lane]);
    }
  }
  for (int lane = 0; lane < kLanes; ++lane) {
    int skipped = lane == 0 ? 0 : kWarmUp;
    int16_t* stretch = samples + first + lane * laneSamples;
    for (int i = 0; i < laneSamples; ++i) stretch[i] = output[skipped + i][lane];
  }
  for (int lane = 1; lane < kLanes; ++lane) {
    int16_t* stretch = samples + first + lane * laneSamples;
    int before = stretch[-1];
    for (int i = 0; i < laneSamples; ++i) {
      int exact = LowPassStep(input[kWarmUp + i][lane], before, alpha);
      if (exact == stretch[i]) break;
      stretch[i] = static_cast<int16_t>(exact);
      before = exact;
    }
  }
}

}  // namespace

float LowPassAlpha(float cutoffHz, float sampleRateHz) {
  float dt = static_cast<float>(1.0 / static_cast<double>(sampleRateHz));
  float corner = cutoffHz * 2.0f;
  float rc = static_cast<float>(1.0 / (static_cast<double>(corner) * kFilterPi));
  return dt / (rc + dt);
}

void LowPassFilter(int16_t* samples, int count, float cutoffHz, float sampleRateHz) {
  if (samples == nullptr || count <= 0) return;
  float alpha = LowPassAlpha(cutoffHz, sampleRateHz);
  int next = 1;  // the first sample stays as it is
  for (;;) {
    int laneSamples = std::min(kMaxLaneSamples, (count - next) / kLanes);
    if (laneSamples < kMinLaneSamples) break;
    FilterRound(samples, next, laneSamples, alpha);
    next += kLanes * laneSamples;
  }
  for (int previous = samples[next - 1]; next < count; ++next) {
    previous = LowPassStep(samples[next], previous, alpha);
    samples[next] = static_cast<int16_t>(previous);
  }
}

}  // namespace halcyra
