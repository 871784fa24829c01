// Reads a package (see package.h): Open checks everything it will rely on,
// so Extract meets only what the checksums did not already catch.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "framework/portable/file_name_case.h"
#include "package/format.h"
#include "package/package.h"
#include "package/path_index.h"
#include "package/threads.h"

namespace qv::pack {
namespace {

using format::Get;

constexpr std::size_t kReadChunk = 1u << 20;
// Unpacked content goes to the caller in pieces of this size, a few of them
// ahead: enough to keep unpacking while the caller creates and closes files.
constexpr std::size_t kPieceSize = 1u << 20;
constexpr std::size_t kPieces = 4;

struct Block {
  std::uint64_t packedAt = 0, packedSize = 0;  // in the file
};

// Reads fields off the index one after another; any read past its end
// leaves it failed for good.
class Fields {
 public:
  explicit Fields(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t Number(int size) {
    if (!Need(std::size_t(size))) return 0;
    const auto v = Get(reinterpret_cast<const unsigned char*>(bytes_.data()) + at_, size);
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


// Unpacked content, or what the unpacker met instead of it.
struct Piece {
  enum Kind { kData, kBlockEnd, kDamaged } kind = kData;
  std::vector<unsigned char> bytes;  // kPieceSize
  std::size_t size = 0;              // of them in use
};

// Unpacks the blocks from a given one onwards, in order, on a thread of its
// own, at most kPieces pieces ahead of the caller: writing one file
// overlaps unpacking the next. Damage ends the run with a kDamaged piece at
// the place it was met; a block's frame ending cleanly where the block's
// bytes do gives a kBlockEnd piece.
class Unpacker {
 public:
  Unpacker(ByteSource& file, const std::vector<Block>& blocks, std::uint32_t blockSize, std::uint64_t contentSize)
      : file_(file), blocks_(blocks), blockSize_(blockSize), contentSize_(contentSize) {}
  ~Unpacker() { Stop(); }
  Unpacker(const Unpacker&) = delete;
  Unpacker& operator=(const Unpacker&) = delete;

  // Starts afresh at the beginning of block b.
  bool Start(std::uint32_t b) {
    Stop();
    if (!dctx_) {
      dctx_.reset(ZSTD_createDCtx());
      if (!dctx_ || ZSTD_isError(ZSTD_DCtx_setParameter(dctx_.get(), ZSTD_d_windowLogMax, format::kMaxWindowLog)))
        return false;
      in_.resize(kReadChunk);
      for (Piece& p : pieces_) p.bytes.resize(kPieceSize);
    }
    made_ = taken_ = 0;
    stop_ = false;
    free_ = Semaphore::Make(kPieces);
    filled_ = Semaphore::Make(0);
    if (free_ && filled_) thread_ = Thread::Start([this, b] { Run(b); });
    return thread_ != nullptr;
  }
  void Stop() {
    if (!thread_) return;
    stop_ = true;
    free_->Release();  // wakes it if it waits for room
    thread_.reset();
  }
  // The next piece, once there; the caller keeps it until Release.
  const Piece& Next() {
    filled_->Acquire();
    return pieces_[taken_ % kPieces];
  }
  void Release() {
    ++taken_;
    free_->Release();
  }

 private:
  void Run(std::uint32_t first) {
    for (std::uint32_t b = first; b < blocks_.size(); ++b)
      if (!Unpack(b)) return;
    Damaged();  // nothing lies beyond the content
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
  bool Damaged() {
    if (Piece* p = Free()) Publish(*p, Piece::kDamaged, 0);
    return false;
  }
  // More packed bytes of the block when those in hand are used up.
  bool Refill(std::uint64_t packedEnd) {
    if (inBuf_.pos < inBuf_.size) return true;
    const auto n = std::size_t(std::min<std::uint64_t>(in_.size(), packedEnd - inNext_));
    if (n == 0 || !file_.ReadAt(inNext_, in_.data(), n)) return false;
    inNext_ += n;
    inBuf_ = {in_.data(), n, 0};
    return true;
  }
  // One block into pieces, then its end; false when the run is over.
  bool Unpack(std::uint32_t b) {
    const std::uint64_t packedEnd = blocks_[b].packedAt + blocks_[b].packedSize;
    const std::uint64_t unpacked = std::min<std::uint64_t>(blockSize_, contentSize_ - std::uint64_t(b) * blockSize_);
    ZSTD_DCtx_reset(dctx_.get(), ZSTD_reset_session_only);
    inNext_ = blocks_[b].packedAt;
    inBuf_ = {in_.data(), 0, 0};
    bool frameEnded = false;
    for (std::uint64_t produced = 0; produced < unpacked;) {
      Piece* p = Free();
      if (!p) return false;
      ZSTD_outBuffer o{p->bytes.data(), p->bytes.size(), 0};
      bool damaged = false;
      while (o.pos < o.size && produced + o.pos < unpacked) {
        // A frame ending early holds less than the block should.
        if (frameEnded || !Refill(packedEnd)) {
          damaged = true;
          break;
        }
        const std::size_t before = o.pos;
        const std::size_t r = ZSTD_decompressStream(dctx_.get(), &o, &inBuf_);
        if (ZSTD_isError(r) || o.pos > unpacked - produced) {
          o.pos = before;  // more than the block should hold: none of it goes out
          damaged = true;
          break;
        }
        frameEnded = r == 0;
      }
      if (o.pos > 0) Publish(*p, Piece::kData, o.pos);
      if (damaged) return Damaged();
      produced += o.pos;
    }
    // The frame must end where the block's bytes do, with nothing left over.
    while (!frameEnded) {
      unsigned char spare[64];
      ZSTD_outBuffer o{spare, sizeof spare, 0};
      if (!Refill(packedEnd)) return Damaged();
      const std::size_t r = ZSTD_decompressStream(dctx_.get(), &o, &inBuf_);
      if (ZSTD_isError(r) || o.pos != 0) return Damaged();
      frameEnded = r == 0;
    }
    if (inBuf_.pos != inBuf_.size || inNext_ != packedEnd) return Damaged();
    Piece* p = Free();
    if (!p) return false;
    Publish(*p, Piece::kBlockEnd, 0);
    return true;
  }

  ByteSource& file_;
  const std::vector<Block>& blocks_;
  const std::uint32_t blockSize_;
  const std::uint64_t contentSize_;
  struct DctxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
  };
  // Used by the thread alone while it runs.
  std::unique_ptr<ZSTD_DCtx, DctxFree> dctx_;
  std::vector<unsigned char> in_;
  ZSTD_inBuffer inBuf_{};
  std::uint64_t inNext_ = 0;

  // The semaphores count the pieces free and those filled; each side
  // keeps its own count of the pieces it has been through.
  std::array<Piece, kPieces> pieces_;
  std::unique_ptr<Semaphore> free_, filled_;
  std::uint64_t made_ = 0, taken_ = 0;
  std::atomic<bool> stop_{false};
  std::unique_ptr<Thread> thread_;  // last: ends before the rest goes
};

}  // namespace

struct Reader::State {
  ByteSource* file = nullptr;
  std::uint64_t start = 0, crcAt = 0;  // where the package and its checksum lie
  std::uint32_t blockSize = 0;
  std::uint64_t windowLog = 0;  // the most any block's frame may ask for
  std::uint64_t contentSize = 0;
  std::vector<Block> blocks;
  std::string script;
  std::vector<Entry> entries;
  std::unordered_map<std::string, std::size_t> byPath;  // FileNameKey of a path -> entry

  // The content in packed order, unpacked ahead on its own thread; the
  // caller stands at (block, inBlock) of it, `piece` in hand.
  std::unique_ptr<Unpacker> unpacker;
  static constexpr std::uint32_t kNone = ~0u;
  std::uint32_t block = kNone;
  std::uint64_t inBlock = 0;
  const Piece* piece = nullptr;
  std::size_t head = 0;
  // A filtered file's content on its way out: a conversion needs five bytes,
  // so up to four wait here for the next piece.
  std::vector<unsigned char> staged;

  OpenStatus Open(std::uint64_t at);
  bool ReadIndex(std::string_view body, std::uint64_t version);
  bool ChecksumMatches();
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
  const auto version = Get(lead + 8, 4);
  windowLog = Get(lead + 12, 4);
  blockSize = std::uint32_t(Get(lead + 16, 4));
  if (version < format::kFirstVersion || version > format::kVersion || windowLog > std::uint64_t(format::kMaxWindowLog) ||
      blockSize < format::kMinBlockSize || blockSize > format::kMaxBlockSize || Get(lead + 20, 4) != 0)
    return OpenStatus::Damaged;

  // Blocks one after another, then the index, then the end record.
  std::uint64_t pos = at + sizeof lead;
  std::string index;
  while (true) {
    unsigned char record[kRecordHead];
    if (size - pos < kRecordHead || !file->ReadAt(pos, record, kRecordHead)) return OpenStatus::Damaged;
    const auto kind = Get(record, 4), length = Get(record + 4, 8);
    pos += kRecordHead;
    if (length > size - pos) return OpenStatus::Damaged;
    if (kind == format::kBlock) {
      if (!index.empty() || length == 0 || blocks.size() >= format::kMaxBlocks) return OpenStatus::Damaged;
      blocks.push_back({pos, length});
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
  const auto stored = std::uint32_t(Get(reinterpret_cast<const unsigned char*>(index.data()), 4));
  if (Crc32(0, index.data() + 4, index.size() - 4) != stored) return OpenStatus::Damaged;
  if (!ReadIndex(std::string_view(index).substr(4), version)) return OpenStatus::Damaged;
  start = at;
  return OpenStatus::Ok;
}

bool Reader::State::ReadIndex(std::string_view body, std::uint64_t version) {
  const bool filters = version >= 2;
  Fields f(body);
  contentSize = f.Number(8);
  const auto count = f.Number(4);
  script = f.Text();
  // Every entry takes kEntryFixed bytes at least: no reserve beyond the index.
  if (!f.Ok() || count > f.Left() / (format::kEntryFixed + filters)) return false;
  // Content no larger than the blocks can hold (also keeps the sums below from overflowing).
  if (contentSize > std::uint64_t(blocks.size()) * blockSize ||
      (contentSize + blockSize - 1) / blockSize != blocks.size())
    return false;
  entries.reserve(std::size_t(count));
  std::uint64_t position = 0;  // where the next file's content begins
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
    if (!f.Ok() || !IsSafePath(e.path) || (e.attributes & ~kKeptAttributes) != 0 ||
        filter > std::uint64_t(Filter::kBranches))
      return false;
    if (e.size == 0) {
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
  if (!unpacker) unpacker = std::make_unique<Unpacker>(*file, blocks, blockSize, contentSize);
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

// The checksum over the package as it lies in the file.
bool Reader::State::ChecksumMatches() {
  std::vector<unsigned char> buffer(kReadChunk);
  std::uint32_t crc = 0;
  for (std::uint64_t pos = start; pos < crcAt;) {
    const auto n = std::size_t(std::min<std::uint64_t>(buffer.size(), crcAt - pos));
    if (!file->ReadAt(pos, buffer.data(), n)) return false;
    crc = Crc32(crc, buffer.data(), n);
    pos += n;
  }
  unsigned char stored[4];
  return file->ReadAt(crcAt, stored, 4) && Get(stored, 4) == crc;
}

// Every block's frame asks for no more window than the lead allows and, when
// it says how much it holds, says what the block holds: read before any of
// them is unpacked.
bool Reader::State::FramesFit() {
  for (std::uint32_t b = 0; b < blocks.size(); ++b) {
    unsigned char frame[ZSTD_FRAMEHEADERSIZE_MAX];
    const auto n = std::size_t(std::min<std::uint64_t>(sizeof frame, blocks[b].packedSize));
    ZSTD_frameHeader h;
    if (!file->ReadAt(blocks[b].packedAt, frame, n) || ZSTD_getFrameHeader(&h, frame, n) != 0) return false;
    if (h.frameType != ZSTD_frame || h.dictID != 0 || h.windowSize > (std::uint64_t(1) << windowLog) ||
        (h.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN && h.frameContentSize != Unpacked(b)))
      return false;
  }
  return true;
}

bool Reader::Verify() {
  State& s = *state_;
  if (!s.file) return false;
  s.Stop();  // the file is read by one thread at a time
  if (!s.ChecksumMatches() || !s.FramesFit()) return false;
  // A package crafted with every checksum right may still hold content that
  // is not what its index says: every file is unpacked now, in packed order
  // (each block once, unpacked on the second thread while this one sums),
  // and checked against its size and CRC before the first one is written.
  struct Discard : ByteSink {
    bool Write(const void*, std::size_t) override { return true; }
  } discard;
  for (const Entry& e : s.entries)
    if (e.size != 0 && !Extract(e, discard)) return false;
  s.Stop();
  return true;
}

const std::string& Reader::Script() const { return state_->script; }
const std::vector<Entry>& Reader::Entries() const { return state_->entries; }

const Entry* Reader::Find(std::string_view path) const {
  const auto it = state_->byPath.find(FileNameKey(path));
  return it == state_->byPath.end() ? nullptr : &state_->entries[it->second];
}

bool Reader::Extract(const Entry& entry, ByteSink& sink) {
  State& s = *state_;
  if (!s.file || entry.IsFolder()) return false;
  if (entry.size == 0) return entry.crc == 0;
  if (entry.block >= s.blocks.size() || entry.offset >= s.blockSize) return false;
  const std::uint64_t at = std::uint64_t(entry.block) * s.blockSize + entry.offset;
  if (at > s.contentSize || entry.size > s.contentSize - at) return false;
  // A failure leaves the unpacker anywhere: the next file starts afresh.
  const auto fail = [&s] {
    s.Stop();
    return false;
  };
  if (!s.SkipTo(entry.block, entry.offset)) return fail();
  std::uint32_t crc = 0;
  const bool filtered = entry.filter == Filter::kBranches;
  if (filtered && s.staged.empty()) s.staged.resize(kPieceSize);
  std::size_t waiting = 0;       // staged bytes not yet final
  std::uint64_t position = 0;    // in the file, of the first of them
  for (std::uint64_t left = entry.size; left > 0;) {
    if (s.inBlock == s.Unpacked(s.block) && !s.PassBlockEnd()) return fail();
    if ((!s.piece || s.head == s.piece->size) && !s.Take()) return fail();
    auto n = std::size_t(std::min<std::uint64_t>(s.piece->size - s.head, left));
    const unsigned char* p = s.piece->bytes.data() + s.head;
    std::size_t ready = n;
    if (filtered) {
      // Each block's part of the file was filtered on its own.
      n = std::min(n, s.staged.size() - waiting);
      std::memcpy(s.staged.data() + waiting, p, n);
      const bool partEnds = n == left || s.inBlock + n == s.Unpacked(s.block);
      ready = FilterBranches(s.staged.data(), waiting + n, position, false, partEnds);
      p = s.staged.data();
    }
    crc = Crc32(crc, p, ready);
    if (!sink.Write(p, ready)) return fail();
    s.head += n;
    s.inBlock += n;
    left -= n;
    if (filtered) {
      waiting = waiting + n - ready;
      position += ready;
      std::memmove(s.staged.data(), s.staged.data() + ready, waiting);
    }
  }
  if (s.inBlock == s.Unpacked(s.block) && !s.PassBlockEnd()) return fail();
  return crc == entry.crc ? true : fail();
}

}  // namespace qv::pack
