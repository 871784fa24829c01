// A package's paths as one folder on disk holds them, shared by the reader
// and the writer. Not part of the library's interface.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/package.h"

namespace qv::pack {

struct PathIndex {
  // Every path by its FileNameKey (as Windows compares names).
  std::unordered_map<std::string, std::size_t> byKey;
  // Why the paths cannot all be on disk at once: two the file system takes
  // for one (they would overwrite each other), or a path inside a file.
  enum class Clash { kNone, kTwice, kInsideAFile } clash = Clash::kNone;
  std::size_t at = 0;  // the entry that clashes
};

PathIndex IndexPaths(const std::vector<Entry>& entries);

}  // namespace qv::pack
