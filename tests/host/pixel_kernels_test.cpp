#include "skin/pixel_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace qv::pix {
namespace {

struct Bgr {
  std::uint8_t b = 0, g = 0, r = 0;
  bool operator==(const Bgr&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Bgr& p) {
  return os << "(b" << int(p.b) << " g" << int(p.g) << " r" << int(p.r) << ")";
}

Bgr Grey(int v) { return {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)}; }
Bgr Blue(int v) { return {std::uint8_t(v), 0, 0}; }

// A 24-bit top-down picture in a buffer of exactly its size. Each row's
// padding holds its own sentinel (0xA0 + y) so that a kernel writing or
// moving padding bytes is caught.
class Pic {
 public:
  Pic(int w, int h) : w_(w), h_(h), stride_(Stride24(w)), bytes_(std::size_t(stride_) * h, 0) {
    for (int y = 0; y < h; ++y)
      for (int i = 3 * w; i < stride_; ++i) bytes_[std::size_t(y) * stride_ + i] = Sentinel(y);
  }
  // Every byte different enough that mixed-up pixels or channels show.
  static Pic Pattern(int w, int h, std::uint32_t seed = 7) {
    Pic p(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        seed = seed * 1103515245u + 12345u;
        p.Set(x, y, {std::uint8_t(seed >> 24), std::uint8_t(seed >> 16), std::uint8_t(seed >> 8)});
      }
    return p;
  }
  static Pic Blues(const std::vector<std::vector<int>>& rows) {
    Pic p(int(rows[0].size()), int(rows.size()));
    for (int y = 0; y < p.h_; ++y)
      for (int x = 0; x < p.w_; ++x) p.Set(x, y, Blue(rows[y][x]));
    return p;
  }

  RowView View() { return {bytes_.data(), w_, h_, stride_}; }
  int W() const { return w_; }
  int H() const { return h_; }
  Bgr Get(int x, int y) const {
    const std::uint8_t* p = &bytes_[std::size_t(y) * stride_ + 3 * x];
    return {p[0], p[1], p[2]};
  }
  void Set(int x, int y, Bgr c) {
    std::uint8_t* p = &bytes_[std::size_t(y) * stride_ + 3 * x];
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  }
  std::vector<std::vector<int>> BlueRows() const {
    std::vector<std::vector<int>> rows(h_, std::vector<int>(w_));
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) rows[y][x] = Get(x, y).b;
    return rows;
  }
  bool PaddingIntact() const {
    for (int y = 0; y < h_; ++y)
      for (int i = 3 * w_; i < stride_; ++i)
        if (bytes_[std::size_t(y) * stride_ + i] != Sentinel(y)) return false;
    return true;
  }
  bool operator==(const Pic& o) const { return w_ == o.w_ && h_ == o.h_ && bytes_ == o.bytes_; }

 private:
  static std::uint8_t Sentinel(int y) { return std::uint8_t(0xA0 + y); }
  int w_, h_, stride_;
  std::vector<std::uint8_t> bytes_;
};

std::ostream& operator<<(std::ostream& os, const Pic& p) {
  os << p.W() << "x" << p.H() << ":";
  for (int y = 0; y < p.H(); ++y)
    for (int x = 0; x < p.W(); ++x) os << " " << p.Get(x, y);
  return os;
}

// Applies a per-pixel expectation to a copy of the picture.
Pic Mapped(Pic p, const std::function<Bgr(Bgr)>& f) {
  for (int y = 0; y < p.H(); ++y)
    for (int x = 0; x < p.W(); ++x) p.Set(x, y, f(p.Get(x, y)));
  return p;
}

using Effect = std::function<void(const RowView&)>;

const int kWidths[] = {1, 2, 3, 4, 5};
const int kHeights[] = {1, 2, 3};

// ---------------------------------------------------------------- identities

