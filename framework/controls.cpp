#include "framework/controls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "framework/application.h"
#include "framework/dll_safety.h"
#include "framework/text_conv.h"

namespace qv {

namespace {

constexpr wchar_t kWindowClass[] = L"qvWinControl";
constexpr wchar_t kControlProp[] = L"qvControl";

void RegisterWindowClass(WNDPROC procedure) {
  static bool done = false;
  if (done) return;
  InitCommonControlsSafely();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = nullptr;  // WM_SETCURSOR decides
  wc.lpszClassName = kWindowClass;
  ::RegisterClassExW(&wc);
  done = true;
}

TWinControl* ControlOf(HWND hwnd) { return static_cast<TWinControl*>(::GetPropW(hwnd, kControlProp)); }

BOOL CALLBACK CollectEnabledWindow(HWND w, LPARAM lp) {
  auto* list = reinterpret_cast<std::vector<HWND>*>(lp);
  if (::IsWindowVisible(w) && ::IsWindowEnabled(w)) list->push_back(w);
  return TRUE;
}

// The part of a graphic child that its parent's client area shows. The
// system clips every paint to the client area, so this is the most any
// paint can cover.
RECT ShownPart(HWND parent, const RECT& bounds) {
  RECT client, shown;
  ::GetClientRect(parent, &client);
  if (!::IntersectRect(&shown, &bounds, &client)) shown = RECT{};
  return shown;
}

TShiftState ShiftOf(WPARAM wp) { return static_cast<TShiftState>(GET_KEYSTATE_WPARAM(wp)); }

TMouseButton ButtonOf(UINT msg) {
  switch (msg) {
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK: return TMouseButton::mbRight;
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK: return TMouseButton::mbMiddle;
    default: return TMouseButton::mbLeft;
  }
}

}  // namespace

HCURSOR CursorHandle(TCursor cursor) {
  LPCWSTR id = MAKEINTRESOURCEW(32512);  // IDC_ARROW
  switch (cursor) {
    case crCross: id = MAKEINTRESOURCEW(32515); break;
    case crIBeam: id = MAKEINTRESOURCEW(32513); break;
    case crSizeNESW: id = MAKEINTRESOURCEW(32643); break;
    case crSizeNS: id = MAKEINTRESOURCEW(32645); break;
    case crSizeNWSE: id = MAKEINTRESOURCEW(32642); break;
    case crSizeWE: id = MAKEINTRESOURCEW(32644); break;
    case crHandPoint: id = MAKEINTRESOURCEW(32649); break;
    case crDrag: id = MAKEINTRESOURCEW(32512); break;
    default: break;
  }
  return ::LoadCursorW(nullptr, id);
}

void TFont::ApplyTo(TCanvas& canvas) const {
  canvas.Font.Name = Name;
  canvas.Font.Height = Height;
  canvas.Font.Color = Color;
  canvas.Font.Bold = Bold;
  canvas.Font.Charset = Charset;
}

UniqueFont TFont::Create() const {
  return UniqueFont(::CreateFontW(Height, 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, Charset, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, Utf8ToWide(Name).c_str()));
}

// ------------------------------------------------------------- TComponent

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_) {
    auto& list = owner_->owned_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TComponent::DestroyComponents() {
  // Each one takes itself off the list as it goes.
  while (!owned_.empty()) delete owned_.back();
}

// --------------------------------------------------------------- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) parent_->RemoveControl(this);
  if (parent) parent->InsertControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const bool sized = width != width_ || height != height_;
  if (left == left_ && top == top_ && !sized) return;
  if (parent_ && !Windowed()) InvalidateArea();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (parent_) {
    anchorRight_ = parent_->ClientWidth() - (left_ + width_);
    anchorBottom_ = parent_->ClientHeight() - (top_ + height_);
    if (!Windowed()) {
      InvalidateArea();
      // Only a hinted control has a tool whose rectangle must follow it.
      if (showHint_ && !hint_.empty()) parent_->UpdateHints();
    }
  }
  BoundsChanged();
  if (sized) Resize();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_) parent_->AlignControls();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (parent_) {
    // Hidden controls neither paint nor take the mouse.
    RECT r = BoundsRect();
    if (parent_->HandleAllocated()) ::InvalidateRect(parent_->Handle(), &r, FALSE);
    if (!visible_ && parent_->mouseOver_ == this) parent_->TrackMouse(nullptr);
    if (!visible_ && parent_->captured_ == this) parent_->captured_ = nullptr;
  }
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Invalidate();
}

