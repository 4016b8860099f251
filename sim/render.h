// How the host plays a voice from a 3D position, as the runner renders it into the stereo output:
// the far position (distance 100 from the listener) is silent, a position to the left or right of
// the listener is panned to that side, the origin and positions straight ahead are centred.
#pragma once

#include "foundation/host_abi.h"

namespace halcyra::sim {

// Positions at least this far from the listener are not heard at all.
inline constexpr float kSilentDistance = 10.0f;

struct StereoGains {
  float left = 0;
  float right = 0;
};

bool IsSilentPosition(const TS3_VECTOR& position);

// Constant-power panning by the side the position lies on (x / distance, -1 left .. 1 right), with
// no loss up to distance 1 and falling as 1 / distance beyond; both 0 for a silent position.
StereoGains GainsFor(const TS3_VECTOR& position);

// "left", "right", "front" for the ear setting of a radio (-1, 1, anything else).
const char* EarName(int ear);

}  // namespace halcyra::sim