TEST(PixelKernels, NeutralParametersLeaveEveryPixelAndPadding) {
  struct Case {
    const char* name;
    Effect run;
  } cases[] = {
      {"Brightness(0)", [](const RowView& v) { Brightness(v, 0); }},
      {"Contrast(0)", [](const RowView& v) { Contrast(v, 0); }},
      {"Contrast(-1)", [](const RowView& v) { Contrast(v, -1); }},  // every d truncates to 0
      {"AdjustRGB(0,0,0)", [](const RowView& v) { AdjustRGB(v, 0, 0, 0); }},
      {"Tint(192,192,192)", [](const RowView& v) { Tint(v, 192, 192, 192, std::nullopt); }},
      {"Saturation(256)", [](const RowView& v) { Saturation(v, 256); }},
      {"Blur(0)", [](const RowView& v) { Blur(v, 0); }},
      {"MultiBlur(0)", [](const RowView& v) { MultiBlur(v, 0); }},
      {"MultiBlur(-2)", [](const RowView& v) { MultiBlur(v, -2); }},
      {"Sharpen(0)", [](const RowView& v) { Sharpen(v, 0); }},
      {"Rotate 0 default centre", [](const RowView& v) { Rotate(v, -1, -1, 0); }},
      {"Rotate 0 about (0,0)", [](const RowView& v) { Rotate(v, 0, 0, 0); }},
      {"Rotate 360", [](const RowView& v) { Rotate(v, -1, -1, 360); }},
      {"Wave amplitude 0", [](const RowView& v) { Wave(v, false, 3, 2, 0); }},
      {"Wave amplitude 0 wrap", [](const RowView& v) { Wave(v, true, 3, 2, 0); }},
      {"Wave column period 0", [](const RowView& v) { Wave(v, false, 0, 2, 5); }},
      {"Wave row period 0", [](const RowView& v) { Wave(v, true, 3, 0, 5); }},
      {"Invert twice",
       [](const RowView& v) {
         Invert(v);
         Invert(v);
       }},
      {"Flip h twice",
       [](const RowView& v) {
         Flip(v, true);
         Flip(v, true);
       }},
      {"Flip v twice",
       [](const RowView& v) {
         Flip(v, false);
         Flip(v, false);
       }},
      {"Diffuse(0)",
       [](const RowView& v) {
         TRandom r(5);
         Diffuse(v, 0, r);
       }},
      {"Diffuse(1), Random(1) being always 0",
       [](const RowView& v) {
         TRandom r(5);
         Diffuse(v, 1, r);
       }},
      {"Wave with a NaN amplitude shifts nothing",
       [](const RowView& v) { Wave(v, true, 3, 2, std::numeric_limits<long double>::quiet_NaN()); }},
  };
  for (const auto& c : cases)
    for (int w : kWidths)
      for (int h : kHeights) {
        const Pic before = Pic::Pattern(w, h);
        Pic p = before;
        c.run(p.View());
        EXPECT_EQ(p, before) << c.name << " on " << w << "x" << h;
      }
}

TEST(PixelKernels, EveryEffectLeavesPaddingAlone) {
  TRandom random(1);
  struct Case {
    const char* name;
    Effect run;
  } cases[] = {
      {"Grayscale", [](const RowView& v) { Grayscale(v); }},
      {"KeyMask", [](const RowView& v) { KeyMask(v, 0x123456); }},
      {"Invert", [](const RowView& v) { Invert(v); }},
      {"Brightness", [](const RowView& v) { Brightness(v, -70); }},
      {"Contrast", [](const RowView& v) { Contrast(v, 300); }},
      {"AdjustRGB", [](const RowView& v) { AdjustRGB(v, 9, -300, 40); }},
      {"Tint", [](const RowView& v) { Tint(v, 0, 255, 100, 0x000000); }},
      {"Saturation", [](const RowView& v) { Saturation(v, 700); }},
      {"Blur", [](const RowView& v) { Blur(v, 1); }},
      {"MultiBlur", [](const RowView& v) { MultiBlur(v, 3); }},
      {"Sharpen", [](const RowView& v) { Sharpen(v, 1); }},
      {"Sharpen wide", [](const RowView& v) { Sharpen(v, 4); }},
      {"Emboss", [](const RowView& v) { Emboss(v); }},
      {"Diffuse", [&random](const RowView& v) { Diffuse(v, 4, random); }},
      {"Flip h", [](const RowView& v) { Flip(v, true); }},
      {"Flip v", [](const RowView& v) { Flip(v, false); }},
      {"Rotate", [](const RowView& v) { Rotate(v, -1, -1, 33); }},
      {"Wave", [](const RowView& v) { Wave(v, false, 2, 3, 2.5L); }},
      {"Wave wrap", [](const RowView& v) { Wave(v, true, 1.5L, 0.7L, 9); }},
      {"Wave huge", [](const RowView& v) { Wave(v, false, 1, 1, 1e300L); }},
      {"Wave huge wrap", [](const RowView& v) { Wave(v, true, 1, 1, -1e300L); }},
      {"Rotate far centre", [](const RowView& v) { Rotate(v, std::numeric_limits<int>::max(), 0, 33); }},
  };
  for (const auto& c : cases)
    for (int w : {1, 2, 3, 5})
      for (int h : kHeights) {
        Pic p = Pic::Pattern(w, h);
        c.run(p.View());
        EXPECT_TRUE(p.PaddingIntact()) << c.name << " on " << w << "x" << h;
      }
}

TEST(PixelKernels, EmptyViewsAreLeftAlone) {
  std::vector<std::uint8_t> guard(16, 0x5A);
  const RowView views[] = {{nullptr, 3, 3, 12}, {guard.data(), 0, 2, 4}, {guard.data(), 1, 0, 4}};
  TRandom random(9);
  for (const RowView& v : views) {
    Grayscale(v);
    KeyMask(v, 0);
    Invert(v);
    Brightness(v, 9);
    Contrast(v, 9);
    AdjustRGB(v, 1, 2, 3);
    Tint(v, 1, 2, 3, std::nullopt);
    Saturation(v, 9);
    Blur(v, 1);
    MultiBlur(v, 2);
    Sharpen(v, 1);
    Emboss(v);
    Diffuse(v, 3, random);
    Flip(v, true);
    Flip(v, false);
    Rotate(v, -1, -1, 45);
    Wave(v, true, 1, 1, 3);
  }
  EXPECT_EQ(guard, std::vector<std::uint8_t>(16, 0x5A));
  EXPECT_EQ(random.Seed(), 9u);
}

