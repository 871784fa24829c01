// The package's byte layout, shared by the reader and the writer (see the
// format description in package.h). Not part of the library's interface.
#pragma once

#include "framework/portable/crc32.h"
#include <cstddef>
#include <cstdint>

namespace qv::pack::format {

inline constexpr char kMagic[8] = {'q', 'v', 'P', 'a', 'c', 'k', '\x1a', '\n'};
// Version 2 added each entry's filter, version 3 each block's sum and the
// codec, version 4 (updates, written by qvpack patch alone) the base and
// each entry's source; a program reading an older version alone refuses a
// newer one as damage before writing anything.
inline constexpr std::uint32_t kVersion = 3;
inline constexpr std::uint32_t kFirstVersion = 1;
inline constexpr std::uint32_t kSummedVersion = 3;
inline constexpr std::uint32_t kUpdateVersion = 4;
inline constexpr std::uint32_t kLastVersion = kUpdateVersion;
inline constexpr std::size_t kLeadSize = 24;    // magic, version, window log, block size, codec
// How the blocks are packed (zero before version 3).
enum class Codec : std::uint32_t { kZstd = 0, kLzma2 = 1 };
inline constexpr std::size_t kRecordHead = 12;  // kind u32, length u64
inline constexpr std::size_t kEndSize = kRecordHead + 4;
enum Kind : std::uint32_t { kBlock = 1, kIndex = 2, kEnd = 3, kPatch = 4 };

// The decoder never keeps more than this window (128 MiB), whatever a
// package's frames ask for.
inline constexpr int kMaxWindowLog = 27;
inline constexpr int kMinWindowLog = 20;
inline constexpr std::uint32_t kMinBlockSize = 64u << 10;
inline constexpr std::uint32_t kMaxBlockSize = 1u << 30;
inline constexpr std::uint32_t kMaxBlocks = 1u << 20;
inline constexpr std::uint64_t kMaxIndexSize = 256u << 20;
inline constexpr std::size_t kEntryFixed = 2 + 4 + 8 + 8 + 4 + 4 + 8;  // all but the path's bytes (version 1)
inline constexpr std::size_t kEntrySource = 1 + 8 + 8;                 // source, base size and sum (version 4)

using ::qv::Crc32Combine;

}  // namespace qv::pack::format
