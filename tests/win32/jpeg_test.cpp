#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <vector>

#include "graphics.h"
#include "jpeg.h"

extern "C" {
#include <jpeglib.h>
}

namespace qv {
namespace {

// A JPEG file of a left half in one colour and a right half in another.
std::vector<std::uint8_t> EncodeJpeg(int w, int h, COLORREF left, COLORREF right, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * 3);
  for (int x = 0; x < w; ++x) {
    const COLORREF col = x < w / 2 ? left : right;
    row[3 * x] = GetRValue(col);
    row[3 * x + 1] = GetGValue(col);
    row[3 * x + 2] = GetBValue(col);
  }
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<std::uint8_t> file(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return file;
}

bool Near(COLORREF a, COLORREF b) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= 6 && std::abs(GetGValue(a) - GetGValue(b)) <= 6 &&
         std::abs(GetBValue(a) - GetBValue(b)) <= 6;
}

TEST(Jpeg, APictureDecodesFromItsStoredForm) {
  for (bool progressive : {false, true}) {
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(250, 100, RGB(200, 30, 40), RGB(20, 60, 220), progressive);
    // Class-name length, class name, 32-bit little-endian count, the file.
    TMemoryStream stored;
    const std::string name = "TJPEGImage";
    const std::uint8_t n = static_cast<std::uint8_t>(name.size());
    stored.Write(&n, 1);
    stored.Write(name.data(), name.size());
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

    TBitmap plain;
    plain.Assign(picture.Graphic());
    EXPECT_TRUE(Near(plain.Canvas().Pixel(10, 50), RGB(200, 30, 40))) << progressive;
    EXPECT_TRUE(Near(plain.Canvas().Pixel(240, 10), RGB(20, 60, 220))) << progressive;

    // Written back, the stored form is the same bytes.
    TMemoryStream again;
    picture.WriteData(again);
    EXPECT_EQ(again.Bytes(), stored.Bytes());
  }
}

TEST(Jpeg, BadDataIsAnErrorAndKeepsThePicture) {
  TJPEGImage image;
  image.LoadFromBytes(EncodeJpeg(8, 8, RGB(0, 0, 0), RGB(255, 255, 255), false));
  std::vector<std::uint8_t> junk = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3};
  EXPECT_THROW(image.LoadFromBytes(junk), EJPEGError);
  EXPECT_EQ(image.Width(), 8);
  TMemoryStream truncated;
  const std::uint8_t stored[] = {0xFF, 0xFF, 0, 0, 1};  // claims 65535 bytes
  truncated.Write(stored, sizeof stored);
  truncated.SetPosition(0);
  EXPECT_THROW(image.ReadData(truncated), EStreamError);
}

}  // namespace
}  // namespace qv