// ---------------------------------------------------------------- colour tables

// By hand: floor(0.3 r) + floor(0.59 g) + floor(0.11 b); 0.59 in 80 bits is just
// under 0.59, so green 100 and 200 give 58 and 117 (exact fractions in Python).
TEST(PixelKernels, GrayscaleWorkedValues) {
  struct Case {
    Bgr in;
    int grey;
  } cases[] = {
      {{0, 0, 0}, 0},    {{255, 255, 255}, 254}, {{0, 0, 255}, 76},  {{0, 255, 0}, 150},  {{255, 0, 0}, 28},
      {{0, 100, 0}, 58}, {{0, 200, 0}, 117},     {{0, 0, 100}, 30},  {{100, 0, 0}, 11},   {{28, 0, 0}, 3},
      {{10, 20, 30}, 21},  // 9 + 11 + 1
  };
  for (const auto& c : cases) {
    Pic p(1, 1);
    p.Set(0, 0, c.in);
    Grayscale(p.View());
    EXPECT_EQ(p.Get(0, 0), Grey(c.grey)) << c.in;
  }
}

// More of any channel never darkens, and a grey loses at most its three
// truncations. Columns: red, green, blue and grey, rising down the rows.
TEST(PixelKernels, GrayscaleIsMonotoneAndKeepsGreysWithinTwo) {
  const Bgr unit[] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {1, 1, 1}};
  Pic p(4, 256);
  for (int i = 0; i < 256; ++i)
    for (int x = 0; x < 4; ++x)
      p.Set(x, i, {std::uint8_t(unit[x].b * i), std::uint8_t(unit[x].g * i), std::uint8_t(unit[x].r * i)});
  Grayscale(p.View());
  for (int i = 0; i < 256; ++i)
    for (int x = 0; x < 4; ++x) {
      const Bgr out = p.Get(x, i);
      EXPECT_EQ(out, Grey(out.b)) << x << " at " << i;
      EXPECT_TRUE(i == 0 || out.b >= p.Get(x, i - 1).b) << x << " at " << i;
      EXPECT_TRUE(x < 3 || (out.b <= i && out.b + 2 >= i)) << i;
    }
}

TEST(PixelKernels, KeyMaskComparesAllThreeChannelsInRgbOrder) {
  Pic p(5, 1);
  p.Set(0, 0, {0x30, 0x20, 0x10});  // the key $102030
  p.Set(1, 0, {0x10, 0x20, 0x30});  // channels reversed
  p.Set(2, 0, {0x31, 0x20, 0x10});
  p.Set(3, 0, {0x30, 0x20, 0x11});
  p.Set(4, 0, {0x30, 0x20, 0x10});
  KeyMask(p.View(), 0x102030);
  const Bgr expected[] = {Grey(0), Grey(255), Grey(255), Grey(255), Grey(0)};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(p.Get(x, 0), expected[x]) << x;
  EXPECT_TRUE(p.PaddingIntact());
}

TEST(PixelKernels, InvertComplementsEachByte) {
  Pic p(2, 1);
  p.Set(0, 0, {0, 255, 200});
  p.Set(1, 0, {1, 128, 127});
  Invert(p.View());
  EXPECT_EQ(p.Get(0, 0), (Bgr{255, 0, 55}));
  EXPECT_EQ(p.Get(1, 0), (Bgr{254, 127, 128}));
}

