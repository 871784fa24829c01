// Seals a package folder behind the setup program (see package.h). Portable:
// the caller opens the files (qvpack has one way on Linux, one on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/format.h"
#include "package/package.h"

namespace qv::pack {

// One file or folder to seal, in the order the script installs it.
struct Input {
  Entry entry;           // path, attributes, modified and size; the writer fills crc, block, offset
  std::string diskPath;  // where the content is read from (folders: unused)
};

struct WriteOptions {
  // Zstandard unpacks fastest; LZMA2 packs smaller, and its blocks are
  // unpacked side by side (keep them small: each thread holds two).
  format::Codec codec = format::Codec::kZstd;
  int level = 19;     // zstd level of the default
  bool best = false;  // the strongest setting, slower to pack
  // Unpacked bytes per solid block: bigger packs smaller, smaller packs in
  // more threads and unpacks a file taken out of order sooner.
  std::uint32_t blockSize = 32u << 20;
  // The matching window as a power of two (23: 8 MiB to 27: 128 MiB): the
  // setup program keeps one window in memory while it unpacks (LZMA2: one
  // per processor).
  int windowLog = 25;
  // Branch targets in Windows programs made absolute (branch_filter.h).
  bool filter = true;
  // Blocks packed at once (each thread needs some 250 MiB at the default
  // level, 900 MiB at the best); 0: one per processor, in a 32-bit program
  // at most 2 (1 with `best`).
  int threads = 0;
  // Bytes of content done of the total; called now and then.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

using Opener = std::function<std::unique_ptr<ByteSource>(const std::string& diskPath)>;

// Writes the stub program's bytes, then the package, to `out`. The same
// inputs always give the same bytes, whatever the threads: nothing of the
// time or place of packing goes in. The stub is empty or a PE program with
// nothing after its sections; the script must be one of the inputs' files.
// `open` is called from the packing threads, one call at a time; each
// source it gives is used by one thread. Gives an error text, empty on success.
std::string WritePackage(ByteSource& stub, const std::string& script, const std::vector<Input>& inputs,
                         const Opener& open, ByteSink& out, const WriteOptions& options);

// What makes a package an update (format version 4, see package.h): its
// kept and patched inputs carry their crc, filter, baseSize and baseHash,
// and the writer reads none of their content.
struct Update {
  std::string baseId, baseVersion;  // as the base's script has them
  std::vector<std::string> patches;  // each patched input's frame, in input order
};

// As WritePackage, for an update; always zstd.
std::string WriteUpdate(ByteSource& stub, const std::string& script, const std::vector<Input>& inputs,
                        const Update& update, const Opener& open, ByteSink& out, const WriteOptions& options);

}  // namespace qv::pack
