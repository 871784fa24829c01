// Reads a package (see package.h): Open checks everything it will rely on,
// so Extract meets only what the checksums did not already catch.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>

#include "framework/portable/file_name_case.h"
#include "framework/portable/little_endian.h"
#include "framework/portable/xxh64.h"
#include "package/format.h"
#include "package/lzma_block.h"
#include "package/package.h"
#include "package/path_index.h"
#include "package/threads.h"

namespace qv::pack {
namespace {

constexpr std::size_t kReadChunk = 1u << 20;
// Unpacked content goes to the caller in pieces of this size, a few of them
// ahead: enough to keep unpacking while the caller creates and closes files,
// few handovers between the threads (each may wait for a processor on a
// busy machine), and little memory next to the 128 MiB window.
constexpr std::size_t kPieceSize = 1u << 20;
constexpr std::size_t kPieces = 6;
// What the unpacking threads may hold: windows and whole blocks.
constexpr std::uint64_t kUnpackMemory = 128u << 20;

struct Block {
  std::uint64_t packedAt = 0, packedSize = 0;  // in the file
  std::uint64_t sum = 0;                       // XXH64 of those bytes (version 3)
};

// An update's patched file: its record and how much it unpacks to.
struct Patch {
  Block record;
  std::uint64_t size = 0;
};

// Reads fields off the index one after another; any read past its end
// leaves it failed for good.
class Fields {
 public:
  explicit Fields(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t Number(int size) {
    if (!Need(std::size_t(size))) return 0;
    const auto v = LoadLe(bytes_.data() + at_, size);
    at_ += std::size_t(size);
    return v;
  }
  std::string Text() {
    const auto n = std::size_t(Number(2));
    if (!Need(n)) return {};
    std::string s(bytes_.substr(at_, n));
    at_ += n;
    return s;
  }
  bool Ok() const { return ok_; }
  bool AtEnd() const { return ok_ && at_ == bytes_.size(); }
  std::size_t Left() const { return bytes_.size() - at_; }

 private:
  bool Need(std::size_t n) {
    ok_ = ok_ && n <= bytes_.size() - at_;
    return ok_;
  }
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};


// One block's packed bytes taken in by a codec's decoder, in steps.
class Decoder {
 public:
  enum class Step { kMore, kEnded, kDamaged };
  virtual ~Decoder() = default;
  // For the next block: forgets everything of the last one.
  virtual bool Reset() = 0;
  // After Reset: the next frame refers to these bytes as coming before it.
  virtual bool Refer(const void*, std::size_t n) { return n == 0; }
  // Takes what it can of `in` from inPos and gives what it can into `out`
  // from outPos; kEnded once the block's stream has ended. `last`: `in`
  // runs to the end of the block's bytes.
  virtual Step Decode(const unsigned char* in, std::size_t inSize, std::size_t& inPos, bool last, unsigned char* out,
                      std::size_t outSize, std::size_t& outPos) = 0;
};

struct DctxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

class ZstdDecoder : public Decoder {
 public:
  bool Ready() {
    dctx_.reset(ZSTD_createDCtx());
    return dctx_ && !ZSTD_isError(ZSTD_DCtx_setParameter(dctx_.get(), ZSTD_d_windowLogMax, format::kMaxWindowLog));
  }
  bool Reset() override { return !ZSTD_isError(ZSTD_DCtx_reset(dctx_.get(), ZSTD_reset_session_only)); }
  bool Refer(const void* prefix, std::size_t n) override {
    return !ZSTD_isError(ZSTD_DCtx_refPrefix(dctx_.get(), prefix, n));
  }
  Step Decode(const unsigned char* in, std::size_t inSize, std::size_t& inPos, bool, unsigned char* out,
              std::size_t outSize, std::size_t& outPos) override {
    ZSTD_inBuffer i{in, inSize, inPos};
    ZSTD_outBuffer o{out, outSize, outPos};
    const std::size_t r = ZSTD_decompressStream(dctx_.get(), &o, &i);
    inPos = i.pos;
    outPos = o.pos;
    return ZSTD_isError(r) ? Step::kDamaged : r == 0 ? Step::kEnded : Step::kMore;
  }

 private:
  std::unique_ptr<ZSTD_DCtx, DctxFree> dctx_;
};

class LzmaDecoder : public Decoder {
 public:
  explicit LzmaDecoder(unsigned dictLog) : dictLog_(dictLog) {}
  bool Reset() override { return decoder_.Start(dictLog_); }
  Step Decode(const unsigned char* in, std::size_t inSize, std::size_t& inPos, bool last, unsigned char* out,
              std::size_t outSize, std::size_t& outPos) override {
    lzma::Decoder::In i{in, inSize, inPos, last};
    lzma::Decoder::Out o{out, outSize, outPos};
    const lzma::Decoder::Status status = decoder_.Step(i, o);
    inPos = i.pos;
    outPos = o.pos;
    return status == lzma::Decoder::Status::Damaged ? Step::kDamaged
           : status == lzma::Decoder::Status::Ended ? Step::kEnded
                                                    : Step::kMore;
  }