// Table effects: the value of each byte in, out, per amount.
TEST(PixelKernels, TableEffectValues) {
  struct Case {
    const char* name;
    Effect run;
    int in, out;
  } cases[] = {
      {"Brightness(255)", [](const RowView& v) { Brightness(v, 255); }, 0, 254},
      {"Brightness(255)", [](const RowView& v) { Brightness(v, 255); }, 255, 255},
      {"Brightness(255)", [](const RowView& v) { Brightness(v, 255); }, 128, 254},  // 128 + 32385 shr 8
      {"Brightness(100)", [](const RowView& v) { Brightness(v, 100); }, 200, 221},
      {"Brightness(-100)", [](const RowView& v) { Brightness(v, -100); }, 255, 156},
      {"Brightness(-100)", [](const RowView& v) { Brightness(v, -100); }, 200, 122},
      {"Brightness(-256)", [](const RowView& v) { Brightness(v, -256); }, 255, 0},
      {"Brightness(-256)", [](const RowView& v) { Brightness(v, -256); }, 1, 0},
      {"Brightness(1000)", [](const RowView& v) { Brightness(v, 1000); }, 10, 255},
      {"Contrast(256)", [](const RowView& v) { Contrast(v, 256); }, 0, 0},
      {"Contrast(256)", [](const RowView& v) { Contrast(v, 256); }, 127, 128},
      {"Contrast(256)", [](const RowView& v) { Contrast(v, 256); }, 128, 128},
      {"Contrast(256)", [](const RowView& v) { Contrast(v, 256); }, 200, 255},
      {"Contrast(256)", [](const RowView& v) { Contrast(v, 256); }, 100, 72},
      {"Contrast(256)", [](const RowView& v) { Contrast(v, 256); }, 126, 124},
      {"Contrast(-128)", [](const RowView& v) { Contrast(v, -128); }, 0, 64},
      {"Contrast(-128)", [](const RowView& v) { Contrast(v, -128); }, 255, 192},  // d = -63.5 truncates to -63
      {"Contrast(-3)", [](const RowView& v) { Contrast(v, -3); }, 0, 1},          // d = -1.5 truncates to -1
      {"Contrast(-3)", [](const RowView& v) { Contrast(v, -3); }, 127, 127},
  };
  for (const auto& c : cases)
    for (int w : {1, 2, 3, 5}) {
      Pic p(w, 2);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < w; ++x) p.Set(x, y, Grey(c.in));
      c.run(p.View());
      EXPECT_EQ(p, Mapped(p, [&](Bgr) { return Grey(c.out); })) << c.name << " of " << c.in;
      EXPECT_TRUE(p.PaddingIntact());
    }
}

TEST(PixelKernels, AdjustRgbAndTintPerChannel) {
  Pic p(2, 1);
  p.Set(0, 0, {7, 50, 250});
  p.Set(1, 0, {200, 100, 0});
  Pic q = p;
  AdjustRGB(p.View(), 10, -60, 300);
  EXPECT_EQ(p.Get(0, 0), (Bgr{255, 0, 255}));
  EXPECT_EQ(p.Get(1, 0), (Bgr{255, 40, 10}));
  Tint(q.View(), 200, 100, 192, std::nullopt);  // red +8, green -92, blue unchanged
  EXPECT_EQ(q.Get(0, 0), (Bgr{7, 0, 255}));
  EXPECT_EQ(q.Get(1, 0), (Bgr{200, 8, 8}));
}

TEST(PixelKernels, TintSparesOnlyExactlyTheSpareColour) {
  Pic p(4, 1);
  p.Set(0, 0, {0x30, 0x20, 0x10});  // $102030
  p.Set(1, 0, {0x30, 0x20, 0x11});
  p.Set(2, 0, {0x10, 0x20, 0x30});
  p.Set(3, 0, {0x30, 0x20, 0x10});
  Pic all = p;
  Tint(p.View(), 202, 202, 202, 0x102030);
  EXPECT_EQ(p.Get(0, 0), (Bgr{0x30, 0x20, 0x10}));
  EXPECT_EQ(p.Get(1, 0), (Bgr{0x3A, 0x2A, 0x1B}));
  EXPECT_EQ(p.Get(2, 0), (Bgr{0x1A, 0x2A, 0x3A}));
  EXPECT_EQ(p.Get(3, 0), (Bgr{0x30, 0x20, 0x10}));
  // Without a spare colour even the top-left pixel's colour changes.
  Tint(all.View(), 202, 202, 202, std::nullopt);
  EXPECT_EQ(all.Get(0, 0), (Bgr{0x3A, 0x2A, 0x1A}));
  EXPECT_EQ(all.Get(3, 0), (Bgr{0x3A, 0x2A, 0x1A}));
}

TEST(PixelKernels, SaturationMovesChannelsAroundTheirGrey) {
  // red 90, green 30, blue 60: grey = 30 + 10 + 20 = 60.
  struct Case {
    int amount;
    Bgr out;
  } cases[] = {
      {0, {60, 60, 60}},
      {128, {60, 45, 75}},      // M = i shr 1
      {512, {60, 0, 120}},      // M = 2i
      {1 << 24, {60, 60, 60}},  // (i * 2^24) shr 8 is a multiple of 65536: M = 0
  };
  for (const auto& c : cases) {
    Pic p(1, 1);
    p.Set(0, 0, {60, 30, 90});
    Saturation(p.View(), c.amount);
    EXPECT_EQ(p.Get(0, 0), c.out) << c.amount;
  }
  Pic red(1, 1);
  red.Set(0, 0, {0, 0, 255});  // grey 85; M = 4i
  Saturation(red.View(), 1024);
  EXPECT_EQ(red.Get(0, 0), (Bgr{0, 0, 255}));
}

// ---------------------------------------------------------------- neighbourhood filters