void TControl::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Invalidate();
}

const TFont& TControl::Font() const {
  if (parentFont_ && parent_) return parent_->Font();
  return font_;
}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  parentFont_ = false;
  FontChanged();
}

void TControl::SetParentFont(bool value) {
  if (value == parentFont_) return;
  if (!value) font_ = Font();
  parentFont_ = value;
  FontChanged();
}

void TControl::ParentFontChanged() {
  if (parentFont_) FontChanged();
}

void TControl::SetCaption(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  TextChanged();
}

void TControl::SetHint(const std::string& hint) {
  hint_ = hint;
  if (parent_) parent_->UpdateHints();
}

void TControl::SetShowHint(bool value) {
  showHint_ = value;
  if (parent_) parent_->UpdateHints();
}

void TControl::Invalidate() {
  // Already waiting for a paint: asking again changes nothing.
  if (invalidPending_) return;
  InvalidateArea();
}

void TControl::InvalidateArea() {
  if (!parent_ || !parent_->HandleAllocated() || !visible_) return;
  RECT r = BoundsRect();
  ::InvalidateRect(parent_->Handle(), &r, FALSE);
  // Nothing shown, nothing to wait for.
  const RECT shown = ShownPart(parent_->Handle(), r);
  invalidPending_ = !Windowed() && !::IsRectEmpty(&shown);
}

void TControl::Update() {
  if (parent_ && parent_->HandleAllocated()) ::UpdateWindow(parent_->Handle());
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

POINT TControl::ClientToScreen(POINT p) const {
  if (Windowed()) {
    auto* self = static_cast<const TWinControl*>(this);
    if (self->HandleAllocated()) ::ClientToScreen(self->hwnd_, &p);
    return p;
  }
  if (!parent_) return p;
  return parent_->ClientToScreen(POINT{p.x + left_, p.y + top_});
}

POINT TControl::ScreenToClient(POINT p) const {
  if (Windowed()) {
    auto* self = static_cast<const TWinControl*>(this);
    if (self->HandleAllocated()) ::ScreenToClient(self->hwnd_, &p);
    return p;
  }
  if (!parent_) return p;
  const POINT q = parent_->ScreenToClient(p);
  return POINT{q.x - left_, q.y - top_};
}

TForm* TControl::ParentForm() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (auto* f = dynamic_cast<TForm*>(const_cast<TControl*>(c))) return f;
  return nullptr;
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

// ------------------------------------------------------------ TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Owned controls go first, while this control is still whole.
  DestroyComponents();
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
  DestroyHandle();
}

void TWinControl::CreateParams(CreateParamsData& params) {
  params.parent = parent_ ? parent_->Handle() : nullptr;
  if (visible_) params.style |= WS_VISIBLE;
  if (!enabled_) params.style |= WS_DISABLED;
  params.text = Utf8ToWide(text_);
}

HWND TWinControl::Handle() {
  if (!hwnd_) CreateHandle();
  return hwnd_;
}

void TWinControl::CreateHandle() {
  RegisterWindowClass(&TWinControl::StaticWndProc);
  CreateParamsData p;
  CreateParams(p);
  // Our own class gets this object with WM_NCCREATE, so every creation
  // message reaches it; a standard control is subclassed once it exists.
  const bool own = p.className == nullptr;
  HWND made = ::CreateWindowExW(p.exStyle, own ? kWindowClass : p.className, p.text.c_str(), p.style, left_, top_,
                                width_, height_, p.parent, nullptr, ::GetModuleHandleW(nullptr), own ? this : nullptr);
  if (!made) throw std::runtime_error("Error creating window");
  if (!own) SubclassStandardControl(made);
  for (TControl* c : controls_)
    if (c->Windowed()) static_cast<TWinControl*>(c)->Handle();
  HandleCreated();
  UpdateHints();
}

void TWinControl::AttachHandle(HWND hwnd) {
  hwnd_ = hwnd;
  ::SetPropW(hwnd_, kControlProp, this);
}

void TWinControl::SubclassStandardControl(HWND hwnd) {
  AttachHandle(hwnd);
  standardProc_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::SubclassProc)));
  // The control lets go of an earlier font before it is deleted.
  UniqueFont font = Font().Create();
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
  standardFont_ = std::move(font);
}

