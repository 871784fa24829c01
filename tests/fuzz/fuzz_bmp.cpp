// The BMP reader over arbitrary files, and the writer over what it reads.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/portable/bmp_codec.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;

// Round trips only for pictures small enough to convert quickly.
constexpr std::int64_t kSanePixels = std::int64_t{1} << 20;

std::vector<std::uint8_t> TopDown(const qv::BmpImage& image) {
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(image.width) * 3 *
                                 static_cast<std::size_t>(image.height));
  qv::ToTopDown24(image, rows.data(), 3 * image.width);
  return rows;
}

qv::BmpImage MustDecode(const std::vector<std::uint8_t>& file, const char* what) {
  try {
    return qv::DecodeBmp(file);
  } catch (const qv::BmpError&) {
    Require(false, what);
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::BmpImage image;
  try {
    image = qv::DecodeBmp(std::span<const std::uint8_t>(data, size));
  } catch (const qv::BmpError&) {
    return 0;  // refused: the only other way out
  }
  Require(image.width >= 1 && image.width <= qv::kBmpMaxSide && image.height >= 1 &&
              image.height <= qv::kBmpMaxSide,
          "decoded size out of range");
  const int b = image.bitCount;
  Require(b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32, "decoded depth not supported");
  Require(
      image.bits.size() == static_cast<std::size_t>(image.Stride()) * static_cast<std::size_t>(image.height),
      "pixel buffer does not match stride x height");
  Require(image.bits.size() <= qv::kBmpMaxPixelBytes, "pixel data over the limit");
  if (b <= 8) Require(image.colors.size() <= (std::size_t{1} << b), "colour table larger than the depth");

  if (std::int64_t{image.width} * image.height > kSanePixels) return 0;
  const std::vector<std::uint8_t> pixels = TopDown(image);

  // What the reader accepted the writer writes, and it reads back the same.
  std::vector<std::uint8_t> file;
  try {
    file = qv::EncodeBmp(image);
  } catch (const qv::BmpError&) {
    Require(false, "a decoded picture cannot be written");
  }
  const qv::BmpImage again = MustDecode(file, "a written picture cannot be read");
  Require(again.width == image.width && again.height == image.height && again.bitCount == image.bitCount,
          "written picture changed its shape");
  Require(again.colors == image.colors, "written picture changed its colours");
  Require(TopDown(again) == pixels, "written picture changed its pixels");

  // And as 24 bits, through the conversion the skin uses.
  const qv::BmpImage flat = qv::FromTopDown24(pixels.data(), image.width, image.height, 3 * image.width);
  const qv::BmpImage flatAgain = MustDecode(qv::EncodeBmp(flat), "a 24-bit picture cannot be read");
  Require(TopDown(flatAgain) == pixels, "24-bit round trip changed the pixels");
  return 0;
}