// Blur(1) on 0, 100, 200: pixel 1 reads the new left value 50 (not 0) and
// pixel 2 the new 125 (not 100): 50, (200+200+50+50)/4, (200+200+125+125)/4.
TEST(PixelKernels, BlurReadsNeighboursAlreadyFiltered) {
  Pic row = Pic::Blues({{0, 100, 200}});
  Blur(row.View(), 1);
  EXPECT_EQ(row.BlueRows(), (std::vector<std::vector<int>>{{50, 125, 162}}));
  Pic column = Pic::Blues({{0}, {100}, {200}});
  Blur(column.View(), 1);
  EXPECT_EQ(column.BlueRows(), (std::vector<std::vector<int>>{{50}, {125}, {162}}));
  // 2 x 2: the second pixel reads the first one's new 60; the lower row
  // reads the new upper row.
  Pic square = Pic::Blues({{0, 40}, {80, 120}});
  Blur(square.View(), 1);
  EXPECT_EQ(square.BlueRows(), (std::vector<std::vector<int>>{{60, 75}, {83, 84}}));
  EXPECT_TRUE(square.PaddingIntact());
}

TEST(PixelKernels, BlurOffsetSignDoesNotMatterAndMultiBlurCountsDown) {
  for (int w : kWidths)
    for (int h : kHeights) {
      Pic a = Pic::Pattern(w, h), b = a, multi = a, steps = a;
      Blur(a.View(), 2);
      Blur(b.View(), -2);
      EXPECT_EQ(a, b) << w << "x" << h;
      MultiBlur(multi.View(), 3);
      Blur(steps.View(), 3);
      Blur(steps.View(), 2);
      Blur(steps.View(), 1);
      EXPECT_EQ(multi, steps) << w << "x" << h;
    }
}

// Sharpen(1) on 100, 50, 60: the pixel 1 sees the new 118 on its left, so
// S = 3*118 + 2*50 + 3*60 and (1600 - 634) div 8 = 20 (27 with old values).
TEST(PixelKernels, SharpenReadsNeighboursAlreadyFiltered) {
  Pic row = Pic::Blues({{100, 50, 60}});
  Sharpen(row.View(), 1);
  EXPECT_EQ(row.BlueRows(), (std::vector<std::vector<int>>{{118, 20, 75}}));
  // Worked by hand, row by row; the middle row's inner pixels read the new
  // row above and their new left neighbour.
  Pic p = Pic::Blues({{50, 50, 50, 50}, {50, 80, 60, 50}, {50, 50, 50, 50}});
  Sharpen(p.View(), 1);
  EXPECT_EQ(p.BlueRows(), (std::vector<std::vector<int>>{{46, 46, 46, 49}, {47, 110, 63, 49}, {43, 43, 42, 50}}));
  Pic spot = Pic::Blues({{0, 0, 0}, {0, 100, 0}, {0, 0, 0}});
  Sharpen(spot.View(), 1);  // 1600 div 8 = 200 in the centre, the rest clamps to 0
  EXPECT_EQ(spot.BlueRows(), (std::vector<std::vector<int>>{{0, 0, 0}, {0, 200, 0}, {0, 0, 0}}));
  Pic neg = Pic::Blues({{0, 100, 0}});
  Sharpen(neg.View(), -1);  // samples at -1 and +1 are the same set
  Pic pos = Pic::Blues({{0, 100, 0}});
  Sharpen(pos.View(), 1);
  EXPECT_EQ(neg, pos);
}

// The filters literally as documented (nine or four samples, ClampIndex,
// in place), to check the fast paths on pictures too big to work by hand.
int Clamp(long long v, int hi) { return int(v > hi ? hi : (v < 0 ? 0 : v)); }

void ReferenceSharpen(Pic& p, int a) {
  for (int y = 0; y < p.H(); ++y)
    for (int x = 0; x < p.W(); ++x) {
      const int rows[3] = {Clamp(y - (long long)a, p.H() - 1), y, Clamp(y + (long long)a, p.H() - 1)};
      const int cols[3] = {Clamp(x - (long long)a, p.W() - 1), x, Clamp(x + (long long)a, p.W() - 1)};
      int sum[3] = {0, 0, 0};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          if (i == 1 && j == 1) continue;
          const Bgr s = p.Get(cols[j], rows[i]);
          sum[0] += s.b, sum[1] += s.g, sum[2] += s.r;
        }
      const Bgr c = p.Get(x, y);
      auto value = [](int centre, int s) { return std::uint8_t(std::clamp((256 * centre - 16 * s) / 128, 0, 255)); };
      p.Set(x, y, {value(c.b, sum[0]), value(c.g, sum[1]), value(c.r, sum[2])});
    }
}

void ReferenceBlur(Pic& p, int a) {
  for (int y = 0; y < p.H(); ++y)
    for (int x = 0; x < p.W(); ++x) {
      const int ya = Clamp(y + (long long)a, p.H() - 1), yb = Clamp(y - (long long)a, p.H() - 1);
      const int xa = Clamp(x + (long long)a, p.W() - 1), xb = Clamp(x - (long long)a, p.W() - 1);
      const Bgr s[4] = {p.Get(xa, ya), p.Get(xa, yb), p.Get(xb, ya), p.Get(xb, yb)};
      p.Set(x, y,
            {std::uint8_t((s[0].b + s[1].b + s[2].b + s[3].b) >> 2),
             std::uint8_t((s[0].g + s[1].g + s[2].g + s[3].g) >> 2),
             std::uint8_t((s[0].r + s[1].r + s[2].r + s[3].r) >> 2)});
    }
}