void TWinControl::DestroyHandle() {
  if (!hwnd_) return;
  tooltip_.Reset();
  ::DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void TWinControl::SetPosOnWindow() {
  if (hwnd_) ::MoveWindow(hwnd_, left_, top_, width_, height_, TRUE);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  const bool sized = std::max(width, 0) != width_ || std::max(height, 0) != height_;
  TControl::SetBounds(left, top, width, height);
  SetPosOnWindow();
  if (sized) AlignControls();
}

void TWinControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  TControl::SetVisible(visible);
  if (hwnd_) ::ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
  else if (visible && parent_ && parent_->HandleAllocated()) Handle();
}

void TWinControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  TControl::SetEnabled(enabled);
  if (hwnd_) ::EnableWindow(hwnd_, enabled);
}

void TWinControl::Invalidate() {
  if (hwnd_) ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void TWinControl::TextChanged() {
  if (hwnd_) ::SetWindowTextW(hwnd_, Utf8ToWide(text_).c_str());
  Invalidate();
}

bool TWinControl::Focused() const { return hwnd_ && ::GetFocus() == hwnd_; }

void TWinControl::SetFocus() { ::SetFocus(Handle()); }

void TWinControl::InsertControl(TControl* c) {
  controls_.push_back(c);
  c->parent_ = this;
  c->anchorRight_ = ClientWidth() - (c->left_ + c->width_);
  c->anchorBottom_ = ClientHeight() - (c->top_ + c->height_);
  if (c->align_ != TAlign::alNone) AlignControls();
  if (c->Windowed() && hwnd_) static_cast<TWinControl*>(c)->Handle();
  c->Invalidate();
  UpdateHints();
}

void TWinControl::RemoveControl(TControl* c) {
  c->Invalidate();
  controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
  if (captured_ == c) {
    captured_ = nullptr;
    if (hwnd_ && ::GetCapture() == hwnd_) ::ReleaseCapture();
  }
  if (mouseOver_ == c) mouseOver_ = nullptr;
  c->parent_ = nullptr;
  UpdateHints();
}

void TWinControl::AlignControls() {
  const int w = ClientWidth(), h = ClientHeight();
  for (TControl* c : controls_) {
    if (c->align_ == TAlign::alClient) {
      c->TControl::SetBounds(0, 0, w, h);
      if (c->Windowed()) static_cast<TWinControl*>(c)->SetPosOnWindow();
      continue;
    }
    int left = c->left_, top = c->top_, width = c->width_, height = c->height_;
    const int keepRight = c->anchorRight_, keepBottom = c->anchorBottom_;
    if (c->Anchors & akRight) {
      if (c->Anchors & akLeft) width = w - keepRight - left;
      else left = w - keepRight - width;
    }
    if (c->Anchors & akBottom) {
      if (c->Anchors & akTop) height = h - keepBottom - top;
      else top = h - keepBottom - height;
    }
    if (left != c->left_ || top != c->top_ || width != c->width_ || height != c->height_) {
      c->SetBounds(left, top, width, height);
      c->anchorRight_ = keepRight;  // the distance is what anchoring keeps
      c->anchorBottom_ = keepBottom;
    }
  }
}

void TWinControl::ParentFontChanged() {
  TControl::ParentFontChanged();
  for (TControl* c : controls_) c->ParentFontChanged();
}

TControl* TWinControl::ControlAt(POINT p) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (c->Windowed() || !c->visible_ || !c->enabled_) continue;
    const RECT r = c->BoundsRect();
    if (::PtInRect(&r, p)) return c;
  }
  return nullptr;
}

void TWinControl::TrackMouse(TControl* over) {
  if (over == mouseOver_) return;
  TControl* old = mouseOver_;
  mouseOver_ = over;
  if (old) old->MouseLeave();
  if (over) over->MouseEnter();
}