 private:
  const unsigned dictLog_;
  lzma::Decoder decoder_;
};

std::unique_ptr<Decoder> MakeDecoder(format::Codec codec, unsigned windowLog) {
  if (codec == format::Codec::kLzma2) return std::make_unique<LzmaDecoder>(windowLog);
  auto zstd = std::make_unique<ZstdDecoder>();
  return zstd->Ready() ? std::move(zstd) : nullptr;
}

// One block unpacked in order into the caller's buffers. A stream that
// ends before or after the block's bytes do, leaves bytes after it or
// holds more or less than the block should is damage.
class BlockFrame {
 public:
  BlockFrame(ByteSource& file, format::Codec codec, unsigned windowLog)
      : file_(file), codec_(codec), windowLog_(windowLog) {}
  bool Ready() {
    if (decoder_) return true;
    decoder_ = MakeDecoder(codec_, windowLog_);
    if (!decoder_) return false;
    in_.resize(kReadChunk);
    return true;
  }
  void Start(const Block& block, std::uint64_t unpacked) {
    inNext_ = block.packedAt;
    packedEnd_ = block.packedAt + block.packedSize;
    inSize_ = inPos_ = 0;
    left_ = unpacked;
    frameEnded_ = false;
    damaged_ = !decoder_->Reset();
  }
  // Starts a patch record's frame, `prefix` its base (kept by the caller).
  void Start(const Block& record, std::uint64_t unpacked, const std::vector<unsigned char>& prefix) {
    Start(record, unpacked);
    damaged_ = damaged_ || !decoder_->Refer(prefix.data(), prefix.size());
  }
  // Fills up to `room` bytes; gives how many, 0 once the block has ended
  // as it should, nothing on damage (after the bytes good before it).
  std::optional<std::size_t> Next(unsigned char* out, std::size_t room) {
    if (damaged_) return std::nullopt;
    if (left_ == 0) return Ends() ? std::optional<std::size_t>(0) : std::nullopt;
    const auto size = std::size_t(std::min<std::uint64_t>(room, left_));
    std::size_t pos = 0;
    while (pos < size) {
      // A stream ending early holds less than the block should.
      if (frameEnded_ || !Refill()) {
        damaged_ = true;
        break;
      }
      const Decoder::Step step = decoder_->Decode(in_.data(), inSize_, inPos_, inNext_ == packedEnd_, out, size, pos);
      if (step == Decoder::Step::kDamaged) {
        damaged_ = true;
        break;
      }
      frameEnded_ = step == Decoder::Step::kEnded;
    }
    left_ -= pos;
    if (damaged_ && pos == 0) return std::nullopt;
    return pos;
  }

 private:
  // More packed bytes of the block when those in hand are used up.
  bool Refill() {
    if (inPos_ < inSize_) return true;
    const auto n = std::size_t(std::min<std::uint64_t>(in_.size(), packedEnd_ - inNext_));
    if (n == 0 || !file_.ReadAt(inNext_, in_.data(), n)) return false;
    inNext_ += n;
    inSize_ = n;
    inPos_ = 0;
    return true;
  }
  // The stream must end where the block's bytes do, with nothing left over
  // and nothing more to give.
  bool Ends() {
    while (!frameEnded_) {
      unsigned char spare[64];
      std::size_t got = 0;
      if (!Refill()) return false;
      const Decoder::Step step =
          decoder_->Decode(in_.data(), inSize_, inPos_, inNext_ == packedEnd_, spare, sizeof spare, got);
      if (step == Decoder::Step::kDamaged || got != 0) return false;
      frameEnded_ = step == Decoder::Step::kEnded;
    }
    return inPos_ == inSize_ && inNext_ == packedEnd_;
  }

  ByteSource& file_;
  const format::Codec codec_;
  const unsigned windowLog_;
  std::unique_ptr<Decoder> decoder_;
  std::vector<unsigned char> in_;
  std::size_t inSize_ = 0, inPos_ = 0;
  std::uint64_t inNext_ = 0, packedEnd_ = 0, left_ = 0;
  bool frameEnded_ = false, damaged_ = false;
};

// One file's content on its way out, the filter undone: each block's part
// of it was filtered on its own, and a conversion needs five bytes, so up
// to four wait in `stage` for the next bytes of the part.
class FileOutput {
 public:
  FileOutput(Filter filter, std::uint64_t position, std::vector<unsigned char>& stage)
      : filtered_(filter == Filter::kBranches), position_(position), stage_(stage) {
    if (filtered_ && stage_.empty()) stage_.resize(kReadChunk);
  }
  // Gives `n` bytes on to `emit` (false: stop), `partEnds` when they are the
  // last of the file or of its part in a block.
  template <class Emit>
  bool Take(const unsigned char* p, std::size_t n, bool partEnds, Emit&& emit) {
    if (!filtered_) return emit(p, n);
    while (n > 0) {
      const std::size_t m = std::min(n, stage_.size() - waiting_);
      std::memcpy(stage_.data() + waiting_, p, m);
      p += m;
      n -= m;
      const std::size_t held = waiting_ + m;
      const std::size_t ready = FilterBranches(stage_.data(), held, position_, false, partEnds && n == 0);
      if (!emit(stage_.data(), ready)) return false;
      position_ += ready;
      waiting_ = held - ready;
      std::memmove(stage_.data(), stage_.data() + ready, waiting_);
    }
    return true;
  }

