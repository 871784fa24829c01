#include "framework/portable/bmp_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Rgbq = std::array<std::uint8_t, 4>;

void Put(Bytes& b, std::uint32_t v, int size) {
  for (int i = 0; i < size; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}

// A BMP file put together field by field, so that tests can write what our
// encoder never would: other headers, top-down rows, RLE, broken fields.
struct FileSpec {
  std::uint32_t headerSize = 40;
  std::int32_t width = 1, height = 1;
  std::uint16_t planes = 1, bits = 24;
  std::uint32_t compression = 0, sizeImage = 0, colorsUsed = 0;
  std::vector<std::uint32_t> masks;  // inside the header from 52 bytes up, else after it
  std::vector<Rgbq> palette;
  Bytes pixels;
  std::optional<std::uint32_t> offBits;  // default: right after the palette

  Bytes Build() const {
    Bytes info;
    Put(info, headerSize, 4);
    if (headerSize == 12) {
      Put(info, std::uint32_t(width), 2);
      Put(info, std::uint32_t(height), 2);
      Put(info, planes, 2);
      Put(info, bits, 2);
    } else {
      Put(info, std::uint32_t(width), 4);
      Put(info, std::uint32_t(height), 4);
      Put(info, planes, 2);
      Put(info, bits, 2);
      Put(info, compression, 4);
      Put(info, sizeImage, 4);
      Put(info, 2835, 4);
      Put(info, 2835, 4);
      Put(info, colorsUsed, 4);
      Put(info, 0, 4);
      if (headerSize > 40) {
        for (std::uint32_t m : masks) Put(info, m, 4);
        info.resize(headerSize, 0);
      } else {
        for (std::uint32_t m : masks) Put(info, m, 4);
      }
    }
    for (const Rgbq& c : palette) info.insert(info.end(), c.begin(), c.begin() + (headerSize == 12 ? 3 : 4));
    const std::uint32_t off = offBits.value_or(std::uint32_t(14 + info.size()));
    Bytes file{'B', 'M'};
    Put(file, std::uint32_t(off + pixels.size()), 4);
    Put(file, 0, 4);
    Put(file, off, 4);
    file.insert(file.end(), info.begin(), info.end());
    if (file.size() < off) file.resize(off, 0xEE);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
  }
};

std::uint32_t Read32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

// Pixels of a decoded picture as top-down 24-bit rows, without padding.
Bytes Top24(const BmpImage& image) {
  Bytes out(std::size_t(3) * image.width * image.height);
  ToTopDown24(image, out.data(), 3 * image.width);
  return out;
}

BmpImage PatternImage(int w, int h, int bits, std::uint32_t seed) {
  BmpImage image;
  image.width = w;
  image.height = h;
  image.bitCount = bits;
  const int stride = image.Stride(), used = (w * bits + 7) / 8;
  image.bits.assign(std::size_t(stride) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < used; ++i) {
      seed = seed * 1103515245u + 12345u;
      image.bits[std::size_t(y) * stride + i] = std::uint8_t(seed >> 23);
    }
  // Bits beyond the last pixel of a row are not picture: clear them so the
  // round trip compares like with like.
  if ((w * bits) % 8 != 0)
    for (int y = 0; y < h; ++y)
      image.bits[std::size_t(y) * stride + used - 1] &= std::uint8_t(0xFF << (8 - (w * bits) % 8));
  if (bits <= 8) {
    const int count = bits == 8 ? 200 : (1 << bits);  // also a short table
    for (int i = 0; i < count; ++i)
      image.colors.push_back({std::uint8_t(i), std::uint8_t(3 * i), std::uint8_t(255 - i), 0});
  }
  return image;
}

// ---------------------------------------------------------------- round trips

TEST(BmpCodec, RoundTripEveryDepthAndMaskLayout) {
  struct Layout {
    int bits;
    std::uint32_t r, g, b;
    bool fields;  // written with BI_BITFIELDS
  } layouts[] = {
      {1, 0, 0, 0, false},
      {4, 0, 0, 0, false},
      {8, 0, 0, 0, false},
      {16, 0, 0, 0, false},
      {16, 0xF800, 0x07E0, 0x001F, true},
      {16, 0x7C00, 0x03E0, 0x001F, false},  // the standard masks need no bit fields
      {24, 0, 0, 0, false},
      {32, 0, 0, 0, false},
      {32, 0x3FF00000, 0x000FFC00, 0x000003FF, true},
      {32, 0x000000FF, 0x0000FF00, 0x00FF0000, true},
  };
  for (const auto& l : layouts)
    for (int w : {1, 2, 3, 5, 7, 9})
      for (int h : {1, 2, 3}) {
        BmpImage image = PatternImage(w, h, l.bits, std::uint32_t(w * 13 + h));
        image.redMask = l.r, image.greenMask = l.g, image.blueMask = l.b;
        const Bytes file = EncodeBmp(image);
        const std::string what = std::to_string(l.bits) + " bits " + std::to_string(w) + "x" + std::to_string(h);
        ASSERT_GE(file.size(), 54u) << what;
        EXPECT_EQ(Read32(file, 2), file.size()) << what;
        EXPECT_EQ(Read32(file, 14), 40u) << what;
        EXPECT_EQ(Read32(file, 30), l.fields ? 3u : 0u) << what;
        const std::uint32_t colours = l.bits <= 8 ? std::uint32_t(image.colors.size()) : 0;
        EXPECT_EQ(Read32(file, 10), 54u + (l.fields ? 12 : 0) + 4 * colours) << what;
        EXPECT_EQ(file.size(), Read32(file, 10) + image.bits.size()) << what;

        const BmpImage back = DecodeBmp(file);
        EXPECT_EQ(back.width, w) << what;
        EXPECT_EQ(back.height, h) << what;
        EXPECT_EQ(back.bitCount, l.bits) << what;
        EXPECT_EQ(back.colors, image.colors) << what;
        EXPECT_EQ(back.bits, image.bits) << what;
        EXPECT_EQ(Top24(back), Top24(image)) << what;
        if (l.fields) {
          EXPECT_EQ((std::array{back.redMask, back.greenMask, back.blueMask}), (std::array{l.r, l.g, l.b})) << what;
        }
      }
}

TEST(BmpCodec, TopDown24RoundTripOnPaddedRows) {
  for (int w : {1, 2, 3, 4, 5})
    for (int h : {1, 2, 3}) {
      const int stride = 3 * w + 5;  // wider than needed: the rest must stay untouched
      Bytes rows(std::size_t(stride) * h, 0xA5);
      for (int y = 0; y < h; ++y)
        for (int i = 0; i < 3 * w; ++i) rows[std::size_t(y) * stride + i] = std::uint8_t(y * 50 + i);
      const BmpImage image = FromTopDown24(rows.data(), w, h, stride);
      EXPECT_EQ(image.bitCount, 24);
      // Stored bottom-up: the first stored row is the last given one.
      EXPECT_EQ(image.bits[0], std::uint8_t((h - 1) * 50));
      Bytes out(rows.size(), 0xA5);
      ToTopDown24(DecodeBmp(EncodeBmp(image)), out.data(), stride);
      EXPECT_EQ(out, rows) << w << "x" << h;
    }
}

// ---------------------------------------------------------------- conversions

struct Rgb {
  int r, g, b;
};

void ExpectPixels(const BmpImage& image, const std::vector<Rgb>& topDown, const std::string& what) {
  const Bytes out = Top24(image);
  ASSERT_EQ(out.size(), 3 * topDown.size()) << what;
  for (std::size_t i = 0; i < topDown.size(); ++i) {
    EXPECT_EQ(out[3 * i], topDown[i].b) << what << " pixel " << i << " blue";
    EXPECT_EQ(out[3 * i + 1], topDown[i].g) << what << " pixel " << i << " green";
    EXPECT_EQ(out[3 * i + 2], topDown[i].r) << what << " pixel " << i << " red";
  }
}

TEST(BmpCodec, PalettedPixelsReadHighBitsFirstAndOutOfTableIndexShowsEntryZero) {
  const std::vector<Rgbq> palette = {{1, 2, 3, 0}, {250, 251, 252, 0}, {10, 20, 30, 0}};
  {
    FileSpec f;  // 1 bit, 3 x 2: bottom row 1 0 1, top row 0 1 0
    f.width = 3, f.height = 2, f.bits = 1, f.palette = {palette[0], palette[1]};
    f.pixels = {0b10100000, 0, 0, 0, 0b01000000, 0, 0, 0};
    ExpectPixels(DecodeBmp(f.Build()),
                 {{3, 2, 1}, {252, 251, 250}, {3, 2, 1}, {252, 251, 250}, {3, 2, 1}, {252, 251, 250}}, "1 bit");
  }
  {
    FileSpec f;  // 4 bits, 3 entries used: indices 2, 5 (beyond), 1
    f.width = 3, f.bits = 4, f.colorsUsed = 3, f.palette = palette;
    f.pixels = {0x25, 0x10, 0, 0};
    ExpectPixels(DecodeBmp(f.Build()), {{30, 20, 10}, {3, 2, 1}, {252, 251, 250}}, "4 bits");
  }
  {
    FileSpec f;  // 8 bits, 3 entries used: indices 1, 200 (beyond), 2
    f.width = 3, f.bits = 8, f.colorsUsed = 3, f.palette = palette;
    f.pixels = {1, 200, 2, 0};
    ExpectPixels(DecodeBmp(f.Build()), {{252, 251, 250}, {3, 2, 1}, {30, 20, 10}}, "8 bits");
  }
}

TEST(BmpCodec, BitFieldChannelsScaleToFullRange) {
  struct Case {
    const char* what;
    int bits;
    std::vector<std::uint32_t> masks;  // empty: BI_RGB
    std::uint32_t pixel;
    Rgb expected;
  } cases[] = {
      {"5-5-5 white", 16, {}, 0x7FFF, {255, 255, 255}},
      {"5-5-5 top bit ignored", 16, {}, 0x8000, {0, 0, 0}},
      {"5-5-5 blue", 16, {}, 0x001F, {0, 0, 255}},
      {"5-5-5 half blue", 16, {}, 0x0010, {0, 0, 132}},  // 16 * 255 / 31 = 131.6
      {"5-5-5 red", 16, {}, 0x7C00, {255, 0, 0}},
      {"5-6-5 green", 16, {0xF800, 0x07E0, 0x001F}, 0x07E0, {0, 255, 0}},
      {"5-6-5 green 1", 16, {0xF800, 0x07E0, 0x001F}, 0x0020, {0, 4, 0}},  // 255 / 63 = 4.05
      {"8-8-8-x", 32, {}, 0xAB102030, {0x10, 0x20, 0x30}},
      {"10-10-10", 32, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x3FF00200, {255, 0, 128}},
      {"swapped", 32, {0x000000FF, 0x0000FF00, 0x00FF0000}, 0x00112233, {0x33, 0x22, 0x11}},
  };
  for (const auto& c : cases) {
    FileSpec f;
    f.bits = std::uint16_t(c.bits);
    f.compression = c.masks.empty() ? 0 : 3;
    f.masks = c.masks;
    Put(f.pixels, c.pixel, c.bits / 8);
    f.pixels.resize(4, 0);
    ExpectPixels(DecodeBmp(f.Build()), {c.expected}, c.what);
  }
}

TEST(BmpCodec, ToTopDown24ChecksItsArguments) {
  BmpImage image = PatternImage(3, 2, 24, 1);
  Bytes out(100);
  EXPECT_THROW(ToTopDown24(image, out.data(), 8), BmpError);  // rows shorter than 9 bytes
  image.bits.resize(image.bits.size() - 1);
  EXPECT_THROW(ToTopDown24(image, out.data(), 9), BmpError);
  EXPECT_THROW(FromTopDown24(out.data(), 0, 2, 12), BmpError);
  EXPECT_THROW(FromTopDown24(out.data(), 4, 2, 11), BmpError);
}

// ---------------------------------------------------------------- other layouts

TEST(BmpCodec, TopDownFilesAreStoredBottomUp) {
  for (std::uint16_t bits : {8, 24}) {
    FileSpec up;
    up.width = 2, up.height = 2, up.bits = bits;
    if (bits == 8) {
      up.palette = {{0, 0, 0, 0}, {1, 1, 1, 0}, {2, 2, 2, 0}, {3, 3, 3, 0}};
      up.colorsUsed = 4;
      up.pixels = {1, 2, 0, 0, 3, 0, 0, 0};
    } else {
      up.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    }
    FileSpec down = up;
    down.height = -2;
    const std::size_t half = down.pixels.size() / 2;
    std::rotate(down.pixels.begin(), down.pixels.begin() + std::ptrdiff_t(half), down.pixels.end());
    const BmpImage a = DecodeBmp(up.Build()), b = DecodeBmp(down.Build());
    EXPECT_EQ(b.height, 2);
    EXPECT_EQ(a.bits, b.bits) << bits;
    EXPECT_EQ(Top24(a), Top24(b)) << bits;
  }
}

TEST(BmpCodec, CoreAndLargerHeaders) {
  {
    FileSpec f;  // 12-byte core header, 3-byte colour entries
    f.headerSize = 12, f.width = 2, f.bits = 8;
    f.palette = {{10, 20, 30, 0}, {40, 50, 60, 0}};
    f.palette.resize(256, {0, 0, 0, 0});  // a core table is always complete
    f.pixels = {1, 0, 0, 0};
    const BmpImage image = DecodeBmp(f.Build());
    EXPECT_EQ(image.colors.size(), 256u);
    ExpectPixels(image, {{60, 50, 40}, {30, 20, 10}}, "core 8 bits");
  }
  {
    FileSpec f;
    f.headerSize = 12, f.width = 1, f.bits = 24, f.pixels = {1, 2, 3, 0};
    ExpectPixels(DecodeBmp(f.Build()), {{3, 2, 1}}, "core 24 bits");
  }
  for (std::uint32_t size : {52u, 56u, 108u, 124u}) {
    FileSpec f;  // masks inside the header
    f.headerSize = size, f.bits = 16, f.compression = 3, f.masks = {0xF800, 0x07E0, 0x001F, 0};
    f.pixels = {0x1F, 0xF8, 0, 0};
    ExpectPixels(DecodeBmp(f.Build()), {{255, 0, 255}}, "header " + std::to_string(size));
  }
  {
    FileSpec f;  // BI_RGB ignores whatever masks a large header holds
    f.headerSize = 124, f.bits = 16, f.masks = {0xF800, 0x07E0, 0x001F, 0};
    f.pixels = {0x1F, 0x00, 0, 0};
    ExpectPixels(DecodeBmp(f.Build()), {{0, 0, 255}}, "V5 BI_RGB");
  }
  {
    FileSpec f;  // pixel data further on than the headers end
    f.width = 1, f.bits = 24, f.offBits = 100, f.pixels = {7, 8, 9, 0};
    ExpectPixels(DecodeBmp(f.Build()), {{9, 8, 7}}, "gap before pixels");
  }
}

// ---------------------------------------------------------------- RLE

TEST(BmpCodec, Rle8RunsAbsoluteRunsDeltaAndLineEnds) {
  FileSpec f;
  f.width = 4, f.height = 3, f.bits = 8, f.compression = 1, f.colorsUsed = 16;
  for (int i = 0; i < 16; ++i) f.palette.push_back({std::uint8_t(i), 0, 0, 0});
  f.pixels = {
      3, 5,              // row 0: 5 5 5, pixel 3 never set
      0, 0,              // end of line
      0, 3, 1, 2, 3, 0,  // row 1: absolute 1 2 3, padded to a word
      0, 2, 0, 1,        // delta: same column (3), one row up
      1, 7,              // row 2, pixel 3
      0, 1,              // end of bitmap
  };
  const BmpImage image = DecodeBmp(f.Build());
  EXPECT_EQ(image.bitCount, 8);
  EXPECT_EQ(image.bits, (Bytes{5, 5, 5, 0, 1, 2, 3, 0, 0, 0, 0, 7}));
}

TEST(BmpCodec, Rle8RunsPastTheRowAreDroppedNotWrapped) {
  FileSpec f;
  f.width = 2, f.height = 2, f.bits = 8, f.compression = 1, f.colorsUsed = 16;
  f.palette.assign(16, {0, 0, 0, 0});
  f.pixels = {5, 9, 0, 5, 1, 2, 3, 4, 6, 0, 0, 0, 0, 2, 200, 200, 1, 4, 0, 1};
  // row 0: 9 9 and three dropped; an absolute run past the row, dropped;
  // line end; a delta far outside, where a run is dropped too.
  EXPECT_EQ(DecodeBmp(f.Build()).bits, (Bytes{9, 9, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpCodec, Rle4AlternatesNibbles) {
  FileSpec f;
  f.width = 5, f.height = 2, f.bits = 4, f.compression = 2, f.colorsUsed = 16;
  for (int i = 0; i < 16; ++i) f.palette.push_back({std::uint8_t(i), 0, 0, 0});
  f.pixels = {
      5, 0x12,              // row 0: 1 2 1 2 1
      0, 0,                 // end of line
      0, 3,    0x34, 0x50,  // row 1: absolute 3 4 5 (two bytes, no padding)
      0, 2,    1,    0,     // delta: skip pixel 3
      1, 0xF0,              // pixel 4 = F
      0, 1,
  };
  EXPECT_EQ(DecodeBmp(f.Build()).bits, (Bytes{0x12, 0x12, 0x10, 0, 0x34, 0x50, 0xF0, 0}));

  f.height = 1;
  f.pixels = {0, 5, 0x12, 0x34, 0x50, 0, 0, 1};  // five nibbles: three bytes padded to four
  EXPECT_EQ(DecodeBmp(f.Build()).bits, (Bytes{0x12, 0x34, 0x50, 0}));
}

TEST(BmpCodec, RleSizeImageBoundsTheStream) {
  FileSpec f;
  f.width = 2, f.height = 1, f.bits = 8, f.compression = 1, f.colorsUsed = 2;
  f.palette.assign(2, {0, 0, 0, 0});
  f.pixels = {2, 1, 0, 1};
  f.sizeImage = 4;
  EXPECT_EQ(DecodeBmp(f.Build()).bits, (Bytes{1, 1, 0, 0}));
  f.sizeImage = 2;  // the end-of-bitmap code lies beyond the stated size
  EXPECT_THROW(DecodeBmp(f.Build()), BmpError);
  f.sizeImage = 5;  // more than the file holds
  EXPECT_THROW(DecodeBmp(f.Build()), BmpError);
}

// ---------------------------------------------------------------- corrupt input

FileSpec Valid8() {
  FileSpec f;
  f.width = 2, f.height = 2, f.bits = 8, f.colorsUsed = 2;
  f.palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  f.pixels = {0, 1, 0, 0, 1, 0, 0, 0};
  return f;
}

TEST(BmpCodec, CorruptFilesRaiseBmpError) {
  struct Case {
    const char* what;
    std::function<void(FileSpec&)> change;
  } cases[] = {
      {"header size 20", [](FileSpec& f) { f.headerSize = 20; }},
      {"header size 64", [](FileSpec& f) { f.headerSize = 64; }},
      {"width 0", [](FileSpec& f) { f.width = 0; }},
      {"width -2", [](FileSpec& f) { f.width = -2; }},
      {"height 0", [](FileSpec& f) { f.height = 0; }},
      {"width 65536", [](FileSpec& f) { f.width = 65536; }},
      {"height -65536", [](FileSpec& f) { f.height = -65536; }},
      {"height INT_MIN", [](FileSpec& f) { f.height = std::numeric_limits<std::int32_t>::min(); }},
      {"over 256 MiB", [](FileSpec& f) { f.width = 65535, f.height = 65535, f.bits = 24, f.palette.clear(); }},
      {"planes 0", [](FileSpec& f) { f.planes = 0; }},
      {"2 bits", [](FileSpec& f) { f.bits = 2; }},
      {"0 bits", [](FileSpec& f) { f.bits = 0; }},
      {"JPEG compression", [](FileSpec& f) { f.compression = 4; }},
      {"bit fields on 8 bits",
       [](FileSpec& f) {
         f.compression = 3, f.masks = {0xE0, 0x1C, 0x03};
       }},
      {"RLE4 on 8 bits", [](FileSpec& f) { f.compression = 2; }},
      {"RLE8 top-down",
       [](FileSpec& f) {
         f.compression = 1, f.height = -2, f.pixels = {0, 1};
       }},
      {"table of 257", [](FileSpec& f) { f.colorsUsed = 257; }},
      {"table cut short", [](FileSpec& f) { f.colorsUsed = 200, f.pixels.clear(); }},
      {"pixels inside the header", [](FileSpec& f) { f.offBits = 40; }},
      {"pixels inside the table", [](FileSpec& f) { f.offBits = 14 + 40 + 4; }},
      {"pixels past the end", [](FileSpec& f) { f.offBits = 1000, f.pixels.clear(); }},
      {"pixels one byte short", [](FileSpec& f) { f.pixels.pop_back(); }},
      {"no pixels", [](FileSpec& f) { f.pixels.clear(); }},
      {"core 16 bits", [](FileSpec& f) { f.headerSize = 12, f.bits = 16, f.palette.clear(); }},
  };
  for (const auto& c : cases) {
    FileSpec f = Valid8();
    c.change(f);
    EXPECT_THROW(DecodeBmp(f.Build()), BmpError) << c.what;
  }
}

TEST(BmpCodec, BadMasksRaiseBmpError) {
  const std::vector<std::uint32_t> masks[] = {
      {0, 0x03E0, 0x001F},         // a channel without bits
      {0x7C00, 0x07E0, 0x001F},    // overlapping
      {0x7C01, 0x03E0, 0x001E},    // red not one run of bits
      {0x1F0000, 0x03E0, 0x001F},  // outside a 16-bit pixel
  };
  for (const auto& m : masks) {
    FileSpec f;
    f.bits = 16, f.compression = 3, f.masks = m, f.pixels = {0, 0, 0, 0};
    EXPECT_THROW(DecodeBmp(f.Build()), BmpError) << std::hex << m[0];
    BmpImage image = PatternImage(1, 1, 16, 1);
    image.redMask = m[0], image.greenMask = m[1], image.blueMask = m[2];
    EXPECT_THROW(EncodeBmp(image), BmpError) << std::hex << m[0];
  }
}

TEST(BmpCodec, BrokenRleStreamsRaiseBmpError) {
  const Bytes streams[] = {
      {},                     // nothing
      {2, 1},                 // no end-of-bitmap
      {2},                    // half a pair
      {0, 2, 1},              // delta cut short
      {0, 4, 1, 2, 3},        // absolute run cut short
      {0, 3, 1, 2, 3, 0, 1},  // padding eats the first end byte: no end-of-bitmap
      {0, 0, 0, 0, 0, 0},     // only line ends
  };
  for (const Bytes& s : streams) {
    FileSpec f = Valid8();
    f.compression = 1, f.pixels = s;
    EXPECT_THROW(DecodeBmp(f.Build()), BmpError) << s.size();
  }
}

TEST(BmpCodec, ShortOrForeignFilesRaiseBmpError) {
  const Bytes valid = Valid8().Build();
  EXPECT_THROW(DecodeBmp({}), BmpError);
  EXPECT_THROW(DecodeBmp(Bytes{'B', 'M'}), BmpError);
  Bytes foreign = valid;
  foreign[0] = 'P';
  EXPECT_THROW(DecodeBmp(foreign), BmpError);
  // Every cut of a valid file is refused (uncompressed, bit fields, RLE).
  FileSpec rle = Valid8();
  rle.compression = 1, rle.pixels = {2, 1, 0, 0, 1, 0, 0, 1};
  FileSpec fields;
  fields.bits = 32, fields.compression = 3, fields.masks = {0xFF0000, 0xFF00, 0xFF}, fields.pixels = {1, 2, 3, 4};
  for (const Bytes& file : {valid, rle.Build(), fields.Build()}) {
    ASSERT_NO_THROW(DecodeBmp(file));
    for (std::size_t n = 0; n < file.size(); ++n)
      EXPECT_THROW(DecodeBmp(std::span(file.data(), n)), BmpError) << "cut at " << n;
  }
}

// Random damage to valid files: each must either decode into a consistent
// picture or raise BmpError; the sanitizers watch the reads.
TEST(BmpCodec, DamagedFilesNeverCrash) {
  std::vector<Bytes> seeds = {Valid8().Build(), EncodeBmp(PatternImage(5, 3, 4, 2)),
                              EncodeBmp(PatternImage(3, 2, 1, 3)), EncodeBmp(PatternImage(2, 2, 32, 4))};
  FileSpec rle = Valid8();
  rle.compression = 1, rle.pixels = {2, 1, 0, 0, 0, 3, 1, 0, 1, 0, 0, 2, 1, 0, 0, 1};
  seeds.push_back(rle.Build());
  std::uint32_t r = 99;
  auto next = [&r] { return (r = r * 1664525u + 1013904223u) >> 8; };
  int decoded = 0, refused = 0;
  for (const Bytes& seed : seeds)
    for (int round = 0; round < 600; ++round) {
      Bytes file = seed;
      for (int k = 1 + int(next() % 4); k > 0; --k) file[next() % file.size()] = std::uint8_t(next());
      try {
        const BmpImage image = DecodeBmp(file);
        EXPECT_EQ(image.bits.size(), std::size_t(image.Stride()) * image.height);
        if (image.bitCount <= 8) {
          EXPECT_LE(image.colors.size(), std::size_t{1} << image.bitCount);
        }
        if (std::size_t(image.width) * image.height <= 4096) Top24(image);  // damage may claim huge sizes
        ++decoded;
      } catch (const BmpError&) {
        ++refused;
      }
    }
  EXPECT_GT(decoded, 0);
  EXPECT_GT(refused, 0);
}

TEST(BmpCodec, EncodeRefusesInconsistentPictures) {
  struct Case {
    const char* what;
    std::function<void(BmpImage&)> change;
  } cases[] = {
      {"7 bits", [](BmpImage& i) { i.bitCount = 7; }},       {"width 0", [](BmpImage& i) { i.width = 0; }},
      {"width 70000", [](BmpImage& i) { i.width = 70000; }}, {"short buffer", [](BmpImage& i) { i.bits.pop_back(); }},
      {"no colours", [](BmpImage& i) { i.colors.clear(); }}, {"257 colours", [](BmpImage& i) { i.colors.resize(257); }},
  };
  for (const auto& c : cases) {
    BmpImage image = PatternImage(3, 2, 8, 5);
    c.change(image);
    EXPECT_THROW(EncodeBmp(image), BmpError) << c.what;
  }
}

}  // namespace
}  // namespace qv
