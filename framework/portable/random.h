// The framework's pseudo-random generator: a linear congruential sequence
// (seed = seed * 134775813 + 1) whose draws are reproducible everywhere.
#pragma once

#include <cstdint>

namespace qv {

class TRandom {
 public:
  explicit TRandom(std::uint32_t seed = 0) : seed_(seed) {}
  std::uint32_t Seed() const { return seed_; }
  void SetSeed(std::uint32_t seed) { seed_ = seed; }
  // A uniform integer in 0 .. n-1 (0 when n is 0): the seed advances, then
  // the upper 32 bits of the 64-bit product n * seed.
  std::uint32_t Next(std::uint32_t n);

 private:
  std::uint32_t seed_;
};

// The program's one generator (seeded 0 at start, like the framework's).
TRandom& GlobalRandom();

}  // namespace qv
