// Numbers in bytes, least significant first: how the package, PE programs,
// icons and bitmaps all keep them. Whatever the machine's own order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// The `n`-byte (up to 8) number at p.
inline std::uint64_t LoadLe(const void* p, int n) {
  const auto* b = static_cast<const unsigned char*>(p);
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

// The fixed widths spelled out, so that a compiler reads each as one load.
inline std::uint16_t LoadLe16(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

inline std::uint32_t LoadLe32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}

// Writes the low `n` bytes of v at p.
inline void StoreLe(void* p, std::uint64_t v, int n) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Appends the low `n` bytes of v to a string or a vector of bytes.
template <typename Bytes>
void AppendLe(Bytes& out, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<typename Bytes::value_type>(v >> (8 * i)));
}

}  // namespace qv
