#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "framework/portable/messages.h"
#include "skin/message_dialog_rules.h"
#include "tests/host/skin_printers.h"

namespace qv::skin {
namespace {

using namespace qv::texts;  // the captions

TEST(MessageDialog, StandardButtonSets) {
  struct Want {
    const char* caption;  // nullptr: hidden
    int result;
  };
  struct Case {
    std::uint32_t style;
    Want b3, b2, b1, b0;
    int close;
  } cases[] = {
      {0, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {kOk, 1}, 1},
      {1, {nullptr, 0}, {nullptr, 0}, {kOk, 1}, {kCancel, 2}, 2},
      {2, {nullptr, 0}, {kAbort, 3}, {kRetry, 4}, {kIgnore, 5}, 5},
      {3, {nullptr, 0}, {kYes, 6}, {kNo, 7}, {kCancel, 2}, 2},
      {4, {nullptr, 0}, {nullptr, 0}, {kYes, 6}, {kNo, 7}, 7},
      {5, {nullptr, 0}, {nullptr, 0}, {kRetry, 4}, {kCancel, 2}, 2},
      {52, {nullptr, 0}, {nullptr, 0}, {kYes, 6}, {kNo, 7}, 7},
      {514, {nullptr, 0}, {kAbort, 3}, {kRetry, 4}, {kIgnore, 5}, 5},
      {0xFFFF0000u | 48, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {kOk, 1}, 1},
  };
  const std::array<std::string, 4> custom{"w", "x", "y", "z"};  // unused by these sets
  for (const auto& c : cases) {
    DialogButtons set = DialogButtonSet(c.style, custom);
    const Want wants[4] = {c.b0, c.b1, c.b2, c.b3};
    for (std::size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(set.buttons[k].visible, wants[k].caption != nullptr) << c.style << " button " << k;
      if (wants[k].caption) {
        EXPECT_EQ(set.buttons[k].caption, wants[k].caption) << c.style << " button " << k;
        EXPECT_EQ(set.buttons[k].result, wants[k].result) << c.style << " button " << k;
      }
    }
    EXPECT_EQ(set.closeResult, c.close) << c.style;
  }
}

TEST(MessageDialog, CustomButtonSets) {
  for (std::uint32_t style : {6u, 9u, 15u}) {
    DialogButtons set = DialogButtonSet(style, {"Go", "", "停", ""});
    EXPECT_TRUE(set.buttons[0].visible);
    EXPECT_FALSE(set.buttons[1].visible);
    EXPECT_TRUE(set.buttons[2].visible);
    EXPECT_FALSE(set.buttons[3].visible);
    EXPECT_EQ(set.buttons[2].caption, "停");
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(set.buttons[k].result, static_cast<int>(k));
    EXPECT_EQ(set.closeResult, 0);
  }
  DialogButtons none = DialogButtonSet(6, {});
  for (const auto& b : none.buttons) EXPECT_FALSE(b.visible);
  EXPECT_EQ(none.closeResult, 0);
}

TEST(MessageDialog, StyleFieldsCreationOrderAndFocus) {
  struct Case {
    std::uint32_t style;
    int set, icon, def;
    std::array<int, 4> order;
    int focus;
  } cases[] = {
      {0, 0, 0, 0, {0, 3, 2, 1}, 0},
      {52, 4, 3, 0, {0, 3, 2, 1}, 0},       // focus on 否
      {514, 2, 0, 2, {2, 1, 0, 3}, 2},      // focus on 终止
      {0x100 | 4, 4, 0, 1, {1, 0, 3, 2}, 1},  // 是
      {0x300, 0, 0, 3, {3, 2, 1, 0}, 0},    // default hidden: the next visible one
      {0x301, 1, 0, 3, {3, 2, 1, 0}, 1},
      {0x200 | 128 | 3, 3, 8, 2, {2, 1, 0, 3}, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DialogButtonSetOf(c.style), c.set) << c.style;
    EXPECT_EQ(DialogIconCodeOf(c.style), c.icon) << c.style;
    EXPECT_EQ(DialogDefaultOf(c.style), c.def) << c.style;
    EXPECT_EQ(DialogCreationOrder(c.def), c.order) << c.style;
    DialogButtons set = DialogButtonSet(c.style, {});
    std::array<bool, 4> visible{};
    for (std::size_t k = 0; k < 4; ++k) visible[k] = set.buttons[k].visible;
    EXPECT_EQ(DialogFocusButton(c.def, visible), c.focus) << c.style;
  }
  EXPECT_EQ(DialogFocusButton(0, {false, false, false, false}), -1);
}

TEST(MessageDialog, IconChoice) {
  struct Case {
    std::uint32_t style;
    bool userIcon;
    DialogIconKind kind;
    int code, width;
  } cases[] = {
      {16, false, DialogIconKind::Resource, 1, 70},
      {32, true, DialogIconKind::Resource, 2, 70},
      {48, false, DialogIconKind::Resource, 3, 70},
      {64, false, DialogIconKind::Resource, 4, 70},
      {80, false, DialogIconKind::Resource, 5, 70},  // no such bitmap: empty but full width
      {112, false, DialogIconKind::Resource, 7, 70},
      {128, true, DialogIconKind::User, 0, 70},
      {128, false, DialogIconKind::None, 0, 0},
      {0, true, DialogIconKind::User, 0, 70},  // the user icon stays set
      {0, false, DialogIconKind::None, 0, 0},
      {0xF0, true, DialogIconKind::User, 0, 70},
  };
  for (const auto& c : cases) {
    DialogIcon icon = ChooseDialogIcon(c.style, c.userIcon);
    EXPECT_EQ(icon.kind, c.kind) << c.style;
    EXPECT_EQ(icon.code, c.code) << c.style;
    EXPECT_EQ(icon.columnWidth, c.width) << c.style;
  }
}

TEST(MessageDialog, FittedSize) {
  struct Case {
    Size text, title;
    int icon;
    bool button3;
    Size want;
  } cases[] = {
      {{100, 12}, {30, 15}, 70, false, {280, 112}},  // the minimum width wins
      {{200, 12}, {30, 15}, 70, false, {290, 112}},
      {{100, 36}, {30, 15}, 70, false, {280, 136}},  // three lines of 12
      {{300, 12}, {30, 15}, 0, false, {320, 112}},
      {{100, 12}, {10, 15}, 0, false, {260, 112}},
      {{100, 12}, {10, 15}, 0, true, {300, 112}},
      {{100, 12}, {80, 15}, 0, true, {330, 112}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FitDialog(c.text, c.title, c.icon, c.button3), c.want) << c.text.cx << " " << c.title.cx;
  EXPECT_EQ(DialogMinWidth({30, 15}), 280);
}

TEST(MessageDialog, ArrangementOfTheWorkedSizes) {
  struct Case {
    Size dialog, text;
    int icon;
    Rect textRect;
  } cases[] = {
      {{280, 112}, {100, 12}, 70, {90, 45, 190, 57}},  // centred
      {{290, 112}, {200, 12}, 70, {70, 45, 270, 57}},  // beside the icon area
      {{280, 136}, {100, 36}, 70, {90, 45, 190, 81}},
      {{320, 112}, {300, 12}, 0, {10, 45, 310, 57}},
      {{260, 112}, {250, 12}, 0, {5, 45, 255, 57}},
  };
  for (const auto& c : cases) {
    DialogArrangement a = ArrangeDialog(c.dialog, c.text, {30, 15}, c.icon);
    EXPECT_EQ(a.text, c.textRect) << c.dialog.cx;
    const int w = c.dialog.cx, h = c.dialog.cy;
    EXPECT_EQ(a.title, (Rect{(w - 30) / 2, 8, (w - 30) / 2 + 30, 23}));
    EXPECT_EQ(a.iconArea, (Rect{5, 30, 5 + c.icon, h - 40}));
    EXPECT_EQ(a.closeButton, (Rect{w - 22, 8, w - 10, 20}));
    for (std::size_t k = 0; k < 4; ++k) {
      // right edge 20 + 65k from the dialog's, 40 above its bottom
      EXPECT_EQ(a.buttons[k].right, w - 20 - 65 * static_cast<int>(k));
      EXPECT_EQ(a.buttons[k].Width(), 60);
      EXPECT_EQ(a.buttons[k].top, h - 40);
      EXPECT_EQ(a.buttons[k].Height(), 25);
    }
    EXPECT_EQ(a.buttons[1].right + 5, a.buttons[0].left);
  }
  DialogArrangement a = ArrangeDialog({280, 112}, {100, 12}, {30, 15}, 70);
  EXPECT_EQ(a.buttons[0], (Rect{200, 72, 260, 97}));
  EXPECT_EQ(a.buttons[3], (Rect{5, 72, 65, 97}));
  EXPECT_EQ(a.title.left, 125);
}

}  // namespace
}  // namespace qv::skin
