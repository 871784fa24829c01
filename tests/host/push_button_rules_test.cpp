#include <gtest/gtest.h>

#include <optional>

#include "skin/push_button_rules.h"
#include "tests/host/skin_printers.h"

namespace qv::skin {
namespace {

TEST(PushButton, CaptionPlaceAndDisabledCopy) {
  struct Case {
    Size client, caption;
    bool enabled;
    Point at;
    std::optional<Point> highlight;
  } cases[] = {
      {{75, 25}, {24, 12}, true, {25, 6}, std::nullopt},
      {{75, 25}, {24, 12}, false, {25, 6}, Point{26, 7}},
      // halves taken apart: 38 - 12, not (76 - 25) / 2
      {{76, 25}, {25, 13}, true, {26, 6}, std::nullopt},
      {{75, 25}, {101, 31}, true, {-13, -3}, std::nullopt},
  };
  for (const auto& c : cases) {
    for (unsigned state : {0u, kOdsSelected}) {  // a press does not move it
      PushButtonPlan p = PlanPushButton(c.client, c.caption, false, state, c.enabled);
      EXPECT_EQ(p.caption, c.at) << c.client.cx << " " << c.caption.cx << " state " << state;
      EXPECT_EQ(p.highlight, c.highlight) << c.client.cx << " " << c.caption.cx;
    }
  }
}

TEST(PushButton, OutlinesFrameAndFocus) {
  struct Case {
    bool active;
    unsigned state;
    std::optional<Rect> outline;
    Rect edge;
    std::optional<Rect> face;
    unsigned flags;
    std::optional<Rect> focus;
  } cases[] = {
      {false, 0, std::nullopt, {0, 0, 75, 25}, std::nullopt, 0x2010, std::nullopt},
      {true, 0, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, std::nullopt, 0x2010, std::nullopt},
      {false, kOdsFocus, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, std::nullopt, 0x2010, std::nullopt},
      {true, kOdsFocus, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, std::nullopt, 0x2010, Rect{4, 4, 71, 21}},
      {true, kOdsFocus | kOdsSelected, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, Rect{2, 2, 73, 23}, 0x2210,
       Rect{4, 4, 71, 21}},
      {false, kOdsSelected, std::nullopt, {0, 0, 75, 25}, Rect{1, 1, 74, 24}, 0x2210, std::nullopt},
      {false, kOdsDisabled, std::nullopt, {0, 0, 75, 25}, std::nullopt, 0x2110, std::nullopt},
  };
  for (const auto& c : cases) {
    PushButtonPlan p = PlanPushButton({75, 25}, {24, 12}, c.active, c.state, true);
    EXPECT_EQ(p.outline, c.outline) << c.active << " " << c.state;
    EXPECT_EQ(p.edge, c.edge) << c.active << " " << c.state;
    EXPECT_EQ(p.pressed, (c.state & kOdsSelected) != 0);
    EXPECT_EQ(p.face, c.face) << c.active << " " << c.state;
    EXPECT_EQ(p.frameFlags, c.flags) << c.active << " " << c.state;
    EXPECT_EQ(p.focus, c.focus) << c.active << " " << c.state;
  }
}

}  // namespace
}  // namespace qv::skin
