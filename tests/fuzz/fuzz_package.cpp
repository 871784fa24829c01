// The package reader, and the file-version reader, over arbitrary files: what Open accepts must be safe
// to unpack, and unpacking any entry gives at most its size, exactly its
// size and CRC when it says it succeeded; any other failure (the sink never
// refuses) marks the package damaged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "engine/file_version.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/xxh64.h"
#include "package/memory_bytes.h"
#include "package/package.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;

class Bytes : public qv::pack::ByteSource {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override {
    Require(offset <= size_ && n <= size_ - offset, "read outside the file");
    if (n > 0) std::memcpy(buffer, data_ + offset, n);
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

struct Counter : qv::pack::ByteSink {
  bool Write(const void* data, std::size_t n) override {
    count += n;
    crc = qv::pack::Crc32(crc, data, n);
    return true;
  }
  std::uint64_t count = 0;
  std::uint32_t crc = 0;
};

// A patched file against a base of the right size and sum (the sum taken
// as the entry's, so any base gets to the decoder), and against another.
void Patch(qv::pack::Reader& reader, const qv::pack::Entry& e) {
  std::string base(std::size_t(e.baseSize), '\x5A');
  for (std::size_t i = 0; i < base.size(); i += 7) base[i] = char(i);
  qv::pack::MemorySource source(base), other(base + "x");
  Counter sink;
  Require(reader.ExtractPatched(e, other, sink) == qv::pack::PatchStatus::WrongBase && sink.count == 0,
          "a wrong base was used");
  qv::pack::Entry forced = e;
  forced.baseHash = qv::Xxh64Of(base.data(), base.size());
  const qv::pack::PatchStatus status = reader.ExtractPatched(forced, source, sink);
  Require(sink.count <= e.size, "more bytes than the entry's size");
  if (status == qv::pack::PatchStatus::Ok) Require(sink.count == e.size && sink.crc == e.crc, "success with the wrong content");
  Require(status == qv::pack::PatchStatus::Ok || reader.Damaged(), "a failed patch was not taken for damage");
}

void Check(qv::pack::ByteSource& file, std::uint64_t start) {
  qv::pack::Reader reader;
  if (reader.Open(file, start) != qv::pack::OpenStatus::Ok) {
    Require(reader.Entries().empty() && !reader.Verify(), "a refused package still has entries");
    return;
  }
  reader.Verify();  // whatever it says, unpacking stays safe
  std::set<std::string> seen;
  for (const auto& e : reader.Entries()) {
    Require(qv::pack::IsSafePath(e.path), "an unsafe path was accepted");
    Require(seen.insert(qv::FileNameKey(e.path)).second, "a path twice was accepted");
    Require(reader.Find(e.path) == &e, "an entry is not found by its path");
    const auto cut = e.path.rfind('\\');
    const qv::pack::Entry* folder = cut == std::string::npos ? nullptr : reader.Find(e.path.substr(0, cut));
    Require(!folder || folder->IsFolder(), "a path inside a file was accepted");
  }
  Require(reader.Find(reader.Script()) != nullptr, "the script is no entry");
  // Twice: in packed order, then from the end, which restarts blocks.
  for (int pass = 0; pass < 2; ++pass) {
    const auto& entries = reader.Entries();
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const auto& e = entries[pass == 0 ? k : entries.size() - 1 - k];
      Counter sink;
      if (e.source != qv::pack::Source::kPacked) {
        Require(!reader.Extract(e, sink) && sink.count == 0, "a file of the base was unpacked from the update");
        if (pass == 0 && e.source == qv::pack::Source::kPatched) Patch(reader, e);
        continue;
      }
      const bool ok = reader.Extract(e, sink);
      Require(sink.count <= e.size, "more bytes than the entry's size");
      if (ok) Require(sink.count == e.size && sink.crc == e.crc, "success with the wrong content");
      Require(ok || e.IsFolder() || reader.Damaged(), "a failed unpack was not taken for damage");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes file(data, size);
  // A program's version is read from any file without reading past its end.
  qv::ReadFileVersion(file);
  Check(file, 0);
  if (const auto start = qv::pack::OverlayStart(file)) Check(file, *start);
  return 0;
}
