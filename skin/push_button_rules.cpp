#include "skin/push_button_rules.h"

#include <cstdint>

namespace qv::skin {
namespace {
using i64 = std::int64_t;
}  // namespace

PushButtonPlan PlanPushButton(Size client, Size caption, bool active, unsigned itemState,
                              bool enabled) {
  PushButtonPlan p;
  const Rect whole{0, 0, client.cx, client.cy};
  const bool focused = (itemState & kOdsFocus) != 0;
  p.pressed = (itemState & kOdsSelected) != 0;
  p.frameFlags = kDfcsButtonPush | kDfcsAdjustRect | (p.pressed ? kDfcsPushed : 0u) |
                 ((itemState & kOdsDisabled) ? kDfcsInactive : 0u);
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

}  // namespace qv::skin
