// An update from two packages (patch_writer.h): each file of the newer one
// compared with the base's file of its path, then packed, kept or patched.
#include "package/patch_writer.h"

#include <zstd.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <utility>

#include "framework/portable/xxh64.h"
#include "package/branch_filter.h"
#include "package/format.h"
#include "package/memory_bytes.h"

namespace qv::pack {
namespace {

// Enough of a file's start to tell a program by its headers.
constexpr std::size_t kHeadSize = 4096;
// A patched file and its base: both in the decoder's window.
constexpr std::uint64_t kPatchRoom = std::uint64_t(1) << format::kMaxWindowLog;
// Files the packing threads may be reading at once, unpacked in memory.
constexpr std::size_t kCachedFiles = 4;

// Sums what it is given, keeping none of it.
class SumSink : public ByteSink {
 public:
  bool Write(const void* data, std::size_t n) override {
    sum_.Update(data, n);
    return true;
  }
  std::uint64_t Digest() const { return sum_.Digest(); }

 private:
  Xxh64 sum_;
};

struct CctxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};

// `content` packed as one frame, against `prefix` when it is not empty;
// empty when the compressor fails.
std::string Frame(const std::string& content, const std::string& prefix, const WriteOptions& options) {
  std::unique_ptr<ZSTD_CCtx, CctxFree> c(ZSTD_createCCtx());
  if (!c) return {};
  // The window reaches from the base's first byte to the file's last.
  int windowLog = format::kMinWindowLog;
  while (windowLog < format::kMaxWindowLog && (std::uint64_t(1) << windowLog) < prefix.size() + content.size())
    ++windowLog;
  const auto set = [&c](ZSTD_cParameter p, int v) { return !ZSTD_isError(ZSTD_CCtx_setParameter(c.get(), p, v)); };
  const int level = options.best ? ZSTD_maxCLevel() : std::clamp(options.level, 1, ZSTD_maxCLevel());
  if (!set(ZSTD_c_compressionLevel, level) || !set(ZSTD_c_windowLog, windowLog) ||
      !set(ZSTD_c_enableLongDistanceMatching, 1) || !set(ZSTD_c_checksumFlag, 0) || !set(ZSTD_c_contentSizeFlag, 1))
    return {};
  if (!prefix.empty() && ZSTD_isError(ZSTD_CCtx_refPrefix(c.get(), prefix.data(), prefix.size()))) return {};
  std::string out(ZSTD_compressBound(content.size()), '\0');
  const std::size_t n = ZSTD_compress2(c.get(), out.data(), out.size(), content.data(), content.size());
  if (ZSTD_isError(n)) return {};
  out.resize(n);
  return out;
}

std::string Filtered(std::string bytes) {
  FilterBranches(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), 0, true, true);
  return bytes;
}

bool Unpack(Reader& reader, const Entry& entry, std::string& into) {
  MemorySink sink;
  if (!reader.Extract(entry, sink)) return false;
  into = std::move(sink.bytes);
  return true;
}

// The newer package's packed files for the writer, unpacked whole as its
// threads open them (one at a time); the last few are kept, since a file
// over several blocks is opened once per block.
class NextFiles {
 public:
  explicit NextFiles(Reader& next) : next_(next) {}
  std::unique_ptr<ByteSource> Open(const std::string& at) {
    const std::size_t i = std::stoul(at);
    for (const auto& [entry, bytes] : cache_)
      if (entry == i) return std::make_unique<SharedSource>(bytes);
    auto bytes = std::make_shared<std::string>();
    if (!Unpack(next_, next_.Entries()[i], *bytes)) return nullptr;
    if (cache_.size() == kCachedFiles) cache_.pop_front();
    cache_.emplace_back(i, bytes);
    return std::make_unique<SharedSource>(std::move(bytes));
  }

