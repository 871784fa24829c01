#include "skin/QVButton.h"

#include "framework/handles.h"
#include "framework/text_conv.h"
#include "skin/push_button_rules.h"

namespace qv {

namespace {
constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014);

static_assert(skin::kOdsSelected == ODS_SELECTED && skin::kOdsDisabled == ODS_DISABLED &&
              skin::kOdsFocus == ODS_FOCUS);
static_assert(skin::kDfcsButtonPush == DFCS_BUTTONPUSH && skin::kDfcsInactive == DFCS_INACTIVE &&
              skin::kDfcsPushed == DFCS_PUSHED && skin::kDfcsAdjustRect == DFCS_ADJUSTRECT);

RECT ToRect(const skin::Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
}  // namespace

TQVButton::TQVButton(TComponent* owner) : TButton(owner) { color_ = skin::kFaceColour; }

void TQVButton::CreateParams(CreateParamsData& params) {
  TButton::CreateParams(params);
  params.style = (params.style & ~static_cast<DWORD>(0x0F)) | BS_OWNERDRAW;
}

void TQVButton::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  if (hwnd_) ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void TQVButton::SetButtonStyle(bool isActive) {
  if (isActive == active_) return;
  active_ = isActive;
  if (hwnd_) {
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    ::UpdateWindow(hwnd_);
  }
}

bool TQVButton::CNDrawItem(DRAWITEMSTRUCT& item) {
  canvas_.SetHandle(item.hDC);
  HDC dc = item.hDC;
  Font().ApplyTo(canvas_);
  const SIZE size = canvas_.TextExtent(text_);
  // The plan holds every place and state; this only carries it out.
  const skin::PushButtonPlan plan =
      skin::PlanPushButton({width_, height_}, {size.cx, size.cy}, active_, item.itemState, enabled_);

  if (plan.outline) {
    canvas_.Pen.Color = clWindowFrame;
    canvas_.Pen.Width = 1;
    canvas_.RequireObjects();
    const RECT o = ToRect(*plan.outline);
    SelectObjectScope hollow(dc, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, o.left, o.top, o.right, o.bottom);
  }
  canvas_.Pen.Color = clBtnShadow;
  canvas_.Pen.Width = 1;
  canvas_.Brush.Color = color_;
  RECT face = ToRect(plan.edge);
  if (plan.pressed) {
    canvas_.Rectangle(face);
    face = ToRect(*plan.face);
  } else {
    ::DrawFrameControl(dc, &face, DFC_BUTTON, plan.frameFlags);  // leaves the inside of its frame
  }
  canvas_.FillRect(face);

  canvas_.RequireObjects();  // the font and its colour, for the caption
  ::SetBkMode(dc, TRANSPARENT);
  // Drawn literally: an ampersand is just a character.
  const std::wstring caption = Utf8ToWide(text_);
  if (plan.highlight) {
    ::SetTextColor(dc, ColorToRGB(clBtnHighlight));
    ::TextOutW(dc, plan.highlight->x, plan.highlight->y, caption.c_str(), static_cast<int>(caption.size()));
    ::SetTextColor(dc, ColorToRGB(clBtnShadow));
  }
  ::TextOutW(dc, plan.caption.x, plan.caption.y, caption.c_str(), static_cast<int>(caption.size()));

  if (plan.focus) {
    const RECT f = ToRect(*plan.focus);
    canvas_.Pen.Color = clWindowFrame;
    canvas_.Brush.Color = color_;
    canvas_.RequireObjects();
    ::DrawFocusRect(dc, &f);
  }
  canvas_.SetHandle(nullptr);
  return true;
}

}  // namespace qv
