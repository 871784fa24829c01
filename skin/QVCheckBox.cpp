#include "skin/QVCheckBox.h"

#include <algorithm>

#include "framework/text_conv.h"

namespace qv {

namespace {
constexpr int kBox = 13;  // the system's check box glyph at 96 DPI
constexpr int kGap = 4;
}  // namespace

TQVCheckBox::TQVCheckBox(TComponent* owner) : TLabel(owner) {
  SetAutoSize(false);
  SetTransparent(true);
}

void TQVCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  Invalidate();
}

void TQVCheckBox::FitToCaption() {
  const SIZE s = TextSize();
  SetBounds(Left(), Top(), kBox + kGap + s.cx, std::max<int>(kBox, s.cy));
}

void TQVCheckBox::Click() {
  SetChecked(!checked_);
  if (OnChange) OnChange(checked_);
  TLabel::Click();
}

void TQVCheckBox::Paint() {
  TCanvas& c = Canvas();
  const RECT r = ClientRect();
  RECT box{0, (r.bottom - kBox) / 2, kBox, (r.bottom - kBox) / 2 + kBox};
  ::DrawFrameControl(c.Handle(), &box, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | (checked_ ? DFCS_CHECKED : 0));
  Font().ApplyTo(c);
  c.RequireObjects();
  ::SetBkMode(c.Handle(), TRANSPARENT);
  const std::wstring w = Utf8ToWide(Caption());
  RECT t{kBox + kGap, 0, r.right, r.bottom};
  ::DrawTextW(c.Handle(), w.c_str(), static_cast<int>(w.size()), &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace qv
