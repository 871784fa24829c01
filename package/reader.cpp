// Reads a package (see package.h): Open checks everything it will rely on,
// so Extract meets only what the checksums did not already catch.
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "format.h"
#include "package.h"

namespace qv::pack {
namespace {

using format::Get;

constexpr std::size_t kReadChunk = 1u << 20;
constexpr std::size_t kOutChunk = 256u << 10;

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

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

}  // namespace

struct Reader::State {
  ByteSource* file = nullptr;
  std::uint64_t start = 0, crcAt = 0;  // where the package and its checksum lie
  std::uint32_t blockSize = 0;
  std::uint64_t contentSize = 0;
  std::vector<Block> blocks;
  std::string script;
  std::vector<Entry> entries;
  std::unordered_map<std::string, std::size_t> byPath;  // lower-case path -> entry

  // Where the decompressor stands: in `block`, `produced` bytes of it came
  // out so far, the last [head, tail) of them not handed out yet.
  struct DctxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
  };
  std::unique_ptr<ZSTD_DCtx, DctxFree> dctx;
  static constexpr std::uint32_t kNone = ~0u;
  std::uint32_t block = kNone;
  std::uint64_t produced = 0, inNext = 0;
  bool frameEnded = false;
  std::vector<unsigned char> in, out;
  ZSTD_inBuffer inBuf{};
  std::size_t head = 0, tail = 0;

  OpenStatus Open(std::uint64_t at);
  bool ReadIndex(std::string_view body);
  std::uint64_t Unpacked(std::uint32_t b) const {
    return std::min<std::uint64_t>(blockSize, contentSize - std::uint64_t(b) * blockSize);
  }
  std::uint64_t Position() const { return produced - (tail - head); }
  bool StartBlock(std::uint32_t b);
  bool Produce();
  bool FinishBlock();
  bool SkipTo(std::uint64_t offset);
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
  const auto version = Get(lead + 8, 4), windowLog = Get(lead + 12, 4);
  blockSize = std::uint32_t(Get(lead + 16, 4));
  if (version != format::kVersion || windowLog > std::uint64_t(format::kMaxWindowLog) ||
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
  if (!ReadIndex(std::string_view(index).substr(4))) return OpenStatus::Damaged;
  start = at;
  return OpenStatus::Ok;
}

bool Reader::State::ReadIndex(std::string_view body) {
  Fields f(body);
  contentSize = f.Number(8);
  const auto count = f.Number(4);
  script = f.Text();
  // Every entry takes kEntryFixed bytes at least: no reserve beyond the index.
  if (!f.Ok() || count > f.Left() / format::kEntryFixed) return false;
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
    e.block = std::uint32_t(f.Number(4));
    e.offset = f.Number(8);
    if (!f.Ok() || !IsSafePath(e.path) || (e.attributes & ~format::kKeptAttributes) != 0) return false;
    if (e.size == 0) {
      if (e.crc != 0 || e.block != 0 || e.offset != 0) return false;
    } else {
      // Contents follow one another in entry order: each file's place is known.
      if (e.IsFolder() || e.size > contentSize - position || e.block != position / blockSize ||
          e.offset != position % blockSize)
        return false;
      position += e.size;
    }
    if (!byPath.emplace(LowerAscii(e.path), entries.size()).second) return false;
    entries.push_back(std::move(e));
  }
  if (!f.AtEnd() || position != contentSize) return false;
  const auto it = byPath.find(LowerAscii(script));
  return it != byPath.end() && !entries[it->second].IsFolder();
}

bool Reader::State::StartBlock(std::uint32_t b) {
  if (b >= blocks.size()) return false;
  if (!dctx) {
    dctx.reset(ZSTD_createDCtx());
    if (!dctx || ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, format::kMaxWindowLog)))
      return false;
    in.resize(kReadChunk);
    out.resize(kOutChunk);
  }
  ZSTD_DCtx_reset(dctx.get(), ZSTD_reset_session_only);
  block = b;
  produced = 0;
  inNext = blocks[b].packedAt;
  inBuf = {in.data(), 0, 0};
  head = tail = 0;
  frameEnded = false;
  return true;
}

