// TqvBtn: a windowless, mouse-only picture button with a 3-D bevel that
// follows the mouse, its picture list and its automatic picture switching.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "skin/picture_button_rules.h"

namespace qv {

class TqvBtn;
using skin::BorderStyle;
using skin::DisplayMode;
using TqvBorderStyle = skin::BorderStyle;
using TDisplayMode = skin::DisplayMode;

class TPictureListItem {
 public:
  explicit TPictureListItem(class TPictureList* collection);
  TPictureListItem(const TPictureListItem&) = delete;
  TPictureListItem& operator=(const TPictureListItem&) = delete;

  TPicture& Picture() { return picture_; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  TDisplayMode DispMode() const { return dispMode_; }
  void SetDispMode(TDisplayMode value);
  std::string Offset() const { return skin::FormatOffset(offset_); }
  // Takes "(X1,Y1,X2,Y2)"; a malformed text is refused with a message box.
  void SetOffset(const std::string& text);
  const skin::Offset& OffsetValue() const { return offset_; }
  int Index() const;
  void SetIndex(int index);

  // Draws the entry into a rectangle of a canvas.
  void Draw(TCanvas& canvas, const RECT& rect);

 private:
  void ItemChanged();
  class TPictureList* collection_;
  TPicture picture_;
  bool transparent_ = false;
  TDisplayMode dispMode_ = TDisplayMode::dmCenter;
  skin::Offset offset_;
};

class TPictureList {
 public:
  explicit TPictureList(TqvBtn* button) : button_(button) {}
  TqvBtn* Button() const { return button_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TPictureListItem& Items(int i);  // throws std::out_of_range outside the list
  TPictureListItem& Add();
  void Delete(int i);
  void Clear();
  // Another list's copy: as many entries, each with the defaults.
  void Assign(const TPictureList& other);
  // After entries are added, removed or changed.
  void Update();

 private:
  friend class TPictureListItem;
  TqvBtn* button_;
  std::vector<std::unique_ptr<TPictureListItem>> items_;
};

class TPictureOpt {
 public:
  explicit TPictureOpt(TqvBtn* button) : button_(button) {}
  bool AutoSwitch() const { return autoSwitch_; }
  void SetAutoSwitch(bool value);
  // The entry shown in each mouse state: leave, enter, down.
  int Index(skin::MouseState state) const { return indexByState_[static_cast<std::size_t>(state)]; }
  void SetIndex(skin::MouseState state, int value);
  int MouseLeavePictureIndex() const { return Index(skin::MouseState::Normal); }
  int MouseEnterPictureIndex() const { return Index(skin::MouseState::Hover); }
  int MouseDownPictureIndex() const { return Index(skin::MouseState::Pressed); }
  const std::array<int, 3>& Indexes() const { return indexByState_; }

 private:
  TqvBtn* button_;
  bool autoSwitch_ = false;
  std::array<int, 3> indexByState_{-1, -1, -1};
};

class TqvBtn : public TGraphicControl {
 public:
  explicit TqvBtn(TComponent* owner);
  ~TqvBtn() override;

  TPictureOpt& PictureOpt() { return *pictureOpt_; }
  TPictureList& PictureList() { return *pictureList_; }
  TqvBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TqvBorderStyle value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  int PictureIndex() const { return pictureIndex_; }
  void SetPictureIndex(int value);
  skin::MouseState MouseState() const { return mouseState_; }
  skin::Bevel CurrentBevel() const { return bevel_; }
  // The picture of the entry in use, made when the list is empty.
  TPicture& CurrentPicture();

  TNotifyEvent OnDbClick, OnMouseLeave, OnMouseEnter;

  void UpdateLook();

 protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;
  void DblClick() override;
  void TextChanged() override;

 private:
  std::unique_ptr<TPictureOpt> pictureOpt_;
  std::unique_ptr<TPictureList> pictureList_;
  std::string captionText_;
  bool transparent_ = false;
  skin::MouseState mouseState_ = skin::MouseState::Normal;
  TqvBorderStyle borderStyle_ = TqvBorderStyle::qbsSingle;
  skin::Bevel bevel_ = skin::Bevel::Raised;
  int pictureIndex_ = -1;
};

// Draws a bevel (and optionally its frame and fill) with light and dark
// shades of a colour.
void DrawBevel(TCanvas& canvas, const RECT& rect, int count, TColor color, bool frame, bool fill,
               skin::Bevel bevel);
// A colour made lighter (positive percent) or darker, as $00BBGGRR.
TColor AdjustColor(TColor color, int percent);

}  // namespace qv
