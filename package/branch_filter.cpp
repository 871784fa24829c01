#include "package/branch_filter.h"

#include "framework/portable/little_endian.h"
#include "package/pe.h"

namespace qv::pack {

bool IsMachineCode(const unsigned char* head, std::size_t n) {
  if (n < pe::kDosHeaderSize) return false;
  const std::optional<std::uint32_t> at = pe::SignatureAt(head);
  // The signature and the machine are enough: the rest of the file header
  // may lie beyond the bytes looked at.
  const std::size_t machineEnd = pe::kSignatureSize + pe::kMachine + 2;
  if (!at || *at > n - machineEnd || !pe::IsSignature(head + *at)) return false;
  const std::uint16_t machine = LoadLe16(head + *at + pe::kSignatureSize + pe::kMachine);
  return machine == pe::kI386 || machine == pe::kAmd64;
}

namespace {

// Whether any of the four bytes at p is E8 or E9: with the low bit set in
// each, a byte of E9 becomes zero after the xor, found by the usual trick.
bool HasCallOrJump(const unsigned char* p) {
  const std::uint32_t v = (LoadLe32(p) | 0x01010101u) ^ 0xE9E9E9E9u;
  return ((v - 0x01010101u) & ~v & 0x80808080u) != 0;
}

}  // namespace

std::size_t FilterBranches(unsigned char* data, std::size_t n, std::uint64_t position, bool encode, bool last) {
  constexpr std::uint32_t kMask = (1u << 25) - 1, kSign = 1u << 24;
  std::size_t i = 0;
  while (i + 5 <= n) {
    const unsigned char op = data[i], top = data[i + 4];
    if ((op & 0xFE) != 0xE8) {
      // Most bytes are neither: skip four at a time while none of them is.
      while (i + 9 <= n && !HasCallOrJump(data + i)) i += 4;
      if ((data[i] & 0xFE) != 0xE8) ++i;
      continue;
    }
    // Passed over whether converted or not: no later conversion may touch
    // the byte this decision was made on.
    i += 5;
    if (top != 0x00 && top != 0xFF) continue;
    std::uint32_t v = LoadLe32(data + i - 4);
    const auto next = std::uint32_t(position + i);
    v = (encode ? v + next : v - next) & kMask;
    if (v & kSign) v |= ~kMask;  // back to 00 or FF on top
    StoreLe(data + i - 4, v, 4);
  }
  // Fewer than five bytes left: final only at the file's end.
  return last ? n : i;
}

}  // namespace qv::pack
