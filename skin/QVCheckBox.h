// TQVCheckBox: a check box drawn on the skin itself (the system's check box
// paints its own background over the face picture). A click anywhere on it
// turns it over.
#pragma once

#include <functional>

#include "framework/stdctrls.h"

namespace qv {

class TQVCheckBox : public TLabel {
 public:
  explicit TQVCheckBox(TComponent* owner);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  // Sizes it to its box and caption.
  void FitToCaption();
  std::function<void(bool checked)> OnChange;

 protected:
  void Paint() override;
  void Click() override;

 private:
  bool checked_ = false;
};

}  // namespace qv
