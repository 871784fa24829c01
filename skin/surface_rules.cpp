#include "skin/surface_rules.h"

#include <algorithm>
#include <cstdint>

namespace qv::skin {
namespace {

using i64 = std::int64_t;

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

}  // namespace

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

Hit HitZone(int x, int y, int width, int height, bool sizeable, bool maximised) {
  if (maximised) return {};
  const i64 X = x, Y = y, W = width, H = height;
  auto in = [](i64 v, i64 lo, i64 hi) { return lo <= v && v <= hi; };
  if (sizeable) {
    const bool left = in(X, 0, kCornerZone), right = in(X, W - kCornerZone, W);
    const bool top = in(Y, 0, kCornerZone), bottom = in(Y, H - kCornerZone, H);
    if (left && top) return {Zone::TopLeft, crSizeNWSE, kScSize + kWmszTopLeft};
    if (right && top) return {Zone::TopRight, crSizeNESW, kScSize + kWmszTopRight};
    if (left && bottom) return {Zone::BottomLeft, crSizeNESW, kScSize + kWmszBottomLeft};
    if (right && bottom) return {Zone::BottomRight, crSizeNWSE, kScSize + kWmszBottomRight};
    const bool allX = in(X, 0, W), allY = in(Y, 0, H);
    if (in(X, 0, kEdgeZone) && allY) return {Zone::Left, crSizeWE, kScSize + kWmszLeft};
    if (in(X, W - kEdgeZone, W) && allY) return {Zone::Right, crSizeWE, kScSize + kWmszRight};
    if (allX && in(Y, 0, kEdgeZone)) return {Zone::Top, crSizeNS, kScSize + kWmszTop};
    if (allX && in(Y, H - kEdgeZone, H)) return {Zone::Bottom, crSizeNS, kScSize + kWmszBottom};
  }
  if (InCaptionBand(x, y, width)) return {Zone::Caption, crHandPoint, kScMoveCaption};
  return {};
}

bool InCaptionBand(int x, int y, int width) {
  return 0 <= x && x <= width && 0 <= y && y <= kCaptionBand;
}

}  // namespace qv::skin
