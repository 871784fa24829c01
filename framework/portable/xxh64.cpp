#include "framework/portable/xxh64.h"

#include <cstring>

#include "framework/portable/little_endian.h"

namespace qv {
namespace {

constexpr std::uint64_t kP1 = 0x9E3779B185EBCA87ull, kP2 = 0xC2B2AE3D27D4EB4Full, kP3 = 0x165667B19E3779F9ull,
                        kP4 = 0x85EBCA77C2B2AE63ull, kP5 = 0x27D4EB2F165667C5ull;

constexpr std::uint64_t Rotl(std::uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }
constexpr std::uint64_t Round(std::uint64_t acc, std::uint64_t lane) { return Rotl(acc + lane * kP2, 31) * kP1; }
constexpr std::uint64_t Merge(std::uint64_t acc, std::uint64_t lane) { return (acc ^ Round(0, lane)) * kP1 + kP4; }

void Stripes(std::uint64_t (&lanes)[4], const unsigned char* p, std::size_t stripes) {
  std::uint64_t a = lanes[0], b = lanes[1], c = lanes[2], d = lanes[3];
  for (; stripes > 0; --stripes, p += 32) {
    a = Round(a, LoadLe(p, 8));
    b = Round(b, LoadLe(p + 8, 8));
    c = Round(c, LoadLe(p + 16, 8));
    d = Round(d, LoadLe(p + 24, 8));
  }
  lanes[0] = a, lanes[1] = b, lanes[2] = c, lanes[3] = d;
}

}  // namespace

void Xxh64::Update(const void* data, std::size_t n) {
  auto p = static_cast<const unsigned char*>(data);
  total_ += n;
  if (held_ > 0) {
    const std::size_t m = n < 32 - held_ ? n : 32 - held_;
    std::memcpy(tail_ + held_, p, m);
    held_ += m;
    p += m;
    n -= m;
    if (held_ < 32) return;
    Stripes(lanes_, tail_, 1);
    held_ = 0;
  }
  Stripes(lanes_, p, n / 32);
  std::memcpy(tail_, p + n / 32 * 32, n % 32);
  held_ = n % 32;
}

std::uint64_t Xxh64::Digest() const {
  std::uint64_t h;
  if (total_ >= 32) {
    h = Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18);
    for (const std::uint64_t lane : lanes_) h = Merge(h, lane);
  } else {
    h = lanes_[2] + kP5;  // the third lane starts at the seed
  }
  h += total_;
  const unsigned char* p = tail_;
  std::size_t n = held_;
  for (; n >= 8; n -= 8, p += 8) h = Rotl(h ^ Round(0, LoadLe(p, 8)), 27) * kP1 + kP4;
  if (n >= 4) {
    h = Rotl(h ^ (LoadLe(p, 4) * kP1), 23) * kP2 + kP3;
    p += 4;
    n -= 4;
  }
  for (; n > 0; --n, ++p) h = Rotl(h ^ (*p * kP5), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  return h ^ (h >> 32);
}

std::uint64_t Xxh64Of(const void* data, std::size_t n) {
  Xxh64 sum;
  sum.Update(data, n);
  return sum.Digest();
}

}  // namespace qv
