// How bytes move through the program: read at any offset from a source,
// written in order to a sink. The package reader and writer, the engine's
// file writes and qvpack's files all speak these two; each machine supplies
// its own files behind them. Portable, and with the file attribute bits the
// same on every side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// The Windows attribute bits, as the system numbers them.
enum : std::uint32_t {
  kAttrReadOnly = 0x1,
  kAttrHidden = 0x2,
  kAttrSystem = 0x4,
  kAttrVolume = 0x8,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrTemporary = 0x100,
  kAttrReparsePoint = 0x400,  // a junction, symbolic link or mount point
  kAttrNotContentIndexed = 0x2000,
  // Every kind of entry a directory search may ask for, hidden and system ones included.
  kFindAll = 63,
};
constexpr std::uint32_t kNoAttributes = 0xFFFFFFFFu;

// What a package keeps of a file's attributes, and what an installation may
// give a file back: what says what the file is, and the folder bit. "Normal"
// is no bit (0 says it); sparse, reparse point, compressed, offline and
// encrypted say how a disk stores a file, and no installer may set them.
// The package reader refuses the rest, its writer drops it.
inline constexpr std::uint32_t kKeptAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory |
                                                 kAttrArchive | kAttrTemporary | kAttrNotContentIndexed;

namespace pack {

// Random access to the bytes of a file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Exactly n bytes at offset, or false. The package reader calls it from
  // one thread at a time, while extracting from a thread of its own.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) = 0;
};

// Where bytes go, in order; false when they cannot be taken.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const void* data, std::size_t n) = 0;
};

}  // namespace pack
}  // namespace qv
