// CRC-32 with the zip/PNG polynomial, eight bytes a step (slicing-by-8): a
// package's Verify runs it over the whole package before installing, so it
// must not cost much next to the unpacking.
#include <cstddef>
#include <cstdint>

#include "framework/portable/crc32.h"
#include "framework/portable/little_endian.h"

namespace qv {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320;  // reflected

// Built once at first use rather than stored: 8 KB less in the setup program.
// On the heap, kept for the process's life: mingw's GCC stores even a
// zero-filled static array in the file.
using Table = std::uint32_t[256];
const Table* MakeTables() {
  auto t = new Table[8];
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i)
    for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  return t;
}

// a * b modulo the polynomial, both as reflected bit strings.
std::uint32_t MultiplyModP(std::uint32_t a, std::uint32_t b) {
  std::uint32_t product = 0;
  for (std::uint32_t m = 1u << 31; m != 0; m >>= 1) {
    if (a & m) product ^= b;
    b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t n) {
  static const Table* const t = MakeTables();  // thread-safe, once
  auto p = static_cast<const unsigned char*>(data);
  std::uint32_t c = ~crc;
  for (; n >= 8; p += 8, n -= 8) {
    const std::uint32_t lo = LoadLe32(p) ^ c, hi = LoadLe32(p + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; n > 0; --n) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}

std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t lengthB) {
  // Appending lengthB zero bytes multiplies A's CRC by x^(8 lengthB); square
  // x^8 step by step along the bits of the length.
  std::uint32_t shift = 1u << 31;  // x^0
  std::uint32_t power = 1u << 23;  // x^8
  for (std::uint64_t n = lengthB; n != 0; n >>= 1) {
    if (n & 1) shift = MultiplyModP(power, shift);
    power = MultiplyModP(power, power);
  }
  return MultiplyModP(shift, crcA) ^ crcB;
}

}  // namespace qv
