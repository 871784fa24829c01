// Reads a package (see package.h): Open checks everything it will rely on,
// so Extract meets only what the checksums did not already catch.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader, ZSTD_d_stableOutBuffer
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <new>

#include "framework/portable/file_name_case.h"
#include "package/format.h"
#include "package/package.h"
#include "package/path_index.h"
#include "package/threads.h"

namespace qv::pack {
namespace {

using format::Get;

constexpr std::size_t kReadChunk = 1u << 20;
// What a sink is given at a time: the window stays responsive while a big
// file is written.
constexpr std::size_t kWriteChunk = 1u << 20;
// Blocks are unpacked whole, a few at once on threads of their own, into
// at most this much memory (one block at least).
constexpr std::uint64_t kUnpackMemory = 128u << 20;
constexpr unsigned kMostSlots = 4;

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


struct DctxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// One unpacked block: the frame decodes straight into these bytes, which
// serve it as its window, so no other copy of it is kept.
struct Slot {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t capacity = 0;
  bool ok = false;                           // unpacked whole, nothing wrong
  std::unique_ptr<Semaphore> free, filled;  // the caller's turn, the thread's turn
  std::unique_ptr<Thread> thread;            // last: ends before the rest goes
};

// Unpacks the blocks from a given one onwards on a few threads, each block
// whole into a slot of its own, and hands them over in order: writing the
// files of one block overlaps unpacking the next ones. A block whose frame
// ends before or after its bytes do, leaves bytes over or holds more or
// less than the block should comes out not ok.
class Unpacker {
 public:
  // Called on an unpacking thread with each block's bytes before they are
  // handed over (the filters are undone there).
  using Prepare = std::function<void(std::uint32_t block, unsigned char* bytes)>;
  Unpacker(ByteSource& file, const std::vector<Block>& blocks, std::uint32_t blockSize, std::uint64_t contentSize,
           Prepare prepare)
      : file_(file), blocks_(blocks), blockSize_(blockSize), contentSize_(contentSize), prepare_(std::move(prepare)) {
    const std::uint64_t largest = std::min<std::uint64_t>(blockSize_, contentSize_);
    const auto fit = unsigned(std::min<std::uint64_t>(kMostSlots, kUnpackMemory / std::max<std::uint64_t>(largest, 1)));
    slots_.resize(std::clamp(fit, 1u, std::min(kMostSlots, Thread::Processors() + 1)));
  }
  ~Unpacker() { Stop(); }
  Unpacker(const Unpacker&) = delete;
  Unpacker& operator=(const Unpacker&) = delete;

  unsigned Slots() const { return unsigned(slots_.size()); }
  // Starts afresh at the beginning of block b.
  bool Start(std::uint32_t b) {
    Stop();
    stop_ = false;
    taken_ = 0;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      slot.free = Semaphore::Make(1);
      slot.filled = Semaphore::Make(0);
      if (!slot.free || !slot.filled) return false;
      const std::uint64_t first = std::uint64_t(b) + i;
      if (first >= blocks_.size()) continue;
      slot.thread = Thread::Start([this, &slot, first] { Run(slot, std::uint32_t(first)); });
      if (!slot.thread) return false;
    }
    return true;
  }
  void Stop() {
    stop_ = true;
    for (Slot& slot : slots_) {
      if (!slot.thread) continue;
      slot.free->Release();  // wakes it if it waits for its turn
      slot.thread.reset();
    }
  }
  // The next block in order, once unpacked; its bytes stay until Release.
  const Slot& Next() {
    Slot& slot = slots_[taken_ % slots_.size()];
    slot.filled->Acquire();
    return slot;
  }
  void Release() { slots_[taken_++ % slots_.size()].free->Release(); }

