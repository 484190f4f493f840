// The faults' draws: what a seed draws is fixed, on every system alike (the Windows build's
// run checks the same numbers, drawn here on Linux), and the distributions have their shape.
#include "service/fault_draws.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(FaultDraws, ASeedDrawsTheSameEverywhere) {
  DelayDistribution uniform;
  uniform.kind = DelayDistribution::Kind::kUniform;
  uniform.lowerMs = 100;
  uniform.upperMs = 900;
  DelayDistribution lognormal;
  lognormal.kind = DelayDistribution::Kind::kLognormal;
  lognormal.medianMs = 300;
  lognormal.sigma = 0.5;

  std::mt19937_64 generator = faultGenerator(42, 1);
  EXPECT_EQ(generator(), 322574185352333729u);
  EXPECT_EQ(unitDraw(generator), 0.89319154120681599);
  std::vector<int64_t> drawn;
  for (int i = 0; i < 5; ++i) drawn.push_back(drawDelayMs(uniform, 0, generator));
  for (int i = 0; i < 5; ++i) drawn.push_back(drawDelayMs(lognormal, 0, generator));
  EXPECT_EQ(drawn, (std::vector<int64_t>{288, 142, 434, 383, 474, 623, 329, 335, 628, 490}));
  EXPECT_EQ(drawDelayMs(DelayDistribution(), 250, generator), 250);

  // Another fault's generator draws otherwise; the median of many lognormal draws is close to
  // the one asked for.
  std::mt19937_64 other = faultGenerator(42, 2);
  EXPECT_NE(other(), 322574185352333729u);
  std::vector<int64_t> many;
  for (int i = 0; i < 10001; ++i) many.push_back(drawDelayMs(lognormal, 0, other));
  std::sort(many.begin(), many.end());
  EXPECT_NEAR(many[5000], 300, 15);
  for (int i = 0; i < 1000; ++i) {
    const int64_t ms = drawDelayMs(uniform, 0, other);
    EXPECT_TRUE(ms >= 100 && ms <= 900) << ms;
  }
}

}  // namespace
