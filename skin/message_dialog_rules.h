// TqvInfoDlg's rules, portable: what the style word asks for (buttons,
// icon, default button) and the dialog's geometry. The dialog only carries
// out what these answer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "skin/skin_types.h"

namespace qv::skin {

// The platform's message-box style word: the button set in bits 0-3, the
// icon in bits 4-7, the default button in bits 8-9.
inline constexpr std::uint32_t kMbTypeMask = 0x0F;
inline constexpr std::uint32_t kMbOk = 0x00, kMbOkCancel = 0x01, kMbAbortRetryIgnore = 0x02,
                               kMbYesNoCancel = 0x03, kMbYesNo = 0x04, kMbRetryCancel = 0x05;
inline constexpr std::uint32_t kMbIconMask = 0xF0;
inline constexpr std::uint32_t kMbIconHand = 0x10, kMbIconQuestion = 0x20, kMbIconExclamation = 0x30,
                               kMbIconAsterisk = 0x40, kMbUserIcon = 0x80;

// The platform's answers, as the standard button sets give them.
inline constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7;
// The dialog ended with no button pressed: the program was told to quit.
inline constexpr int kIdNoAnswer = -1;

inline constexpr int kDialogInitialWidth = 500;
inline constexpr int kDialogInitialHeight = 250;
inline constexpr int kDialogIconColumn = 70;
inline constexpr int kDialogButtonWidth = 60;
inline constexpr int kDialogButtonHeight = 25;

int DialogButtonSetOf(std::uint32_t style);  // bits 0-3
int DialogIconCodeOf(std::uint32_t style);   // bits 4-7
int DialogDefaultOf(std::uint32_t style);    // bits 8-9

struct DialogButton {
  bool visible = false;
  std::string caption;  // UTF-8
  int result = 0;
};

// Index 0 is the rightmost button.
struct DialogButtons {
  std::array<DialogButton, 4> buttons;
  int closeResult = 0;  // the close button answers what button 0 would
};

DialogButtons DialogButtonSet(std::uint32_t style, const std::array<std::string, 4>& customCaptions);

enum class DialogIconKind { None, Resource, User };

struct DialogIcon {
  DialogIconKind kind = DialogIconKind::None;
  int code = 0;         // Resource: "qvInfoDlgIcon" + code; only 1..4 exist
  int columnWidth = 0;  // 70 with any icon area, 0 without
};

DialogIcon ChooseDialogIcon(std::uint32_t style, bool hasUserIcon);

// Button indexes in creation (= tab) order for default button d.
std::array<int, 4> DialogCreationOrder(int defaultButton);
// The button that gets the focus first, -1 when none is visible.
int DialogFocusButton(int defaultButton, const std::array<bool, 4>& visible);

// The dialog's final size for the measured text and title label sizes.
Size FitDialog(Size text, Size title, int iconColumnWidth, bool button3Visible);
int DialogMinWidth(Size title);

struct DialogArrangement {
  Rect title;
  Rect text;
  Rect iconArea;
  std::array<Rect, 4> buttons;  // index 0 rightmost; hidden ones keep their place
  Rect closeButton;
};

// Where everything stands in a dialog of the given size; the resize handler
// places every control from it.
DialogArrangement ArrangeDialog(Size dialog, Size text, Size title, int iconColumnWidth);

}  // namespace qv::skin
