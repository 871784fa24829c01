#include "layout.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace qv::layout {
namespace {

using i64 = std::int64_t;

int ClampInt(i64 v) {
  return static_cast<int>(std::clamp<i64>(v, INT_MIN, INT_MAX));
}

Rect MakeRect(i64 left, i64 top, i64 right, i64 bottom) {
  return {ClampInt(left), ClampInt(top), ClampInt(right), ClampInt(bottom)};
}

// ---- skin -----------------------------------------------------------------

struct SkinBuilder {
  i64 pw, ph, w, h;
  std::vector<BlitOp>& ops;

  // A block that pokes past the picture (odd sizes, strips longer than a
  // small picture) is moved back inside it; one bigger than the picture is
  // cut to it. Then both are clipped to the surface, so any blitter can run
  // the plan without reading or writing outside either bitmap.
  void Copy(i64 sx, i64 sy, i64 bw, i64 bh, i64 dx, i64 dy) {
    bw = std::min(bw, pw);
    bh = std::min(bh, ph);
    if (bw <= 0 || bh <= 0) return;
    sx = std::clamp<i64>(sx, 0, pw - bw);
    sy = std::clamp<i64>(sy, 0, ph - bh);
    if (dx < 0) { sx -= dx; bw += dx; dx = 0; }
    if (dy < 0) { sy -= dy; bh += dy; dy = 0; }
    bw = std::min(bw, w - dx);
    bh = std::min(bh, h - dy);
    if (bw <= 0 || bh <= 0) return;
    ops.push_back({BlitKind::Copy, MakeRect(sx, sy, sx + bw, sy + bh),
                   MakeRect(dx, dy, dx + bw, dy + bh)});
  }
};

// ---- offset text ----------------------------------------------------------

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// ---- GBK text -------------------------------------------------------------

bool IsLeadByte(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 0x81 && u <= 0xFE;
}

// Offsets where characters start; a lead byte and the byte after it are one.
std::vector<std::size_t> CharStarts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i) {
    starts.push_back(i);
    if (IsLeadByte(s[i]) && i + 1 < s.size()) ++i;
  }
  return starts;
}

// Byte offsets of the backslashes that are characters of their own (a GBK
// trail byte can be 0x5C too).
std::vector<std::size_t> Backslashes(std::string_view s) {
  std::vector<std::size_t> at;
  for (std::size_t i : CharStarts(s))
    if (s[i] == '\\') at.push_back(i);
  return at;
}

// \a\b\c\ -> \...\b\c\ -> \...\c\ -> \...\ ; an earlier "...\" is replaced.
std::string CutFirstFolder(std::string_view folder) {
  if (folder == "\\") return {};
  bool root = !folder.empty() && folder.front() == '\\';
  if (root) folder.remove_prefix(1);
  if (folder.substr(0, 4) == "...\\") folder.remove_prefix(4);
  std::string out;
  auto slashes = Backslashes(folder);
  if (!slashes.empty()) out = "...\\" + std::string(folder.substr(slashes.front() + 1));
  return root ? "\\" + out : out;
}

std::string FitPath(std::string_view text, int width,
                    const std::function<int(std::string_view)>& measure) {
  std::string_view drive;
  std::string_view rest = text;
  if (text.size() >= 2 && text[1] == ':' && !IsLeadByte(text[0])) {
    drive = text.substr(0, 2);
    rest = text.substr(2);
  }
  std::string folder;
  std::string_view name = rest;
  if (auto slashes = Backslashes(rest); !slashes.empty()) {
    folder = std::string(rest.substr(0, slashes.back() + 1));
    name = rest.substr(slashes.back() + 1);
  }
  std::string driveText(drive);
  std::string result(text);
  while (measure(result) > width && (!driveText.empty() || !folder.empty())) {
    if (folder == "\\...\\") {
      driveText.clear();
      folder = "...\\";
    } else if (!folder.empty()) {
      folder = CutFirstFolder(folder);
    } else {
      driveText.clear();
    }
    result = driveText + folder + std::string(name);
  }
  return result;
}