 private:
  const bool filtered_;
  std::uint64_t position_;
  std::vector<unsigned char>& stage_;
  std::size_t waiting_ = 0;
};

// Unpacked content, or what the unpacker met instead of it.
struct Piece {
  enum Kind { kData, kBlockEnd, kDamaged } kind = kData;
  const unsigned char* data = nullptr;
  std::size_t size = 0;
};

// The content in packed order from the start of a given block, a piece at a
// time, unpacked ahead of the caller on threads of its own. Damage ends it
// with a kDamaged piece at the place it was met; a block's stream ending
// cleanly where the block's bytes do gives a kBlockEnd piece, and nothing
// lies beyond the content.
class Unpacking {
 public:
  virtual ~Unpacking() = default;
  // Starts afresh at the beginning of block b.
  virtual bool Start(std::uint32_t b) = 0;
  virtual void Stop() = 0;
  // The next piece, once there; the caller keeps it until Release.
  virtual const Piece& Next() = 0;
  virtual void Release() = 0;
};

// One thread unpacks the blocks in order, at most kPieces pieces ahead of
// the caller: writing one file overlaps unpacking the next. For a codec
// that unpacks faster than files are written.
class Unpacker : public Unpacking {
 public:
  Unpacker(BlockFrame frame, const std::vector<Block>& blocks, std::uint32_t blockSize, std::uint64_t contentSize)
      : frame_(std::move(frame)), blocks_(blocks), blockSize_(blockSize), contentSize_(contentSize) {}
  ~Unpacker() override { Stop(); }
  Unpacker(const Unpacker&) = delete;
  Unpacker& operator=(const Unpacker&) = delete;

  bool Start(std::uint32_t b) override {
    Stop();
    if (buffers_[0].empty()) {
      if (!frame_.Ready()) return false;
      for (std::size_t i = 0; i < kPieces; ++i) {
        buffers_[i].resize(kPieceSize);
        pieces_[i].data = buffers_[i].data();
      }
    }
    made_ = taken_ = 0;
    stop_ = false;
    free_ = Semaphore::Make(kPieces);
    filled_ = Semaphore::Make(0);
    if (free_ && filled_) thread_ = Thread::Start([this, b] { Run(b); });
    return thread_ != nullptr;
  }
  void Stop() override {
    if (!thread_) return;
    stop_ = true;
    free_->Release();  // wakes it if it waits for room
    thread_.reset();
  }
  const Piece& Next() override {
    filled_->Acquire();
    return pieces_[taken_ % kPieces];
  }
  void Release() override {
    ++taken_;
    free_->Release();
  }

 private:
  void Run(std::uint32_t first) {
    for (std::uint32_t b = first; b < blocks_.size(); ++b)
      if (!Unpack(b)) return;
    if (Piece* p = Free()) Publish(*p, Piece::kDamaged, 0);
  }
  // A piece the caller does not hold; null when told to stop.
  Piece* Free() {
    free_->Acquire();
    return stop_ ? nullptr : &pieces_[made_ % kPieces];
  }
  void Publish(Piece& p, Piece::Kind kind, std::size_t size) {
    p.kind = kind;
    p.size = size;
    ++made_;
    filled_->Release();
  }
  // One block into pieces, then its end; false when the run is over.
  bool Unpack(std::uint32_t b) {
    frame_.Start(blocks_[b], std::min<std::uint64_t>(blockSize_, contentSize_ - std::uint64_t(b) * blockSize_));
    while (Piece* p = Free()) {
      const std::optional<std::size_t> n = frame_.Next(buffers_[made_ % kPieces].data(), kPieceSize);
      if (!n) {
        Publish(*p, Piece::kDamaged, 0);
        return false;
      }
      Publish(*p, *n ? Piece::kData : Piece::kBlockEnd, *n);
      if (*n == 0) return true;
    }
    return false;
  }

  BlockFrame frame_;  // used by the thread alone while it runs
  const std::vector<Block>& blocks_;
  const std::uint32_t blockSize_;
  const std::uint64_t contentSize_;

  // The semaphores count the pieces free and those filled; each side
  // keeps its own count of the pieces it has been through.
  std::array<std::vector<unsigned char>, kPieces> buffers_;
  std::array<Piece, kPieces> pieces_;
  std::unique_ptr<Semaphore> free_, filled_;
  std::uint64_t made_ = 0, taken_ = 0;
  std::atomic<bool> stop_{false};
  std::unique_ptr<Thread> thread_;  // last: ends before the rest goes
};

// Whole blocks unpacked side by side, for a codec slower to unpack than
// files are written: worker k of n unpacks the blocks k, k + n, k + 2n...
// counted from the first, each into one of its slots, and the caller takes
// them in order. Memory: a decoder and kSlots blocks per worker. One slot
// each is enough while the caller takes a block faster than a worker
// unpacks one.
class ParallelUnpacker : public Unpacking {
 public:
  static constexpr unsigned kSlots = 1;

