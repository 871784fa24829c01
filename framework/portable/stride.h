// The row layout of 24-bit device-independent bitmaps, shared by the BMP
// reader, the JPEG decoder, the framework bitmap and the skin bitmap.
#pragma once

namespace qv {

// Bytes of one 24-bit row: 3 * width rounded up to a multiple of 4
// (width 1 -> 4, 2 -> 8, 3 -> 12, 4 -> 12, 5 -> 16).
constexpr int Stride24(int width) { return 3 * width + width % 4; }

}  // namespace qv
