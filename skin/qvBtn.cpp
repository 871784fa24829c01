#include "skin/qvBtn.h"

#include <stdexcept>

#include "framework/application.h"
#include "framework/text_conv.h"

namespace qv {

namespace {

RECT ToRect(const skin::Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
skin::Rect FromRect(const RECT& r) { return skin::Rect{r.left, r.top, r.right, r.bottom}; }

}  // namespace

TColor AdjustColor(TColor color, int percent) {
  const COLORREF c = ColorToRGB(color);
  const skin::Rgb out = skin::AdjustColor(skin::Rgb{GetRValue(c), GetGValue(c), GetBValue(c)}, percent);
  return static_cast<TColor>(out.Value());
}

void DrawBevel(TCanvas& canvas, const RECT& rect, int count, TColor color, bool frame, bool fill, skin::Bevel bevel) {
  const TColor light = AdjustColor(color, 50), dark = AdjustColor(color, -50);
  const skin::BevelPlan plan = skin::PlanBevel(FromRect(rect), count, frame, bevel);
  HDC dc = canvas.Handle();
  if (plan.frame) {
    UniqueGdiObject brush(::CreateSolidBrush(ColorToRGB(clWindowFrame)));
    const RECT f = ToRect(*plan.frame);
    ::FrameRect(dc, &f, static_cast<HBRUSH>(brush.Get()));
  }
  for (const skin::Segment& s : plan.segments) {
    if (s.pen == skin::Pen::Frame) continue;  // drawn above as one frame
    canvas.Pen.Color = s.pen == skin::Pen::Light ? light : dark;
    canvas.Pen.Width = 1;
    canvas.MoveTo(s.from.x, s.from.y);
    canvas.LineTo(s.to.x, s.to.y);
  }
  if (fill) {
    canvas.Brush.Color = color;
    canvas.FillRect(ToRect(plan.inner));
  }
}

// ------------------------------------------------------- TPictureListItem

TPictureListItem::TPictureListItem(TPictureList* collection) : collection_(collection) {
  picture_.OnChange = [this](TPicture*) { ItemChanged(); };
}

int TPictureListItem::Index() const {
  const auto& items = collection_->items_;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].get() == this) return static_cast<int>(i);
  return -1;
}

void TPictureListItem::SetIndex(int index) {
  const int from = Index();
  auto& items = collection_->items_;
  if (index == from || index < 0 || index >= static_cast<int>(items.size())) return;
  auto self = std::move(items[static_cast<std::size_t>(from)]);
  items.erase(items.begin() + from);
  items.insert(items.begin() + index, std::move(self));
  collection_->Button()->Invalidate();
}

void TPictureListItem::ItemChanged() {
  if (Index() == collection_->Button()->PictureIndex()) collection_->Button()->Invalidate();
}

void TPictureListItem::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  ItemChanged();
}

void TPictureListItem::SetDispMode(TDisplayMode value) {
  if (value == dispMode_) return;
  dispMode_ = value;
  ItemChanged();
}

void TPictureListItem::SetOffset(const std::string& text) {
  const std::optional<skin::Offset> parsed = skin::ParseOffset(text);
  if (!parsed) {
    TApplication::Instance().ShowMessage(skin::kOffsetFormatError);
    return;
  }
  if (*parsed == offset_) return;
  offset_ = *parsed;
  ItemChanged();
}

void TPictureListItem::Draw(TCanvas& canvas, const RECT& rect) {
  TGraphic* g = picture_.Graphic();
  if (!g) return;
  const int pw = g->Width(), ph = g->Height();
  if (pw <= 0 || ph <= 0) return;
  g->SetTransparent(transparent_);
  const skin::PicturePlacement p =
      skin::PlacePicture(dispMode_, FromRect(rect), offset_, pw, ph, FromRect(rect));
  if (p.stretch) {
    canvas.StretchDraw(ToRect(p.target), *g);
    return;
  }
  for (const skin::Point& at : p.positions) canvas.Draw(at.x, at.y, *g);
}

// ----------------------------------------------------------- TPictureList

