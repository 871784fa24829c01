#include "QVButton.h"

#include "text_conv.h"

namespace qv {

namespace {
constexpr TColor kFace = 0x00DFDFDF;
constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014);
}  // namespace

TQVButton::TQVButton(TComponent* owner) : TButton(owner) { color_ = kFace; }

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

POINT TQVButton::CaptionOrigin(int width, int height, SIZE caption) {
  return POINT{width / 2 - caption.cx / 2, height / 2 - caption.cy / 2};
}

bool TQVButton::CNDrawItem(DRAWITEMSTRUCT& item) {
  canvas_.SetHandle(item.hDC);
  HDC dc = item.hDC;
  RECT r = ClientRect();
  const bool pressed = item.itemState & ODS_SELECTED;
  const bool focused = item.itemState & ODS_FOCUS;
  const bool disabled = item.itemState & ODS_DISABLED;
  UINT flags = DFCS_BUTTONPUSH | DFCS_ADJUSTRECT;
  if (pressed) flags |= DFCS_PUSHED;
  if (disabled) flags |= DFCS_INACTIVE;

  if (active_ || focused) {
    // A one-pixel dark outline around the active or focused button.
    canvas_.Pen.Color = clWindowFrame;
    canvas_.Pen.Width = 1;
    canvas_.RequireObjects();
    HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
    ::SelectObject(dc, old);
    ::InflateRect(&r, -1, -1);
  }
  canvas_.Pen.Color = clBtnShadow;
  canvas_.Pen.Width = 1;
  canvas_.Brush.Color = color_;
  if (pressed) {
    canvas_.Rectangle(r);
    ::InflateRect(&r, -1, -1);
  } else {
    ::DrawFrameControl(dc, &r, DFC_BUTTON, flags);
  }
  canvas_.FillRect(r);

  Font().ApplyTo(canvas_);
  canvas_.RequireObjects();
  ::SetBkMode(dc, TRANSPARENT);
  const SIZE size = canvas_.TextExtent(text_);
  const POINT at = CaptionOrigin(width_, height_, size);
  // Drawn literally: an ampersand is just a character.
  const std::wstring caption = GbkToWide(text_);
  if (!enabled_) {
    ::SetTextColor(dc, ColorToRGB(clBtnHighlight));
    ::TextOutW(dc, at.x + 1, at.y + 1, caption.c_str(), static_cast<int>(caption.size()));
    ::SetTextColor(dc, ColorToRGB(clBtnShadow));
  }
  ::TextOutW(dc, at.x, at.y, caption.c_str(), static_cast<int>(caption.size()));

  if (active_ && focused) {
    RECT f = ClientRect();
    ::InflateRect(&f, -4, -4);
    canvas_.Pen.Color = clWindowFrame;
    canvas_.Brush.Color = color_;
    canvas_.RequireObjects();
    ::DrawFocusRect(dc, &f);
  }
  canvas_.SetHandle(nullptr);
  return true;
}

}  // namespace qv