void TWinControl::UpdateHints() {
  if (!hwnd_) return;
  bool any = false;
  for (TControl* c : controls_) any = any || (c->showHint_ && !c->hint_.empty());
  if (!any && !tooltip_) return;
  if (!tooltip_) {
    tooltip_.Reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr));
  }
  // Tools are rebuilt from the controls as they stand.
  TTTOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V1_SIZE;
  while (::SendMessageW(tooltip_.Get(), TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&ti)))
    ::SendMessageW(tooltip_.Get(), TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  UINT id = 1;
  for (TControl* c : controls_) {
    if (!c->showHint_ || c->hint_.empty()) continue;
    std::wstring text = Utf8ToWide(c->hint_);
    TTTOOLINFOW t{};
    t.cbSize = TTTOOLINFOW_V1_SIZE;
    t.uFlags = TTF_SUBCLASS;
    t.hwnd = hwnd_;
    t.uId = id++;
    t.rect = c->BoundsRect();
    t.lpszText = text.data();
    if (c->Windowed()) {
      t.uFlags |= TTF_IDISHWND;
      t.uId = reinterpret_cast<UINT_PTR>(static_cast<TWinControl*>(c)->Handle());
    }
    ::SendMessageW(tooltip_.Get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&t));
  }
}

void TWinControl::PaintBackground(TCanvas& canvas, const RECT& r) {
  canvas.Brush.Color = color_;
  canvas.FillRect(r);
}

void TWinControl::PaintWindow(HDC dc, const RECT& update) {
  TCanvas canvas;
  canvas.SetHandle(dc);
  PaintBackground(canvas, update);
  for (TControl* c : controls_) {
    if (c->Windowed() || !c->visible_) continue;
    RECT r = c->BoundsRect(), overlap;
    if (!::IntersectRect(&overlap, &r, &update)) continue;
    auto* g = static_cast<TGraphicControl*>(c);
    // The child paints in its own coordinates and never outside itself.
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    // Relative to the origin the caller set (the off-screen buffer's).
    ::OffsetViewportOrgEx(dc, r.left, r.top, nullptr);
    TCanvas childCanvas;
    childCanvas.SetHandle(dc);
    g->paintCanvas_ = &childCanvas;
    TApplication::Instance().Guard([g] { g->Paint(); });
    g->paintCanvas_ = nullptr;
    childCanvas.SetHandle(nullptr);
    ::RestoreDC(dc, saved);
    // Painted all that can be seen of it: a child reaching past the edge
    // is never painted whole.
    const RECT shown = ShownPart(hwnd_, r);
    RECT covered{};
    ::IntersectRect(&covered, &overlap, &shown);
    if (::IsRectEmpty(&shown) || ::EqualRect(&covered, &shown)) g->invalidPending_ = false;
  }
}

LRESULT CALLBACK TWinControl::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // Messages before this one (WM_GETMINMAXINFO) have no object to go to.
  if (msg == WM_NCCREATE)
    if (auto* self = static_cast<TWinControl*>(reinterpret_cast<const CREATESTRUCTW*>(lp)->lpCreateParams))
      self->AttachHandle(hwnd);
  return Deliver(hwnd, msg, wp, lp);
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return Deliver(hwnd, msg, wp, lp);
}

LRESULT TWinControl::Deliver(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TWinControl* self = ControlOf(hwnd);
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  // Nothing thrown crosses the window procedure: the application shows it.
  LRESULT result = 0;
  bool handled = false;
  TApplication::Instance().Guard([&] {
    result = self->WndProc(msg, wp, lp);
    handled = true;
  });
  return handled ? result : 0;
}

LRESULT TWinControl::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp) {
  if (standardProc_) return ::CallWindowProcW(standardProc_, hwnd_, msg, wp, lp);
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT TWinControl::MouseMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  const TShiftState shift = ShiftOf(wp);
  if (!pointerInside_ || !trackingLeave_) {
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd_, 0};
    trackingLeave_ = ::TrackMouseEvent(&tme) != FALSE;
    if (!pointerInside_) {
      pointerInside_ = true;
      MouseEnter();
    }
  }
  TControl* under = standardProc_ ? nullptr : ControlAt(p);
  if (msg == WM_MOUSEMOVE) TrackMouse(under);
  TControl* target = captured_ ? captured_ : under;
  const POINT at = target ? POINT{p.x - target->left_, p.y - target->top_} : p;
  TControl& t = target ? *target : *this;
  switch (msg) {
    case WM_MOUSEMOVE:
      t.MouseMove(shift, at.x, at.y);
      break;
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
      if (target) {
        captured_ = target;
        ::SetCapture(hwnd_);
      }
      t.MouseDown(ButtonOf(msg), shift, at.x, at.y);
      break;
    case WM_LBUTTONDBLCLK: case WM_RBUTTONDBLCLK: case WM_MBUTTONDBLCLK:
      if (target) {
        captured_ = target;
        ::SetCapture(hwnd_);
      }
      t.MouseDown(ButtonOf(msg), shift, at.x, at.y);
      if (msg == WM_LBUTTONDBLCLK) t.DblClick();
      break;
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP: {
      const bool inside = target && at.x >= 0 && at.y >= 0 && at.x < target->width_ && at.y < target->height_;
      if (captured_) {
        captured_ = nullptr;
        if (::GetCapture() == hwnd_) ::ReleaseCapture();
      }
      // A click is a left press and release on the same control.
      if (msg == WM_LBUTTONUP && inside) t.Click();
      t.MouseUp(ButtonOf(msg), shift, at.x, at.y);
      break;
    }
  }
  return standardProc_ ? DefaultHandler(msg, wp, lp) : 0;
}

