#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "package/lzma_block.h"

namespace qv::pack::lzma {

void PrintTo(Decoder::Status s, std::ostream* os) {
  *os << (s == Decoder::Status::More ? "More" : s == Decoder::Status::Ended ? "Ended" : "Damaged");
}

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t Next(std::uint32_t& x) {
  x = x * 1664525u + 1013904223u;
  return x >> 8;
}

Bytes Noise(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  for (auto& c : b) c = static_cast<unsigned char>(Next(seed));
  return b;
}

// Stretches of text, zeros, noise and copies of earlier stretches from near
// and far, as a folder of programs holds.
Bytes Mixed(std::size_t size, std::uint32_t seed) {
  Bytes b;
  static const std::string kWords[] = {"setup ", "install ", "folder ", "value ", "\r\n", "Program Files\\"};
  while (b.size() < size) {
    const std::uint32_t kind = Next(seed) % 4, n = 1 + Next(seed) % 40000;
    if (kind == 0) {
      for (std::uint32_t i = 0; i < n / 8; ++i) {
        const std::string& w = kWords[Next(seed) % 6];
        b.insert(b.end(), w.begin(), w.end());
      }
    } else if (kind == 1) {
      b.insert(b.end(), n, 0);
    } else if (kind == 2) {
      const Bytes noise = Noise(n, seed);
      b.insert(b.end(), noise.begin(), noise.end());
    } else if (!b.empty()) {
      const std::size_t from = Next(seed) % b.size(), len = std::min<std::size_t>(n, b.size() - from);
      b.insert(b.end(), b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(from + len));
    }
  }
  b.resize(size);
  return b;
}

Bytes Repeated(const Bytes& unit, std::size_t times) {
  Bytes b;
  for (std::size_t i = 0; i < times; ++i) b.insert(b.end(), unit.begin(), unit.end());
  return b;
}

Bytes Pack(const Bytes& in, unsigned dictLog) {
  Bytes out = {0xAA};  // Compress appends
  EXPECT_TRUE(Compress(in.data(), in.size(), dictLog, out));
  EXPECT_EQ(out.front(), 0xAA);
  return Bytes(out.begin() + 1, out.end());
}

// Unpacks through one decoder, fed and emptied in pieces of the given
// sizes, each piece a buffer of its own size so that ASan sees any read
// or write beyond it.
Decoder::Status Unpack(Decoder& d, const Bytes& packed, unsigned dictLog, std::size_t inPiece, std::size_t outPiece,
                       Bytes& got) {
  const bool started = d.Start(dictLog);
  std::size_t at = 0;
  Bytes inBuf, outBuf(outPiece);
  Decoder::In in;
  // Nothing to give yet, more than once: no harm done.
  for (int i = 0; i < 2 && started; ++i) {
    Decoder::Out none{outBuf.data(), outBuf.size(), 0};
    EXPECT_EQ(d.Step(in, none), Decoder::Status::More);
  }
  while (true) {
    if (in.pos == in.size && !in.last) {
      const std::size_t n = std::min(inPiece, packed.size() - at);
      inBuf.assign(packed.begin() + std::ptrdiff_t(at), packed.begin() + std::ptrdiff_t(at + n));
      at += n;
      in = {inBuf.data(), n, 0, at == packed.size()};
    }
    Decoder::Out out{outBuf.data(), outBuf.size(), 0};
    const std::size_t inBefore = in.pos;
    const Decoder::Status s = d.Step(in, out);
    got.insert(got.end(), outBuf.begin(), outBuf.begin() + std::ptrdiff_t(out.pos));
    if (s != Decoder::Status::More) return s;
    // Neither input taken nor output given, with room for it: stuck.
    if (in.pos == inBefore && out.pos == 0) {
      ADD_FAILURE() << "no progress";
      return s;
    }
  }
}

TEST(LzmaBlock, RoundTripsAndRefusesWhatNoEncoderWrote) {
  const Bytes mixed = Mixed(3u << 20, 1), small = Mixed(5000, 2), noise = Noise(100000, 3);
  const Bytes runs = Repeated({'a', 'b', 'c', 0, 0, 0xE8, 1, 2, 3, 4, 'x'}, 200000);
  const Bytes far = Repeated(Noise(100000, 4), 3);  // repeats only 100000 bytes back
  const Bytes empty, mixedPacked = Pack(mixed, 22), smallPacked = Pack(small, 20), noisePacked = Pack(noise, 20),
              runsPacked = Pack(runs, 20), farPacked = Pack(far, 20), emptyPacked = Pack(empty, 20);
  // An LZMA chunk's header: control, sizes, then the properties byte.
  const auto props = [](unsigned lc, unsigned lp, unsigned pb) {
    return [=](Bytes& p) { p[5] = static_cast<unsigned char>((pb * 5 + lp) * 9 + lc); };
  };
  const std::function<void(Bytes&)> same = [](Bytes&) {};

  struct Case {
    const char* name;
    const Bytes& input;
    const Bytes& packed;
    std::function<void(Bytes&)> change;
    unsigned dictLog;
    std::size_t inPiece, outPiece;
    bool fits, ends;  // HeaderFits on the first bytes; Ended with the input back, else Damaged
  };
  const Case cases[] = {
      {"empty", empty, emptyPacked, same, 20, 1, 1, true, true},
      {"small, byte by byte", small, smallPacked, same, 20, 1, 1, true, true},
      {"small, one piece", small, smallPacked, same, 20, 1u << 20, 1u << 20, true, true},
      {"noise: stored chunks", noise, noisePacked, same, 20, 7, 3, true, true},
      {"mixed, small pieces", mixed, mixedPacked, same, 22, 333, 1000, true, true},
      {"mixed, large pieces", mixed, mixedPacked, same, 22, 1u << 20, 1u << 20, true, true},
      {"mixed, larger dictionary", mixed, mixedPacked, same, 27, 65536, 4096, true, true},
      {"runs", runs, runsPacked, same, 20, 1, 999, true, true},
      {"far repeats", far, farPacked, same, 17, 4096, 4096, true, true},
      {"far repeats, dictionary too small", far, farPacked, same, 16, 4096, 4096, true, false},
      {"dictionary below the least", small, smallPacked, same, kMinDictLog - 1, 1 << 20, 1 << 20, false, false},
      {"dictionary above the most", small, smallPacked, same, kMaxDictLog + 1, 1 << 20, 1 << 20, false, false},
      {"end marker cut", mixed, mixedPacked, [](Bytes& p) { p.pop_back(); }, 22, 4096, 4096, true, false},
      {"cut in half", small, smallPacked, [](Bytes& p) { p.resize(p.size() / 2); }, 20, 1, 1, true, false},
      {"cut to one byte", small, smallPacked, [](Bytes& p) { p.resize(1); }, 20, 1, 1, false, false},
      {"a byte flipped", mixed, mixedPacked, [](Bytes& p) { p[p.size() / 2] ^= 0x10; }, 22, 4096, 4096, true, false},
      {"a byte after the end", small, smallPacked, [](Bytes& p) { p.push_back(0); }, 20, 1, 1, true, false},
      {"bytes after the end", mixed, mixedPacked, [](Bytes& p) { p.insert(p.end(), 100, 7); }, 22, 1u << 20,
       1u << 20, true, false},
      {"after an empty stream", empty, emptyPacked, [](Bytes& p) { p.push_back(0xE0); }, 20, 1 << 20, 1, true, false},
      {"first chunk keeps the dictionary", small, smallPacked, [](Bytes& p) { p[0] = 0xC0 | (p[0] & 0x1F); }, 20,
       1 << 20, 1 << 20, false, false},
      {"first chunk keeps the properties", small, smallPacked, [](Bytes& p) { p[0] = 0xA0 | (p[0] & 0x1F); }, 20,
       1 << 20, 1 << 20, false, false},
      {"first chunk stored, keeping the dictionary", noise, noisePacked, [](Bytes& p) { p[0] = 0x02; }, 20, 1 << 20,
       1 << 20, false, false},
      {"control byte no chunk has", small, smallPacked, [](Bytes& p) { p[0] = 0x03; }, 20, 1 << 20, 1 << 20, false,
       false},
      {"lc + lp = 5", small, smallPacked, props(4, 1, 2), 20, 1 << 20, 1 << 20, false, false},
      {"lc 8", small, smallPacked, props(8, 0, 0), 20, 1 << 20, 1 << 20, false, false},
      {"properties beyond pb 4", small, smallPacked, [](Bytes& p) { p[5] = 225; }, 20, 1 << 20, 1 << 20, false,
       false},
      {"range coder's first byte", small, smallPacked, [](Bytes& p) { p[6] = 1; }, 20, 1 << 20, 1 << 20, false,
       false},
  };
  ASSERT_EQ(smallPacked[0], 0xE0);  // the cases above change an LZMA chunk
  ASSERT_EQ(noisePacked[0], 0x01);  // and a stored one
  ASSERT_EQ(emptyPacked, Bytes{0x00});

  Decoder d;  // one for all: each Start begins afresh after any outcome
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes packed = c.packed;
    c.change(packed);
    EXPECT_EQ(HeaderFits(packed.data(), std::min<std::size_t>(packed.size(), 16), c.dictLog), c.fits);
    Bytes got;
    const Decoder::Status s = Unpack(d, packed, c.dictLog, c.inPiece, c.outPiece, got);
    EXPECT_EQ(s, c.ends ? Decoder::Status::Ended : Decoder::Status::Damaged);
    if (c.ends) {
      EXPECT_TRUE(got == c.input) << got.size() << " bytes of " << c.input.size();
    }
    // An outcome holds until the next Start.
    unsigned char spare[4];
    Decoder::In in{packed.data(), packed.size(), 0, true};
    Decoder::Out out{spare, sizeof spare, 0};
    EXPECT_EQ(d.Step(in, out), s);
    EXPECT_EQ(in.pos + out.pos, 0u);
  }
  // The end marker comes after the last byte has filled the room: read
  // with no room left.
  {
    Bytes room(small.size());
    Decoder::In in{smallPacked.data(), smallPacked.size() - 1, 0, false};
    Decoder::Out out{room.data(), room.size(), 0};
    ASSERT_TRUE(d.Start(20));
    EXPECT_EQ(d.Step(in, out), Decoder::Status::More);
    EXPECT_EQ(out.pos, out.size);
    in = {smallPacked.data() + in.size, 1, 0, true};
    EXPECT_EQ(d.Step(in, out), Decoder::Status::Ended);
    EXPECT_TRUE(room == small);
  }
  Bytes out = {1, 2};
  EXPECT_FALSE(Compress(small.data(), small.size(), kMaxDictLog + 1, out));
  EXPECT_FALSE(Compress(small.data(), small.size(), kMinDictLog - 1, out));
  EXPECT_EQ(out, (Bytes{1, 2}));
}

}  // namespace
}  // namespace qv::pack::lzma
