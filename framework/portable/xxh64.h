// XXH64 (seed 0): a package block's packed bytes, checked against the index
// before anything is written. Fast enough that reading the file is the cost.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// Sums bytes given in any number of pieces; Digest does not end the sum.
class Xxh64 {
 public:
  void Update(const void* data, std::size_t n);
  std::uint64_t Digest() const;

 private:
  std::uint64_t lanes_[4] = {0x60EA27EEADC0B5D6ull, 0xC2B2AE3D27D4EB4Full, 0, 0x61C8864E7A143579ull};
  unsigned char tail_[32] = {};
  std::size_t held_ = 0;  // bytes waiting in tail_
  std::uint64_t total_ = 0;
};

std::uint64_t Xxh64Of(const void* data, std::size_t n);

}  // namespace qv
