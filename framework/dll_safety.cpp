#include "framework/dll_safety.h"

#include <commctrl.h>

#include <string>

namespace qv {

namespace {
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
}

void RestrictDllSearch() {
  // Missing before Windows 7 with KB2533623: looked up, not imported.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories"))))
    set(kSearchSystem32);
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (HMODULE m = ::LoadLibraryExW(name, nullptr, kSearchSystem32)) return m;
  // Systems without the search flags: the full path says where.
  wchar_t folder[MAX_PATH + 1];
  const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, n) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void InitCommonControlsSafely() {
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  static bool done = false;
  if (done) return;
  done = true;
  if (auto init = SystemFunction<InitFn>(L"comctl32.dll", "InitCommonControlsEx")) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    init(&icc);
  }
}

}  // namespace qv