TEST(PixelKernels, SharpenAndBlurMatchTheDocumentedRuleOnLargerPictures) {
  const int offsets[] = {-3, -1, 0, 1, 2, 7, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
  for (int w : {1, 2, 3, 4, 6, 9})
    for (int h : {1, 2, 3, 5})
      for (int a : offsets) {
        Pic fast = Pic::Pattern(w, h, std::uint32_t(w * 31 + h)), slow = fast;
        Sharpen(fast.View(), a);
        ReferenceSharpen(slow, a);
        EXPECT_EQ(fast, slow) << "Sharpen(" << a << ") " << w << "x" << h;
        fast = slow = Pic::Pattern(w, h, std::uint32_t(w * 17 + h));
        Blur(fast.View(), a);
        ReferenceBlur(slow, a);
        EXPECT_EQ(fast, slow) << "Blur(" << a << ") " << w << "x" << h;
      }
}

// Rows 0 .. H-3 take the pixel below-right (clamped); the last two rows take
// pixel (1, H-1) as it was at the start (80 here, though it becomes 127
// before the last pixel of the last row is done).
TEST(PixelKernels, EmbossNeighboursAndTheBottomRowCopy) {
  Pic p = Pic::Blues({{10, 20, 30}, {40, 50, 60}, {70, 80, 90}});
  Emboss(p.View());
  EXPECT_EQ(p.BlueRows(), (std::vector<std::vector<int>>{{107, 107, 112}, {107, 112, 117}, {122, 127, 132}}));
  EXPECT_TRUE(p.PaddingIntact());
  Pic two = Pic::Blues({{0, 255}, {100, 55}});  // two rows: both use p(1, 1) = 55
  Emboss(two.View());
  EXPECT_EQ(two.BlueRows(), (std::vector<std::vector<int>>{{100, 227}, {150, 127}}));
}

TEST(PixelKernels, EmbossLeavesOnePixelWideOrHighPicturesAlone) {
  for (auto [w, h] : {std::pair{1, 1}, {1, 4}, {5, 1}, {2, 1}, {1, 2}}) {
    const Pic before = Pic::Pattern(w, h);
    Pic p = before;
    Emboss(p.View());
    EXPECT_EQ(p, before) << w << "x" << h;
  }
}

// Three draws per pixel: seed 42 after 45 steps of Delphi's LCG is 407778231 (Python).
TEST(PixelKernels, DiffuseDrawsThreeNumbersPerPixel) {
  for (int range : {0, 1, 5}) {
    TRandom random(42);
    Pic p = Pic::Pattern(5, 3);
    Diffuse(p.View(), range, random);
    EXPECT_EQ(random.Seed(), 407778231u) << range;
  }
}

// Seed 3, range 3 on a 3 x 2 picture, the draws and the final seed computed
// in Python: pixel (1,0) takes (2,0); pixel (2,0) then draws c=2, d=3, e=2
// and takes (1,0), which already holds 30 (not its old 20).
TEST(PixelKernels, DiffuseCopiesFromThePictureAsItIsAtThatMoment) {
  Pic p = Pic::Blues({{10, 20, 30}, {40, 50, 60}});
  TRandom random(3);
  Diffuse(p.View(), 3, random);
  EXPECT_EQ(p.BlueRows(), (std::vector<std::vector<int>>{{10, 30, 30}, {50, 60, 60}}));
  EXPECT_EQ(random.Seed(), 2526221313u);
}

// ---------------------------------------------------------------- geometry

TEST(PixelKernels, FlipHorizontalSwapsColumnsAroundTheMiddle) {
  Pic p = Pic::Blues({{0, 1, 2, 3, 4}, {5, 6, 7, 8, 9}});
  Flip(p.View(), true);
  EXPECT_EQ(p.BlueRows(), (std::vector<std::vector<int>>{{4, 3, 2, 1, 0}, {9, 8, 7, 6, 5}}));
  Pic two = Pic::Blues({{1, 2}});
  Flip(two.View(), true);
  EXPECT_EQ(two.BlueRows(), (std::vector<std::vector<int>>{{2, 1}}));
  EXPECT_TRUE(p.PaddingIntact() && two.PaddingIntact());
}

TEST(PixelKernels, FlipVerticalSwapsRowsButNotTheirPadding) {
  Pic p = Pic::Blues({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  Flip(p.View(), false);
  EXPECT_EQ(p.BlueRows(), (std::vector<std::vector<int>>{{7, 8, 9}, {4, 5, 6}, {1, 2, 3}}));
  EXPECT_TRUE(p.PaddingIntact());  // each row's own sentinel stays with it
}

// 180 degrees about the default centre of an even-sized picture is an exact
// point reflection; an odd side leaves its last column or row to the fill
// colour (the colour of pixel (0,0)).
TEST(PixelKernels, RotateHalfTurn) {
  for (auto [w, h] : {std::pair{2, 2}, {4, 2}, {6, 4}, {5, 2}, {4, 3}, {3, 3}}) {
    const Pic src = Pic::Pattern(w, h);
    Pic p = src;
    Rotate(p.View(), -1, -1, 180);
    const int cx = w / 2, cy = h / 2;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int sx = 2 * cx - 1 - x, sy = 2 * cy - 1 - y;  // W-1-x and H-1-y when even
        const bool inside = sx >= 0 && sx < w && sy >= 0 && sy < h;
        EXPECT_EQ(p.Get(x, y), inside ? src.Get(sx, sy) : src.Get(0, 0)) << w << "x" << h << " at " << x << "," << y;
      }
    EXPECT_TRUE(p.PaddingIntact());
  }
}

// Source pixel of each target pixel, worked out from the rounding rule
// (-1: fill colour).
struct Source {
  int x, y;
};

void ExpectSources(const Pic& src, const Pic& out, const std::vector<std::vector<Source>>& map,
                   const std::string& what) {
  for (int y = 0; y < out.H(); ++y)
    for (int x = 0; x < out.W(); ++x) {
      const Source s = map[y][x];
      EXPECT_EQ(out.Get(x, y), s.x < 0 ? src.Get(0, 0) : src.Get(s.x, s.y)) << what << " at " << x << "," << y;
    }
}

TEST(PixelKernels, RotateQuarterAndEighthTurns) {
  struct Case {
    int w, h, cx, cy;
    long double angle;
    std::vector<std::vector<Source>> map;
  } cases[] = {
      // 90 degrees clockwise about (2,2): the top-left pixel goes top-right.
      {4,
       4,
       -1,
       -1,
       90,
       {{{0, 3}, {0, 2}, {0, 1}, {0, 0}},
        {{1, 3}, {1, 2}, {1, 1}, {1, 0}},
        {{2, 3}, {2, 2}, {2, 1}, {2, 0}},
        {{3, 3}, {3, 2}, {3, 1}, {3, 0}}}},
      {4, 2, -1, -1, 90, {{{-1, 0}, {1, 1}, {1, 0}, {-1, 0}}, {{-1, 0}, {2, 1}, {2, 0}, {-1, 0}}}},
      // 45 degrees about (1,1): sources from Round(0.7071 * (dx +- dy)).
      {3, 3, 1, 1, 45, {{{0, 1}, {1, 0}, {-1, 0}}, {{1, 1}, {1, 1}, {2, 0}}, {{1, 2}, {2, 1}, {2, 1}}}},
      // A half turn about the top-left corner sends everything outside.
      {3, 2, 0, 0, 180, {{{-1, 0}, {-1, 0}, {-1, 0}}, {{-1, 0}, {-1, 0}, {-1, 0}}}},
  };
  for (const auto& c : cases) {
    const Pic src = Pic::Pattern(c.w, c.h);
    Pic p = src;
    Rotate(p.View(), c.cx, c.cy, c.angle);
    ExpectSources(src, p, c.map, std::to_string(double(c.angle)) + " deg");
    EXPECT_TRUE(p.PaddingIntact());
  }
}

TEST(PixelKernels, RotateByANonFiniteAngleChangesNothing) {
  for (long double angle :
       {std::numeric_limits<long double>::quiet_NaN(), std::numeric_limits<long double>::infinity()}) {
    const Pic src = Pic::Pattern(3, 2);
    Pic p = src;
    Rotate(p.View(), -1, -1, angle);
    EXPECT_EQ(p, src);
  }
}

// Periods of 1e9 / k make Round(1e9 * sin(i / period)) exactly k * i, so the
// shifts are known: shiftY(x) = ky * x, shiftX[y] = kx * y.
constexpr long double kAmp = 1e9L;
long double PeriodFor(int k) { return kAmp / k; }

TEST(PixelKernels, WaveWithoutWrapLeavesUncoveredPixelsBlack) {
  const Pic src = Pic::Pattern(3, 3);
  Pic p = src;
  Wave(p.View(), false, PeriodFor(1), PeriodFor(-1), kAmp);  // reads (x - y, y + x)
  const Bgr black{};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      const int sx = x - y, sy = y + x;
      EXPECT_EQ(p.Get(x, y), sx >= 0 && sy < 3 ? src.Get(sx, sy) : black) << x << "," << y;
    }
  EXPECT_TRUE(p.PaddingIntact());
}

// The fold rules, worked by hand on 3 x 3: a start row f >= H folds to
// f mod (H - 1) (4 -> 0, not 1); a negative one to (H-1) - (-f mod H);
// columns likewise with W.
TEST(PixelKernels, WaveWrapFoldsRowsAndColumns) {
  struct Case {
    int ky, kx;
    std::vector<std::vector<Source>> map;
  } cases[] = {
      {2,
       -1,  // f = 0, 2, 0; g = x - y
       {{{0, 0}, {1, 2}, {2, 0}}, {{1, 1}, {0, 0}, {1, 1}}, {{0, 2}, {1, 1}, {0, 2}}}},
      {-2,
       2,  // f = 0, 0, 1; g = x + 2y
       {{{0, 0}, {1, 0}, {2, 1}}, {{2, 1}, {0, 1}, {1, 2}}, {{1, 2}, {2, 2}, {0, 0}}}},
  };
  for (const auto& c : cases) {
    const Pic src = Pic::Pattern(3, 3);
    Pic p = src;
    Wave(p.View(), true, PeriodFor(c.ky), PeriodFor(c.kx), kAmp);
    ExpectSources(src, p, c.map, "ky " + std::to_string(c.ky));
  }
}

// Shifts round half to even: with row period 2/pi, row 1 sits on the sine's
// peak (exactly 1 in extended precision), so amplitude 2.5 shifts it by 2
// and -2.5 by -2 (3 and -3 if halves rounded away from zero).
TEST(PixelKernels, WaveShiftsRoundHalfToEven) {
  const long double rowPeriod = 2 / 3.141592653589793238462643383279502884L;
  for (long double amp : {2.5L, -2.5L}) {
    const Pic src = Pic::Pattern(4, 2);
    Pic p = src;
    Wave(p.View(), false, 1e30L, rowPeriod, amp);  // columns: sin(x / 1e30) * 2.5 rounds to 0
    const int shift = amp > 0 ? 2 : -2;
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(p.Get(x, 0), src.Get(x, 0));
      const int sx = x + shift;
      EXPECT_EQ(p.Get(x, 1), sx >= 0 && sx < 4 ? src.Get(sx, 1) : Bgr{}) << double(amp) << " at " << x;
    }
  }
}

