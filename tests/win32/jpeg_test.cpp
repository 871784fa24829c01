#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <string>
#include <vector>

#include "framework/graphics.h"
#include "framework/jpeg.h"
#include "framework/portable/bmp_codec.h"
#include "framework/portable/jpeg_frame.h"
#include "framework/portable/stride.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The pictures tests/win32/make_jpeg_cases.sh made with libjpeg's tools.
Bytes Resource(const std::string& name) {
  const std::wstring wide(name.begin(), name.end());
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(self, wide.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return {};
  const auto* p = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(self, found)));
  return Bytes(p, p + ::SizeofResource(self, found));
}

// Rows of a 24-bit bitmap, top-down and without their padding.
Bytes Rows(const std::uint8_t* bits, int width, int height, int stride, bool bottomUp) {
  Bytes rows;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bits + static_cast<std::ptrdiff_t>(bottomUp ? height - 1 - y : y) * stride;
    rows.insert(rows.end(), row, row + 3 * width);
  }
  return rows;
}

struct Case {
  const char* name;
  int width, height;
  // Where a picture's colour is subsampled, how the decoder fills in the
  // missing colour is its own choice (Wine's takes its colour blocks at
  // double size, libjpeg-turbo's tools interpolate): we allow that
  // much difference. Everything else is libjpeg's arithmetic, to the bit.
  int maxDifference;
  double maxMeanDifference;
};

TEST(Jpeg, DecodesAsLibjpegDoes) {
  const Case cases[] = {
      {"BASELINE444", 250, 100, 0, 0},   {"PROGRESSIVE444", 250, 100, 0, 0},
      {"RESTART444", 250, 100, 0, 0},    {"GRAY", 250, 100, 0, 0},
      {"ODD444", 13, 7, 0, 0},           {"FACE", 250, 100, 24, 0.5},
      {"BASELINE420", 250, 100, 24, 0.5}, {"BASELINE422", 250, 100, 24, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = Resource(std::string("JPEG_") + c.name);
    const Bytes reference = Resource(std::string("BMP_") + c.name);
    ASSERT_FALSE(file.empty());
    const BmpImage expected = DecodeBmp(reference);
    ASSERT_EQ(expected.width, c.width);
    ASSERT_EQ(expected.height, c.height);
    const int stride = Stride24(c.width);
    Bytes expectedBits(static_cast<std::size_t>(stride) * c.height);
    ToTopDown24(expected, expectedBits.data(), stride);
    const Bytes want = Rows(expectedBits.data(), c.width, c.height, stride, false);

    // The decoder's own rows, top-down...
    const DecodedJpeg decoded = DecodeJpeg(file);
    ASSERT_EQ(decoded.width, c.width);
    ASSERT_EQ(decoded.height, c.height);
    ASSERT_EQ(decoded.stride, stride);
    ASSERT_EQ(decoded.bgr.size(), static_cast<std::size_t>(stride) * c.height);
    const Bytes got = Rows(decoded.bgr.data(), c.width, c.height, stride, false);

    // ...and the picture's bitmap, bottom-up as a DIB keeps them.
    TJPEGImage image;
    image.LoadFromBytes(file);
    ASSERT_EQ(image.Width(), c.width);
    ASSERT_EQ(image.Height(), c.height);
    TBitmap& bitmap = image.Bitmap();
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Rows(bitmap.Bits(), c.width, c.height, bitmap.Stride(), true), got);

    int worst = 0;
    long total = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
      const int d = std::abs(int{want[i]} - int{got[i]});
      worst = std::max(worst, d);
      total += d;
    }
    EXPECT_LE(worst, c.maxDifference);
    EXPECT_LE(static_cast<double>(total) / static_cast<double>(want.size()), c.maxMeanDifference);
  }
}

