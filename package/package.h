// A package: the files of a package folder sealed behind the setup program.
// Portable (no <windows.h>): the program, qvpack and the host tests share it.
//
//   [setup program (PE)] [package] [anything appended later: a signature]
//
// The package starts where the program's last PE section ends, so a
// signature appended afterwards does not move it; its records say how long
// it is, so what follows is ignored. All integers are little-endian, all
// sizes and offsets 64-bit (packages over 4 GiB work), all paths UTF-8 with
// backslashes, relative to the package folder.
//
//   lead    "qvPack\x1A\n", version 3 (u32; 4: an update, below), window
//           log (u32, 20 to 27), block size (u32, 64 KiB to 1 GiB),
//           codec (u32: 0 zstd, 1 LZMA2; zero before version 3)
//   block*  record kind 1 (u32), length (u64), one zstd frame: the next
//           block-size bytes of the files' contents laid end to end in
//           entry order (the last block holds the rest)
//   index   record kind 2 (u32), length (u64), CRC-32 of what follows (u32),
//           content size (u64), entry count (u32), script (u16 length + bytes),
//           per entry: path (u16 length + bytes), attributes (u32),
//           modified (u64), size (u64), CRC-32 (u32), filter (u8, not in
//           version 1), block (u32), offset (u64); then per block (from
//           version 3): XXH64 of its packed bytes (u64)
//   end     record kind 3 (u32), length 4 (u64), CRC-32 (u32) of the whole
//           package before it; from version 3 of all but the blocks' packed
//           bytes, which their own sums cover
//
// The writer cannot seek back, so nothing before a block says how long the
// blocks are: Open steps from record to record (a few per GiB). Blocks are
// independent frames, so a file taken out of order costs at most one block
// from its start, and blocks can be packed in parallel. Every file's place
// follows from the sizes before it; Open insists the index says the same.
//
// A file's filter (branch_filter.h) was applied to its content before
// packing, on each part of it that one block holds, counted from the file's
// start; its CRC is that of the content as installed.
//
// An update (version 4, written by `qvpack patch` alone) is made from two
// packages of one product and installs only over the installation of the
// older one, its base: a file is packed in the blocks as above, kept (the
// base's file of that path is already its content) or patched (packed
// against the base's file). Its codec is zstd, its blocks hold the packed
// files alone, and after them come
//   patch*  record kind 4 (u32), length (u64), one zstd frame: a patched
//           file's content, packed with the base file's content as the
//           frame's prefix, both filtered whole by the file's filter; one
//           per patched file, in entry order
// and the index has, after the script, the base's [UNINSTALL] Id (never
// empty) and Version (u16 length + bytes each, as the base's script has
// them); per entry, after the offset: source (u8: 0 packed, 1 kept,
// 2 patched), the base file's size (u64) and the XXH64 of its content as
// installed (u64), both zero for a packed file; and after the blocks' sums
// each patch record's XXH64 (u64), which the end's CRC leaves to them as it
// does the blocks' bytes. A patched file's block is the number of
// its patch record and its offset 0; a kept file's are both 0, its filter
// none and its base's size its own. Kept and patched files are never
// empty; a patched file and its base fit together in the 128 MiB window,
// since the decoder holds both.
#pragma once

