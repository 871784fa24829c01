#include "skin/qvForm.h"

#include "framework/application.h"

namespace qv {

// The portable rules spell out the platform's and the framework's numbers.
static_assert(skin::kScSize == SC_SIZE && skin::kScMove == SC_MOVE && skin::kHtCaption == HTCAPTION);
static_assert(skin::kWmszLeft == WMSZ_LEFT && skin::kWmszRight == WMSZ_RIGHT && skin::kWmszTop == WMSZ_TOP &&
              skin::kWmszTopLeft == WMSZ_TOPLEFT && skin::kWmszTopRight == WMSZ_TOPRIGHT &&
              skin::kWmszBottom == WMSZ_BOTTOM && skin::kWmszBottomLeft == WMSZ_BOTTOMLEFT &&
              skin::kWmszBottomRight == WMSZ_BOTTOMRIGHT);
static_assert(skin::crDefault == crDefault && skin::crSizeNESW == crSizeNESW && skin::crSizeNS == crSizeNS &&
              skin::crSizeNWSE == crSizeNWSE && skin::crSizeWE == crSizeWE && skin::crHandPoint == crHandPoint);

TqvForm::TqvForm(TComponent* owner) : TGraphicControl(owner), skin_(std::make_unique<TQVBitmap>()) {
  if (auto* parent = dynamic_cast<TWinControl*>(owner)) SetParent(parent);
  picture_.OnChange = [this](TPicture*) { PictureChanged(); };
  SetAlign(TAlign::alClient);
  if (align_ != TAlign::alClient || !parent_) SetBounds(0, 0, 32, 32);
}

TqvForm::~TqvForm() {
  if (appEventsHooked_) {
    TApplication& app = TApplication::Instance();
    app.OnDeactivate = savedAppDeactivate_;
    app.OnActivate = savedAppActivate_;
  }
}

HWND TqvForm::ParentHandle() const { return parent_ ? parent_->Handle() : nullptr; }

void TqvForm::Loaded() {
  TGraphicControl::Loaded();
  savedDblClick_ = OnDblClick;
  OnDblClick = [this](TObject* s) { SurfaceDblClick(s); };
  TApplication& app = TApplication::Instance();
  savedAppDeactivate_ = app.OnDeactivate;
  savedAppActivate_ = app.OnActivate;
  appEventsHooked_ = true;
  app.OnDeactivate = [this](TObject* s) {
    FormActiveChanged(this);
    if (savedAppDeactivate_) savedAppDeactivate_(s);
  };
  app.OnActivate = [this](TObject* s) {
    FormActiveChanged(this);
    if (savedAppActivate_) savedAppActivate_(s);
  };
  auto* form = dynamic_cast<TForm*>(parent_);
  if (!form) throw std::runtime_error("Invalid class typecast");
  form->OnActivate = [this](TObject* s) { FormActiveChanged(s); };
  form->OnDeactivate = [this](TObject* s) { FormActiveChanged(s); };
}

void TqvForm::SetSizeable(bool value) {
  if (value == sizeable_) return;
  sizeable_ = value;
  Invalidate();
}

void TqvForm::ComposeSkin() {
  TGraphic* g = picture_.Graphic();
  const int pw = g ? g->Width() : 0, ph = g ? g->Height() : 0;
  const skin::SkinPlan plan = skin::PlanSkin(pw, ph, width_, height_);
  if (plan.clear || !g) {
    skin_->Clear();
    return;
  }
  // Blocks are read from a plain bitmap; other graphics are rendered first.
  std::unique_ptr<TBitmap> temp;
  TBitmap* source = dynamic_cast<TBitmap*>(g);
  if (!source || g->ClassName() != "TBitmap") {
    temp = std::make_unique<TBitmap>();
    temp->Assign(g);
    source = temp.get();
  }
  skin_->SetSize(plan.width, plan.height);
  if (skin_->Empty()) return;
  HDC dst = skin_->Canvas().Handle();
  HDC src = source->Canvas().Handle();
  ::SetStretchBltMode(dst, COLORONCOLOR);
  for (const skin::BlitOp& op : plan.ops) {
    if (op.kind == skin::BlitKind::Stretch)
      ::StretchBlt(dst, op.dst.left, op.dst.top, op.dst.Width(), op.dst.Height(), src, op.src.left, op.src.top,
                   op.src.Width(), op.src.Height(), SRCCOPY);
    else
      ::BitBlt(dst, op.dst.left, op.dst.top, op.dst.Width(), op.dst.Height(), src, op.src.left, op.src.top, SRCCOPY);
  }
  ::GdiFlush();
}

void TqvForm::PictureChanged() {
  ComposeSkin();
  Invalidate();
}

void TqvForm::Resize() {
  TGraphicControl::Resize();
  ComposeSkin();
}

void TqvForm::SetActive(bool value) {
  if (value == active_) return;
  active_ = value;
  if (active_)
    ComposeSkin();
  else
    skin_->Grayscale();
  Invalidate();
}

void TqvForm::FormActiveChanged(TObject*) {
  if (auto* form = dynamic_cast<TForm*>(parent_)) SetActive(form->Active());
}

void TqvForm::Paint() {
  if (!skin_->Empty()) Canvas().Draw(0, 0, *skin_);
}

void TqvForm::MouseMove(TShiftState shift, int x, int y) {
  auto* form = dynamic_cast<TForm*>(parent_);
  const bool maximised = form && form->WindowState() == TWindowState::wsMaximized;
  const skin::Hit hit = skin::HitZone(x, y, width_, height_, sizeable_, maximised);
  hitZone_ = hit.zone;
  zoneCommand_ = hit.command;
  Cursor = hit.cursor;
  TGraphicControl::MouseMove(shift, x, y);
}

void TqvForm::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (hitZone_ != skin::Zone::None && button == TMouseButton::mbLeft && zoneCommand_) {
    ::ReleaseCapture();
    ::SendMessageW(ParentHandle(), WM_SYSCOMMAND, zoneCommand_, 0);
  }
  TGraphicControl::MouseDown(button, shift, x, y);
}

void TqvForm::DragMouseDown(TObject*, TMouseButton, TShiftState, int, int) {
  ::ReleaseCapture();
  ::SendMessageW(ParentHandle(), WM_SYSCOMMAND, skin::kScMoveCaption, 0);
}

void TqvForm::SurfaceDblClick(TObject* sender) {
  POINT p;
  ::GetCursorPos(&p);
  if (parent_) p = parent_->ScreenToClient(p);
  if (sizeable_ && skin::InCaptionBand(p.x, p.y, width_)) {
    hitZone_ = skin::Zone::None;
    if (auto* form = dynamic_cast<TForm*>(parent_))
      form->SetWindowState(form->WindowState() == TWindowState::wsMaximized ? TWindowState::wsNormal
                                                                          : TWindowState::wsMaximized);
  }
  if (savedDblClick_) savedDblClick_(sender);
}

}  // namespace qv
