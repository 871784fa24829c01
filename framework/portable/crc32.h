// CRC-32 (the zip/PNG polynomial): a package's blocks and files, and each
// line of an installation's record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// Continued from `crc` (0 to start).
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t n);

// The CRC of A followed by B, from the CRCs of A and B and B's length: lets
// a file split across two blocks, packed by two threads, get one CRC.
std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t lengthB);

}  // namespace qv
