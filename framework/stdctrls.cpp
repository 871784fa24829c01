#include "framework/stdctrls.h"

#include <commctrl.h>

#include "framework/text_conv.h"
#include "framework/portable/little_endian.h"

namespace qv {

// ------------------------------------------------------------------ TIcon

void TIcon::SetHandle(UniqueIcon icon) {
  HICON shown = icon.Get();
  owned_ = std::move(icon);
  Show(shown);
}

void TIcon::SetHandle(HICON borrowed) {
  // Our own icon handed back as borrowed is its owner's to destroy now.
  if (owned_.Get() == borrowed) owned_.Release();
  owned_.Reset();
  Show(borrowed);
}

void TIcon::Show(HICON icon) {
  icon_ = icon;
  size_ = SIZE{0, 0};
  ICONINFO info;
  if (icon_ && ::GetIconInfo(icon_, &info)) {
    // The icon's bitmaps are copies made for us.
    const UniqueBitmap colour(info.hbmColor), mask(info.hbmMask);
    BITMAP bm{};
    ::GetObjectW(colour ? colour.Get() : mask.Get(), sizeof bm, &bm);
    size_ = SIZE{bm.bmWidth, colour ? bm.bmHeight : bm.bmHeight / 2};
  }
  Changed(this);
}

void TIcon::LoadFromResourceName(HINSTANCE instance, const wchar_t* name) {
  UniqueIcon icon(static_cast<HICON>(::LoadImageW(instance, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
  if (!icon) throw std::runtime_error("Icon resource not found");
  SetHandle(std::move(icon));
}

void TIcon::Draw(TCanvas& canvas, const RECT& r) {
  if (icon_) ::DrawIconEx(canvas.Handle(), r.left, r.top, icon_, r.right - r.left, r.bottom - r.top, 0, nullptr, DI_NORMAL);
}

void TIcon::LoadFromStream(TStream& stream) {
  // An .ico file: the system reads it from its bytes.
  std::vector<std::uint8_t> bytes = stream.ReadRest();
  if (bytes.size() < 22) throw EStreamError("Invalid icon");
  const std::uint32_t size = LoadLe32(&bytes[14]);
  const std::uint32_t offset = LoadLe32(&bytes[18]);
  if (offset > bytes.size() || size > bytes.size() - offset) throw EStreamError("Invalid icon");
  UniqueIcon icon(::CreateIconFromResourceEx(bytes.data() + offset, size, TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR));
  if (!icon) throw EStreamError("Invalid icon");
  SetHandle(std::move(icon));
}

void TIcon::SaveToStream(TStream&) { throw EConvertError("Saving icons is not supported"); }

// ----------------------------------------------------------------- TLabel

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
  width_ = 65;
  height_ = 17;
}

SIZE TLabel::TextSize() const {
  // One memory context serves every measurement.
  static UniqueMemoryDC measure(::CreateCompatibleDC(nullptr));
  const TFont& f = Font();
  SelectObjectScope sel(measure.Get(), SharedFont(f.Name, f.Height, f.Bold, f.Charset));
  const std::wstring w = Utf8ToWide(text_.empty() ? std::string(" ") : text_);
  RECT r{0, 0, 0, 0};
  ::DrawTextW(measure.Get(), w.c_str(), static_cast<int>(w.size()), &r, DT_CALCRECT | DT_LEFT | DT_NOPREFIX);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void TLabel::SetParent(TWinControl* parent) {
  TGraphicControl::SetParent(parent);
  AdjustBounds();
}

void TLabel::AdjustBounds() {
  if (!autoSize_) return;
  const SIZE s = TextSize();
  SetBounds(left_, top_, s.cx, s.cy);
}

void TLabel::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  autoSize_ = value;
  AdjustBounds();
}

void TLabel::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Invalidate();
}

void TLabel::TextChanged() {
  AdjustBounds();
  Invalidate();
}

void TLabel::FontChanged() {
  AdjustBounds();
  Invalidate();
}

void TLabel::Paint() {
  TCanvas& c = Canvas();
  const RECT r = ClientRect();
  if (!transparent_) {
    c.Brush.Color = color_;
    c.FillRect(r);
  }
  Font().ApplyTo(c);
  c.RequireObjects();
  ::SetBkMode(c.Handle(), TRANSPARENT);
  // File names and such are shown as they are: '&' marks no accelerator.
  std::wstring w = Utf8ToWide(text_);
  RECT t = r;
  if (!enabled_) {
    ::SetTextColor(c.Handle(), ::GetSysColor(COLOR_BTNHIGHLIGHT));
    ::OffsetRect(&t, 1, 1);
    ::DrawTextW(c.Handle(), w.c_str(), static_cast<int>(w.size()), &t, DT_LEFT | DT_NOPREFIX);
    ::SetTextColor(c.Handle(), ::GetSysColor(COLOR_BTNSHADOW));
    t = r;
  }
  ::DrawTextW(c.Handle(), w.c_str(), static_cast<int>(w.size()), &t, DT_LEFT | DT_NOPREFIX);
}

// ------------------------------------------------------------------ TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  width_ = 121;
  height_ = 25;
  color_ = clWhite;
}

void TEdit::CreateParams(CreateParamsData& params) {
  TWinControl::CreateParams(params);
  params.className = L"EDIT";
  params.style |= WS_TABSTOP | ES_AUTOHSCROLL;
  params.exStyle |= WS_EX_CLIENTEDGE;
}

std::string TEdit::Text() {
  if (!hwnd_) return text_;
  const int n = ::GetWindowTextLengthW(hwnd_);
  std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
  w.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd_, w.data(), n + 1)));
  text_ = WideToUtf8(w);
  return text_;
}

