// Seals a package (see package.h). Blocks are independent zstd frames, so
// a few threads pack a block each; each thread's compressor works alone, so
// the bytes do not depend on how many threads there were.
#include "package/writer.h"

#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "framework/portable/file_name_case.h"
#include "framework/portable/little_endian.h"
#include "framework/portable/xxh64.h"
#include "package/branch_filter.h"
#include "package/format.h"
#include "package/lzma_block.h"
#include "package/path_index.h"

namespace qv::pack {
namespace {

constexpr std::size_t kReadChunk = 1u << 20;
constexpr std::size_t kOutChunk = 4u << 20;
// Enough of a file's start to tell a program by its headers.
constexpr std::size_t kHeadSize = 4096;

struct CctxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
using Cctx = std::unique_ptr<ZSTD_CCtx, CctxFree>;

// Part of one file's content inside one block, with its CRC.
struct Piece {
  std::size_t input = 0;
  std::uint64_t length = 0;
  std::uint32_t crc = 0;
  Filter filter = Filter::kNone;
};

struct PackedBlock {
  std::vector<std::string> chunks;  // the frame, in pieces so a big one is never copied whole
  std::uint64_t size = 0;
  std::vector<Piece> pieces;
  bool ready = false;
};

// Checksums what goes out after the stub: a block's packed bytes by their
// own sum, all else by one CRC.
class PackageSink {
 public:
  explicit PackageSink(ByteSink& out) : out_(out) {}
  bool Write(const void* data, std::size_t n) {
    crc_ = Crc32(crc_, data, n);
    return out_.Write(data, n);
  }
  bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
  // Bytes summed on their own, left out of the CRC.
  bool WriteBlock(const std::vector<std::string>& chunks, Xxh64& sum) {
    for (const std::string& chunk : chunks) {
      sum.Update(chunk.data(), chunk.size());
      if (!out_.Write(chunk.data(), chunk.size())) return false;
    }
    return true;
  }
  bool WriteSummed(const std::string& bytes, Xxh64& sum) {
    sum.Update(bytes.data(), bytes.size());
    return out_.Write(bytes.data(), bytes.size());
  }
  std::uint32_t Crc() const { return crc_; }

 private:
  ByteSink& out_;
  std::uint32_t crc_ = 0;
};

class Packer {
 public:
  Packer(const std::vector<Input>& inputs, const Opener& open, const WriteOptions& options)
      : inputs_(inputs), open_(open), options_(options) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      // An update's kept and patched files come from elsewhere.
      if (inputs[i].entry.size == 0 || inputs[i].entry.source != Source::kPacked) continue;
      files_.push_back(i);
      starts_.push_back(total_);
      total_ += inputs[i].entry.size;
    }
    blockSize_ = options.blockSize;
    blocks_ = std::uint32_t((total_ + blockSize_ - 1) / blockSize_);
  }

  std::uint64_t Total() const { return total_; }
  // Each block's XXH64, once Run has written it.
  const std::vector<std::uint64_t>& Sums() const { return sums_; }
  std::uint32_t BlockSize() const { return blockSize_; }