TEST(Jpeg, APictureDecodesFromItsStoredForm) {
  for (const char* name : {"JPEG_BASELINE444", "JPEG_PROGRESSIVE444"}) {
    SCOPED_TRACE(name);
    const Bytes jpeg = Resource(name);
    // Class-name length, class name, 32-bit little-endian count, the file.
    TMemoryStream stored;
    const std::string className = "TJPEGImage";
    const std::uint8_t n = static_cast<std::uint8_t>(className.size());
    stored.Write(&n, 1);
    stored.Write(className.data(), className.size());
    const std::uint32_t size = static_cast<std::uint32_t>(jpeg.size());
    const std::uint8_t le[4] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
    stored.Write(le, 4);
    stored.Write(jpeg.data(), jpeg.size());
    stored.SetPosition(0);

    TPicture picture;
    picture.ReadData(stored);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassName(), "TJPEGImage");
    EXPECT_EQ(picture.Width(), 250);
    EXPECT_EQ(picture.Height(), 100);

    // As a plain bitmap, pixel for pixel what the picture decoded.
    TBitmap plain;
    plain.Assign(picture.Graphic());
    const DecodedJpeg decoded = DecodeJpeg(jpeg);
    for (const auto& [x, y] : {std::pair{0, 0}, {249, 0}, {0, 99}, {249, 99}, {125, 50}}) {
      const std::uint8_t* bgr = decoded.bgr.data() + y * decoded.stride + 3 * x;
      EXPECT_EQ(plain.Canvas().Pixel(x, y), RGB(bgr[2], bgr[1], bgr[0])) << x << "," << y;
    }

    // Written back, the stored form is the same bytes.
    TMemoryStream again;
    picture.WriteData(again);
    EXPECT_EQ(again.Bytes(), stored.Bytes());
  }
}

// A JPEG file whose frame header claims other sides.
Bytes WithSides(Bytes file, int width, int height) {
  for (std::size_t i = 2; i + 8 < file.size(); ++i)
    if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) {
      file[i + 5] = std::uint8_t(height >> 8), file[i + 6] = std::uint8_t(height);
      file[i + 7] = std::uint8_t(width >> 8), file[i + 8] = std::uint8_t(width);
      return file;
    }
  return {};
}

TEST(Jpeg, WhatIsNoUsableJpegIsAnErrorAndKeepsThePicture) {
  const Bytes odd = Resource("JPEG_ODD444");
  const Bytes bmp = Resource("BMP_ODD444");
  ASSERT_FALSE(WithSides(odd, 1, 1).empty());
  const struct {
    const char* what;
    Bytes file;
  } refused[] = {
      {"a broken header", {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3}},
      // The system would decode a BMP (or GIF, or icon); a TJPEGImage holds JPEG files.
      {"a BMP file", bmp},
      {"wider than our limit", WithSides(odd, kJpegMaxSide + 1, 7)},
      {"taller than our limit", WithSides(odd, 13, kJpegMaxSide + 1)},
      {"no height", WithSides(odd, 13, 0)},
      {"the file cut after its header", Bytes(odd.begin(), odd.begin() + 200)},
  };
  EXPECT_THROW(DecodeJpeg({}), EJPEGError);
  TJPEGImage image;
  image.LoadFromBytes(odd);
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    EXPECT_THROW(DecodeJpeg(r.file), EJPEGError);
    EXPECT_THROW(image.LoadFromBytes(r.file), EJPEGError);
    EXPECT_EQ(image.Bytes(), odd);
    EXPECT_EQ(image.Width(), 13);
    EXPECT_EQ(image.Height(), 7);
  }
  TMemoryStream truncated;
  const std::uint8_t stored[] = {0xFF, 0xFF, 0, 0, 1};  // claims 65535 bytes
  truncated.Write(stored, sizeof stored);
  truncated.SetPosition(0);
  EXPECT_THROW(image.ReadData(truncated), EStreamError);
  EXPECT_EQ(image.Bytes(), odd);
}

}  // namespace
}  // namespace qv
