// TQVButton's rules, portable: where the colour push button draws its
// outline, frame, face, caption and focus for a draw-item request. The
// button only carries out the plan.
#pragma once

#include <optional>

#include "skin/skin_types.h"

namespace qv::skin {

// ODS_ bits of a draw-item record's state.
inline constexpr unsigned kOdsSelected = 0x0001, kOdsDisabled = 0x0004, kOdsFocus = 0x0010;

// DFCS_ flags for DrawFrameControl(DFC_BUTTON).
inline constexpr unsigned kDfcsButtonPush = 0x0010, kDfcsInactive = 0x0100, kDfcsPushed = 0x0200,
                          kDfcsAdjustRect = 0x2000;

struct PushButtonPlan {
  std::optional<Rect> outline;  // dark outline (active or focused), clWindowFrame
  Rect edge;                    // pressed: clBtnShadow Rectangle; else DrawFrameControl
  bool pressed = false;
  unsigned frameFlags = 0;      // kDfcs* flags
  std::optional<Rect> face;     // pressed: the face fill; unset: fill what DrawFrameControl leaves
  Point caption;
  std::optional<Point> highlight;  // disabled: clBtnHighlight copy, drawn first
  std::optional<Rect> focus;       // DrawFocusRect, when active and focused
};

// itemState: the draw-item record's ODS_* bits; enabled: the control's own flag.
PushButtonPlan PlanPushButton(Size client, Size caption, bool active, unsigned itemState,
                              bool enabled);

}  // namespace qv::skin