  ParallelUnpacker(std::function<BlockFrame()> frame, const std::vector<Block>& blocks, std::uint32_t blockSize,
                   std::uint64_t contentSize, unsigned workers)
      : makeFrame_(std::move(frame)), blocks_(blocks), blockSize_(blockSize), contentSize_(contentSize) {
    workers_.resize(std::max(1u, workers));
  }
  ~ParallelUnpacker() override { Stop(); }
  ParallelUnpacker(const ParallelUnpacker&) = delete;
  ParallelUnpacker& operator=(const ParallelUnpacker&) = delete;

  bool Start(std::uint32_t b) override {
    Stop();
    first_ = b;
    taken_ = 0;
    at_ = 0;
    holding_ = false;
    stop_ = false;
    const std::size_t n = std::min<std::size_t>(workers_.size(), std::max<std::size_t>(1, blocks_.size() - b));
    for (std::size_t k = 0; k < workers_.size(); ++k) {
      Worker& w = workers_[k];
      w.free = Semaphore::Make(kSlots);
      w.filled = Semaphore::Make(0);
      if (!w.free || !w.filled) return false;
      if (k >= n) continue;
      if (!w.frame) w.frame = std::make_unique<BlockFrame>(makeFrame_());
      if (!w.frame->Ready()) return false;
      w.thread = Thread::Start([this, k, n] { Run(k, n); });
      if (!w.thread) return false;
    }
    running_ = n;
    return true;
  }
  void Stop() override {
    stop_ = true;
    for (Worker& w : workers_) {
      if (!w.thread) continue;
      for (unsigned i = 0; i < kSlots; ++i) w.free->Release();  // wakes it if it waits for a slot
      w.thread.reset();
    }
  }
  const Piece& Next() override {
    const std::uint64_t t = taken_;
    if (first_ + t >= blocks_.size()) return piece_ = {Piece::kDamaged, nullptr, 0};
    Worker& w = workers_[t % running_];
    Slot& slot = w.slots[(t / running_) % kSlots];
    if (!holding_) {
      w.filled->Acquire();
      holding_ = true;
    }
    if (slot.damaged) return piece_ = {Piece::kDamaged, nullptr, 0};
    if (at_ == slot.size) return piece_ = {Piece::kBlockEnd, nullptr, 0};
    return piece_ = {Piece::kData, slot.bytes.data() + at_, std::min(kPieceSize, slot.size - at_)};
  }
  void Release() override {
    if (piece_.kind == Piece::kData) {
      at_ += piece_.size;
    } else if (piece_.kind == Piece::kBlockEnd) {
      workers_[taken_ % running_].free->Release();
      ++taken_;
      at_ = 0;
      holding_ = false;
    }
  }

 private:
  struct Slot {
    std::vector<unsigned char> bytes;
    std::size_t size = 0;
    bool damaged = false;
  };
  struct Worker {
    std::unique_ptr<BlockFrame> frame;
    std::array<Slot, kSlots> slots;
    std::unique_ptr<Semaphore> free, filled;
    std::unique_ptr<Thread> thread;  // last: ends before the rest goes
  };

  void Run(std::size_t k, std::size_t n) {
    Worker& w = workers_[k];
    for (std::uint64_t i = 0;; ++i) {
      const std::uint64_t b = first_ + k + i * n;
      if (b >= blocks_.size()) return;
      w.free->Acquire();
      if (stop_) return;
      Slot& slot = w.slots[i % kSlots];
      const auto unpacked = std::size_t(std::min<std::uint64_t>(blockSize_, contentSize_ - b * blockSize_));
      if (slot.bytes.size() < unpacked) slot.bytes.resize(unpacked);
      w.frame->Start(blocks_[std::size_t(b)], unpacked);
      slot.size = 0;
      slot.damaged = false;
      // In steps, so that a stop is heard within one.
      while (!stop_) {
        const std::optional<std::size_t> got =
            w.frame->Next(slot.bytes.data() + slot.size, std::min(kReadChunk, unpacked - slot.size));
        if (!got) slot.damaged = true;
        if (!got || *got == 0) break;
        slot.size += *got;
      }
      w.filled->Release();
      if (slot.damaged) return;
    }
  }

  const std::function<BlockFrame()> makeFrame_;
  const std::vector<Block>& blocks_;
  const std::uint32_t blockSize_;
  const std::uint64_t contentSize_;
  std::vector<Worker> workers_;
  std::size_t running_ = 1;
  std::uint64_t first_ = 0, taken_ = 0;  // the block started at, and blocks taken since
  std::size_t at_ = 0;                   // in the block being taken
  bool holding_ = false;                 // its slot is in hand
  Piece piece_;
  std::atomic<bool> stop_{false};
};

}  // namespace

struct Reader::State {
  ByteSource* file = nullptr;
  std::uint64_t start = 0, crcAt = 0;  // where the package and its checksum lie
  std::uint64_t version = 0;
  bool damaged = false;
  std::uint32_t blockSize = 0;
  std::uint64_t windowLog = 0;  // the most any block's frame may ask for
  std::uint64_t contentSize = 0;
  std::vector<Block> blocks;
  std::vector<Patch> patches;  // an update's
  std::string script, baseId, baseVersion;
  std::vector<Entry> entries;
  std::unordered_map<std::string, std::size_t> byPath;  // FileNameKey of a path -> entry

