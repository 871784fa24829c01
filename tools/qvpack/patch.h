// qvpack patch: an update from two one-file packages of one product, which
// installs only over an installation of the older. Portable.
#pragma once

#include <string>

#include "package/bytes.h"
#include "package/patch_writer.h"
#include "package/writer.h"

namespace qv::qvpack {

// A packed file as the messages name it, and its bytes.
struct PackedFile {
  std::string name;
  pack::ByteSource& bytes;
};

// Writes the update from `before` to `after` to `out`: the newer file's
// setup program (what comes after its package, a signature, is left), then
// the update. Refuses, with the text to show, a file without a sound
// package or that is itself an update, scripts whose [UNINSTALL] Id is
// missing or not the same, and versions that are the same. Empty on success.
std::string MakePatch(const PackedFile& before, const PackedFile& after, pack::ByteSink& out,
                      const pack::WriteOptions& options, pack::PatchCounts* counts = nullptr);

}  // namespace qv::qvpack
