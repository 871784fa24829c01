// CRC-32 with the zip/PNG polynomial, eight bytes a step (slicing-by-8): a
// package's Verify runs it over the whole package before installing, so it
// must not cost much next to the unpacking.
#include <cstddef>
#include <cstdint>

#include "framework/portable/crc32.h"
#include "framework/portable/little_endian.h"

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>
#endif

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

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define QV_CRC_FOLDING 1

// Carry-less multiplication folds 64 bytes a step: a processor with it
// sums several times faster than the tables do. The running
// value c is the CRC's register (inverted), 64 bytes at least, a multiple
// of 16. Constants: x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32),
// x^64 mod P, then Barrett's mu and P itself, all bit-reflected.
#define QV_FOLDS __attribute__((target("pclmul,sse4.1")))
QV_FOLDS inline __m128i Load(const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }
QV_FOLDS inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

QV_FOLDS std::uint32_t FoldCrc(std::uint32_t c, const unsigned char* p, std::size_t n) {
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(c))), x2 = Load(p + 16), x3 = Load(p + 32),
          x4 = Load(p + 48);
  p += 64;
  n -= 64;
  const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  for (; n >= 64; p += 64, n -= 64) {
    x1 = Fold(x1, k1k2, Load(p));
    x2 = Fold(x2, k1k2, Load(p + 16));
    x3 = Fold(x3, k1k2, Load(p + 32));
    x4 = Fold(x4, k1k2, Load(p + 48));
  }
  const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  x1 = Fold(Fold(Fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = Fold(x1, k3k4, Load(p));
  // 128 bits to 64, then to 32, then Barrett's reduction to the CRC.
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(k3k4, x1, 0x01), _mm_srli_si128(x1, 8));
  const __m128i mask = _mm_set_epi32(0, 0, 0, -1);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask), _mm_set_epi64x(0, 0x163cd6124), 0x00),
                     _mm_srli_si128(x1, 4));
  const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask), poly, 0x00);
  return std::uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool CanFold() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
#endif

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t n) {
  static const Table* const t = MakeTables();  // thread-safe, once
  auto p = static_cast<const unsigned char*>(data);
  std::uint32_t c = ~crc;
#ifdef QV_CRC_FOLDING
  static const bool folds = CanFold();
  if (folds && n >= 64) {
    c = FoldCrc(c, p, n & ~std::size_t(15));
    p += n & ~std::size_t(15);
    n &= 15;
  }
#endif
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