  // The content in packed order, unpacked ahead on its own thread; the
  // caller stands at (block, inBlock) of it, `piece` in hand.
  format::Codec codec = format::Codec::kZstd;
  std::unique_ptr<Unpacking> unpacker;
  static constexpr std::uint32_t kNone = ~0u;
  std::uint32_t block = kNone;
  std::uint64_t inBlock = 0;
  const Piece* piece = nullptr;
  std::size_t head = 0;
  std::vector<unsigned char> staged;  // FileOutput's


  OpenStatus Open(std::uint64_t at);
  bool ReadIndex(std::string_view body);
  bool ChecksumsMatch();
  bool FramesFit();
  std::uint64_t Unpacked(std::uint32_t b) const {
    return std::min<std::uint64_t>(blockSize, contentSize - std::uint64_t(b) * blockSize);
  }
  bool StartAt(std::uint32_t b);
  bool Take();
  bool PassBlockEnd();
  bool SkipTo(std::uint32_t b, std::uint64_t offset);
  void Stop() {
    if (unpacker) unpacker->Stop();
    block = kNone;
    piece = nullptr;
  }
};

OpenStatus Reader::State::Open(std::uint64_t at) {
  using format::kRecordHead;
  const std::uint64_t size = file->Size();
  if (at >= size) return at == size ? OpenStatus::NoPackage : OpenStatus::Damaged;
  unsigned char lead[format::kLeadSize];
  const std::uint64_t room = size - at;
  if (!file->ReadAt(at, lead, std::size_t(std::min<std::uint64_t>(room, sizeof lead))))
    return OpenStatus::Damaged;
  // A package is there when its magic is, one damaged byte included; anything
  // else after the program (a signature) means an unpacked setup program.
  const std::size_t seen = std::size_t(std::min<std::uint64_t>(room, sizeof format::kMagic));
  int wrong = int(sizeof format::kMagic - seen);
  for (std::size_t i = 0; i < seen; ++i) wrong += lead[i] != static_cast<unsigned char>(format::kMagic[i]);
  if (wrong > 1) return OpenStatus::NoPackage;
  if (wrong != 0 || room < sizeof lead) return OpenStatus::Damaged;
  version = LoadLe32(lead + 8);
  windowLog = LoadLe32(lead + 12);
  blockSize = LoadLe32(lead + 16);
  codec = static_cast<format::Codec>(LoadLe32(lead + 20));
  if (version < format::kFirstVersion || version > format::kLastVersion ||
      windowLog > std::uint64_t(format::kMaxWindowLog) || blockSize < format::kMinBlockSize ||
      blockSize > format::kMaxBlockSize ||
      (codec != format::Codec::kZstd && (version < format::kSummedVersion || version >= format::kUpdateVersion ||
                                         codec != format::Codec::kLzma2)))
    return OpenStatus::Damaged;

  // Blocks one after another, then the index, then the end record.
  std::uint64_t pos = at + sizeof lead;
  std::string index;
  while (true) {
    unsigned char record[kRecordHead];
    if (size - pos < kRecordHead || !file->ReadAt(pos, record, kRecordHead)) return OpenStatus::Damaged;
    const std::uint64_t kind = LoadLe32(record), length = LoadLe(record + 4, 8);
    pos += kRecordHead;
    if (length > size - pos) return OpenStatus::Damaged;
    if (kind == format::kBlock) {
      if (!index.empty() || !patches.empty() || length == 0 || blocks.size() >= format::kMaxBlocks)
        return OpenStatus::Damaged;
      blocks.push_back({pos, length});
    } else if (kind == format::kPatch) {
      if (version < format::kUpdateVersion || !index.empty() || length == 0 || patches.size() >= format::kMaxBlocks)
        return OpenStatus::Damaged;
      patches.push_back({{pos, length}});
    } else if (kind == format::kIndex) {
      if (!index.empty() || length < 4 || length > format::kMaxIndexSize) return OpenStatus::Damaged;
      index.resize(std::size_t(length));
      if (!file->ReadAt(pos, index.data(), index.size())) return OpenStatus::Damaged;
    } else if (kind == format::kEnd) {
      if (index.empty() || length != 4) return OpenStatus::Damaged;
      crcAt = pos;
      break;
    } else {
      return OpenStatus::Damaged;
    }
    pos += length;
  }
  const std::uint32_t stored = LoadLe32(index.data());
  if (Crc32(0, index.data() + 4, index.size() - 4) != stored) return OpenStatus::Damaged;
  if (!ReadIndex(std::string_view(index).substr(4))) return OpenStatus::Damaged;
  start = at;
  return OpenStatus::Ok;
}

bool Reader::State::ReadIndex(std::string_view body) {
  const bool filters = version >= 2, update = version >= format::kUpdateVersion;
  Fields f(body);
  contentSize = f.Number(8);
  const auto count = f.Number(4);
  script = f.Text();
  if (update) {
    baseId = f.Text();
    baseVersion = f.Text();
    if (baseId.empty()) return false;
  }
  // Every entry takes kEntryFixed bytes at least: no reserve beyond the index.
  if (!f.Ok() || count > f.Left() / (format::kEntryFixed + filters + (update ? format::kEntrySource : 0)))
    return false;
  // Content no larger than the blocks can hold (also keeps the sums below from overflowing).
  if (contentSize > std::uint64_t(blocks.size()) * blockSize ||
      (contentSize + blockSize - 1) / blockSize != blocks.size())
    return false;
  entries.reserve(std::size_t(count));
  std::uint64_t position = 0;  // where the next file's content begins
  std::size_t patched = 0;
  // A patched file and its base, both held while it is unpacked.
  constexpr std::uint64_t kPatchRoom = std::uint64_t(1) << format::kMaxWindowLog;
  for (std::uint64_t i = 0; i < count; ++i) {
    Entry e;
    e.path = f.Text();
    e.attributes = std::uint32_t(f.Number(4));
    e.modified = f.Number(8);
    e.size = f.Number(8);
    e.crc = std::uint32_t(f.Number(4));
    const auto filter = filters ? f.Number(1) : 0;
    e.filter = static_cast<Filter>(filter);
    e.block = std::uint32_t(f.Number(4));
    e.offset = f.Number(8);
    const auto source = update ? f.Number(1) : 0;
    e.source = static_cast<Source>(source);
    e.baseSize = update ? f.Number(8) : 0;
    e.baseHash = update ? f.Number(8) : 0;
    if (!f.Ok() || !IsSafePath(e.path) || (e.attributes & ~kKeptAttributes) != 0 ||
        filter > std::uint64_t(Filter::kBranches) || source > std::uint64_t(Source::kPatched))
      return false;
    if (e.source != Source::kPacked) {
      // Content that comes from the base: a file's, never in the blocks.
      if (e.IsFolder() || e.size == 0 || e.offset != 0) return false;
      if (e.source == Source::kKept && (e.block != 0 || filter != 0 || e.baseSize != e.size)) return false;
      if (e.source == Source::kPatched) {
        if (e.block != patched || patched >= patches.size() || e.baseSize > kPatchRoom ||
            e.size > kPatchRoom - e.baseSize)
          return false;
        patches[patched++].size = e.size;
      }
    } else if (e.baseSize != 0 || e.baseHash != 0) {
      return false;
    } else if (e.size == 0) {
      if (e.crc != 0 || e.block != 0 || e.offset != 0 || filter != 0) return false;
    } else {
      // Contents follow one another in entry order: each file's place is known.
      if (e.IsFolder() || e.size > contentSize - position || e.block != position / blockSize ||
          e.offset != position % blockSize)
        return false;
      position += e.size;
    }
    entries.push_back(std::move(e));
  }
  if (version >= format::kSummedVersion) {
    if (patched != patches.size() || f.Left() != (blocks.size() + patches.size()) * std::size_t(8)) return false;
    for (Block& b : blocks) b.sum = f.Number(8);
    for (Patch& p : patches) p.record.sum = f.Number(8);
  }
  if (!f.AtEnd() || position != contentSize) return false;
  // Paths the file system takes for one would overwrite each other; a path
  // inside a file could not be written at all.
  PathIndex index = IndexPaths(entries);
  if (index.clash != PathIndex::Clash::kNone) return false;
  byPath = std::move(index.byKey);
  const auto it = byPath.find(FileNameKey(script));
  return it != byPath.end() && !entries[it->second].IsFolder();
}

bool Reader::State::StartAt(std::uint32_t b) {
  Stop();
  if (b >= blocks.size()) return false;
  if (!unpacker) {
    const auto frame = [this] { return BlockFrame(*file, codec, unsigned(windowLog)); };
    // A block per processor where a window and a block each fit in the
    // memory allowed: one thread of Zstandard does not keep up with the
    // writing, and LZMA2 is several times slower still. Larger windows go
    // through one, streaming.
    const auto workers = unsigned(std::min<std::uint64_t>(Thread::Processors(),
                                                          kUnpackMemory / ((std::uint64_t(1) << windowLog) + blockSize)));
    if (workers >= 2 || codec == format::Codec::kLzma2)
      unpacker = std::make_unique<ParallelUnpacker>(frame, blocks, blockSize, contentSize, std::max(workers, 1u));
    else
      unpacker = std::make_unique<Unpacker>(frame(), blocks, blockSize, contentSize);
  }
  if (!unpacker->Start(b)) return false;
  block = b;
  inBlock = 0;
  head = 0;
  return true;
}

// The next piece of content in hand; false on damage.
bool Reader::State::Take() {
  if (piece) unpacker->Release();
  piece = nullptr;
  const Piece& next = unpacker->Next();
  if (next.kind != Piece::kData) return false;
  piece = &next;
  head = 0;
  return true;
}

// At the block's end: its frame must end there too. Goes on to the next block.
bool Reader::State::PassBlockEnd() {
  if (piece) unpacker->Release();
  piece = nullptr;
  if (unpacker->Next().kind != Piece::kBlockEnd) return false;
  unpacker->Release();
  ++block;
  inBlock = 0;
  return true;
}

// Brings the caller to `offset` in block b, going back to the start of a
// block only when the offset lies behind or in another block.
bool Reader::State::SkipTo(std::uint32_t b, std::uint64_t offset) {
  if ((block != b || inBlock > offset) && !StartAt(b)) return false;
  while (inBlock < offset) {
    if ((!piece || head == piece->size) && !Take()) return false;
    const auto n = std::size_t(std::min<std::uint64_t>(piece->size - head, offset - inBlock));
    head += n;
    inBlock += n;
  }
  return true;
}
Reader::Reader() : state_(std::make_unique<State>()) {}
Reader::~Reader() = default;

OpenStatus Reader::Open(ByteSource& file, std::uint64_t start) {
  state_ = std::make_unique<State>();
  state_->file = &file;
  const OpenStatus status = state_->Open(start);
  if (status != OpenStatus::Ok) {
    state_ = std::make_unique<State>();
  }
  return status;
}

// The checksums over the package as it lies in the file, read once: from
// version 3 each block's sum and one CRC over the rest, before that one CRC
// over everything.
bool Reader::State::ChecksumsMatch() {
  const bool summed = version >= format::kSummedVersion;
  // An update's patch records follow the blocks and are summed alike.
  std::vector<Block> records = blocks;
  for (const Patch& p : patches) records.push_back(p.record);
  std::vector<unsigned char> buffer(kReadChunk);
  std::uint32_t crc = 0;
  std::size_t b = 0;  // the next block
  for (std::uint64_t pos = start; pos < crcAt;) {
    // A block's bytes are summed on their own, up to its end.
    const bool blockBytes = summed && b < records.size() && pos >= records[b].packedAt;
    const std::uint64_t until = !summed ? crcAt : blockBytes ? records[b].packedAt + records[b].packedSize
                                : b < records.size()   ? records[b].packedAt
                                                      : crcAt;
    Xxh64 sum;
    while (pos < until) {
      const auto n = std::size_t(std::min<std::uint64_t>(buffer.size(), until - pos));
      if (!file->ReadAt(pos, buffer.data(), n)) return false;
      if (blockBytes) sum.Update(buffer.data(), n);
      else crc = Crc32(crc, buffer.data(), n);
      pos += n;
    }
    if (blockBytes && sum.Digest() != records[b++].sum) return false;
  }
  unsigned char stored[4];
  return file->ReadAt(crcAt, stored, 4) && LoadLe32(stored) == crc;
}

// Every block's frame asks for no more window than the lead allows and, when
// it says how much it holds, says what the block holds: read before any of
// them is unpacked.
bool Reader::State::FramesFit() {
  for (std::uint32_t b = 0; b < blocks.size(); ++b) {
    unsigned char frame[ZSTD_FRAMEHEADERSIZE_MAX];
    const auto n = std::size_t(std::min<std::uint64_t>(sizeof frame, blocks[b].packedSize));
    if (!file->ReadAt(blocks[b].packedAt, frame, n)) return false;
    if (codec == format::Codec::kLzma2) {
      if (!lzma::HeaderFits(frame, n, unsigned(windowLog))) return false;
      continue;
    }
    ZSTD_frameHeader h;
    if (ZSTD_getFrameHeader(&h, frame, n) != 0) return false;
    if (h.frameType != ZSTD_frame || h.dictID != 0 || h.windowSize > (std::uint64_t(1) << windowLog) ||
        (h.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN && h.frameContentSize != Unpacked(b)))
      return false;
  }
  // A patch's frame may take the largest window, and says what it holds.
  for (const Patch& p : patches) {
    unsigned char frame[ZSTD_FRAMEHEADERSIZE_MAX];
    const auto n = std::size_t(std::min<std::uint64_t>(sizeof frame, p.record.packedSize));
    ZSTD_frameHeader h;
    if (!file->ReadAt(p.record.packedAt, frame, n) || ZSTD_getFrameHeader(&h, frame, n) != 0) return false;
    if (h.frameType != ZSTD_frame || h.dictID != 0 || h.windowSize > (std::uint64_t(1) << format::kMaxWindowLog) ||
        h.frameContentSize != p.size)
      return false;
  }
  return true;
}

bool Reader::Verify() {
  State& s = *state_;
  return s.file && s.ChecksumsMatch() && s.FramesFit();
}

bool Reader::Damaged() const { return state_->damaged; }

const std::string& Reader::Script() const { return state_->script; }
const std::string& Reader::BaseId() const { return state_->baseId; }
const std::string& Reader::BaseVersion() const { return state_->baseVersion; }
const std::vector<Entry>& Reader::Entries() const { return state_->entries; }

const Entry* Reader::Find(std::string_view path) const {
  const auto it = state_->byPath.find(FileNameKey(path));
  return it == state_->byPath.end() ? nullptr : &state_->entries[it->second];
}

bool Reader::Extract(const Entry& entry, ByteSink& sink) {
  State& s = *state_;
  if (!s.file || entry.IsFolder() || entry.source != Source::kPacked) return false;
  if (entry.size == 0) return entry.crc == 0;
  if (entry.block >= s.blocks.size() || entry.offset >= s.blockSize) return false;
  const std::uint64_t at = std::uint64_t(entry.block) * s.blockSize + entry.offset;
  if (at > s.contentSize || entry.size > s.contentSize - at) return false;
  // A failure leaves the unpacker anywhere: the next file starts afresh.
  // Unless the sink refused, the content is not what the index says.
  bool refused = false;
  const auto fail = [&s, &refused] {
    s.Stop();
    s.damaged = s.damaged || !refused;
    return false;
  };
  if (!s.SkipTo(entry.block, entry.offset)) return fail();
  std::uint32_t crc = 0;
  FileOutput output(entry.filter, 0, s.staged);
  const auto emit = [&crc, &sink, &refused](const unsigned char* p, std::size_t n) {
    crc = Crc32(crc, p, n);
    refused = !sink.Write(p, n);
    return !refused;
  };
  for (std::uint64_t left = entry.size; left > 0;) {
    if (s.inBlock == s.Unpacked(s.block) && !s.PassBlockEnd()) return fail();
    if ((!s.piece || s.head == s.piece->size) && !s.Take()) return fail();
    const auto n = std::size_t(std::min<std::uint64_t>(s.piece->size - s.head, left));
    const bool partEnds = n == left || s.inBlock + n == s.Unpacked(s.block);
    if (!output.Take(s.piece->data + s.head, n, partEnds, emit)) return fail();
    s.head += n;
    s.inBlock += n;
    left -= n;
  }
  if (s.inBlock == s.Unpacked(s.block) && !s.PassBlockEnd()) return fail();
  return crc == entry.crc ? true : fail();
}

namespace {

// Reads a base file whole into `into` while summing it; false when it is not
// the entry's base (or cannot be read).
bool ReadBase(const Entry& entry, ByteSource& installed, std::vector<unsigned char>* into) {
  const std::uint64_t size = installed.Size();
  if (size != entry.baseSize) return false;
  // A kept file is its own base: its CRC, which runs several times faster
  // than the XXH64 on a 32-bit processor, and a kept file is all that is
  // checked of most of an update. A patched one's base is read whole for
  // its frame anyway: its XXH64.
  const bool kept = entry.source == Source::kKept;
  Xxh64 sum;
  std::uint32_t crc = 0;
  std::vector<unsigned char> chunk(into ? 0 : std::size_t(std::min<std::uint64_t>(size, kReadChunk)));
  if (into) into->resize(std::size_t(size));
  for (std::uint64_t pos = 0; pos < size;) {
    const auto n = std::size_t(std::min<std::uint64_t>(kReadChunk, size - pos));
    unsigned char* at = into ? into->data() + pos : chunk.data();
    if (!installed.ReadAt(pos, at, n)) return false;
    if (kept) crc = Crc32(crc, at, n);
    else sum.Update(at, n);
    pos += n;
  }
  return kept ? crc == entry.crc : sum.Digest() == entry.baseHash;
}

}  // namespace

bool MatchesBase(const Entry& entry, ByteSource& installed) {
  return entry.source != Source::kPacked && ReadBase(entry, installed, nullptr);
}

PatchStatus Reader::ExtractPatched(const Entry& entry, ByteSource& base, ByteSink& sink) {
  State& s = *state_;
  if (!s.file || entry.source != Source::kPatched || entry.block >= s.patches.size() ||
      entry.baseSize > (std::uint64_t(1) << format::kMaxWindowLog))
    return PatchStatus::Failed;
  // The frame refers back into its base: the whole of it, filtered as it was packed.
  std::vector<unsigned char> prefix;
  if (!ReadBase(entry, base, &prefix)) return PatchStatus::WrongBase;
  if (entry.filter == Filter::kBranches) FilterBranches(prefix.data(), prefix.size(), 0, true, true);

  BlockFrame frame(*s.file, format::Codec::kZstd, format::kMaxWindowLog);
  if (!frame.Ready()) return PatchStatus::Failed;
  frame.Start(s.patches[entry.block].record, entry.size, prefix);
  std::vector<unsigned char> out(std::size_t(std::min<std::uint64_t>(entry.size, kPieceSize)));
  std::vector<unsigned char> stage;
  FileOutput output(entry.filter, 0, stage);
  std::uint32_t crc = 0;
  bool refused = false;
  const auto emit = [&crc, &sink, &refused](const unsigned char* p, std::size_t n) {
    crc = Crc32(crc, p, n);
    refused = !sink.Write(p, n);
    return !refused;
  };
  for (std::uint64_t left = entry.size;;) {
    const std::optional<std::size_t> n = frame.Next(out.data(), out.size());
    if (!n) break;
    if (*n == 0) {
      if (left == 0 && crc == entry.crc) return PatchStatus::Ok;
      break;
    }
    left -= *n;
    if (!output.Take(out.data(), *n, left == 0, emit)) break;
  }
  s.damaged = s.damaged || !refused;
  return PatchStatus::Failed;
}

}  // namespace qv::pack
