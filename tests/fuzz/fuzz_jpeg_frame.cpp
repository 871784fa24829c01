// The JPEG frame reader over arbitrary bytes: it stays inside them, and its
// answer depends only on the bytes up to the frame header it reports.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "framework/portable/jpeg_frame.h"
#include "tests/fuzz/fuzz_check.h"

using qv::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  const std::optional<qv::JpegFrame> frame = qv::ReadJpegFrame(file);
  if (!frame) return 0;  // refused: the only other way out
  Require(size >= 2 && data[0] == 0xFF && data[1] == 0xD8, "a frame without the start-of-image marker");
  Require(frame->width >= 0 && frame->width <= 65535 && frame->height >= 0 && frame->height <= 65535,
          "sides out of the 16-bit range");
  Require(frame->components >= 0 && frame->components <= 255, "component count out of range");

  // Anything appended leaves the answer as it was.
  std::vector<std::uint8_t> longer(data, data + size);
  longer.insert(longer.end(), {0xFF, 0xC0, 0x00, 0x0B, 8, 0, 1, 0, 1, 1, 1, 0x11, 0});
  const std::optional<qv::JpegFrame> again = qv::ReadJpegFrame(longer);
  Require(again && again->width == frame->width && again->height == frame->height &&
              again->components == frame->components && again->progressive == frame->progressive,
          "appended bytes changed the answer");
  return 0;
}
