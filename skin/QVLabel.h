// TQVLabel: the framework's label that also says when the pointer enters
// and leaves it (the setup window's web link recolours itself so).
#pragma once

#include "framework/stdctrls.h"

namespace qv {

class TQVLabel : public TLabel {
 public:
  using TLabel::TLabel;
  TNotifyEvent OnMouseLeave, OnMouseEnter;

 protected:
  void MouseEnter() override {
    TLabel::MouseEnter();
    if (OnMouseEnter) OnMouseEnter(this);
  }
  void MouseLeave() override {
    TLabel::MouseLeave();
    if (OnMouseLeave) OnMouseLeave(this);
  }
};

}  // namespace qv
