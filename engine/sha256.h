// SHA-256, for sealing the uninstall record: a CRC tells damage, not
// forgery, and anybody can compute one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

using Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest of everything so far; the state goes on unchanged.
  Digest Peek() const;

 private:
  void Block(const std::uint8_t* p);
  std::uint32_t h_[8];
  std::uint8_t buffer_[64];
  std::size_t used_ = 0;
  std::uint64_t length_ = 0;
};

Digest Sha256Of(std::string_view bytes);

}  // namespace qv