// One row high, any start row can only be that row.
TEST(PixelKernels, WaveWrapOnOneRowKeepsTheRow) {
  const Pic src = Pic::Pattern(4, 1);
  Pic p = src;
  Wave(p.View(), true, PeriodFor(3), PeriodFor(1), kAmp);  // f = 3x, no column shift on row 0
  EXPECT_EQ(p, src);
  Wave(p.View(), true, 0.5L, PeriodFor(1), 1e30L);  // absurd start rows fold to row 0 too
  EXPECT_EQ(p, src);
}

TEST(PixelKernels, SmoothStretchWorkedExamples) {
  Pic src = Pic::Blues({{0, 200}});
  src.Set(0, 0, {0, 100, 7});
  src.Set(1, 0, {200, 100, 7});
  Pic dst(4, 1);
  SmoothStretch(src.View(), dst.View());  // stepX = 8192
  EXPECT_EQ(dst.Get(0, 0), (Bgr{0, 100, 7}));
  EXPECT_EQ(dst.Get(1, 0), (Bgr{50, 100, 7}));
  EXPECT_EQ(dst.Get(2, 0), (Bgr{100, 100, 7}));
  EXPECT_EQ(dst.Get(3, 0), (Bgr{150, 100, 7}));

  // 2 x 2 to 3 x 3: steps 10922; the weights truncate, so 89.99 shows as 88
  // and 29.998 as 29 (worked by hand from the fixed-point steps).
  Pic square = Pic::Blues({{0, 90}, {180, 255}});
  Pic big(3, 3);
  SmoothStretch(square.View(), big.View());
  EXPECT_EQ(big.BlueRows(), (std::vector<std::vector<int>>{{0, 29, 59}, {59, 88, 116}, {119, 146, 173}}));
  EXPECT_TRUE(big.PaddingIntact());
  EXPECT_EQ(square, Pic::Blues({{0, 90}, {180, 255}}));
}

