// What the skin controls' portable rules share: points, sizes and
// rectangles as GDI has them, saturating arithmetic on them, and the face
// colour the skin controls and the setup window start with.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace qv::skin {

// $00BBGGRR (red, green and blue 223), as the framework's TColor holds it.
inline constexpr std::int32_t kFaceColour = 0x00DFDFDF;

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// Right and bottom are exclusive, as in GDI.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The rules compute in 64 bits and pin the answer to int, so no size or
// offset a caller passes can overflow them.
inline int ClampInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

inline Rect MakeRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom) {
  return {ClampInt(left), ClampInt(top), ClampInt(right), ClampInt(bottom)};
}

// Every side moved inwards by d (outwards for a negative d).
inline Rect Inflate(const Rect& r, int d) {
  return MakeRect(std::int64_t{r.left} + d, std::int64_t{r.top} + d, std::int64_t{r.right} - d,
                  std::int64_t{r.bottom} - d);
}

}  // namespace qv::skin