// More of the block into `out`; false when the data is damaged.
bool Reader::State::Produce() {
  const Block& b = blocks[block];
  const std::uint64_t packedEnd = b.packedAt + b.packedSize;
  while (true) {
    if (frameEnded) return false;  // the frame holds less than the block should
    if (inBuf.pos == inBuf.size) {
      const auto n = std::size_t(std::min<std::uint64_t>(in.size(), packedEnd - inNext));
      if (n == 0 || !file->ReadAt(inNext, in.data(), n)) return false;
      inNext += n;
      inBuf = {in.data(), n, 0};
    }
    ZSTD_outBuffer o{out.data(), out.size(), 0};
    const std::size_t r = ZSTD_decompressStream(dctx.get(), &o, &inBuf);
    if (ZSTD_isError(r)) return false;
    frameEnded = r == 0;
    if (o.pos > 0) {
      if (o.pos > Unpacked(block) - produced) return false;  // more than the block should hold
      produced += o.pos;
      head = 0;
      tail = o.pos;
      return true;
    }
  }
}

// At the block's end: the frame must end there too, with no bytes left over.
bool Reader::State::FinishBlock() {
  const Block& b = blocks[block];
  const std::uint64_t packedEnd = b.packedAt + b.packedSize;
  while (!frameEnded) {
    if (inBuf.pos == inBuf.size) {
      const auto n = std::size_t(std::min<std::uint64_t>(in.size(), packedEnd - inNext));
      if (n == 0 || !file->ReadAt(inNext, in.data(), n)) return false;
      inNext += n;
      inBuf = {in.data(), n, 0};
    }
    ZSTD_outBuffer o{out.data(), out.size(), 0};
    const std::size_t r = ZSTD_decompressStream(dctx.get(), &o, &inBuf);
    if (ZSTD_isError(r) || o.pos != 0) return false;
    frameEnded = r == 0;
  }
  return inBuf.pos == inBuf.size && inNext == packedEnd;
}

// Brings the next byte to hand out to `offset` in the content, going back
// to the start of a block only when the offset lies behind.
bool Reader::State::SkipTo(std::uint64_t offset) {
  const auto b = std::uint32_t(offset / blockSize);
  const std::uint64_t inBlock = offset % blockSize;
  if ((block != b || Position() > inBlock) && !StartBlock(b)) return false;
  while (Position() < inBlock) {
    if (head == tail && !Produce()) return false;
    head += std::size_t(std::min<std::uint64_t>(tail - head, inBlock - Position()));
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

bool Reader::Verify() {
  State& s = *state_;
  if (!s.file) return false;
  std::vector<unsigned char> buffer(kReadChunk);
  std::uint32_t crc = 0;
  for (std::uint64_t pos = s.start; pos < s.crcAt;) {
    const auto n = std::size_t(std::min<std::uint64_t>(buffer.size(), s.crcAt - pos));
    if (!s.file->ReadAt(pos, buffer.data(), n)) return false;
    crc = Crc32(crc, buffer.data(), n);
    pos += n;
  }
  unsigned char stored[4];
  return s.file->ReadAt(s.crcAt, stored, 4) && Get(stored, 4) == crc;
}

const std::string& Reader::Script() const { return state_->script; }
const std::vector<Entry>& Reader::Entries() const { return state_->entries; }

const Entry* Reader::Find(std::string_view path) const {
  const auto it = state_->byPath.find(LowerAscii(path));
  return it == state_->byPath.end() ? nullptr : &state_->entries[it->second];
}

bool Reader::Extract(const Entry& entry, ByteSink& sink) {
  State& s = *state_;
  if (!s.file || entry.IsFolder()) return false;
  if (entry.size == 0) return entry.crc == 0;
  if (entry.block >= s.blocks.size() || entry.offset >= s.blockSize) return false;
  const std::uint64_t at = std::uint64_t(entry.block) * s.blockSize + entry.offset;
  if (at > s.contentSize || entry.size > s.contentSize - at) return false;
  // A failure leaves the decompressor anywhere: the next file starts afresh.
  const auto fail = [&s] {
    s.block = State::kNone;
    return false;
  };
  if (!s.SkipTo(at)) return fail();
  std::uint32_t crc = 0;
  for (std::uint64_t left = entry.size; left > 0;) {
    if (s.Position() == s.Unpacked(s.block) && !(s.FinishBlock() && s.StartBlock(s.block + 1))) return fail();
    if (s.head == s.tail && !s.Produce()) return fail();
    const auto n = std::size_t(std::min<std::uint64_t>(s.tail - s.head, left));
    const unsigned char* p = s.out.data() + s.head;
    crc = Crc32(crc, p, n);
    if (!sink.Write(p, n)) return fail();
    s.head += n;
    left -= n;
  }
  if (s.Position() == s.Unpacked(s.block) && !s.FinishBlock()) return fail();
  return crc == entry.crc ? true : fail();
}

}  // namespace qv::pack