 private:
  std::uint64_t Unpacked(std::uint32_t b) const {
    return std::min<std::uint64_t>(blockSize_, contentSize_ - std::uint64_t(b) * blockSize_);
  }
  void Run(Slot& slot, std::uint32_t first) {
    std::unique_ptr<ZSTD_DCtx, DctxFree> dctx(ZSTD_createDCtx());
    const bool ready = dctx && !ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax,
                                                                    format::kMaxWindowLog)) &&
                       !ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_stableOutBuffer, 1));
    std::unique_ptr<unsigned char[]> in(new (std::nothrow) unsigned char[kReadChunk]);
    for (std::uint64_t b = first; b < blocks_.size(); b += slots_.size()) {
      slot.free->Acquire();
      if (stop_) return;
      slot.ok = ready && in && Unpack(*dctx, in.get(), slot, std::uint32_t(b));
      if (slot.ok) prepare_(std::uint32_t(b), slot.bytes.get());
      slot.filled->Release();
      if (!slot.ok) return;
    }
  }
  bool Unpack(ZSTD_DCtx& dctx, unsigned char* in, Slot& slot, std::uint32_t b) {
    const auto size = std::size_t(Unpacked(b));
    if (slot.capacity < size) {
      slot.bytes.reset();
      slot.bytes.reset(new (std::nothrow) unsigned char[size]);
      slot.capacity = slot.bytes ? size : 0;
      if (!slot.bytes) return false;
    }
    ZSTD_DCtx_reset(&dctx, ZSTD_reset_session_only);
    ZSTD_outBuffer out{slot.bytes.get(), size, 0};
    std::uint64_t next = blocks_[b].packedAt;
    const std::uint64_t end = next + blocks_[b].packedSize;
    // The frame must end exactly where the block's bytes and content do.
    while (next < end) {
      if (stop_) return false;
      const auto n = std::size_t(std::min<std::uint64_t>(kReadChunk, end - next));
      if (!file_.ReadAt(next, in, n)) return false;
      next += n;
      ZSTD_inBuffer input{in, n, 0};
      while (input.pos < input.size) {
        const std::size_t took = input.pos, made = out.pos;
        const std::size_t r = ZSTD_decompressStream(&dctx, &out, &input);
        if (ZSTD_isError(r)) return false;
        if (r == 0) return input.pos == input.size && next == end && out.pos == size;
        // Stuck: the frame holds more than the block should.
        if (input.pos == took && out.pos == made) return false;
      }
    }
    return false;  // the bytes ended before the frame did
  }

  ByteSource& file_;
  const std::vector<Block>& blocks_;
  const std::uint32_t blockSize_;
  const std::uint64_t contentSize_;
  const Prepare prepare_;
  std::vector<Slot> slots_;
  std::uint64_t taken_ = 0;  // blocks handed over since Start
  std::atomic<bool> stop_{false};
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
  // Each block's first entry with content in it.
  std::vector<std::size_t> firstEntry;

  // The content in packed order, unpacked ahead on threads of their own;
  // the caller stands at (block, inBlock), the block's slot in hand.
  std::unique_ptr<Unpacker> unpacker;
  static constexpr std::uint32_t kNone = ~0u;
  std::uint32_t block = kNone;
  std::uint64_t inBlock = 0;
  const Slot* slot = nullptr;

  OpenStatus Open(std::uint64_t at);
  bool ReadIndex(std::string_view body, std::uint64_t version);
  bool ChecksumMatches();
  bool FramesFit();
  std::uint64_t Unpacked(std::uint32_t b) const {
    return std::min<std::uint64_t>(blockSize, contentSize - std::uint64_t(b) * blockSize);
  }
  std::uint64_t StartOf(const Entry& e) const { return std::uint64_t(e.block) * blockSize + e.offset; }
  void UndoFilters(std::uint32_t b, unsigned char* bytes) const;
  bool StartAt(std::uint32_t b);
  bool NextBlock();
  bool SkipTo(std::uint32_t b, std::uint64_t offset);
  void Stop() {
    if (unpacker) unpacker->Stop();
    block = kNone;
    slot = nullptr;
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
  firstEntry.assign(blocks.size(), entries.size());
  for (std::size_t i = entries.size(); i-- > 0;) {
    if (entries[i].size == 0) continue;
    const std::uint64_t from = StartOf(entries[i]) / blockSize, to = (StartOf(entries[i]) + entries[i].size - 1) / blockSize;
    for (std::uint64_t b = from; b <= to; ++b) firstEntry[std::size_t(b)] = i;
  }
  const auto it = byPath.find(FileNameKey(script));
  return it != byPath.end() && !entries[it->second].IsFolder();
}
// Each block's part of a filtered file was filtered on its own, counted
// from the file's start.
void Reader::State::UndoFilters(std::uint32_t b, unsigned char* bytes) const {
  const std::uint64_t begin = std::uint64_t(b) * blockSize, end = begin + Unpacked(b);
  for (std::size_t i = firstEntry[b]; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.size == 0) continue;
    const std::uint64_t from = std::max(begin, StartOf(e)), to = std::min(end, StartOf(e) + e.size);
    if (from >= end) break;
    if (e.filter == Filter::kBranches)
      FilterBranches(bytes + (from - begin), std::size_t(to - from), from - StartOf(e), false, true);
  }
}

