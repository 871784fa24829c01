// What a JPEG file's frame header says, read before the system decodes it:
// only JPEG files reach the decoder, and a picture too large to hold is
// refused before any pixel memory is taken.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace qv {

// Our limit on either side of a picture the framework decodes.
inline constexpr int kJpegMaxSide = 32768;

struct JpegFrame {
  int width = 0;
  int height = 0;
  int components = 0;
  bool progressive = false;
};

// The first frame header (SOF0..SOF15) after the start-of-image marker, or
// nothing when the bytes are no JPEG file, end before the frame header, or
// reach a scan, the end of the image or a broken segment first. A height
// of 0 (set later by a DNL marker) is left to the caller to refuse.
std::optional<JpegFrame> ReadJpegFrame(std::span<const std::uint8_t> file);

}  // namespace qv