 private:
  class SharedSource : public ByteSource {
   public:
    explicit SharedSource(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t Size() const override { return bytes_->size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override {
      if (offset > bytes_->size() || n > bytes_->size() - offset) return false;
      std::copy_n(bytes_->data() + offset, n, static_cast<char*>(buffer));
      return true;
    }

   private:
    std::shared_ptr<const std::string> bytes_;
  };
  Reader& next_;
  std::deque<std::pair<std::size_t, std::shared_ptr<const std::string>>> cache_;
};

}  // namespace

std::string WritePatch(Reader& base, Reader& next, ByteSource& stub, const std::string& baseId,
                       const std::string& baseVersion, const std::function<bool(const Entry&)>& fromBase,
                       ByteSink& out, const WriteOptions& options, PatchCounts* counts) {
  if (!base.BaseId().empty() || !next.BaseId().empty()) return "an update is made from two full packages";
  Update update{baseId, baseVersion, {}};
  std::vector<Input> inputs;
  PatchCounts tally;
  std::uint64_t done = 0, total = 0;
  for (const Entry& e : next.Entries()) total += e.size;
  for (std::size_t i = 0; i < next.Entries().size(); ++i) {
    const Entry& e = next.Entries()[i];
    Input input{e, std::to_string(i)};
    input.entry.block = 0, input.entry.offset = 0;
    if (options.progress) options.progress(done, total);
    done += e.size;
    const Entry* was = base.Find(e.path);
    if (e.IsFolder() || e.size == 0 || !was || was->IsFolder() || was->size == 0 || !fromBase(e)) {
      inputs.push_back(std::move(input));
      tally.packed += !e.IsFolder();
      continue;
    }
    // The same content: nothing to carry. Sums, not bytes, so a file of
    // any size is compared in little memory.
    if (was->size == e.size && was->crc == e.crc) {
      SumSink before, after;
      if (!base.Extract(*was, before) || !next.Extract(e, after)) return "cannot unpack " + e.path;
      if (before.Digest() == after.Digest()) {
        input.entry.source = Source::kKept;
        input.entry.filter = Filter::kNone;
        input.entry.baseSize = was->size;
        input.entry.baseHash = before.Digest();
        inputs.push_back(std::move(input));
        ++tally.kept;
        continue;
      }
    }
    // Sizes the index has checked: far from overflowing.
    if (was->size + e.size > kPatchRoom) {
      inputs.push_back(std::move(input));
      ++tally.packed;
      continue;
    }
    std::string old, now;
    if (!Unpack(base, *was, old) || !Unpack(next, e, now)) return "cannot unpack " + e.path;
    // Programs both ways, branches filtered or not: which packs smaller
    // depends on how the code moved. Patched only when it beats the file
    // packed alone.
    const bool program = options.filter && IsMachineCode(reinterpret_cast<const unsigned char*>(now.data()),
                                                         std::min<std::size_t>(now.size(), kHeadSize));
    std::string alone = Frame(program ? Filtered(now) : now, {}, options);
    std::string patch = Frame(now, old, options);
    Filter filter = Filter::kNone;
    if (program) {
      std::string filtered = Frame(Filtered(now), Filtered(old), options);
      if (!filtered.empty() && filtered.size() < patch.size()) {
        patch = std::move(filtered);
        filter = Filter::kBranches;
      }
    }
    if (alone.empty() || patch.empty()) return "the compressor failed on " + e.path;
    if (patch.size() < alone.size()) {
      input.entry.source = Source::kPatched;
      input.entry.filter = filter;
      input.entry.baseSize = old.size();
      input.entry.baseHash = Xxh64Of(old.data(), old.size());
      update.patches.push_back(std::move(patch));
      ++tally.patched;
    } else {
      ++tally.packed;
    }
    inputs.push_back(std::move(input));
  }
  if (counts) *counts = tally;

  NextFiles files(next);
  WriteOptions packing = options;
  packing.codec = format::Codec::kZstd;
  packing.progress = nullptr;  // the comparing above is most of the work
  return WriteUpdate(stub, next.Script(), inputs, update, [&files](const std::string& at) { return files.Open(at); },
                     out, packing);
}

}  // namespace qv::pack
