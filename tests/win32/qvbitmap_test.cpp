#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/graphics.h"
#include "skin/QVBitmap.h"

namespace qv {
namespace {

// A 24- or 32-bit surface to draw onto, read back pixel by pixel.
struct Surface {
  TBitmap bitmap;
  Surface(int w, int h, TPixelFormat format, TColor fill) {
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(w, h);
    bitmap.Canvas().Brush.Color = fill;
    bitmap.Canvas().FillRect(RECT{0, 0, w, h});
  }
  TCanvas& Canvas() { return bitmap.Canvas(); }
  COLORREF At(int x, int y) {
    ::GdiFlush();
    return bitmap.Canvas().Pixel(x, y);
  }
};

void Put(TQVBitmap& b, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t bl) {
  std::uint8_t* p = b.Row(y) + 3 * x;
  p[0] = bl;
  p[1] = g;
  p[2] = r;
}

COLORREF Get(TQVBitmap& b, int x, int y) {
  const std::uint8_t* p = b.Row(y) + 3 * x;
  return RGB(p[2], p[1], p[0]);
}

// A picture where every pixel differs from its neighbours.
void Pattern(TQVBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      Put(b, x, y, static_cast<std::uint8_t>(x * 20 + 5), static_cast<std::uint8_t>(y * 30 + 7),
          static_cast<std::uint8_t>((x * 7 + y * 11) & 0xFF));
}

TEST(QVBitmap, SizesAndStrides) {
  struct Case {
    int w, h, stride, pad, image;
  } cases[] = {{1, 1, 4, 1, 4}, {5, 2, 16, 1, 32}, {4, 3, 12, 0, 36}, {2, 2, 8, 2, 16}, {3, 1, 12, 3, 12}};
  for (const auto& c : cases) {
    TQVBitmap b;
    b.SetSize(c.w, c.h);
    EXPECT_FALSE(b.Empty());
    EXPECT_EQ(b.Stride(), c.stride) << c.w;
    EXPECT_EQ(b.RowPad(), c.pad) << c.w;
    EXPECT_EQ(b.ImageSize(), c.image) << c.w;
    EXPECT_EQ(b.Row(c.h - 1), b.Bits() + (c.h - 1) * c.stride);
    for (int i = 0; i < c.image; ++i) ASSERT_EQ(b.Bits()[i], 0) << "a new picture is black";
  }
  TQVBitmap empty;
  empty.SetSize(0, 10);
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.Canvas().Handle(), nullptr);
  Surface s(4, 4, TPixelFormat::pf24bit, clWhite);
  s.Canvas().Draw(0, 0, empty);  // the canvas skips an empty graphic
  EXPECT_EQ(s.At(0, 0), RGB(255, 255, 255));
}

TEST(QVBitmap, FillColorAndResizing) {
  TQVBitmap b;
  b.FillColor = 0x336699;  // $00BBGGRR
  b.SetSize(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Get(b, x, y), RGB(0x99, 0x66, 0x33));
  b.FillColor = clNone;
  Put(b, 1, 1, 1, 2, 3);
  b.SetWidth(3);  // same width: pixels kept
  EXPECT_EQ(Get(b, 1, 1), RGB(1, 2, 3));
  b.SetHeight(4);  // new height: a fresh black store
  EXPECT_EQ(b.Height(), 4);
  EXPECT_EQ(Get(b, 1, 1), RGB(0, 0, 0));
}

TEST(QVBitmap, DrawAtOwnSizeIsAnExactCopy) {
  for (TPixelFormat f : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TQVBitmap b;
    b.SetSize(5, 3);
    Pattern(b);
    Surface s(9, 7, f, clWhite);
    s.Canvas().Draw(2, 3, b);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(s.At(x + 2, y + 3), Get(b, x, y)) << x << "," << y;
    EXPECT_EQ(s.At(1, 3), RGB(255, 255, 255));
    EXPECT_EQ(s.At(7, 3), RGB(255, 255, 255));
  }
}

TEST(QVBitmap, TransparentDrawingKeepsTheDestinationUnderTheKey) {
  struct Case {
    TColor transparentColor;
    COLORREF key;
  } cases[] = {{clNone, RGB(10, 20, 30)}, {0x0000FF, RGB(255, 0, 0)}};
  for (const auto& c : cases) {
    for (TPixelFormat f : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
      TQVBitmap b;
      b.SetSize(4, 2);
      Pattern(b);
      Put(b, 0, 0, 10, 20, 30);
      Put(b, 2, 1, GetRValue(c.key), GetGValue(c.key), GetBValue(c.key));
      Put(b, 3, 0, GetRValue(c.key), GetGValue(c.key), GetBValue(c.key));
      b.TransparentColor = c.transparentColor;
      b.SetTransparent(true);
      Surface s(6, 4, f, 0x00C0FFEE);
      s.Canvas().Draw(1, 1, b);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
          const COLORREF want = Get(b, x, y) == c.key ? ColorToRGB(0x00C0FFEE) : Get(b, x, y);
          EXPECT_EQ(s.At(x + 1, y + 1), want) << x << "," << y;
        }
      EXPECT_EQ(s.At(0, 0), ColorToRGB(0x00C0FFEE));
    }
  }
}