std::string FitEnd(std::string_view text, int width,
                   const std::function<int(std::string_view)>& measure) {
  if (measure(text) <= width) return std::string(text);
  auto starts = CharStarts(text);
  // Whole characters come off, so a double-byte one never loses half.
  for (std::size_t n = starts.size(); n-- > 0;) {
    std::string candidate = std::string(text.substr(0, starts[n])) + "...";
    if (n == 0 || measure(candidate) <= width) return candidate;
  }
  return "...";
}

// ---- message dialog ---------------------------------------------------------

constexpr char kOk[] = "\xC8\xB7\xB6\xA8";      // 确定
constexpr char kCancel[] = "\xC8\xA1\xCF\xFB";  // 取消
constexpr char kAbort[] = "\xD6\xD5\xD6\xB9";   // 终止
constexpr char kRetry[] = "\xD6\xD8\xCA\xD4";   // 重试
constexpr char kIgnore[] = "\xBA\xF6\xC2\xD4";  // 忽略
constexpr char kYes[] = "\xCA\xC7";             // 是
constexpr char kNo[] = "\xB7\xF1";              // 否

struct StandardButton {
  const char* caption;  // nullptr: hidden
  int result;
};

// Rows are button sets 0-5, columns buttons 0 (rightmost) to 3.
constexpr StandardButton kStandardSets[6][4] = {
    {{kOk, 1}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}},
    {{kCancel, 2}, {kOk, 1}, {nullptr, 0}, {nullptr, 0}},
    {{kIgnore, 5}, {kRetry, 4}, {kAbort, 3}, {nullptr, 0}},
    {{kCancel, 2}, {kNo, 7}, {kYes, 6}, {nullptr, 0}},
    {{kNo, 7}, {kYes, 6}, {nullptr, 0}, {nullptr, 0}},
    {{kCancel, 2}, {kRetry, 4}, {nullptr, 0}, {nullptr, 0}},
};

}  // namespace

Rect Inflate(const Rect& r, int d) {
  return MakeRect(i64{r.left} + d, i64{r.top} + d, i64{r.right} - d, i64{r.bottom} - d);
}

// ---- skin -----------------------------------------------------------------

SkinPlan PlanSkin(int pictureWidth, int pictureHeight, int width, int height) {
  SkinPlan plan;
  if (pictureWidth <= 0) {
    plan.clear = true;
    return plan;
  }
  plan.width = std::max(width, 0);
  plan.height = std::max(height, 0);
  if (pictureHeight <= 0) return plan;  // nothing to read from

  const i64 pw = pictureWidth, ph = pictureHeight, w = plan.width, h = plan.height;
  const i64 hw = (pw + 1) / 2, hh = (ph + 1) / 2;
  SkinBuilder b{pw, ph, w, h, plan.ops};

  // Centre. A picture under 3 pixels still gives a 1-pixel source, so the
  // interior is never left blank.
  if (w - pw > 0 && h - ph > 0) {
    const i64 sx = pw / 3, sy = ph / 3;
    const i64 sw = std::max<i64>(pw / 3, 1), sh = std::max<i64>(ph / 3, 1);
    plan.ops.push_back({BlitKind::Stretch, MakeRect(sx, sy, sx + sw, sy + sh),
                        MakeRect(hw, hh, hw + w - pw, hh + h - ph)});
  }

  b.Copy(0, 0, hw, hh, 0, 0);
  b.Copy(0, hh, hw, hh, 0, h - hh);
  b.Copy(hw, 0, hw, hh, w - hw, 0);
  b.Copy(hw, hh, hw, hh, w - hw, h - hh);

  // The last strip of a run stops where the far corner begins, so the
  // corners' artwork survives. A picture shorter (narrower) than a strip
  // gives shorter strips, repeated to fill each 25-pixel step.
  const i64 stripRows = std::min<i64>(kSkinStrip, ph);
  for (i64 y = hh; y < h - hh; y += kSkinStrip) {
    const i64 stepEnd = std::min(y + kSkinStrip, h - hh);
    for (i64 yy = y; yy < stepEnd; yy += stripRows) {
      const i64 rows = std::min(stripRows, stepEnd - yy);
      b.Copy(0, hh, hw, rows, 0, yy);
      b.Copy(hw, hh, hw, rows, w - hw, yy);
    }
  }
  const i64 stripCols = std::min<i64>(kSkinStrip, pw);
  for (i64 x = hw; x < w - hw; x += kSkinStrip) {
    const i64 stepEnd = std::min(x + kSkinStrip, w - hw);
    for (i64 xx = x; xx < stepEnd; xx += stripCols) {
      const i64 cols = std::min(stripCols, stepEnd - xx);
      b.Copy(hw, 0, cols, hh, xx, 0);
      b.Copy(hw, hh, cols, hh, xx, h - hh);
    }
  }
  return plan;
}

