// Bytes held in memory as a source to read or a sink to fill: the setup
// program qvpack has dressed, and the packages tests build and take apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "package/bytes.h"

namespace qv::pack {

// Reads its own copy of the bytes. The first of them lies at `base`, so a
// few bytes can stand for the end of a far larger file; reads below fail.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string bytes, std::uint64_t base = 0) : bytes_(std::move(bytes)), base_(base) {}
  std::uint64_t Size() const override { return base_ + bytes_.size(); }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override;

 private:
  std::string bytes_;
  std::uint64_t base_;
};

// Keeps what is written, up to `room` bytes: a write that would go beyond
// them is refused whole, as a full disk refuses it.
class MemorySink : public ByteSink {
 public:
  explicit MemorySink(std::size_t room = std::numeric_limits<std::size_t>::max()) : room_(room) {}
  bool Write(const void* data, std::size_t n) override;
  // A write was refused for want of room.
  bool Full() const { return full_; }
  std::string bytes;

 private:
  std::size_t room_;
  bool full_ = false;
};

}  // namespace qv::pack
