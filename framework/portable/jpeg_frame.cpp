#include "framework/portable/jpeg_frame.h"

namespace qv {

namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kTem = 0x01;  // standalone, like the restart markers

bool IsFrameHeader(std::uint8_t m) {
  // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) sit
  // among the frame header codes but are none.
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

bool IsProgressive(std::uint8_t m) { return m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE; }

}  // namespace

std::optional<JpegFrame> ReadJpegFrame(std::span<const std::uint8_t> file) {
  if (file.size() < 2 || file[0] != kMarker || file[1] != kStartOfImage) return std::nullopt;
  std::size_t at = 2;
  for (;;) {
    // Segments follow each other directly; a marker may be padded with FFs.
    if (at >= file.size() || file[at] != kMarker) return std::nullopt;
    while (at < file.size() && file[at] == kMarker) ++at;
    if (at >= file.size()) return std::nullopt;
    const std::uint8_t marker = file[at++];
    if (marker == 0x00 || marker == kStartOfImage || marker == kEndOfImage || marker == kStartOfScan)
      return std::nullopt;
    if (marker == kTem || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (file.size() - at < 2) return std::nullopt;
    const std::size_t length = (std::size_t{file[at]} << 8) | file[at + 1];
    if (length < 2 || length > file.size() - at) return std::nullopt;
    if (IsFrameHeader(marker)) {
      // Precision, height, width, component count.
      if (length < 8) return std::nullopt;
      JpegFrame frame;
      frame.height = (file[at + 3] << 8) | file[at + 4];
      frame.width = (file[at + 5] << 8) | file[at + 6];
      frame.components = file[at + 7];
      frame.progressive = IsProgressive(marker);
      return frame;
    }
    at += length;
  }
}

}  // namespace qv
