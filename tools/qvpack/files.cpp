// What files.h does the same way on both systems, over the per-system parts.
#include "tools/qvpack/files.h"

namespace qv::qvpack {

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::unique_ptr<pack::ByteSource> f = OpenFileSource(path);
  if (!f) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(f->Size()), '\0');
  if (!bytes.empty() && !f->ReadAt(0, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

}  // namespace qv::qvpack
