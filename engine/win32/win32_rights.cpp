#include "engine/win32/win32_rights.h"

#include <windows.h>

#include <algorithm>

#include "engine/win32/access.h"
#include "framework/handles.h"
#include "framework/portable/file_name_case.h"
#include "framework/text_conv.h"

namespace qv {

bool Win32Rights::Elevated() {
  // A question: the error of the call before stays to be reported.
  const KeepLastError kept;
  return access::Elevated();
}

bool Win32Rights::LimitedAdministrator() {
  // A question, as Elevated is.
  const KeepLastError kept;
  return access::ElevationType() == TokenElevationTypeLimited;
}

bool Win32Rights::LimitedHalf() {
  // A question, as Elevated is.
  const KeepLastError kept;
  return access::ElevationType() == TokenElevationTypeFull;
}

bool Win32Rights::OnlyOursCanChange(const Path& path) {
  const std::optional<std::wstring> wide = view_.Of(path);
  if (!wide) return false;
  const UniqueFile file = access::OpenNoFollow(*wide, 0);
  return file && access::ReachedDirectly(file.Get(), view_.SystemName(*wide)) && access::OnlyOurs(file.Get(), access::Grants::Change);
}

bool Win32Rights::Protect(const Path& path) {
  const std::optional<std::wstring> wide = view_.Of(path);
  return wide && access::Protect(*wide);
}

namespace {

class Win32ProductHold : public ProductHold {
 public:
  explicit Win32ProductHold(std::unique_ptr<access::Lock> lock) : lock_(std::move(lock)) {}

 private:
  std::unique_ptr<access::Lock> lock_;
};

}  // namespace

std::unique_ptr<ProductHold> Win32Rights::HoldProduct(const std::string& id) {
  // One name for every letter case; an object name takes no backslash and,
  // with its namespace, no more than MAX_PATH characters.
  std::wstring name = L"qvSetup-" + Utf8ToWide(FileNameKey(id));
  std::replace(name.begin(), name.end(), L'\\', L'/');
  if (name.size() > 160) name.resize(160);
  // Only those who may install for everyone can hold a lock that keeps
  // their runs apart; one person's runs share his session's.
  std::unique_ptr<access::Lock> lock = access::Lock::Take(name);
  if (!lock) return nullptr;
  return std::make_unique<Win32ProductHold>(std::move(lock));
}

}  // namespace qv