  // Packs every block and writes each as a record as soon as it and all
  // before it are done; fills in each file's CRC.
  std::string Run(PackageSink& out, std::vector<std::uint32_t>& crcs, std::vector<Filter>& filters) {
    results_.resize(blocks_);
    sums_.assign(blocks_, 0);
    unsigned threads = options_.threads > 0 ? unsigned(options_.threads) : std::thread::hardware_concurrency();
    // Each compressor keeps a 128 MiB window and larger tables (some 250 MiB
    // at the default level, 900 MiB at the best): a 32-bit program's 2 GiB
    // hold two of the first kind, one of the second.
    if (options_.threads <= 0 && sizeof(void*) == 4) threads = std::min(threads, options_.best ? 1u : 2u);
    threads = std::clamp(threads, 1u, std::max(blocks_, 1u));
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < threads && blocks_ > 0; ++i) workers.emplace_back([this, threads] { Work(threads); });
    std::string error;
    for (std::uint32_t b = 0; b < blocks_ && error.empty(); ++b) {
      error = WaitFor(b);
      if (error.empty()) error = WriteBlock(b, out, crcs, filters);
    }
    {
      std::lock_guard lock(mutex_);
      if (error_.empty()) error_ = error;
      stop_ = true;
    }
    changed_.notify_all();
    for (auto& w : workers) w.join();
    return error;
  }

 private:
  void Work(unsigned threads) {
    const bool zstd = options_.codec == format::Codec::kZstd;
    Cctx cctx(zstd ? ZSTD_createCCtx() : nullptr);
    std::string error = !zstd ? "" : cctx ? Configure(cctx.get()) : "out of memory";
    while (true) {
      std::uint32_t b;
      {
        std::unique_lock lock(mutex_);
        if (!error.empty()) {
          if (error_.empty()) error_ = error;
          stop_ = true;
          changed_.notify_all();
          return;
        }
        // No more blocks waiting in memory than there are threads.
        changed_.wait(lock, [&] { return stop_ || next_ >= blocks_ || next_ < written_ + threads; });
        if (stop_ || next_ >= blocks_) return;
        b = next_++;
      }
      PackedBlock packed;
      error = Compress(cctx.get(), b, packed);
      if (error.empty()) {
        std::lock_guard lock(mutex_);
        packed.ready = true;
        results_[b] = std::move(packed);
      }
      changed_.notify_all();
    }
  }

  std::string Configure(ZSTD_CCtx* c) const {
    const auto set = [c](ZSTD_cParameter p, int v) { return !ZSTD_isError(ZSTD_CCtx_setParameter(c, p, v)); };
    const int level = options_.best ? ZSTD_maxCLevel() : std::clamp(options_.level, 1, ZSTD_maxCLevel());
    const bool ok = set(ZSTD_c_compressionLevel, level) && set(ZSTD_c_windowLog, options_.windowLog) &&
                    set(ZSTD_c_enableLongDistanceMatching, 1) && set(ZSTD_c_checksumFlag, 0) &&
                    set(ZSTD_c_contentSizeFlag, 1);
    return ok ? "" : "the compressor refused its settings";
  }

  std::string Compress(ZSTD_CCtx* c, std::uint32_t b, PackedBlock& packed) {
    const std::uint64_t begin = std::uint64_t(b) * blockSize_, end = std::min(begin + blockSize_, total_);
    // LZMA2 packs the block whole, once its bytes are together.
    std::vector<unsigned char> whole;
    if (c) {
      ZSTD_CCtx_reset(c, ZSTD_reset_session_only);
      ZSTD_CCtx_setPledgedSrcSize(c, end - begin);
    } else {
      whole.reserve(std::size_t(end - begin));
    }
    std::vector<unsigned char> buffer(kReadChunk);
    // The first file whose content reaches into this block.
    std::size_t f = std::size_t(std::upper_bound(starts_.begin(), starts_.end(), begin) - starts_.begin()) - 1;
    for (std::uint64_t pos = begin; pos < end; ++f) {
      const Input& input = inputs_[files_[f]];
      const std::uint64_t from = pos - starts_[f];
      Piece piece{files_[f], std::min(input.entry.size - from, end - pos), 0};
      std::unique_ptr<ByteSource> source;
      {
        std::lock_guard lock(openMutex_);  // the caller's opener need not be thread-safe
        source = open_(input.diskPath);
      }
      if (!source) return "cannot open " + input.diskPath;
      if (source->Size() != input.entry.size) return input.diskPath + " changed while it was packed";
      const std::optional<Filter> filter = FilterFor(*source, input.entry.size);
      if (!filter) return "cannot read " + input.diskPath;
      piece.filter = *filter;
      // A filtered conversion needs five bytes: up to four wait at the
      // buffer's start for the next read. The piece is filtered on its own
      // (from its first byte to its last), so each block is packed alone.
      std::size_t waiting = 0;
      for (std::uint64_t done = 0; done < piece.length;) {
        if (Stopped()) return "stopped";
        const auto n = std::size_t(std::min<std::uint64_t>(buffer.size() - waiting, piece.length - done));
        unsigned char* fresh = buffer.data() + waiting;
        if (!source->ReadAt(from + done, fresh, n)) return "cannot read " + input.diskPath;
        piece.crc = Crc32(piece.crc, fresh, n);
        done += n;
        progress_ += n;
        const std::size_t held = waiting + n;
        const std::size_t ready =
            piece.filter == Filter::kBranches
                ? FilterBranches(buffer.data(), held, from + done - held, true, done == piece.length)
                : held;
        ZSTD_inBuffer in{buffer.data(), ready, 0};
        if (!c) whole.insert(whole.end(), buffer.data(), buffer.data() + ready);
        else if (!Feed(c, in, ZSTD_e_continue, packed)) return "the compressor failed";
        waiting = held - ready;
        std::memmove(buffer.data(), buffer.data() + ready, waiting);
      }
      packed.pieces.push_back(piece);
      pos += piece.length;
    }
    if (!c) {
      std::vector<unsigned char> out;
      if (!lzma::Compress(whole.data(), whole.size(), unsigned(options_.windowLog), out))
        return "the compressor failed";
      packed.chunks.emplace_back(out.begin(), out.end());
      packed.size = out.size();
      return "";
    }
    ZSTD_inBuffer none{nullptr, 0, 0};
    return Feed(c, none, ZSTD_e_end, packed) ? "" : "the compressor failed";
  }

  // The filter a file's content asks for, by its first bytes; nothing when
  // they cannot be read.
  std::optional<Filter> FilterFor(ByteSource& source, std::uint64_t size) const {
    if (!options_.filter) return Filter::kNone;
    unsigned char head[kHeadSize];
    const auto n = std::size_t(std::min<std::uint64_t>(size, sizeof head));
    if (!source.ReadAt(0, head, n)) return std::nullopt;
    return IsMachineCode(head, n) ? Filter::kBranches : Filter::kNone;
  }
  static bool Feed(ZSTD_CCtx* c, ZSTD_inBuffer& in, ZSTD_EndDirective mode, PackedBlock& packed) {
    while (true) {
      if (packed.chunks.empty() || packed.chunks.back().size() == kOutChunk) {
        packed.chunks.emplace_back();
        packed.chunks.back().reserve(kOutChunk);
      }
      std::string& chunk = packed.chunks.back();
      const std::size_t used = chunk.size();
      chunk.resize(kOutChunk);
      ZSTD_outBuffer out{chunk.data(), kOutChunk, used};
      const std::size_t r = ZSTD_compressStream2(c, &out, &in, mode);
      chunk.resize(out.pos);
      packed.size += out.pos - used;
      if (ZSTD_isError(r)) return false;
      if (mode == ZSTD_e_end ? r == 0 : in.pos == in.size) return true;
    }
  }

  bool Stopped() {
    std::lock_guard lock(mutex_);
    return stop_;
  }

  // Waits for block b, reporting progress now and then.
  std::string WaitFor(std::uint32_t b) {
    while (true) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(200), [&] { return results_[b].ready || stop_; });
        if (!error_.empty()) return error_;
        if (results_[b].ready) return "";
      }
      if (options_.progress) options_.progress(progress_, total_);
    }
  }

  std::string WriteBlock(std::uint32_t b, PackageSink& out, std::vector<std::uint32_t>& crcs,
                         std::vector<Filter>& filters) {
    PackedBlock packed;
    {
      std::lock_guard lock(mutex_);
      packed = std::move(results_[b]);
      results_[b] = {};
    }
    std::string head;
    AppendLe(head, format::kBlock, 4);
    AppendLe(head, packed.size, 8);
    Xxh64 sum;
    const bool ok = out.Write(head) && out.WriteBlock(packed.chunks, sum);
    sums_[b] = sum.Digest();
    for (const Piece& p : packed.pieces) {
      crcs[p.input] = format::Crc32Combine(crcs[p.input], p.crc, p.length);
      filters[p.input] = p.filter;
    }
    {
      std::lock_guard lock(mutex_);
      ++written_;
    }
    changed_.notify_all();
    if (options_.progress) options_.progress(progress_, total_);
    return ok ? "" : "cannot write the package";
  }

  const std::vector<Input>& inputs_;
  const Opener& open_;
  const WriteOptions& options_;
  std::vector<std::size_t> files_;     // inputs with content, in order
  std::vector<std::uint64_t> starts_;  // where each of them begins in the content
  std::uint64_t total_ = 0;
  std::uint32_t blockSize_ = 0, blocks_ = 0;

  std::mutex openMutex_, mutex_;
  std::condition_variable changed_;
  std::vector<PackedBlock> results_;
  std::vector<std::uint64_t> sums_;
  std::uint32_t next_ = 0, written_ = 0;
  bool stop_ = false;
  std::string error_;
  std::atomic<std::uint64_t> progress_{0};
};