// ---- hit zones ------------------------------------------------------------

Hit HitZone(int x, int y, int width, int height, bool sizeable, bool maximised) {
  if (maximised) return {};
  const i64 X = x, Y = y, W = width, H = height;
  auto in = [](i64 v, i64 lo, i64 hi) { return lo <= v && v <= hi; };
  if (sizeable) {
    const bool left = in(X, 0, 24), right = in(X, W - 24, W);
    const bool top = in(Y, 0, 24), bottom = in(Y, H - 24, H);
    if (left && top) return {1, crSizeNWSE, 0xF004};
    if (right && top) return {2, crSizeNESW, 0xF005};
    if (left && bottom) return {3, crSizeNESW, 0xF007};
    if (right && bottom) return {4, crSizeNWSE, 0xF008};
    const bool allX = in(X, 0, W), allY = in(Y, 0, H);
    if (in(X, 0, 3) && allY) return {5, crSizeWE, 0xF001};
    if (in(X, W - 3, W) && allY) return {6, crSizeWE, 0xF002};
    if (allX && in(Y, 0, 3)) return {7, crSizeNS, 0xF003};
    if (allX && in(Y, H - 3, H)) return {8, crSizeNS, 0xF006};
  }
  if (InCaptionBand(x, y, width)) return {9, crHandPoint, kScMoveCaption};
  return {};
}

bool InCaptionBand(int x, int y, int width) {
  return 0 <= x && x <= width && 0 <= y && y <= kCaptionBand;
}

// ---- offset text ----------------------------------------------------------

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

// ---- picture placement ----------------------------------------------------

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

// ---- picture button -------------------------------------------------------

Bevel BevelFor(BorderStyle style, int mouseState) {
  if (mouseState < 0 || mouseState > 2) return Bevel::None;
  switch (style) {
    case BorderStyle::qbsFlat:
      return mouseState == 0 ? Bevel::None : mouseState == 1 ? Bevel::Raised : Bevel::Sunken;
    case BorderStyle::qbsSingle:
      return mouseState == 2 ? Bevel::Sunken : Bevel::Raised;
    case BorderStyle::qbsNone:
    default:
      return Bevel::None;
  }
}

int MouseStateAfterRelease(int x, int y, int width, int height) {
  return (0 <= x && x <= width && 0 <= y && y <= height) ? 1 : 0;
}