void TEdit::SetText(const std::string& text) {
  text_ = text;
  if (hwnd_) ::SetWindowTextW(hwnd_, Utf8ToWide(text).c_str());
}

// ----------------------------------------------------------- TProgressBar

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner) {
  width_ = 150;
  height_ = 16;
}

void TProgressBar::CreateParams(CreateParamsData& params) {
  TWinControl::CreateParams(params);
  params.className = PROGRESS_CLASSW;
  if (Smooth) params.style |= PBS_SMOOTH;
}

void TProgressBar::HandleCreated() {
  ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  ::SendMessageW(hwnd_, PBM_SETSTEP, static_cast<WPARAM>(Step), 0);
  Sync(true);
}

int TProgressBar::Filled() const {
  const int span = max_ - min_;
  if (span <= 0) return 0;
  return static_cast<int>(static_cast<long long>(position_ - min_) * std::max(width_, 1) / span);
}

void TProgressBar::Sync(bool force) {
  // The bar redraws itself on every message; tell it only when the filled
  // part it shows actually changes.
  if (!hwnd_) return;
  const int filled = Filled();
  if (!force && filled == shownFilled_) return;
  shownFilled_ = filled;
  ::SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

void TProgressBar::SetMin(int v) {
  min_ = v;
  if (hwnd_) ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  Sync(true);
}

void TProgressBar::SetMax(int v) {
  max_ = v;
  if (hwnd_) ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  position_ = std::min(std::max(position_, min_), std::max(max_, min_));
  Sync(true);
}

void TProgressBar::SetPosition(int v) {
  position_ = std::min(std::max(v, min_), std::max(max_, min_));
  Sync(false);
}

void TProgressBar::StepIt() {
  // The bar wraps to its minimum when a step passes the maximum.
  position_ += Step;
  if (position_ > max_) position_ = min_ + (position_ - max_);
  Sync(false);
}

// ---------------------------------------------------------------- TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  width_ = 75;
  height_ = 25;
}