std::string CheckInputs(const std::string& script, const std::vector<Input>& inputs, const WriteOptions& options) {
  if (options.blockSize < format::kMinBlockSize || options.blockSize > format::kMaxBlockSize)
    return "block size out of range";
  if (options.windowLog < format::kMinWindowLog || options.windowLog > format::kMaxWindowLog)
    return "window out of range";
  std::vector<Entry> entries;
  entries.reserve(inputs.size());
  for (const Input& input : inputs) {
    const Entry& e = input.entry;
    if (!IsSafePath(e.path)) return "unsafe path in the package: " + e.path;
    if (e.IsFolder() && e.size != 0) return "a folder with a size: " + e.path;
    entries.push_back(e);
  }
  // What the reader would refuse: names that are one on disk, a path inside a file.
  const PathIndex index = IndexPaths(entries);
  if (index.clash == PathIndex::Clash::kTwice)
    return "path twice in the package (as Windows compares names): " + entries[index.at].path;
  if (index.clash == PathIndex::Clash::kInsideAFile)
    return "a path inside a file of the package: " + entries[index.at].path;
  const auto it = index.byKey.find(FileNameKey(script));
  return it != index.byKey.end() && !entries[it->second].IsFolder()
             ? ""
             : "the script is not among the package's files: " + script;
}