#include "framework/portable/crc32.h"
#include "package/branch_filter.h"
#include "package/bytes.h"
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::pack {

// Where an update's file comes from (always kPacked in a full package).
enum class Source : std::uint8_t { kPacked = 0, kKept = 1, kPatched = 2 };

// One file or folder of the package. Folders (empty ones included) are
// entries too, so a folder's attributes and times come back.
struct Entry {
  std::string path;              // e.g. "files\\lib\\a.dll"; never empty
  std::uint32_t attributes = 0;  // kKeptAttributes' bits (package/bytes.h)
  std::uint64_t modified = 0;    // FILETIME: 100 ns ticks since 1601
  std::uint64_t size = 0;
  std::uint32_t crc = 0;         // CRC-32 of the content
  Filter filter = Filter::kNone;  // undone while unpacking
  std::uint32_t block = 0;       // the solid block holding the content (patched: its patch record)
  std::uint64_t offset = 0;      // where in that block's unpacked bytes
  Source source = Source::kPacked;
  // Kept and patched: the base's file as it must be installed before this
  // one may be written, its size and XXH64.
  std::uint64_t baseSize = 0;
  std::uint64_t baseHash = 0;
  bool IsFolder() const { return (attributes & kAttrDirectory) != 0; }
};

// Whether `installed` is the base file a kept or patched entry was made
// against, read whole: its size, and the CRC-32 of a kept file (the
// entry's own) or the XXH64 of a patched one's base.
bool MatchesBase(const Entry& entry, ByteSource& installed);

enum class PatchStatus { Ok, WrongBase, Failed };

// The file-name rules a package must keep: no "..", "." or empty parts, no
// drive, no leading backslash or slash, no colon (streams), no device names
// (CON, NUL, COM1, ...), no control characters. Checked by the reader, the
// writer and qvpack list/extract alike.
bool IsSafePath(std::string_view path);

using ::qv::Crc32;

// Where a package would start in this file: the end of the last PE section
// (beyond the file's end when the file is cut short); nothing when the file
// is no PE program.
std::optional<std::uint64_t> OverlayStart(ByteSource& file);

enum class OpenStatus { NoPackage, Damaged, Ok };

class Reader {
 public:
  Reader();
  ~Reader();
  // Reads and checks the header and index of a package found in `file` at
  // `start`. NoPackage when nothing is there (an unpacked setup program,
  // perhaps signed); Damaged when a package is there (its magic, one byte
  // damaged at most) but cut short, inconsistent or unsafe (two paths that
  // Windows takes for one name, a path inside a file), and when `start`
  // lies beyond the file's end.
  OpenStatus Open(ByteSource& file, std::uint64_t start);
  // What was downloaded, checked before the first file is written by
  // reading the package once, unpacking nothing: the checksums over its
  // bytes (each block's and patch record's sum, or one over the whole of an
  // older package) and every block's and patch's frame header (the window
  // it asks for, the size it says it holds). A damaged or cut-short download fails here; content that is
  // not what the index says (only a crafted package or a decoder fault)
  // fails its file's Extract.
  bool Verify();
  // An Extract met content that is not what the index says (not a sink
  // that refused): the package cannot be trusted for the rest of the run.
  bool Damaged() const;

  // The script the package was sealed with (e.g. "setup.ini").
  const std::string& Script() const;
  // Entries in the order they were packed (the order of installation).
  const std::vector<Entry>& Entries() const;
  // Lookup of a relative path as Windows compares names (file_name_case.h);
  // null if absent.
  const Entry* Find(std::string_view path) const;
  // An update's base: the [UNINSTALL] Id and Version of the package it was
  // made from; empty for a full package.
  const std::string& BaseId() const;
  const std::string& BaseVersion() const;
  // Unpacks one file's content into `sink`, checking its size and CRC as it
  // goes; false when the data is damaged (see Damaged) or the sink refuses. Files taken in
  // packed order stream through each block once, unpacked a few MiB ahead
  // on a second thread while the sink writes; memory stays bounded (the
  // matching window, at most 128 MiB, plus small buffers).
  // Packed entries alone: false for a kept or patched one (no damage).
  bool Extract(const Entry& entry, ByteSink& sink);
  // A patched entry's content, unpacked on the caller's thread against its
  // base file (the installed one), into `sink`. WrongBase, before anything
  // is written, when `base` is not what the entry was made against (size,
  // XXH64); otherwise its size and CRC are checked as Extract does and
  // Failed is damage (see Damaged) or a sink that refused. Memory: the
  // base and the file, together at most 128 MiB.
  PatchStatus ExtractPatched(const Entry& entry, ByteSource& base, ByteSink& sink);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qv::pack
