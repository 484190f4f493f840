// Seeding and the distributions of the faults' draws.
#include "service/fault_draws.h"

#include <algorithm>
#include <cmath>

namespace {

// SplitMix64's step: spreads a seed and a place over all 64 bits.
uint64_t mix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

}  // namespace

std::mt19937_64 faultGenerator(uint64_t seed, size_t index) {
  return std::mt19937_64(mix(seed ^ mix(static_cast<uint64_t>(index))));
}

double unitDraw(std::mt19937_64& generator) {
  return static_cast<double>(generator() >> 11) * (1.0 / 9007199254740992.0);  // 2^-53
}

int64_t drawDelayMs(const DelayDistribution& delay, int64_t fixedMs, std::mt19937_64& generator) {
  const double maxMs = 2147483647.0;
  double ms = static_cast<double>(fixedMs);
  if (delay.kind == DelayDistribution::Kind::kUniform) {
    ms = delay.lowerMs + unitDraw(generator) * (delay.upperMs - delay.lowerMs);
  } else if (delay.kind == DelayDistribution::Kind::kLognormal) {
    // Box and Muller: a standard normal number from two uniform ones, the first in (0, 1].
    const double pi = 3.14159265358979323846;
    const double radius = std::sqrt(-2.0 * std::log(1.0 - unitDraw(generator)));
    const double normal = radius * std::cos(2.0 * pi * unitDraw(generator));
    ms = delay.medianMs * std::exp(delay.sigma * normal);
  }
  return static_cast<int64_t>(std::min(ms, maxMs) + 0.5);
}
