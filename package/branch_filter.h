// Relative branch targets of x86 and x64 machine code made absolute before
// packing and relative again after unpacking. Calls and jumps to one
// function from many places then carry the same four bytes, which the
// compressor finds again; a package of Windows programs packs several
// percent smaller. Portable; the writer encodes, the reader decodes.
//
// At each position p of a file (counted from its first byte) where the byte
// is E8 (call) or E9 (jmp), the next look is at p + 5; when the fourth byte
// after it is 00 or FF (a displacement within 16 MiB either way), the
// 32-bit little-endian value after it is taken as a 25-bit signed number
// and p + 5 added (encoding) or taken away (decoding), modulo 2^25. Other
// positions are left and the next look is at p + 1. Both directions decide
// alike, since the bytes a decision rests on are never changed by another
// one and a converted top byte stays 00 or FF, so decoding gives back
// exactly what was encoded, whatever the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::pack {

enum class Filter : std::uint8_t { kNone = 0, kBranches = 1 };

// Whether a file's first bytes are those of an x86 or x64 Windows program
// or library, the content the filter is for.
bool IsMachineCode(const unsigned char* head, std::size_t n);

// Transforms `data[0, n)` in place, `data` lying at `position` of its file.
// A conversion needs its five bytes: unless `last`, up to four bytes at the
// end are left as they are for the caller to present again at the start of
// the next call. Gives how many bytes are final.
std::size_t FilterBranches(unsigned char* data, std::size_t n, std::uint64_t position, bool encode, bool last);

}  // namespace qv::pack