void TWinControl::PaintBuffered() {
  const PaintScope paint(hwnd_);
  const HDC dc = paint.Get();
  const RECT& u = paint.Area();
  const int w = u.right - u.left, h = u.bottom - u.top;
  if (w > 0 && h > 0) {
    // Off screen first, then one copy: no flicker.
    const UniqueBitmap buffer(::CreateCompatibleBitmap(dc, w, h));
    const BitmapDC mem(dc, buffer.Get());
    ::SetViewportOrgEx(mem.Get(), -u.left, -u.top, nullptr);
    PaintWindow(mem.Get(), u);
    ::SetViewportOrgEx(mem.Get(), 0, 0, nullptr);
    ::BitBlt(dc, u.left, u.top, w, h, mem.Get(), 0, 0, SRCCOPY);
  }
}

bool TWinControl::ChooseCursor(HWND over, WORD hitTest) {
  if (hitTest != HTCLIENT || over != hwnd_) return false;
  POINT p;
  ::GetCursorPos(&p);
  ::ScreenToClient(hwnd_, &p);
  TControl* c = ControlAt(p);
  const TCursor cur = c && c->Cursor != crDefault ? c->Cursor : Cursor;
  // A standard control without a cursor of ours keeps its own.
  if (cur == crDefault && standardProc_) return false;
  ::SetCursor(CursorHandle(cur));
  return true;
}

std::optional<LRESULT> TWinControl::ReflectToChild(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DRAWITEM) {
    auto& item = *reinterpret_cast<DRAWITEMSTRUCT*>(lp);
    TWinControl* child = ControlOf(item.hwndItem);
    if (child && child->CNDrawItem(item)) return TRUE;
    return std::nullopt;
  }
  // A WM_COMMAND from a menu or an accelerator names no control.
  TWinControl* child = lp ? ControlOf(reinterpret_cast<HWND>(lp)) : nullptr;
  if (!child) return std::nullopt;
  if (msg == WM_COMMAND) {
    if (child->CNCommand(HIWORD(wp))) return 0;
  } else if (HBRUSH b = child->CNCtlColor(reinterpret_cast<HDC>(wp))) {
    return reinterpret_cast<LRESULT>(b);
  }
  return std::nullopt;
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      if (!standardProc_) return 1;  // WM_PAINT covers every pixel
      break;
    case WM_PAINT:
      if (standardProc_) break;
      PaintBuffered();
      return 0;
    case WM_PRINTCLIENT:
      if (standardProc_) break;
      PaintWindow(reinterpret_cast<HDC>(wp), RECT{0, 0, width_, height_});
      return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP:
    case WM_LBUTTONDBLCLK: case WM_RBUTTONDBLCLK: case WM_MBUTTONDBLCLK:
      return MouseMessage(msg, wp, lp);
    case WM_MOUSELEAVE:
      trackingLeave_ = false;
      pointerInside_ = false;
      if (!captured_) TrackMouse(nullptr);
      MouseLeave();
      break;
    case WM_CAPTURECHANGED:
      captured_ = nullptr;
      break;
    case WM_SETCURSOR:
      if (ChooseCursor(reinterpret_cast<HWND>(wp), LOWORD(lp))) return TRUE;
      break;
    case WM_COMMAND: case WM_DRAWITEM:
    case WM_CTLCOLOREDIT: case WM_CTLCOLORSTATIC: case WM_CTLCOLORBTN:
      if (const std::optional<LRESULT> r = ReflectToChild(msg, wp, lp)) return *r;
      break;
    case WM_NCDESTROY: {
      ::RemovePropW(hwnd_, kControlProp);
      const LRESULT r = DefaultHandler(msg, wp, lp);
      hwnd_ = nullptr;
      tooltip_.Release();  // the system destroys owned windows with their owner
      return r;
    }
  }
  return DefaultHandler(msg, wp, lp);
}

