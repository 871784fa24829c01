#include "framework/portable/bmp_codec.h"

#include <bit>
#include <cstring>

#include "framework/portable/little_endian.h"

namespace qv {
namespace {

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
constexpr std::size_t kFileHeader = 14;
constexpr std::size_t kInfoHeader = 40;

[[noreturn]] void Fail(const std::string& why) { throw BmpError("BMP: " + why); }

// Bounds-checked little-endian reads: every access names what it wanted.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
  void Need(std::uint64_t offset, std::uint64_t count, const char* what) const {
    if (offset > data_.size() || count > data_.size() - offset) Fail(std::string("truncated ") + what);
  }
  std::uint8_t U8(std::size_t offset, const char* what) const {
    Need(offset, 1, what);
    return data_[offset];
  }
  std::uint16_t U16(std::size_t offset, const char* what) const {
    Need(offset, 2, what);
    return LoadLe16(data_.data() + offset);
  }
  std::uint32_t U32(std::size_t offset, const char* what) const {
    Need(offset, 4, what);
    return LoadLe32(data_.data() + offset);
  }
  const std::uint8_t* At(std::size_t offset) const { return data_.data() + offset; }

 private:
  std::span<const std::uint8_t> data_;
};

bool ValidDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

struct Masks {
  std::uint32_t r, g, b;
};

Masks StandardMasks(int bitCount) {
  return bitCount == 16 ? Masks{0x7C00, 0x03E0, 0x001F} : Masks{0xFF0000, 0x00FF00, 0x0000FF};
}

void CheckMasks(const Masks& m, int bitCount) {
  const std::uint32_t limit = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
  for (std::uint32_t mask : {m.r, m.g, m.b}) {
    if (mask == 0 || mask > limit) Fail("colour mask does not fit the pixel");
    const std::uint32_t low = mask >> std::countr_zero(mask);
    if ((low & (low + 1)) != 0) Fail("colour mask is not one run of bits");
  }
  if ((m.r & m.g) || (m.r & m.b) || (m.g & m.b)) Fail("colour masks overlap");
}

// Checks what every picture must satisfy, read or written, and returns the
// size of its pixel data.
std::size_t CheckShape(int width, int height, int bitCount) {
  if (!ValidDepth(bitCount)) Fail("unsupported bits per pixel " + std::to_string(bitCount));
  if (width < 1 || width > kBmpMaxSide || height < 1 || height > kBmpMaxSide)
    Fail("picture size " + std::to_string(width) + " x " + std::to_string(height) + " out of range");
  const std::uint64_t bytes = std::uint64_t(BmpImage::StrideFor(width, bitCount)) * std::uint64_t(height);
  if (bytes > kBmpMaxPixelBytes) Fail("pixel data larger than the limit");
  return static_cast<std::size_t>(bytes);
}

void CheckImage(const BmpImage& image) {
  const std::size_t bytes = CheckShape(image.width, image.height, image.bitCount);
  if (image.bits.size() < bytes) Fail("pixel buffer shorter than the picture");
  if (image.bitCount <= 8 && image.colors.size() > (std::size_t{1} << image.bitCount))
    Fail("colour table larger than the depth allows");
  if ((image.bitCount == 16 || image.bitCount == 32) && (image.redMask || image.greenMask || image.blueMask))
    CheckMasks({image.redMask, image.greenMask, image.blueMask}, image.bitCount);
}

// Run-length data into bottom-up rows of 8 or 4 bits. Pixels the stream
// never sets stay index 0; runs past the end of a row are dropped.
void DecodeRle(const Reader& in, std::size_t begin, std::size_t end, bool four, BmpImage& image) {
  const int stride = image.Stride();
  std::int64_t x = 0, y = 0;
  auto put = [&](std::uint8_t index) {
    if (x < image.width && y < image.height) {
      std::uint8_t* row = image.bits.data() + static_cast<std::size_t>(y) * stride;
      if (four)
        row[x / 2] =
            static_cast<std::uint8_t>(x % 2 == 0 ? (row[x / 2] & 0x0F) | index << 4 : (row[x / 2] & 0xF0) | index);
      else
        row[x] = index;
    }
    ++x;
  };
  auto need = [&](std::size_t at, std::size_t count) {
    if (count > end - at) Fail("RLE data ends without end-of-bitmap marker");
  };
  std::size_t at = begin;
  for (;;) {
    need(at, 2);
    const std::uint8_t count = in.U8(at, "RLE data"), value = in.U8(at + 1, "RLE data");
    at += 2;
    if (count > 0) {  // a run of one value (RLE4: two alternating nibbles)
      for (int k = 0; k < count; ++k)
        put(four ? static_cast<std::uint8_t>(k % 2 == 0 ? value >> 4 : value & 0x0F) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return;
      case 2:  // delta: move right and up
        need(at, 2);
        x += in.U8(at, "RLE delta");
        y += in.U8(at + 1, "RLE delta");
        at += 2;
        break;
      default: {  // absolute run, padded to a 16-bit boundary
        const std::size_t bytes = four ? (value + 1u) / 2 : value;
        const std::size_t padded = bytes + (bytes & 1);
        need(at, padded);
        for (int k = 0; k < value; ++k) {
          const std::uint8_t b = in.U8(at + (four ? k / 2 : k), "RLE data");
          put(four ? static_cast<std::uint8_t>(k % 2 == 0 ? b >> 4 : b & 0x0F) : b);
        }
        at += padded;
        break;
      }
    }
  }
}

// One channel of a bit-field pixel, scaled to 0..255 (full scale maps to 255).
struct Channel {
  std::uint32_t mask;
  int shift;
  std::uint32_t max;
  int bits;

  explicit Channel(std::uint32_t m) : mask(m), shift(std::countr_zero(m)), max(m >> shift), bits(std::popcount(m)) {}
  std::uint8_t operator()(std::uint32_t pixel) const {
    const std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

}  // namespace

namespace {

// What the info header says beyond the image's own fields.
struct InfoHeader {
  std::int64_t height = 0;  // negative: stored top-down
  std::uint32_t compression = kRgb, sizeImage = 0, colorsUsed = 0;
  std::size_t paletteAt = 0, entrySize = 4;
};

InfoHeader ReadInfoHeader(const Reader& in, std::uint32_t headerSize, BmpImage& image) {
  InfoHeader h;
  h.paletteAt = kFileHeader + headerSize;
  unsigned planes = 0;
  if (headerSize == 12) {  // BITMAPCOREHEADER: 16-bit sizes, 3-byte colours
    image.width = in.U16(18, "info header");
    h.height = in.U16(20, "info header");
    planes = in.U16(22, "info header");
    image.bitCount = in.U16(24, "info header");
    h.entrySize = 3;
    if (image.bitCount == 16 || image.bitCount == 32) Fail("core header with 16 or 32 bits per pixel");
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
    image.width = static_cast<std::int32_t>(in.U32(18, "info header"));
    h.height = static_cast<std::int32_t>(in.U32(22, "info header"));
    planes = in.U16(26, "info header");
    image.bitCount = in.U16(28, "info header");
    h.compression = in.U32(30, "info header");
    h.sizeImage = in.U32(34, "info header");
    h.colorsUsed = in.U32(46, "info header");
    if (h.compression == kBitFields) {
      // A plain info header is followed by the three masks; the larger
      // headers hold them.
      const std::size_t at = kFileHeader + kInfoHeader;
      image.redMask = in.U32(at, "colour masks");
      image.greenMask = in.U32(at + 4, "colour masks");
      image.blueMask = in.U32(at + 8, "colour masks");
      if (headerSize == kInfoHeader) h.paletteAt += 12;
    }
  } else {
    Fail("unsupported info header size " + std::to_string(headerSize));
  }
  if (planes != 1) Fail("planes must be 1");
  return h;
}

void CheckCompression(std::uint32_t compression, bool topDown, const BmpImage& image) {
  switch (compression) {
    case kRgb:
      break;
    case kRle8:
    case kRle4:
      if (image.bitCount != (compression == kRle8 ? 8 : 4)) Fail("RLE compression does not match the depth");
      if (topDown) Fail("top-down pictures cannot be RLE compressed");
      break;
    case kBitFields:
      if (image.bitCount != 16 && image.bitCount != 32) Fail("bit fields need 16 or 32 bits per pixel");
      CheckMasks({image.redMask, image.greenMask, image.blueMask}, image.bitCount);
      break;
    default:
      Fail("unsupported compression " + std::to_string(compression));
  }
}

// The colour table of a picture of 8 bits or fewer; gives where it ends.
std::size_t ReadColorTable(const Reader& in, const InfoHeader& h, BmpImage& image) {
  if (image.bitCount > 8) return h.paletteAt;
  const std::uint32_t full = 1u << image.bitCount;
  const std::uint32_t count = h.colorsUsed == 0 ? full : h.colorsUsed;
  if (count > full) Fail("colour table larger than the depth allows");
  in.Need(h.paletteAt, std::uint64_t(count) * h.entrySize, "colour table");
  image.colors.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = in.At(h.paletteAt + i * h.entrySize);
    image.colors[i] = {e[0], e[1], e[2], 0};
  }
  return h.paletteAt + std::size_t{count} * h.entrySize;
}

void ReadPixels(const Reader& in, std::size_t fileSize, std::uint32_t offBits, const InfoHeader& h, bool topDown,
                BmpImage& image) {
  const std::size_t stride = static_cast<std::size_t>(image.Stride());
  const std::size_t bytes = stride * static_cast<std::size_t>(image.height);
  const bool rle = h.compression == kRle8 || h.compression == kRle4;
  // Uncompressed data must all be there: check before allocating, so a tiny
  // truncated file cannot claim hundreds of megabytes.
  if (!rle) in.Need(offBits, bytes, "pixel data");
  image.bits.assign(bytes, 0);
  if (rle) {
    std::size_t end = fileSize;
    if (h.sizeImage != 0) {
      in.Need(offBits, h.sizeImage, "RLE data");
      end = offBits + std::size_t{h.sizeImage};
    }
    DecodeRle(in, offBits, end, h.compression == kRle4, image);
    return;
  }
  for (int y = 0; y < image.height; ++y) {
    const int fileRow = topDown ? image.height - 1 - y : y;  // stored bottom-up
    std::memcpy(image.bits.data() + y * stride, in.At(offBits + fileRow * stride), stride);
  }
}

}  // namespace

BmpImage DecodeBmp(std::span<const std::uint8_t> file) {
  const Reader in(file);
  in.Need(0, kFileHeader + 4, "file header");
  if (file[0] != 'B' || file[1] != 'M') Fail("not a BMP file (no 'BM' signature)");
  const std::uint32_t offBits = in.U32(10, "file header");
  const std::uint32_t headerSize = in.U32(14, "info header");
  in.Need(kFileHeader, headerSize, "info header");

  BmpImage image;
  const InfoHeader h = ReadInfoHeader(in, headerSize, image);
  const bool topDown = h.height < 0;
  const std::int64_t height = topDown ? -h.height : h.height;
  if (height > kBmpMaxSide) Fail("picture height out of range");
  CheckShape(image.width, static_cast<int>(height), image.bitCount);
  image.height = static_cast<int>(height);
  CheckCompression(h.compression, topDown, image);

  const std::size_t paletteEnd = ReadColorTable(in, h, image);
  if (offBits < paletteEnd) Fail("pixel data offset inside the headers");
  if (offBits > file.size()) Fail("pixel data offset past the end of the file");
  ReadPixels(in, file.size(), offBits, h, topDown, image);
  return image;
}

std::vector<std::uint8_t> EncodeBmp(const BmpImage& image) {
  CheckImage(image);
  if (image.bitCount <= 8 && image.colors.empty()) Fail("paletted picture without a colour table");
  const bool masked = image.bitCount == 16 || image.bitCount == 32;
  const Masks standard = StandardMasks(image.bitCount);
  const bool fields = masked && (image.redMask || image.greenMask || image.blueMask) &&
                      !(image.redMask == standard.r && image.greenMask == standard.g && image.blueMask == standard.b);
  const std::uint32_t colors = image.bitCount <= 8 ? static_cast<std::uint32_t>(image.colors.size()) : 0;
  const std::size_t stride = static_cast<std::size_t>(image.Stride());
  const std::size_t bytes = stride * static_cast<std::size_t>(image.height);
  const std::uint32_t offBits = static_cast<std::uint32_t>(kFileHeader + kInfoHeader + (fields ? 12 : 0) + 4 * colors);

  std::vector<std::uint8_t> out;
  out.reserve(offBits + bytes);
  out.push_back('B');
  out.push_back('M');
  AppendLe(out, static_cast<std::uint32_t>(offBits + bytes), 4);
  AppendLe(out, 0, 4);
  AppendLe(out, offBits, 4);
  AppendLe(out, kInfoHeader, 4);
  AppendLe(out, static_cast<std::uint32_t>(image.width), 4);
  AppendLe(out, static_cast<std::uint32_t>(image.height), 4);  // positive: bottom-up
  AppendLe(out, 1, 2);
  AppendLe(out, static_cast<std::uint16_t>(image.bitCount), 2);
  AppendLe(out, fields ? kBitFields : kRgb, 4);
  AppendLe(out, static_cast<std::uint32_t>(bytes), 4);
  AppendLe(out, 0, 4);
  AppendLe(out, 0, 4);
  AppendLe(out, colors, 4);
  AppendLe(out, 0, 4);
  if (fields) {
    AppendLe(out, image.redMask, 4);
    AppendLe(out, image.greenMask, 4);
    AppendLe(out, image.blueMask, 4);
  }
  for (std::uint32_t i = 0; i < colors; ++i) {
    const auto& c = image.colors[i];
    out.insert(out.end(), {c[0], c[1], c[2], 0});
  }
  // Row padding is written as zeros whatever the buffer holds there.
  const std::size_t used = (static_cast<std::size_t>(image.width) * image.bitCount + 7) / 8;
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* row = image.bits.data() + y * stride;
    out.insert(out.end(), row, row + used);
    out.insert(out.end(), stride - used, 0);
  }
  return out;
}

void ToTopDown24(const BmpImage& image, std::uint8_t* out, int outStride) {
  CheckImage(image);
  if (outStride < 3 * image.width) Fail("output rows too short");
  const std::size_t stride = static_cast<std::size_t>(image.Stride());
  const int depth = image.bitCount;
  const Masks standard = StandardMasks(depth);
  const bool ownMasks = image.redMask || image.greenMask || image.blueMask;
  const Channel red(ownMasks ? image.redMask : standard.r), green(ownMasks ? image.greenMask : standard.g),
      blue(ownMasks ? image.blueMask : standard.b);
  // An index beyond the colour table shows entry 0 (black if there is none).
  const std::array<std::uint8_t, 4> black{};
  const auto& fallback = image.colors.empty() ? black : image.colors[0];

  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* in = image.bits.data() + static_cast<std::size_t>(image.height - 1 - y) * stride;
    std::uint8_t* q = out + static_cast<std::ptrdiff_t>(y) * outStride;
    for (int x = 0; x < image.width; ++x, q += 3) {
      if (depth <= 8) {
        const int perByte = 8 / depth;
        const int shift = 8 - depth * (x % perByte + 1);
        const unsigned index = (in[x / perByte] >> shift) & ((1u << depth) - 1);
        const auto& c = index < image.colors.size() ? image.colors[index] : fallback;
        q[0] = c[0];
        q[1] = c[1];
        q[2] = c[2];
      } else if (depth == 24) {
        std::memcpy(q, in + 3 * x, 3);
      } else {
        const std::uint8_t* p = in + (depth / 8) * x;
        const std::uint32_t v = depth == 16 ? LoadLe16(p) : LoadLe32(p);
        q[0] = blue(v);
        q[1] = green(v);
        q[2] = red(v);
      }
    }
  }
}

BmpImage FromTopDown24(const std::uint8_t* bits, int width, int height, int stride) {
  CheckShape(width, height, 24);
  if (stride < 3 * width) Fail("input rows too short");
  BmpImage image;
  image.width = width;
  image.height = height;
  image.bitCount = 24;
  const std::size_t outStride = static_cast<std::size_t>(image.Stride());
  image.bits.assign(outStride * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y)
    std::memcpy(image.bits.data() + static_cast<std::size_t>(height - 1 - y) * outStride,
                bits + static_cast<std::ptrdiff_t>(y) * stride, 3 * static_cast<std::size_t>(width));
  return image;
}

}  // namespace qv