void TButton::CreateParams(CreateParamsData& params) {
  TWinControl::CreateParams(params);
  params.className = L"BUTTON";
  params.style |= WS_TABSTOP | (Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void TButton::Click() {
  if (ModalResult != mrNone)
    if (TForm* f = ParentForm()) f->ModalResult = ModalResult;
  TControl::Click();
}

void TButton::SetButtonStyle(bool isActive) {
  if (!hwnd_) return;
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
  if ((style & 0x0F) == BS_OWNERDRAW) return;
  ::SendMessageW(hwnd_, BM_SETSTYLE, isActive ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

bool TButton::CNCommand(WORD code) {
  if (code != BN_CLICKED) return false;
  Click();
  return true;
}

LRESULT TButton::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  const LRESULT r = TWinControl::WndProc(msg, wp, lp);
  if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS)
    if (TForm* f = ParentForm()) f->UpdateButtonStyles();
  return r;
}

// ----------------------------------------------------------- TSpeedButton

TSpeedButton::TSpeedButton(TComponent* owner) : TGraphicControl(owner) {
  width_ = 23;
  height_ = 22;
}

void TSpeedButton::MouseEnter() {
  hot_ = true;
  if (Flat) Invalidate();
}

void TSpeedButton::MouseLeave() {
  hot_ = false;
  if (Flat) Invalidate();
}

void TSpeedButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft && enabled_) {
    down_ = true;
    Invalidate();
  }
  TGraphicControl::MouseDown(button, shift, x, y);
}

void TSpeedButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (down_) {
    down_ = false;
    Invalidate();
  }
  TGraphicControl::MouseUp(button, shift, x, y);
}

void TSpeedButton::Paint() {
  TCanvas& c = Canvas();
  RECT r = ClientRect();
  if (!Transparent) {
    c.Brush.Color = color_;
    c.FillRect(r);
  }
  if (!Flat) {
    ::DrawFrameControl(c.Handle(), &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (down_ ? DFCS_PUSHED : 0));
  } else if (down_) {
    ::DrawEdge(c.Handle(), &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  } else if (hot_) {
    ::DrawEdge(c.Handle(), &r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
  }
  const int shift = down_ ? 1 : 0;
  int textLeft = r.left;
  if (!glyph_.Empty()) {
    glyph_.SetTransparent(true);
    const int gx = text_.empty() ? (width_ - glyph_.Width()) / 2 : r.left + 2;
    c.Draw(gx + shift, (height_ - glyph_.Height()) / 2 + shift, glyph_);
    textLeft = gx + glyph_.Width() + 2;
  }
  if (!text_.empty()) {
    Font().ApplyTo(c);
    if (!enabled_) c.Font.Color = clBtnShadow;
    c.RequireObjects();
    ::SetBkMode(c.Handle(), TRANSPARENT);
    const SIZE s = c.TextExtent(text_);
    const int x = glyph_.Empty() ? (width_ - s.cx) / 2 : textLeft;
    c.TextOut(x + shift, (height_ - s.cy) / 2 + shift, text_);
  }
}

// ----------------------------------------------------------------- TImage

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
  width_ = 105;
  height_ = 105;
  picture_.OnChange = [this](TPicture*) { PictureChanged(); };
}

void TImage::PictureChanged() {
  if (AutoSize && picture_.Width() > 0 && picture_.Height() > 0)
    SetBounds(left_, top_, picture_.Width(), picture_.Height());
  Invalidate();
}

void TImage::Paint() {
  TGraphic* g = picture_.Graphic();
  if (!g || g->Empty()) return;
  g->SetTransparent(Transparent);
  if (Stretch) {
    Canvas().StretchDraw(ClientRect(), *g);
    return;
  }
  const int x = Center ? (width_ - g->Width()) / 2 : 0;
  const int y = Center ? (height_ - g->Height()) / 2 : 0;
  Canvas().Draw(x, y, *g);
}

}  // namespace qv