// ------------------------------------------------------------------ TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  visible_ = false;
  color_ = clBtnFace;
}

TForm::~TForm() {
  if (TApplication::Instance().MainForm == hwnd_ && hwnd_) TApplication::Instance().MainForm = nullptr;
}

void TForm::CreateParams(CreateParamsData& params) {
  TWinControl::CreateParams(params);
  params.style = WS_CLIPCHILDREN | (visible_ ? WS_VISIBLE : 0);
  switch (BorderStyle) {
    case TBorderStyle::bsNone: params.style |= WS_POPUP; break;
    case TBorderStyle::bsSingle: params.style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
    case TBorderStyle::bsDialog:
      params.style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
      params.exStyle |= WS_EX_DLGMODALFRAME;
      break;
  }
  if (StayOnTop) params.exStyle |= WS_EX_TOPMOST;
  // Secondary forms stay above the main window of the application.
  HWND main = TApplication::Instance().MainForm;
  params.parent = main && main != hwnd_ ? main : nullptr;
}

TWindowState TForm::WindowState() const {
  if (!hwnd_) return windowState_;
  if (::IsIconic(hwnd_)) return TWindowState::wsMinimized;
  if (::IsZoomed(hwnd_)) return TWindowState::wsMaximized;
  return TWindowState::wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
  windowState_ = state;
  if (!hwnd_ || !visible_) return;
  ::ShowWindow(hwnd_, state == TWindowState::wsMaximized   ? SW_MAXIMIZE
                      : state == TWindowState::wsMinimized ? SW_MINIMIZE
                                                           : SW_RESTORE);
}

void TForm::SetClientSize(int width, int height) {
  RECT r{0, 0, width, height};
  CreateParamsData p;
  CreateParams(p);
  ::AdjustWindowRectEx(&r, p.style, FALSE, p.exStyle);
  SetBounds(left_, top_, r.right - r.left, r.bottom - r.top);
}

namespace {

constexpr wchar_t kGuardedProc[] = L"qvSetup.CloseGuard";
constexpr wchar_t kOwnClose[] = L"qvSetup.OwnClose";

LRESULT CALLBACK CloseGuardProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  const auto next = reinterpret_cast<WNDPROC>(::GetPropW(w, kGuardedProc));
  switch (msg) {
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE) {
        // The default handling sends WM_CLOSE from in here.
        ::SetPropW(w, kOwnClose, reinterpret_cast<HANDLE>(1));
        const LRESULT r = ::CallWindowProcW(next, w, msg, wp, lp);
        if (::IsWindow(w)) ::RemovePropW(w, kOwnClose);
        return r;
      }
      break;
    case WM_CLOSE:
      if (!::GetPropW(w, kOwnClose)) return 0;
      break;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
      ::RemovePropW(w, kGuardedProc);
      ::RemovePropW(w, kOwnClose);
      break;
  }
  return ::CallWindowProcW(next, w, msg, wp, lp);
}

}  // namespace

void CloseOnlyByHand(HWND window) {
  if (!window || ::GetPropW(window, kGuardedProc)) return;
  const auto next = reinterpret_cast<HANDLE>(::GetWindowLongPtrW(window, GWLP_WNDPROC));
  ::SetPropW(window, kGuardedProc, next);
  ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CloseGuardProc));
}

