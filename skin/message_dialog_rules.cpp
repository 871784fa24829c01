#include "skin/message_dialog_rules.h"

#include <algorithm>
#include <cstddef>

#include "framework/portable/messages.h"

namespace qv::skin {
namespace {

using i64 = std::int64_t;

struct StandardButton {
  bool visible;
  texts::Dialog caption;  // in the run's language
  int result;
};

using texts::Dialog;
constexpr StandardButton kOk{true, Dialog::Ok, kIdOk};
constexpr StandardButton kCancel{true, Dialog::Cancel, kIdCancel};
constexpr StandardButton kAbort{true, Dialog::Abort, kIdAbort};
constexpr StandardButton kRetry{true, Dialog::Retry, kIdRetry};
constexpr StandardButton kIgnore{true, Dialog::Ignore, kIdIgnore};
constexpr StandardButton kYes{true, Dialog::Yes, kIdYes};
constexpr StandardButton kNo{true, Dialog::No, kIdNo};
constexpr StandardButton kHidden{false, Dialog::Ok, 0};

// Rows are button sets kMbOk to kMbRetryCancel, columns buttons 0
// (rightmost) to 3.
constexpr StandardButton kStandardSets[6][4] = {
    {kOk, kHidden, kHidden, kHidden},
    {kCancel, kOk, kHidden, kHidden},
    {kIgnore, kRetry, kAbort, kHidden},
    {kCancel, kNo, kYes, kHidden},
    {kNo, kYes, kHidden, kHidden},
    {kCancel, kRetry, kHidden, kHidden},
};

}  // namespace

int DialogButtonSetOf(std::uint32_t style) { return static_cast<int>(style & kMbTypeMask); }
int DialogIconCodeOf(std::uint32_t style) { return static_cast<int>((style & kMbIconMask) >> 4); }
int DialogDefaultOf(std::uint32_t style) { return static_cast<int>((style >> 8) & 0x3); }

DialogButtons DialogButtonSet(std::uint32_t style, const std::array<std::string, 4>& customCaptions) {
  DialogButtons set;
  const int n = DialogButtonSetOf(style);
  for (std::size_t k = 0; k < 4; ++k) {
    DialogButton& b = set.buttons[k];
    if (n < 6) {
      const StandardButton& s = kStandardSets[n][k];
      b.visible = s.visible;
      b.caption = s.visible ? texts::Say(s.caption) : std::string();
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

}  // namespace qv::skin
