#include "framework/portable/random.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

// Delphi's Random from seed 0 (RandSeed := RandSeed * $08088405 + 1, then
// (n * RandSeed) shr 32), computed with Python's exact integers.
TEST(Random, FirstDrawsFromSeedZero) {
  struct Draw {
    std::uint32_t n, seed, result;
  } draws[] = {
      {100, 1u, 0},
      {100, 134775814u, 3},
      {100, 3698175007u, 86},
      {100, 870078620u, 20},
      {1000, 1172187917u, 272},
      {2, 2884733762u, 1},
      {0, 1368768587u, 0},
      {4294967295u, 694906232u, 694906231u},
  };
  TRandom random;
  EXPECT_EQ(random.Seed(), 0u);
  for (const auto& d : draws) {
    EXPECT_EQ(random.Next(d.n), d.result) << d.n;
    EXPECT_EQ(random.Seed(), d.seed);
  }
}

TEST(Random, ResultsStayBelowTheRange) {
  TRandom random(123);
  for (std::uint32_t n : {1u, 2u, 3u, 7u, 255u, 65536u, 0x80000000u}) {
    for (int i = 0; i < 1000; ++i) EXPECT_LT(random.Next(n), n);
  }
  for (int i = 0; i < 10; ++i) EXPECT_EQ(random.Next(1), 0u);
}

TEST(Random, SetSeedRestartsTheSequence) {
  TRandom a(77), b;
  b.SetSeed(77);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.Next(1000), b.Next(1000));
  EXPECT_EQ(a.Seed(), b.Seed());
}

TEST(Random, GlobalGeneratorIsOneSharedInstance) {
  TRandom& global = GlobalRandom();
  EXPECT_EQ(&global, &GlobalRandom());
  const std::uint32_t saved = global.Seed();
  global.SetSeed(0);
  EXPECT_EQ(GlobalRandom().Next(100), 0u);
  EXPECT_EQ(GlobalRandom().Next(100), 3u);
  global.SetSeed(saved);
}

}  // namespace
}  // namespace qv