int TForm::ShowModal() {
  TApplication& app = TApplication::Instance();
  HWND self = Handle();
  // Every other window of this thread waits while the dialog is up.
  std::vector<HWND> disabled;
  ::EnumThreadWindows(::GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  disabled.erase(std::remove(disabled.begin(), disabled.end(), self), disabled.end());
  for (HWND w : disabled) ::EnableWindow(w, FALSE);
  modal_ = true;
  ModalResult = mrNone;
  Show();
  ::SetForegroundWindow(self);
  if (ActiveControl && ActiveControl->HandleAllocated()) ActiveControl->SetFocus();
  UpdateButtonStyles();
  while (ModalResult == mrNone && !app.Terminated() && hwnd_) app.HandleMessage();
  if (app.Terminated()) ::PostQuitMessage(0);  // the outer loop ends too
  for (HWND w : disabled) ::EnableWindow(w, TRUE);
  modal_ = false;
  Hide();
  return ModalResult;
}

void TForm::Close() {
  if (OnClose) OnClose(this);
  if (modal_) {
    if (ModalResult == mrNone) ModalResult = mrCancel;
    return;
  }
  if (hwnd_ && TApplication::Instance().MainForm == hwnd_) {
    Hide();
    TApplication::Instance().Terminate();
    return;
  }
  Hide();
}

namespace {

// Every windowed control below a parent, in creation (tab) order.
void CollectWindowed(TWinControl* parent, std::vector<TWinControl*>& out) {
  for (TControl* c : parent->Controls())
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      out.push_back(w);
      CollectWindowed(w, out);
    }
}

// The push buttons below a parent, in creation (tab) order.
std::vector<TWinControl*> DialogButtons(TWinControl* parent) {
  std::vector<TWinControl*> all;
  CollectWindowed(parent, all);
  std::erase_if(all, [](const TWinControl* w) { return !w->DialogButton(); });
  return all;
}

}  // namespace

void TForm::UpdateButtonStyles() {
  const std::vector<TWinControl*> buttons = DialogButtons(this);
  TWinControl* active = nullptr;
  for (TWinControl* b : buttons)
    if (b->Focused()) active = b;
  if (!active)
    for (TWinControl* b : buttons)
      if (b->DialogButton()->isDefault) active = b;
  for (TWinControl* b : buttons) b->SetButtonStyle(b == active);
}

bool TForm::DialogKey(WPARAM key) {
  if (key == VK_TAB) return FocusNextTabStop(::GetKeyState(VK_SHIFT) < 0);
  if (key == VK_RETURN || key == VK_ESCAPE) return PressDialogButton(key == VK_RETURN);
  return false;
}

bool TForm::FocusNextTabStop(bool back) {
  std::vector<TWinControl*> all;
  CollectWindowed(this, all);
  std::vector<TWinControl*> stops;
  for (TWinControl* w : all)
    if (w->HandleAllocated() && ::IsWindowVisible(w->Handle()) && ::IsWindowEnabled(w->Handle()) &&
        (::GetWindowLongPtrW(w->Handle(), GWL_STYLE) & WS_TABSTOP))
      stops.push_back(w);
  if (stops.empty()) return false;
  auto it = std::find_if(stops.begin(), stops.end(), [](TWinControl* w) { return w->Focused(); });
  std::size_t i = it == stops.end() ? 0 : static_cast<std::size_t>(it - stops.begin());
  if (it != stops.end()) i = back ? (i + stops.size() - 1) % stops.size() : (i + 1) % stops.size();
  stops[i]->SetFocus();
  return true;
}

bool TForm::PressDialogButton(bool enter) {
  const std::vector<TWinControl*> buttons = DialogButtons(this);
  TWinControl* target = nullptr;
  for (TWinControl* b : buttons)
    if (enter && b->Focused()) target = b;
  for (TWinControl* b : buttons) {
    const TDialogButton part = *b->DialogButton();
    if (!target && (enter ? part.isDefault : part.isCancel)) target = b;
  }
  if (!target || !target->Enabled()) return false;
  target->Click();
  return true;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == DialogKeyMessage()) return DialogKey(wp) ? 1 : 0;
  switch (msg) {
    case WM_ACTIVATE: {
      const bool active = LOWORD(wp) != WA_INACTIVE;
      if (active != active_) {
        active_ = active;
        const TNotifyEvent& handler = active ? OnActivate : OnDeactivate;
        if (handler) handler(this);
      }
      break;
    }
    case WM_ACTIVATEAPP:
      TApplication::Instance().SetActive(wp != FALSE);
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_GETMINMAXINFO:
      if (MinWidth > 0) reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize.x = MinWidth;
      break;
    case WM_SIZE: {
      RECT r;
      ::GetWindowRect(hwnd_, &r);
      if (wp != SIZE_MINIMIZED && (r.right - r.left != width_ || r.bottom - r.top != height_)) {
        width_ = r.right - r.left;
        height_ = r.bottom - r.top;
        AlignControls();
        Resize();
      }
      break;
    }
    case WM_MOVE: {
      RECT r;
      ::GetWindowRect(hwnd_, &r);
      left_ = r.left;
      top_ = r.top;
      break;
    }
  }
  return TWinControl::WndProc(msg, wp, lp);
}

}  // namespace qv
