#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Whatever the text and the title measure, the dialog fitted to them holds
// every part inside it and none over another: the whole text clear of the
// buttons, the icon, the title and the close button.
TEST(MessageDialog, TheFittedDialogHoldsEveryPartApart) {
  constexpr int kIconSide = 32;  // our icon bitmaps, centred in their area
  const std::array<std::string, 4> four{"A", "B", "C", "D"};
  struct Case {
    Size text, title;
    bool icon;
    std::uint32_t style;  // which buttons show
  } cases[] = {
      {{100, 12}, {30, 15}, true, kMbOk},
      {{200, 12}, {30, 15}, true, kMbAbortRetryIgnore},
      {{100, 36}, {30, 15}, true, kMbYesNoCancel},  // three lines
      {{300, 12}, {30, 15}, false, kMbOk},
      {{1, 12}, {1, 15}, false, kMbOk},
      {{10, 12}, {10, 15}, false, 6},  // four buttons of the caller's
      {{10, 12}, {10, 15}, true, 6},
      {{100, 12}, {400, 15}, true, kMbOkCancel},  // a long title
      {{600, 120}, {30, 15}, true, kMbYesNo},     // a long text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "text " << c.text.cx << "x" << c.text.cy << ", title " << c.title.cx
                                      << ", style " << c.style << (c.icon ? ", icon" : ""));
    const DialogButtons set = DialogButtonSet(c.style, four);
    const int column = ChooseDialogIcon(c.icon ? kMbIconExclamation : 0, false).columnWidth;
    const Size size = FitDialog(c.text, c.title, column, set.buttons[3].visible);
    const DialogArrangement a = ArrangeDialog(size, c.text, c.title, column);
    const auto inside = [&](const Rect& r) {
      return r.left >= 0 && r.top >= 0 && r.right <= size.cx && r.bottom <= size.cy;
    };
    std::vector<Rect> parts{a.title, a.closeButton};
    if (c.icon) {
      const int left = a.iconArea.left + (a.iconArea.Width() - kIconSide) / 2;
      const int top = a.iconArea.top + (a.iconArea.Height() - kIconSide) / 2;
      parts.push_back({left, top, left + kIconSide, top + kIconSide});
    }
    for (std::size_t k = 0; k < 4; ++k)
      if (set.buttons[k].visible) parts.push_back(a.buttons[k]);
    EXPECT_EQ((Size{a.text.Width(), a.text.Height()}), c.text) << "the text is cut";
    EXPECT_TRUE(inside(a.text)) << a.text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_TRUE(inside(parts[i])) << parts[i];
      EXPECT_FALSE(Overlap(a.text, parts[i])) << a.text << " over " << parts[i];
      for (std::size_t j = i + 1; j < parts.size(); ++j)
        EXPECT_FALSE(Overlap(parts[i], parts[j])) << parts[i] << " over " << parts[j];
    }
  }
}

}  // namespace
}  // namespace qv::skin
