#include "framework/portable/random.h"

namespace qv {

std::uint32_t TRandom::Next(std::uint32_t n) {
  seed_ = seed_ * 134775813u + 1u;  // unsigned: wraps modulo 2^32
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(n) * seed_) >> 32);
}

TRandom& GlobalRandom() {
  static TRandom random(0);
  return random;
}

}  // namespace qv