std::string CopyStub(ByteSource& stub, ByteSink& out) {
  const std::uint64_t size = stub.Size();
  // The package must start where the program ends, or it would not be found.
  if (size != 0 && OverlayStart(stub) != size) return "the stub is not a setup program without a package";
  std::vector<char> buffer(kReadChunk);
  for (std::uint64_t pos = 0; pos < size;) {
    const auto n = std::size_t(std::min<std::uint64_t>(buffer.size(), size - pos));
    if (!stub.ReadAt(pos, buffer.data(), n)) return "cannot read the stub";
    if (!out.Write(buffer.data(), n)) return "cannot write the package";
    pos += n;
  }
  return "";
}

// A full package (version 3), or an update (version 4) given `update`.
std::string Write(ByteSource& stub, const std::string& script, const std::vector<Input>& inputs,
                  const Update* update, const Opener& open, ByteSink& out, const WriteOptions& options) {
  if (std::string error = CheckInputs(script, inputs, options); !error.empty()) return error;
  std::vector<std::uint64_t> patchSums;
  if (update) {
    if (update->baseId.empty()) return "an update without its base's Id";
    if (options.codec != format::Codec::kZstd) return "an update is packed with zstd";
    std::size_t patched = 0;
    for (const Input& input : inputs) {
      const Entry& e = input.entry;
      if (e.source != Source::kPacked && (e.size == 0 || e.IsFolder())) return "nothing to take from the base: " + e.path;
      patched += e.source == Source::kPatched;
    }
    if (patched != update->patches.size()) return "a patched file without its frame, or a frame too many";
  } else if (std::any_of(inputs.begin(), inputs.end(), [](const Input& i) { return i.entry.source != Source::kPacked; })) {
    return "a full package holds all its files";
  }
  if (std::string error = CopyStub(stub, out); !error.empty()) return error;
  Packer packer(inputs, open, options);
  PackageSink sink(out);
  std::string lead(format::kMagic, sizeof format::kMagic);
  AppendLe(lead, update ? format::kUpdateVersion : format::kVersion, 4);
  AppendLe(lead, options.windowLog, 4);
  AppendLe(lead, packer.BlockSize(), 4);
  AppendLe(lead, std::uint32_t(options.codec), 4);
  if (!sink.Write(lead)) return "cannot write the package";

  std::vector<std::uint32_t> crcs(inputs.size(), 0);
  std::vector<Filter> filters(inputs.size(), Filter::kNone);
  if (std::string error = packer.Run(sink, crcs, filters); !error.empty()) return error;
  if (update)
    for (const std::string& frame : update->patches) {
      std::string head;
      AppendLe(head, format::kPatch, 4);
      AppendLe(head, frame.size(), 8);
      Xxh64 sum;
      if (!sink.Write(head) || !sink.WriteSummed(frame, sum)) return "cannot write the package";
      patchSums.push_back(sum.Digest());
    }

  std::string index;
  AppendLe(index, packer.Total(), 8);
  AppendLe(index, inputs.size(), 4);
  AppendLe(index, script.size(), 2);
  index += script;
  if (update) {
    AppendLe(index, update->baseId.size(), 2);
    index += update->baseId;
    AppendLe(index, update->baseVersion.size(), 2);
    index += update->baseVersion;
  }
  std::uint64_t position = 0;
  std::uint32_t patch = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const Entry& e = inputs[i].entry;
    const bool packed = e.source == Source::kPacked, content = packed && e.size != 0;
    AppendLe(index, e.path.size(), 2);
    index += e.path;
    AppendLe(index, e.attributes & kKeptAttributes, 4);
    AppendLe(index, e.modified, 8);
    AppendLe(index, e.size, 8);
    AppendLe(index, packed ? crcs[i] : e.crc, 4);
    AppendLe(index, std::uint8_t(packed ? filters[i] : e.source == Source::kPatched ? e.filter : Filter::kNone), 1);
    AppendLe(index, content ? position / packer.BlockSize() : e.source == Source::kPatched ? patch++ : 0, 4);
    AppendLe(index, content ? position % packer.BlockSize() : 0, 8);
    if (update) {
      AppendLe(index, std::uint8_t(e.source), 1);
      AppendLe(index, packed ? 0 : e.baseSize, 8);
      AppendLe(index, packed ? 0 : e.baseHash, 8);
    }
    if (packed) position += e.size;
  }
  for (const std::uint64_t sum : packer.Sums()) AppendLe(index, sum, 8);
  for (const std::uint64_t sum : patchSums) AppendLe(index, sum, 8);
  if (index.size() + 4 > format::kMaxIndexSize) return "too many files for one package";
  std::string record;
  AppendLe(record, format::kIndex, 4);
  AppendLe(record, index.size() + 4, 8);
  AppendLe(record, Crc32(0, index.data(), index.size()), 4);
  std::string end;
  AppendLe(end, format::kEnd, 4);
  AppendLe(end, 4, 8);
  if (!sink.Write(record) || !sink.Write(index) || !sink.Write(end)) return "cannot write the package";
  std::string crc;
  AppendLe(crc, sink.Crc(), 4);
  return out.Write(crc.data(), crc.size()) ? "" : "cannot write the package";
}

}  // namespace

std::string WritePackage(ByteSource& stub, const std::string& script, const std::vector<Input>& inputs,
                         const Opener& open, ByteSink& out, const WriteOptions& options) {
  return Write(stub, script, inputs, nullptr, open, out, options);
}

std::string WriteUpdate(ByteSource& stub, const std::string& script, const std::vector<Input>& inputs,
                        const Update& update, const Opener& open, ByteSink& out, const WriteOptions& options) {
  return Write(stub, script, inputs, &update, open, out, options);
}

}  // namespace qv::pack