TPictureListItem& TPictureList::Items(int i) {
  if (i < 0 || i >= Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
  return *items_[static_cast<std::size_t>(i)];
}

TPictureListItem& TPictureList::Add() {
  items_.push_back(std::make_unique<TPictureListItem>(this));
  Update();
  return *items_.back();
}

void TPictureList::Delete(int i) {
  Items(i);
  items_.erase(items_.begin() + i);
  Update();
}

void TPictureList::Clear() {
  items_.clear();
  Update();
}

void TPictureList::Assign(const TPictureList& other) {
  if (&other == this) return;
  items_.clear();
  for (int i = 0; i < other.Count(); ++i) items_.push_back(std::make_unique<TPictureListItem>(this));
  Update();
}

void TPictureList::Update() { button_->UpdateLook(); }

// ------------------------------------------------------------ TPictureOpt

void TPictureOpt::SetAutoSwitch(bool value) {
  if (value == autoSwitch_) return;
  autoSwitch_ = value;
  button_->UpdateLook();
}

void TPictureOpt::SetIndex(skin::MouseState state, int value) {
  const auto slot = static_cast<std::size_t>(state);
  if (indexByState_[slot] == value) return;
  indexByState_[slot] = value;
  button_->UpdateLook();
}

// ----------------------------------------------------------------- TqvBtn

TqvBtn::TqvBtn(TComponent* owner)
    : TGraphicControl(owner),
      pictureOpt_(std::make_unique<TPictureOpt>(this)),
      pictureList_(std::make_unique<TPictureList>(this)) {
  if (auto* parent = dynamic_cast<TWinControl*>(owner)) SetParent(parent);
  width_ = 75;
  height_ = 25;
  color_ = skin::kFaceColour;
  bevel_ = skin::BevelFor(borderStyle_, skin::MouseState::Normal);
  UpdateLook();
}

TqvBtn::~TqvBtn() {
  pictureList_.reset();
  pictureOpt_.reset();
}

void TqvBtn::UpdateLook() {
  if (!pictureOpt_ || !pictureList_) return;
  const skin::Look look = skin::UpdateLook(borderStyle_, mouseState_, pictureOpt_->AutoSwitch(),
                                               pictureOpt_->Indexes(), pictureIndex_, bevel_);
  if (!look.changed) return;
  pictureIndex_ = look.pictureIndex;
  bevel_ = look.bevel;
  Invalidate();
}

void TqvBtn::SetBorderStyle(TqvBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  UpdateLook();
}

void TqvBtn::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Invalidate();
}

void TqvBtn::SetPictureIndex(int value) {
  if (pictureOpt_->AutoSwitch() || value == pictureIndex_) return;
  pictureIndex_ = value;
  Invalidate();
}

TPicture& TqvBtn::CurrentPicture() {
  if (pictureList_->Count() == 0) pictureList_->Add().SetTransparent(true);
  const int index = pictureIndex_ >= 0 && pictureIndex_ < pictureList_->Count() ? pictureIndex_ : 0;
  SetPictureIndex(index);
  return pictureList_->Items(index).Picture();
}

void TqvBtn::Paint() {
  TCanvas& c = Canvas();
  const RECT client = ClientRect();
  if (!transparent_) {
    c.Brush.Color = color_;
    c.FillRect(client);
  }
  if (pictureIndex_ >= 0 && pictureIndex_ < pictureList_->Count()) pictureList_->Items(pictureIndex_).Draw(c, client);
  if (!captionText_.empty()) {
    Font().ApplyTo(c);
    c.RequireObjects();
    ::SetBkMode(c.Handle(), TRANSPARENT);
    const SIZE s = c.TextExtent(captionText_);
    const skin::CaptionPlace place = skin::PlaceButtonCaption(skin::Size{width_, height_}, skin::Size{s.cx, s.cy});
    if (place.control.cx != width_ || place.control.cy != height_) {
      // The button grows to its caption; the parent paints it again.
      SetBounds(left_, top_, place.control.cx, place.control.cy);
    }
    const std::wstring w = Utf8ToWide(captionText_);
    ::TextOutW(c.Handle(), place.at.x, place.at.y, w.c_str(), static_cast<int>(w.size()));
  }
  DrawBevel(c, ClientRect(), 1, color_, borderStyle_ == TqvBorderStyle::qbsSingle, false, bevel_);
}

void TqvBtn::MouseEnter() {
  TGraphicControl::MouseEnter();
  mouseState_ = skin::MouseState::Hover;
  if (borderStyle_ == TqvBorderStyle::qbsFlat || pictureOpt_->AutoSwitch()) UpdateLook();
  if (OnMouseEnter) OnMouseEnter(this);
}

void TqvBtn::MouseLeave() {
  TGraphicControl::MouseLeave();
  mouseState_ = skin::MouseState::Normal;
  if (borderStyle_ == TqvBorderStyle::qbsFlat || pictureOpt_->AutoSwitch()) UpdateLook();
  if (OnMouseLeave) OnMouseLeave(this);
}

void TqvBtn::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  mouseState_ = skin::MouseState::Pressed;
  if (pictureOpt_->AutoSwitch() || borderStyle_ != TqvBorderStyle::qbsNone) UpdateLook();
}

void TqvBtn::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseUp(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  POINT p;
  ::GetCursorPos(&p);
  p = ScreenToClient(p);
  mouseState_ = skin::MouseStateAfterRelease(p.x, p.y, width_, height_);
  if (pictureOpt_->AutoSwitch() || borderStyle_ != TqvBorderStyle::qbsNone) UpdateLook();
}

void TqvBtn::DblClick() {
  TGraphicControl::DblClick();
  if (OnDbClick) OnDbClick(this);
}

void TqvBtn::TextChanged() {
  captionText_ = text_;
  Invalidate();
}

}  // namespace qv
