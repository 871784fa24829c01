#include "skin/picture_button_rules.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace qv::skin {
namespace {

using i64 = std::int64_t;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<Offset> ParseOffset(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  std::size_t i = 0;
  // The next character that is not a space, or '\0' at the end.
  auto next = [&]() -> char {
    while (i < s.size() && s[i] == ' ') ++i;
    return i < s.size() ? s[i++] : '\0';
  };
  if (next() != '(') return std::nullopt;

  // Magnitudes saturate one past INT_MAX, so "-2147483648" stays exact and
  // longer numbers pin to the range ends instead of overflowing.
  constexpr i64 kCap = i64{INT_MAX} + 1;
  int values[4] = {};
  for (int n = 0; n < 4; ++n) {
    const char terminator = n < 3 ? ',' : ')';
    i64 value = 0;
    bool negative = false;
    for (;;) {
      const char c = next();
      if (c >= '0' && c <= '9') {
        value = std::min(value * 10 + (c - '0'), kCap);
      } else if (c == '-' && value == 0) {
        negative = true;
      } else if (c == terminator) {
        break;
      } else {
        return std::nullopt;  // any other character, or the end before ')'
      }
    }
    values[n] = ClampInt(negative ? -value : value);
  }
  return Offset{values[0], values[1], values[2], values[3]};
}

std::string FormatOffset(const Offset& o) {
  return "(" + std::to_string(o.x1) + "," + std::to_string(o.y1) + "," + std::to_string(o.x2) +
         "," + std::to_string(o.y2) + ")";
}

PicturePlacement PlacePicture(DisplayMode mode, const Rect& rect, const Offset& offset,
                              int pictureWidth, int pictureHeight, const Rect& clip) {
  PicturePlacement p;
  const i64 left = i64{rect.left} + offset.x1, top = i64{rect.top} + offset.y1;
  const i64 right = i64{rect.right} + offset.x2, bottom = i64{rect.bottom} + offset.y2;
  p.target = MakeRect(left, top, right, bottom);
  if (pictureWidth <= 0 || pictureHeight <= 0) return p;
  const i64 pw = pictureWidth, ph = pictureHeight;

  switch (mode) {
    case DisplayMode::dmCenter:
      // C++ division truncates toward zero, as the placement wants.
      p.positions.push_back({ClampInt((left + right - pw) / 2), ClampInt((top + bottom - ph) / 2)});
      break;
    case DisplayMode::dmTile: {
      // Only tiles that touch the clip: a huge offset must not make millions
      // of invisible draws.
      const i64 rowEnd = std::min<i64>(bottom, clip.bottom);
      const i64 colEnd = std::min<i64>(right, clip.right);
      const i64 firstRow = clip.top > top ? (i64{clip.top} - top) / ph : 0;
      const i64 firstCol = clip.left > left ? (i64{clip.left} - left) / pw : 0;
      for (i64 y = top + firstRow * ph; y < rowEnd; y += ph)
        for (i64 x = left + firstCol * pw; x < colEnd; x += pw)
          p.positions.push_back({ClampInt(x), ClampInt(y)});
      break;
    }
    case DisplayMode::dmStretch:
      p.stretch = true;
      break;
    case DisplayMode::dmNormal:
    default:
      p.positions.push_back({p.target.left, p.target.top});
      break;
  }
  return p;
}

Bevel BevelFor(BorderStyle style, MouseState state) {
  if (state > MouseState::Pressed) return Bevel::None;
  switch (style) {
    case BorderStyle::qbsFlat:
      if (state == MouseState::Normal) return Bevel::None;
      return state == MouseState::Hover ? Bevel::Raised : Bevel::Sunken;
    case BorderStyle::qbsSingle:
      return state == MouseState::Pressed ? Bevel::Sunken : Bevel::Raised;
    case BorderStyle::qbsNone:
    default:
      return Bevel::None;
  }
}

MouseState MouseStateAfterRelease(int x, int y, int width, int height) {
  return (0 <= x && x <= width && 0 <= y && y <= height) ? MouseState::Hover : MouseState::Normal;
}

Look UpdateLook(BorderStyle style, MouseState state, bool autoSwitch,
                const std::array<int, 3>& switchIndexes, int pictureIndex, Bevel bevel) {
  Look look;
  look.bevel = BevelFor(style, state);
  if (autoSwitch)
    look.pictureIndex =
        state <= MouseState::Pressed ? switchIndexes[static_cast<std::size_t>(state)] : -1;
  else
    look.pictureIndex = pictureIndex;
  look.changed = look.pictureIndex != pictureIndex || look.bevel != bevel;
  return look;
}

Rgb AdjustColor(Rgb colour, int percent) {
  const i64 p = percent;
  const i64 R = colour.r, G = colour.g, B = colour.b;
  i64 r = R + R * p / 100;
  i64 carry = r > 255 ? r - 255 : 0;
  i64 g = G + G * p / 100 + carry;
  if (g > 255) {
    carry = g - 255;
    r += carry;
  }
  i64 b = B + B * p / 100 + carry;
  if (b > 255 && g <= 255) r += b - 255;
  auto byte = [](i64 v) { return static_cast<std::uint8_t>(std::clamp<i64>(v, 0, 255)); };
  return {byte(r), byte(g), byte(b)};
}

BevelPlan PlanBevel(const Rect& rect, int count, bool frame, Bevel bevel) {
  BevelPlan plan;
  Rect r = rect;
  if (frame && bevel != Bevel::Sunken) {
    plan.frame = r;
    const Point tl{r.left, r.top}, tr{r.right - 1, r.top};
    const Point br{r.right - 1, r.bottom - 1}, bl{r.left, r.bottom - 1};
    plan.segments.push_back({tl, tr, Pen::Frame});
    plan.segments.push_back({tr, br, Pen::Frame});
    plan.segments.push_back({br, bl, Pen::Frame});
    plan.segments.push_back({bl, tl, Pen::Frame});
    r = Inflate(r, 1);
  }
  if (bevel == Bevel::Sunken || bevel == Bevel::Raised) {
    const Pen first = bevel == Bevel::Raised ? Pen::Light : Pen::Dark;
    const Pen second = bevel == Bevel::Raised ? Pen::Dark : Pen::Light;
    for (int n = 0; n < count; ++n) {
      const Point bl{r.left, r.bottom - 1}, tl{r.left, r.top};
      const Point tr{r.right - 1, r.top}, br{r.right - 1, r.bottom - 1};
      plan.segments.push_back({bl, tl, first});
      plan.segments.push_back({tl, tr, first});
      plan.segments.push_back({tr, br, second});
      plan.segments.push_back({br, bl, second});
      r = Inflate(r, 1);
    }
  }
  plan.inner = r;
  return plan;
}

CaptionPlace PlaceButtonCaption(Size control, Size text) {
  CaptionPlace c;
  c.control = {std::max(control.cx, text.cx), std::max(control.cy, text.cy)};
  c.at = {ClampInt((i64{c.control.cx} - text.cx) / 2), ClampInt((i64{c.control.cy} - text.cy) / 2)};
  return c;
}

}  // namespace qv::skin
