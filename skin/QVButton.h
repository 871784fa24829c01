// TQVButton: a push button whose face is painted in a colour of its own
// (owner drawn), with the platform's frame, an outline when it is the
// form's active button or focused, and an etched caption when disabled.
#pragma once

#include <functional>
#include <string>

#include "framework/stdctrls.h"

namespace qv {

class TQVButton : public TButton {
 public:
  using TTestType = std::function<void(TObject* sender, const std::string& text)>;

  explicit TQVButton(TComponent* owner);

  TTestType showTestInfo;  // stored, never raised
  TColor Color() const { return color_; }
  void SetColor(TColor value) override;
  bool Active() const { return active_; }
  void SetButtonStyle(bool isActive) override;

 protected:
  void CreateParams(CreateParamsData& params) override;
  bool CNDrawItem(DRAWITEMSTRUCT& item) override;

 private:
  TCanvas canvas_;
  bool active_ = false;
};

}  // namespace qv
