// Where this 32-bit process's calls reach once a run takes the native
// view on 64-bit Windows: registry keys in the 64-bit view, and the system
// folder through Sysnative, the way past the 32-bit layer. And the form a
// path takes for the file calls, made once per Path.
#pragma once

#include <optional>
#include <string>

#include "engine/path.h"

namespace qv {

class NativeView {
 public:
  // From now on: the 64-bit view (64-bit Windows only).
  void Use(std::wstring systemFolder, std::wstring windowsFolder);
  // The registry view every key is opened in (a REGSAM flag, or 0).
  unsigned long RegistryView() const { return registryView_; }

  // A path as this process's file calls take it: in the native view, one in
  // the system folder goes through Sysnative. Any other path as it is.
  std::wstring Native(const std::wstring& path) const;
  // The path in the \\?\ form where it needs it (WidePath), then Native;
  // none for one too long for the system. Made once per Path and view.
  std::optional<std::wstring> Of(const Path& path) const;
  // A path Of gave, as the system names it where there is no 32-bit
  // layer: a handle's final path, other processes, the restart.
  std::wstring SystemName(const std::wstring& path) const;

 private:
  unsigned generation_ = 0;  // which view a Path's kept form was made for
  unsigned long registryView_ = 0;
  std::wstring systemFolder_, sysnative_;  // both set in the native view only
};

}  // namespace qv
