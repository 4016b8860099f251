#include "render.h"

#include <algorithm>
#include <cmath>

namespace halcyra::sim {
namespace {
constexpr float kQuarterPi = 0.78539816f;
}

bool IsSilentPosition(const TS3_VECTOR& position) {
  return std::sqrt(position.x * position.x + position.y * position.y + position.z * position.z) >=
         kSilentDistance;
}

StereoGains GainsFor(const TS3_VECTOR& position) {
  float distance = std::sqrt(position.x * position.x + position.y * position.y + position.z * position.z);
  if (distance >= kSilentDistance) return {};
  float pan = distance > 0 ? std::clamp(position.x / distance, -1.0f, 1.0f) : 0.0f;
  float loudness = distance > 1 ? 1 / distance : 1.0f;
  float angle = (pan + 1) * kQuarterPi;
  return {std::cos(angle) * loudness, std::sin(angle) * loudness};
}

const char* EarName(int ear) {
  if (ear == -1) return "left";
  if (ear == 1) return "right";
  return "front";
}

}  // namespace halcyra::sim
