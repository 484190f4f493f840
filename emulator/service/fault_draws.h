// The draws of the faults that go by chance or draw their delays. Each fault has a generator
// of its own, std::mt19937_64 seeded from the scenario's seed and the fault's place, so that
// its draws depend only on the requests it covers; the arithmetic from raw numbers to draws
// is written here, not left to a standard library's distributions, so that a seed gives the
// same faults on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "service/scenario.h"

// The generator of the fault at `index` (from 0) of a scenario seeded with `seed`.
std::mt19937_64 faultGenerator(uint64_t seed, size_t index);

// A number in [0, 1) from the next 53 bits of `generator`.
double unitDraw(std::mt19937_64& generator);

// The milliseconds of a delay as `delay` draws them from `generator` (rounded, at most
// 2147483647); `fixedMs` for a fixed one, which draws nothing.
int64_t drawDelayMs(const DelayDistribution& delay, int64_t fixedMs, std::mt19937_64& generator);
