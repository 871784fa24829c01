#include "framework/portable/jpeg_frame.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kSoi = {0xFF, 0xD8};

// A segment: marker, big-endian length (counting itself), payload.
Bytes Segment(std::uint8_t marker, const Bytes& payload) {
  const std::size_t n = payload.size() + 2;
  return Bytes{0xFF, marker, std::uint8_t(n >> 8), std::uint8_t(n)} + payload;
}

// A frame header's payload: precision, height, width, components.
Bytes Frame(int width, int height, int components) {
  Bytes p = {8, std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8), std::uint8_t(width),
             std::uint8_t(components)};
  for (int c = 0; c < components; ++c) p = p + Bytes{std::uint8_t(c + 1), 0x11, 0};
  return p;
}

const Bytes kApp0 = Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
const Bytes kQuant = Segment(0xDB, Bytes(65, 0));
const Bytes kHuffman = Segment(0xC4, Bytes(29, 0));
const Bytes kScan = Segment(0xDA, {1, 1, 0, 0, 63, 0});

struct Case {
  const char* what;
  Bytes file;
  std::optional<JpegFrame> expected;
};

bool operator==(const JpegFrame& a, const JpegFrame& b) {
  return a.width == b.width && a.height == b.height && a.components == b.components &&
         a.progressive == b.progressive;
}

TEST(JpegFrame, ReadsTheFirstFrameHeaderOrNothing) {
  const Bytes sof0 = Segment(0xC0, Frame(250, 100, 3));
  const Case cases[] = {
      {"baseline after APP0 and tables", kSoi + kApp0 + kQuant + sof0 + kHuffman + kScan,
       JpegFrame{250, 100, 3, false}},
      {"progressive (SOF2)", kSoi + kQuant + Segment(0xC2, Frame(13, 7, 3)), JpegFrame{13, 7, 3, true}},
      {"extended sequential (SOF1)", kSoi + Segment(0xC1, Frame(1, 1, 1)), JpegFrame{1, 1, 1, false}},
      {"arithmetic progressive (SOF10)", kSoi + Segment(0xCA, Frame(2, 3, 1)), JpegFrame{2, 3, 1, true}},
      {"lossless (SOF3) is a frame too", kSoi + Segment(0xC3, Frame(5, 6, 3)), JpegFrame{5, 6, 3, false}},
      {"largest sides", kSoi + Segment(0xC0, Frame(65535, 65535, 3)), JpegFrame{65535, 65535, 3, false}},
      {"height left to a DNL marker", kSoi + Segment(0xC0, Frame(8, 0, 1)), JpegFrame{8, 0, 1, false}},
      {"tables before the frame are passed over", kSoi + kHuffman + Segment(0xCC, {0, 0}) + sof0,
       JpegFrame{250, 100, 3, false}},
      {"fill bytes before a marker", kSoi + Bytes{0xFF, 0xFF} + kApp0 + Bytes{0xFF} + sof0,
       JpegFrame{250, 100, 3, false}},
      {"standalone markers carry no length", kSoi + Bytes{0xFF, 0x01, 0xFF, 0xD3} + sof0,
       JpegFrame{250, 100, 3, false}},
      {"only the frame header's own bytes are needed", kSoi + Segment(0xC0, {8, 0, 4, 0, 9, 1}),
       JpegFrame{9, 4, 1, false}},
      {"empty", {}, std::nullopt},
      {"start-of-image only", kSoi, std::nullopt},
      {"a BMP file", {'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0}, std::nullopt},
      {"the start-of-image marker reversed", Bytes{0xD8, 0xFF} + sof0, std::nullopt},
      {"a scan before any frame", kSoi + kScan + sof0, std::nullopt},
      {"the end of the image before any frame", kSoi + Bytes{0xFF, 0xD9} + sof0, std::nullopt},
      {"a second start of image", kSoi + kSoi + sof0, std::nullopt},
      {"a stuffed zero where a marker belongs", kSoi + Bytes{0xFF, 0x00} + sof0, std::nullopt},
      {"data between segments", kSoi + kApp0 + Bytes{0x12} + sof0, std::nullopt},
      {"a segment length below 2", kSoi + Bytes{0xFF, 0xE1, 0x00, 0x01} + sof0, std::nullopt},
      {"a segment running past the end", kSoi + Bytes{0xFF, 0xE1, 0x40, 0x00, 1, 2, 3}, std::nullopt},
      {"a frame header too short for its sizes", kSoi + Segment(0xC0, {8, 0, 4, 0, 9}), std::nullopt},
      {"a frame header cut short", kSoi + Bytes{0xFF, 0xC0, 0x00, 0x11, 8, 0, 100}, std::nullopt},
      {"a length cut in half", kSoi + Bytes{0xFF, 0xC0, 0x00}, std::nullopt},
      {"fill bytes up to the end", kSoi + Bytes{0xFF, 0xFF, 0xFF}, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<JpegFrame> got = ReadJpegFrame(c.file);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.what;
    if (got) {
      EXPECT_TRUE(*got == *c.expected) << c.what << ": " << got->width << " x " << got->height;
    }
  }
}

TEST(JpegFrame, ReadsTheProgramsOwnFace) {
  std::ifstream in(QV_FACE_JPEG, std::ios::binary);
  ASSERT_TRUE(in) << QV_FACE_JPEG;
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::optional<JpegFrame> frame = ReadJpegFrame(file);
  ASSERT_TRUE(frame.has_value());
  EXPECT_TRUE(*frame == (JpegFrame{250, 100, 3, true}));
  // Every cut that still holds the frame header gives the same answer;
  // every shorter one gives none.
  std::size_t needed = 0;
  for (std::size_t n = 0; n <= file.size(); ++n) {
    const std::optional<JpegFrame> cut = ReadJpegFrame(std::span(file.data(), n));
    if (!cut) {
      EXPECT_EQ(needed, 0u) << "answer lost again at " << n;
      continue;
    }
    if (!needed) needed = n;
    EXPECT_TRUE(*cut == *frame) << n;
  }
  EXPECT_GT(needed, 0u);
}

}  // namespace
}  // namespace qv
