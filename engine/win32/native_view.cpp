#include "engine/win32/native_view.h"

#include <windows.h>

#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv {

namespace {

// Whether a full path is the folder or lies below it, letter case aside.
bool Below(const std::wstring& path, const std::wstring& folder) {
  const std::size_t n = folder.size();
  return !folder.empty() && path.size() >= n && (path.size() == n || path[n] == L'\\') &&
         ::CompareStringOrdinal(path.c_str(), static_cast<int>(n), folder.c_str(), static_cast<int>(n), TRUE) ==
             CSTR_EQUAL;
}

}  // namespace

void NativeView::Use(std::wstring systemFolder, std::wstring windowsFolder) {
  ++generation_;
  registryView_ = KEY_WOW64_64KEY;
  // The 32-bit layer sends the system folder to SysWOW64; the way to the
  // 64-bit one is this folder, which only it knows.
  systemFolder_ = std::move(systemFolder);
  sysnative_ = std::move(windowsFolder) + L"\\Sysnative";
}

std::wstring NativeView::Native(const std::wstring& path) const {
  if (sysnative_.empty()) return path;
  // Compared in full: a relative path, "..", or forward slashes may name
  // the system folder too.
  const bool prefixed = HasLongPrefix(path);
  const std::wstring full = prefixed ? path.substr(4) : FullPath(path);
  if (!Below(full, systemFolder_)) return path;
  std::wstring native = sysnative_ + full.substr(systemFolder_.size());
  // A unit longer than before: it may need the long form now.
  if (prefixed || native.size() >= MAX_PATH - 12) native.insert(0, L"\\\\?\\");
  return native;
}

std::optional<std::wstring> NativeView::Of(const Path& path) const {
  if (const std::wstring* kept = path.Native(generation_)) return *kept;
  std::optional<std::wstring> wide = WidePath(path.Text());
  if (!wide) return std::nullopt;
  *wide = Native(*wide);
  if (!FitsSystem(wide->size())) return std::nullopt;
  return path.KeepNative(generation_, std::move(*wide));
}

std::wstring NativeView::SystemName(const std::wstring& path) const {
  const std::size_t at = HasLongPrefix(path) ? 4 : 0;
  if (!Below(path.substr(at), sysnative_)) return path;
  return path.substr(0, at) + systemFolder_ + path.substr(at + sysnative_.size());
}

}  // namespace qv