TEST(PixelKernels, SmoothStretchFromOnePixelReadsOnlyThatPixel) {
  Pic one(1, 1);
  one.Set(0, 0, {1, 2, 3});
  for (auto [w, h] : {std::pair{3, 2}, {1, 1}, {5, 1}}) {
    Pic dst(w, h);
    SmoothStretch(one.View(), dst.View());
    EXPECT_EQ(dst, Mapped(dst, [](Bgr) { return Bgr{1, 2, 3}; })) << w << "x" << h;
    EXPECT_TRUE(dst.PaddingIntact());
  }
  Pic column = Pic::Blues({{10}, {50}});  // one pixel wide: right-hand weights are 0
  Pic tall(2, 4);
  SmoothStretch(column.View(), tall.View());  // stepY = 8192
  EXPECT_EQ(tall.BlueRows(), (std::vector<std::vector<int>>{{10, 10}, {20, 20}, {30, 30}, {40, 40}}));
}

TEST(PixelKernels, SmoothStretchToNothingWritesNothing) {
  const Pic src = Pic::Pattern(2, 2);
  std::vector<std::uint8_t> guard(8, 0x33);
  SmoothStretch(Pic(src).View(), RowView{guard.data(), 0, 2, 4});
  SmoothStretch(Pic(src).View(), RowView{guard.data(), 2, 0, 8});
  EXPECT_EQ(guard, std::vector<std::uint8_t>(8, 0x33));
}

}  // namespace
}  // namespace qv::pix
