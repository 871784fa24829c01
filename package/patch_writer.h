// Makes an update (package.h) from two packages of one product: what turns
// an installation of the older, the base, into one of the newer. Portable;
// qvpack patch opens the files and checks that they belong together.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "package/package.h"
#include "package/writer.h"

namespace qv::pack {

struct PatchCounts {
  std::size_t packed = 0, kept = 0, patched = 0;  // files of each source
};

// Writes `stub`, then the update, to `out`: every entry of `next` with its
// attributes and times; a file the base has (same path, as Windows compares
// names) with the same content is kept, a changed one patched against it
// when that packs smaller than the file alone and both fit the 128 MiB
// window, any other packed. Both readers must be open on full packages;
// the update is always zstd (options.codec is not read). Gives an error
// text, empty on success.
// `baseId` and `baseVersion` are the base script's [UNINSTALL] values.
// `fromBase` says which of next's files may be kept or patched: only what
// both versions install where the base's installation has it (never what
// the setup program reads from its own package, as the script).
std::string WritePatch(Reader& base, Reader& next, ByteSource& stub, const std::string& baseId,
                       const std::string& baseVersion, const std::function<bool(const Entry&)>& fromBase,
                       ByteSink& out, const WriteOptions& options, PatchCounts* counts = nullptr);

}  // namespace qv::pack