TEST(QVBitmap, TileOffsets) {
  struct Case {
    RECT r;
    std::vector<int> origins;
  } cases[] = {{{0, 0, 25, 25}, {0, 10, 20}}, {{5, 5, 25, 25}, {-5, 5, 15}}};
  for (const auto& c : cases) {
    TQVBitmap b;
    b.FillColor = 0x00808080;
    b.SetSize(10, 10);
    Put(b, 0, 0, 255, 0, 0);  // marks each copy's origin
    Surface s(30, 30, TPixelFormat::pf24bit, clWhite);
    b.Tile(s.Canvas(), c.r);
    int marks = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x)
        if (s.At(x, y) == RGB(255, 0, 0)) {
          ++marks;
          EXPECT_NE(std::find(c.origins.begin(), c.origins.end(), x), c.origins.end()) << x;
          EXPECT_NE(std::find(c.origins.begin(), c.origins.end(), y), c.origins.end()) << y;
        }
    const int inside = static_cast<int>(std::count_if(c.origins.begin(), c.origins.end(), [](int v) { return v >= 0; }));
    EXPECT_EQ(marks, inside * inside);
    EXPECT_EQ(s.At(24, 24), RGB(0x80, 0x80, 0x80));
  }
}

TEST(QVBitmap, UnloadAndReloadKeepThePicture) {
  TQVBitmap b;
  b.SetSize(7, 5);
  Pattern(b);
  std::vector<std::uint8_t> before(b.Bits(), b.Bits() + b.ImageSize());
  b.Unload();
  EXPECT_TRUE(b.Empty());
  EXPECT_TRUE(b.HasKept());
  EXPECT_EQ(b.KeptSize().cx, 7);
  b.Reload();
  EXPECT_FALSE(b.HasKept());
  ASSERT_EQ(b.Width(), 7);
  ASSERT_EQ(b.Height(), 5);
  EXPECT_EQ(std::vector<std::uint8_t>(b.Bits(), b.Bits() + b.ImageSize()), before);
  b.Reload();  // nothing kept: nothing happens
  EXPECT_EQ(b.Width(), 7);
}

TEST(QVBitmap, AssignCopiesPixelsAndSettingsWithOneChange) {
  TQVBitmap a, b;
  a.SetSize(3, 3);
  Pattern(a);
  a.SetTransparent(true);
  a.Smooth = true;
  a.TransparentColor = 0x123456;
  a.PixelFormat = TPixelFormat::pf8bit;
  a.UsePalette = true;
  a.ColorTable[5] = RGBQUAD{1, 2, 3, 0};
  b.FillColor = 0x00FF00;
  int changes = 0;
  b.OnChange = [&](TGraphic*) { ++changes; };
  b.Assign(&a);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(std::memcmp(a.Bits(), b.Bits(), static_cast<std::size_t>(a.ImageSize())), 0);
  EXPECT_TRUE(b.Transparent());
  EXPECT_TRUE(b.Smooth);
  EXPECT_EQ(b.TransparentColor, 0x123456);
  EXPECT_EQ(b.PixelFormat, TPixelFormat::pf8bit);
  EXPECT_TRUE(b.UsePalette);
  EXPECT_EQ(b.ColorTable[5].rgbGreen, 2);
  EXPECT_EQ(b.FillColor, 0x00FF00);

  TQVBitmap empty;
  b.Assign(&empty);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(changes, 2);
}

TEST(QVBitmap, BmpRoundTripsForEveryDepth) {
  for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf16bit,
                         TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap src;
    src.SetPixelFormat(f);
    src.SetSize(5, 3);
    src.Canvas().Brush.Color = clWhite;
    src.Canvas().FillRect(RECT{0, 0, 5, 3});
    src.Canvas().SetPixel(1, 1, clBlack);
    src.Canvas().SetPixel(4, 2, clBlack);
    TMemoryStream stream;
    src.SaveToStream(stream);
    stream.SetPosition(0);
    TQVBitmap b;
    b.LoadFromStream(stream);
    ASSERT_EQ(b.Width(), 5) << BitsOf(f);
    EXPECT_EQ(b.PixelFormat, f);
    EXPECT_EQ(Get(b, 1, 1), RGB(0, 0, 0)) << BitsOf(f);
    EXPECT_EQ(Get(b, 4, 2), RGB(0, 0, 0)) << BitsOf(f);
    EXPECT_EQ(Get(b, 0, 0), RGB(255, 255, 255)) << BitsOf(f);

    // And back out in the same format.
    TMemoryStream again;
    b.SaveToStream(again);
    again.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(again);
    EXPECT_EQ(back.PixelFormat(), f);
    EXPECT_EQ(back.Canvas().Pixel(1, 1), RGB(0, 0, 0)) << BitsOf(f);
    EXPECT_EQ(back.Canvas().Pixel(0, 0), RGB(255, 255, 255)) << BitsOf(f);
  }
}

