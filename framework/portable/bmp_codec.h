// The Windows BMP file format, portable: reading 1, 4, 8, 16, 24 and 32 bits
// per pixel, uncompressed, RLE4, RLE8 and bit fields; writing uncompressed.
// Corrupt or truncated data raises BmpError and never reads past the data.
//
// What the reader accepts:
// - info headers of 40, 52, 56, 108 and 124 bytes and the old 12-byte core
//   header (3-byte colour entries, 1, 4, 8 or 24 bits);
// - width and height 1 .. 65535, at most 256 MiB of uncompressed pixel data,
//   planes 1; a negative height (top-down) only for uncompressed data;
// - a colour table of at most 2^bits entries (0 in the header means 2^bits);
// - bit-field masks that are non-zero, one run of bits each, disjoint and
//   inside the pixel; channels narrower than 8 bits are scaled so that full
//   scale is 255;
// - RLE streams must end with the end-of-bitmap code; pixels the stream
//   never sets keep index 0, and runs past the end of a row are dropped.
// A pixel index beyond the colour table shows entry 0 of the table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

inline constexpr int kBmpMaxSide = 65535;
inline constexpr std::uint64_t kBmpMaxPixelBytes = std::uint64_t{256} << 20;

class BmpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A picture as a device-independent bitmap holds it: rows bottom-up,
// uncompressed, each padded to a multiple of 4 bytes.
struct BmpImage {
  int width = 0;
  int height = 0;  // always positive here; rows are stored bottom-up
  int bitCount = 24;  // 1, 4, 8, 16, 24 or 32
  // 16 and 32 bits: channel masks (red, green, blue); zero means the
  // standard 5-5-5 / 8-8-8 layout.
  std::uint32_t redMask = 0, greenMask = 0, blueMask = 0;
  // Colour table for 1, 4 and 8 bits: RGBQUAD entries (blue, green, red, 0).
  std::vector<std::array<std::uint8_t, 4>> colors;
  std::vector<std::uint8_t> bits;

  static int StrideFor(int width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }
  int Stride() const { return StrideFor(width, bitCount); }
};

BmpImage DecodeBmp(std::span<const std::uint8_t> file);
// Uncompressed, bottom-up, with BITMAPFILEHEADER and BITMAPINFOHEADER (and
// BI_BITFIELDS masks when they are not the standard ones). Pictures the
// reader would refuse, or paletted ones without colours, raise BmpError.
std::vector<std::uint8_t> EncodeBmp(const BmpImage& image);

// Any picture as 24-bit top-down B-G-R rows with the given stride (at least
// 3 * width), and back (a 24-bit BmpImage).
void ToTopDown24(const BmpImage& image, std::uint8_t* out, int outStride);
BmpImage FromTopDown24(const std::uint8_t* bits, int width, int height, int stride);

}  // namespace qv
