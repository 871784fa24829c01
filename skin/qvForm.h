// TqvForm: a windowless surface that fills its form and paints a skin
// composed from one picture (corners, 25-pixel edge strips, a stretched
// middle), moves the window by its top band, sizes it by its edges when
// Sizeable, and shows the skin in grey while the form is inactive.
#pragma once

#include <memory>

#include "framework/controls.h"
#include "skin/QVBitmap.h"
#include "skin/surface_rules.h"

namespace qv {

class TqvForm : public TGraphicControl {
 public:
  explicit TqvForm(TComponent* owner);
  ~TqvForm() override;

  TPicture& Picture() { return picture_; }
  bool Sizeable() const { return sizeable_; }
  void SetSizeable(bool value);
  bool Active() const { return active_; }
  skin::Zone HitZone() const { return hitZone_; }
  TQVBitmap& Skin() { return *skin_; }
  TCursor DragCursor = crDrag;

  // Hooks the application's and the form's activation; a surface built in
  // code calls it once its picture and Sizeable are set.
  void Loaded() override;
  // Moves the window as if by its caption; any control may take this as its
  // mouse-down handler.
  void DragMouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
  void SetActive(bool value);

 protected:
  void Paint() override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void Resize() override;

 private:
  void ComposeSkin();
  void PictureChanged();
  void FormActiveChanged(TObject* sender);
  void SurfaceDblClick(TObject* sender);
  HWND ParentHandle() const;

  bool active_ = false;
  TPicture picture_;
  std::unique_ptr<TQVBitmap> skin_;
  bool sizeable_ = false;
  skin::Zone hitZone_ = skin::Zone::None;
  unsigned zoneCommand_ = 0;
  TNotifyEvent savedDblClick_;
  TNotifyEvent savedAppActivate_, savedAppDeactivate_;
  bool appEventsHooked_ = false;
};

}  // namespace qv