Look UpdateLook(BorderStyle style, int mouseState, bool autoSwitch,
                const std::array<int, 3>& switchIndexes, int pictureIndex, Bevel bevel) {
  Look look;
  look.bevel = BevelFor(style, mouseState);
  if (autoSwitch)
    look.pictureIndex =
        (mouseState >= 0 && mouseState <= 2) ? switchIndexes[static_cast<std::size_t>(mouseState)] : -1;
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

// ---- colour push button ---------------------------------------------------

PushButtonPlan PlanPushButton(Size client, Size caption, bool active, unsigned itemState,
                              bool enabled) {
  PushButtonPlan p;
  const Rect whole{0, 0, client.cx, client.cy};
  const bool focused = (itemState & kOdsFocus) != 0;
  p.pressed = (itemState & kOdsSelected) != 0;
  p.frameFlags = 0x2010u | (p.pressed ? 0x200u : 0u) | ((itemState & kOdsDisabled) ? 0x100u : 0u);
  Rect r = whole;
  if (active || focused) {
    p.outline = r;
    r = Inflate(r, 1);
  }
  p.edge = r;
  if (p.pressed) p.face = Inflate(r, 1);
  const i64 x = i64{client.cx} / 2 - caption.cx / 2, y = i64{client.cy} / 2 - caption.cy / 2;
  p.caption = {ClampInt(x), ClampInt(y)};
  if (!enabled) p.highlight = Point{ClampInt(x + 1), ClampInt(y + 1)};
  if (active && focused) p.focus = Inflate(whole, 4);
  return p;
}

// ---- message dialog -------------------------------------------------------

int DialogButtonSetOf(std::uint32_t style) { return static_cast<int>(style & 0xF); }
int DialogIconCodeOf(std::uint32_t style) { return static_cast<int>((style >> 4) & 0xF); }
int DialogDefaultOf(std::uint32_t style) { return static_cast<int>((style >> 8) & 0x3); }

DialogButtons DialogButtonSet(std::uint32_t style, const std::array<std::string, 4>& customCaptions) {
  DialogButtons set;
  const int n = DialogButtonSetOf(style);
  for (std::size_t k = 0; k < 4; ++k) {
    DialogButton& b = set.buttons[k];
    if (n < 6) {
      const StandardButton& s = kStandardSets[n][k];
      b.visible = s.caption != nullptr;
      b.caption = s.caption ? s.caption : "";
      b.result = s.result;
    } else {
      b.caption = customCaptions[k];
      b.visible = !b.caption.empty();
      b.result = static_cast<int>(k);
    }
  }
  set.closeResult = set.buttons[0].result;
  return set;
}

DialogIcon ChooseDialogIcon(std::uint32_t style, bool hasUserIcon) {
  const int code = DialogIconCodeOf(style);
  if (code >= 1 && code <= 7) return {DialogIconKind::Resource, code, kDialogIconColumn};
  if (hasUserIcon) return {DialogIconKind::User, 0, kDialogIconColumn};
  return {};
}

std::array<int, 4> DialogCreationOrder(int defaultButton) {
  std::array<int, 4> order{};
  for (int i = 0; i < 4; ++i) order[static_cast<std::size_t>(i)] = (defaultButton + 4 - i) % 4;
  return order;
}

int DialogFocusButton(int defaultButton, const std::array<bool, 4>& visible) {
  for (int k : DialogCreationOrder(defaultButton & 3))
    if (visible[static_cast<std::size_t>(k)]) return k;
  return -1;
}

int DialogMinWidth(Size title) { return ClampInt(i64{title.cx} + 250); }

Size FitDialog(Size text, Size title, int iconColumnWidth, bool button3Visible) {
  i64 width = i64{text.cx} + iconColumnWidth + 20;
  if (button3Visible && width < 300) width = 300;
  width = std::max<i64>(width, DialogMinWidth(title));
  return {ClampInt(width), ClampInt(i64{text.cy} + 100)};
}

DialogArrangement ArrangeDialog(Size dialog, Size text, Size title, int iconColumnWidth) {
  DialogArrangement a;
  const i64 W = dialog.cx, H = dialog.cy;
  const i64 buttonTop = H - 40;  // anchored to the bottom, 40 above it
  const i64 iconTop = 30;

  const i64 titleLeft = (W - title.cx) / 2;
  a.title = MakeRect(titleLeft, 8, titleLeft + title.cx, 8 + i64{title.cy});

  const i64 textLeft = std::max<i64>((W - text.cx) / 2, iconColumnWidth);
  const i64 textTop = (buttonTop + iconTop - text.cy) / 2;
  a.text = MakeRect(textLeft, textTop, textLeft + text.cx, textTop + text.cy);

  a.iconArea = MakeRect(5, iconTop, 5 + i64{iconColumnWidth}, buttonTop);
  for (std::size_t k = 0; k < 4; ++k) {
    const i64 left = W - 80 - 65 * static_cast<i64>(k);
    a.buttons[k] = MakeRect(left, buttonTop, left + kDialogButtonWidth, buttonTop + kDialogButtonHeight);
  }
  a.closeButton = MakeRect(W - 22, 8, W - 10, 20);
  return a;
}

// ---- status line ----------------------------------------------------------

std::string FitStatusText(std::string_view text, int width,
                          const std::function<int(std::string_view)>& measure,
                          bool namesFolder) {
  if (text.empty()) return {};
  return namesFolder ? FitPath(text, width, measure) : FitEnd(text, width, measure);
}

}  // namespace qv::layout