bool Reader::State::StartAt(std::uint32_t b) {
  Stop();
  if (b >= blocks.size()) return false;
  if (!unpacker)
    unpacker = std::make_unique<Unpacker>(*file, blocks, blockSize, contentSize,
                                          [this](std::uint32_t at, unsigned char* bytes) { UndoFilters(at, bytes); });
  if (!unpacker->Start(b)) return false;
  block = b - 1;  // NextBlock takes b
  return NextBlock();
}

// Hands back the block in hand and takes the next one, once unpacked.
bool Reader::State::NextBlock() {
  if (slot) unpacker->Release();
  slot = nullptr;
  const Slot& next = unpacker->Next();
  ++block;
  inBlock = 0;
  if (!next.ok) return false;
  slot = &next;
  return true;
}

// Brings the caller to `offset` in block b. Within the block in hand any
// offset is there already; a block being unpacked ahead is waited for; any
// other starts the unpacking again from it.
bool Reader::State::SkipTo(std::uint32_t b, std::uint64_t offset) {
  if (!slot || b < block || b - block >= unpacker->Slots()) {
    if (!StartAt(b)) return false;
  }
  while (block < b)
    if (!NextBlock()) return false;
  inBlock = offset;
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
  s.Stop();  // the file is read by one side at a time
  if (!s.ChecksumMatches() || !s.FramesFit()) return false;
  // A package crafted with every checksum right may still hold content that
  // is not what its index says: every file is unpacked now, in packed order
  // (blocks side by side on the unpacking threads while this one sums), and
  // checked against its size and CRC before the first one is written.
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
  const std::uint64_t at = s.StartOf(entry);
  if (at > s.contentSize || entry.size > s.contentSize - at) return false;
  // A failure leaves the unpacker anywhere: the next file starts afresh.
  const auto fail = [&s] {
    s.Stop();
    return false;
  };
  if (!s.SkipTo(entry.block, entry.offset)) return fail();
  std::uint32_t crc = 0;
  for (std::uint64_t left = entry.size; left > 0;) {
    if (s.inBlock == s.Unpacked(s.block) && !s.NextBlock()) return fail();
    const auto n = std::size_t(std::min<std::uint64_t>({s.Unpacked(s.block) - s.inBlock, left, kWriteChunk}));
    const unsigned char* p = s.slot->bytes.get() + s.inBlock;
    crc = Crc32(crc, p, n);
    if (!sink.Write(p, n)) return fail();
    s.inBlock += n;
    left -= n;
  }
  return crc == entry.crc ? true : fail();
}

}  // namespace qv::pack
