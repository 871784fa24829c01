// The run's rights and the access lists of its own files, through the
// Win32 API.
#pragma once

#include "engine/rights.h"
#include "engine/win32/native_view.h"

namespace qv {

class Win32Rights : public Rights {
 public:
  explicit Win32Rights(const NativeView& view) : view_(view) {}
  bool Elevated() override;
  bool LimitedAdministrator() override;
  bool LimitedHalf() override;
  bool OnlyOursCanChange(const Path& path) override;
  bool Protect(const Path& path) override;
  std::unique_ptr<ProductHold> HoldProduct(const std::string& id) override;

 private:
  const NativeView& view_;
};

}  // namespace qv
