// The radio noise mixed into a received voice: five rows of pseudo-random values refreshed at
// different rates (row k whenever bit k of a 0..31 counter changes), summed with alternating sign.
//
// The pseudo-random source keeps one sequence per thread. A voice block's noise comes from a fresh
// generator state; RadioNoiseBlock makes the values of a whole block at once, drawing exactly what
// the state-by-state generator would draw, in the same order.
#pragma once

#include <cstdint>

namespace halcyra {

inline constexpr int kRadioNoiseMaxMagnitude = 5 * 1637;  // 8185

// The pseudo-random source of the radio noise: values 0..32767, one independent sequence per
// thread, each starting from seed 1 (seed = seed * 214013 + 2531011, value = (seed >> 16) & 0x7FFF).
int RadioNoiseRandom();

// State of the radio noise generator.
struct RadioNoiseState {
  int32_t limit = 31;
  int32_t counter = 0;
  int32_t rows[5] = {};
  int32_t range = 8192;
  int32_t signToggle = 0;
};

// A fresh state for one block: each row drawn as RadioNoiseRandom() % 1638.
RadioNoiseState MakeRadioNoiseState();

// The next noise value, -8185..8185. The first value of a fresh state is <= 0, then the sign
// alternates (>= 0, <= 0, ...).
int16_t NextRadioNoise(RadioNoiseState& state);

// The noise of one block from a fresh state, made a stretch at a time: the values and the draws of
// this thread's source are those of MakeRadioNoiseState followed by NextRadioNoise for every sample.
class RadioNoiseBlock {
 public:
  RadioNoiseBlock();  // draws the five rows, as a fresh state does

  // Writes the next count values (count at most kMaxStretch, best a multiple of 32).
  void Fill(int16_t* noise, int count);
  static constexpr int kMaxStretch = 512;

  // Moves this thread's source on as making a fresh state and count values would, without making
  // them.
  static void Skip(int count);

 private:
  static constexpr int kTurn = 32;  // the counter's period: 0, 1, ..., 31
  int32_t rows_[5];
  uint32_t made_ = 0;  // values made so far
};

}  // namespace halcyra
