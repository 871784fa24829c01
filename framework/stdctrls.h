// The standard controls: label, single-line edit, progress bar, push
// button, flat speed button, image, and the icon graphic.
#pragma once

#include <memory>

#include "framework/controls.h"

namespace qv {

class TIcon : public TGraphic {
 public:
  std::string ClassName() const override { return "TIcon"; }

  HICON Handle() const { return icon_; }
  // Takes an icon and destroys it with the graphic.
  void SetHandle(UniqueIcon icon);
  // Shows an icon whose owner keeps it alive and destroys it.
  void SetHandle(HICON borrowed);
  void LoadFromResourceName(HINSTANCE instance, const wchar_t* name);

  int Width() const override { return size_.cx; }
  int Height() const override { return size_.cy; }
  bool Empty() const override { return icon_ == nullptr; }
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  void Draw(TCanvas& canvas, const RECT& r) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

 private:
  void Show(HICON icon);

  UniqueIcon owned_;  // empty while the icon shown is borrowed
  HICON icon_ = nullptr;  // the icon shown: owned_ or a borrowed one
  SIZE size_{0, 0};
};

class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* owner);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  // The size the caption needs; an empty caption measures as one blank.
  SIZE TextSize() const;
  void SetParent(TWinControl* parent) override;

 protected:
  void Paint() override;
  void TextChanged() override;
  void FontChanged() override;
  void AdjustBounds();

 private:
  bool autoSize_ = true;
  bool transparent_ = false;
};

class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  std::string Text();
  void SetText(const std::string& text);

 protected:
  void CreateParams(CreateParamsData& params) override;
};

class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TComponent* owner);
  bool Smooth = false;
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  int Step = 10;
  void SetMin(int v);
  void SetMax(int v);
  void SetPosition(int v);
  void StepIt();

 protected:
  void CreateParams(CreateParamsData& params) override;
  void HandleCreated() override;

 private:
  int Filled() const;  // pixels of the bar the position fills
  void Sync(bool force);
  int min_ = 0, max_ = 100, position_ = 0;
  int shownFilled_ = -1;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  bool Default = false;
  bool Cancel = false;
  int ModalResult = mrNone;
  void Click() override;
  std::optional<TDialogButton> DialogButton() const override { return TDialogButton{Default, Cancel}; }
  void SetButtonStyle(bool isActive) override;

 protected:
  void CreateParams(CreateParamsData& params) override;
  bool CNCommand(WORD code) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
};

class TSpeedButton : public TGraphicControl {
 public:
  explicit TSpeedButton(TComponent* owner);
  bool Flat = false;
  bool Transparent = false;  // the parent shows through around the glyph
  TBitmap& Glyph() { return glyph_; }

 protected:
  void Paint() override;
  void MouseEnter() override;
  void MouseLeave() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

 private:
  TBitmap glyph_;
  bool hot_ = false, down_ = false;
};

class TImage : public TGraphicControl {
 public:
  explicit TImage(TComponent* owner);
  TPicture& Picture() { return picture_; }
  bool Center = false;
  bool Stretch = false;
  bool Transparent = false;
  bool AutoSize = false;

 protected:
  void Paint() override;

 private:
  void PictureChanged();
  TPicture picture_;
};

}  // namespace qv
