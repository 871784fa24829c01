#include "package/memory_bytes.h"

namespace qv::pack {

bool MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset < base_ || offset - base_ > bytes_.size() || n > bytes_.size() - (offset - base_)) return false;
  bytes_.copy(static_cast<char*>(buffer), n, static_cast<std::size_t>(offset - base_));
  return true;
}

bool MemorySink::Write(const void* data, std::size_t n) {
  if (n > room_ - bytes.size()) {
    full_ = true;
    return false;
  }
  bytes.append(static_cast<const char*>(data), n);
  return true;
}

}  // namespace qv::pack
