#include "audio/radio_noise.h"

#include <algorithm>
#include <bit>

namespace halcyra {
namespace {

constexpr uint32_t kRangeOfAFreshState = 8192;
constexpr uint32_t kRowRange = kRangeOfAFreshState / 5;  // rows of a fresh state hold 0..1637

// seed -> seed * multiplier + increment (modulo 2^32)
struct SeedStep {
  uint32_t multiplier;
  uint32_t increment;
  uint32_t Apply(uint32_t seed) const { return seed * multiplier + increment; }
};
constexpr SeedStep kOneDraw{214013u, 2531011u};

constexpr SeedStep Then(SeedStep first, SeedStep second) {
  return {second.multiplier * first.multiplier, second.multiplier * first.increment + second.increment};
}

// The step that n draws make together.
constexpr SeedStep Draws(uint64_t n) {
  SeedStep result{1u, 0u};
  SeedStep power = kOneDraw;
  for (; n != 0; n >>= 1) {
    if (n & 1) result = Then(result, power);
    power = Then(power, power);
  }
  return result;
}

thread_local uint32_t t_seed = 1;

uint32_t ValueOf(uint32_t seed) { return (seed >> 16) & 0x7FFFu; }

// A row value 0..(range / 5 - 1), range / 5 in unsigned division (8192 gives 0..1637).
int32_t NextRowValue(int32_t range) {
  uint32_t rowRange = static_cast<uint32_t>(range) / 5;
  uint32_t value = static_cast<uint32_t>(RadioNoiseRandom());
  return rowRange == 0 ? 0 : static_cast<int32_t>(value % rowRange);
}

// Row values of a fresh state for the next n draws of this thread's source. Eight interleaved
// sequences step eight draws at a time, so no draw waits for the one before it; the values are
// reduced to rows afterwards, many at once.
void DrawRowValues(uint16_t* values, int n) {
  constexpr int kLanes = 8;
  constexpr SeedStep kLaneStep = Draws(kLanes);
  uint32_t start = t_seed;
  uint32_t lanes[kLanes];
  uint32_t seed = start;
  for (uint32_t& lane : lanes) lane = seed = kOneDraw.Apply(seed);
  int k = 0;
  for (; k + kLanes <= n; k += kLanes) {
    for (int j = 0; j < kLanes; ++j) values[k + j] = static_cast<uint16_t>(ValueOf(lanes[j]));
    for (uint32_t& lane : lanes) lane = kLaneStep.Apply(lane);
  }
  for (int j = 0; k + j < n; ++j) values[k + j] = static_cast<uint16_t>(ValueOf(lanes[j]));
  for (int i = 0; i < n; ++i) values[i] = static_cast<uint16_t>(values[i] % kRowRange);
  t_seed = Draws(static_cast<uint64_t>(n)).Apply(start);
}

// Value number v (1-based) refreshes row k when 2^k divides v, so up to v it has drawn v values for
// row 0, v / 2 for row 1, ..., v / 16 for row 4 (the counter wraps at 32 and refreshes all five).
uint64_t RefreshesUpTo(uint64_t v) { return v + v / 2 + v / 4 + v / 8 + v / 16; }

}  // namespace

int RadioNoiseRandom() {
  t_seed = kOneDraw.Apply(t_seed);
  return static_cast<int>(ValueOf(t_seed));
}

RadioNoiseState MakeRadioNoiseState() {
  RadioNoiseState state;
  for (int32_t& row : state.rows) row = NextRowValue(state.range);
  return state;
}

int16_t NextRadioNoise(RadioNoiseState& state) {
  int32_t old = state.counter;
  state.counter = old + 1 > state.limit ? 0 : old + 1;
  int32_t changed = old ^ state.counter;
  int32_t sum = 0;
  for (int k = 0; k < 5; ++k) {
    if ((changed >> k) & 1) state.rows[k] = NextRowValue(state.range);
    sum += state.rows[k];
  }
  if (state.signToggle == 0) {
    state.signToggle = 1;
    return static_cast<int16_t>(-sum);
  }
  state.signToggle = 0;
  return static_cast<int16_t>(sum);
}

RadioNoiseBlock::RadioNoiseBlock() {
  uint16_t values[5];
  DrawRowValues(values, 5);
  for (int k = 0; k < 5; ++k) rows_[k] = values[k];
}

void RadioNoiseBlock::Fill(int16_t* noise, int count) {
  count = std::clamp(count, 0, kMaxStretch);
  uint16_t values[2 * kMaxStretch];  // a stretch of n values draws fewer than 2n
  DrawRowValues(values, static_cast<int>(RefreshesUpTo(made_ + count) - RefreshesUpTo(made_)));
  const uint16_t* next = values;
  int i = 0;
  // Whole turns of the counter, unrolled so that which rows each value refreshes is known
  // beforehand: 1, 2, 1, 3, 1, 2, 1, 4, ... and all five at the 32nd.
  if (made_ % kTurn == 0) {
    for (; i + kTurn <= count; i += kTurn) {
#pragma GCC unroll 32
      for (int v = 1; v <= kTurn; ++v) {
        int refreshed = v == kTurn ? 5 : std::countr_zero(static_cast<unsigned>(v)) + 1;
        for (int k = 0; k < refreshed; ++k) rows_[k] = *next++;
        int32_t sum = rows_[0] + rows_[1] + rows_[2] + rows_[3] + rows_[4];
        noise[i + v - 1] = static_cast<int16_t>(v & 1 ? -sum : sum);
      }
    }
    made_ += static_cast<uint32_t>(i);
  }
  for (; i < count; ++i) {
    uint32_t v = ++made_;
    int refreshed = std::min(std::countr_zero(v), 4) + 1;
    for (int k = 0; k < refreshed; ++k) rows_[k] = *next++;
    int32_t sum = rows_[0] + rows_[1] + rows_[2] + rows_[3] + rows_[4];
    noise[i] = static_cast<int16_t>(v & 1 ? -sum : sum);
  }
}

void RadioNoiseBlock::Skip(int count) {
  t_seed = Draws(5 + RefreshesUpTo(static_cast<uint64_t>(std::max(count, 0)))).Apply(t_seed);
}

}  // namespace halcyra