TEST(QVBitmap, AnEightBitSourceKeepsItsColourTable) {
  TBitmap src;
  src.SetPixelFormat(TPixelFormat::pf8bit);
  std::vector<RGBQUAD> colors(256, RGBQUAD{0, 0, 0, 0});
  colors[0] = {9, 8, 7, 0};
  colors[1] = {40, 50, 60, 0};
  src.SetSize(2, 2);
  src.SetColorTable(colors);
  std::memset(src.Bits(), 1, static_cast<std::size_t>(src.Stride()) * 2);
  TQVBitmap b;
  b.LoadFromBitmap(src);
  EXPECT_EQ(b.PixelFormat, TPixelFormat::pf8bit);
  EXPECT_EQ(b.ColorTable[1].rgbBlue, 40);
  EXPECT_EQ(b.ColorTable[0].rgbRed, 7);
  EXPECT_EQ(Get(b, 0, 0), RGB(60, 50, 40));
  EXPECT_EQ(Get(b, 1, 1), RGB(60, 50, 40));
  // A 24-bit source afterwards leaves the table alone.
  TBitmap plain;
  plain.SetSize(1, 1);
  b.LoadFromBitmap(plain);
  EXPECT_EQ(b.PixelFormat, TPixelFormat::pf24bit);
  EXPECT_EQ(b.ColorTable[1].rgbBlue, 40);
}

TEST(QVBitmap, APalettedSourceWritesOnlyTheColourEntriesItHas) {
  struct Case {
    TPixelFormat format;
    int entries;
  } cases[] = {{TPixelFormat::pf1bit, 2}, {TPixelFormat::pf4bit, 16}, {TPixelFormat::pf8bit, 256}};
  for (const auto& c : cases) {
    TBitmap src;
    src.SetPixelFormat(c.format);
    src.SetSize(3, 2);
    std::vector<RGBQUAD> colors;
    for (int i = 0; i < c.entries; ++i)
      colors.push_back({static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2 + 1), 0});
    src.SetColorTable(colors);
    TQVBitmap b;
    b.ColorTable.fill(RGBQUAD{11, 22, 33, 0});  // left by an earlier picture
    b.LoadFromBitmap(src);
    for (int i = 0; i < 256; ++i) {
      const RGBQUAD want = i < c.entries ? colors[static_cast<std::size_t>(i)] : RGBQUAD{11, 22, 33, 0};
      const RGBQUAD got = b.ColorTable[static_cast<std::size_t>(i)];
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "entry " << i << " of " << c.entries;
    }
  }
}

TEST(QVBitmap, SmoothStretchAndGrayscaleThroughTheCanvas) {
  TQVBitmap b;
  b.SetSize(2, 1);
  Put(b, 0, 0, 0, 0, 0);
  Put(b, 1, 0, 0, 0, 200);
  b.Smooth = true;
  Surface s(4, 1, TPixelFormat::pf24bit, clWhite);
  s.Canvas().StretchDraw(RECT{0, 0, 4, 1}, b);
  const int blue[] = {0, 50, 100, 150};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(GetBValue(s.At(x, 0)), blue[x]) << x;

  Put(b, 0, 0, 255, 255, 255);
  b.Grayscale();
  EXPECT_EQ(Get(b, 0, 0), RGB(254, 254, 254));
  Surface t(2, 1, TPixelFormat::pf32bit, clBlack);
  t.Canvas().Draw(0, 0, b);
  EXPECT_EQ(t.At(0, 0), RGB(254, 254, 254));
}

TEST(QVBitmap, AssignToUnrelatedGraphicsIsAConversionError) {
  struct Other : TGraphic {
    std::string ClassName() const override { return "TOther"; }
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    bool Empty() const override { return true; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void Draw(TCanvas&, const RECT&) override {}
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
  } other;
  TQVBitmap b;
  b.SetSize(2, 2);
  EXPECT_THROW(b.AssignTo(&other), EConvertError);
  EXPECT_EQ(b.Width(), 2);
}

}  // namespace
}  // namespace qv
