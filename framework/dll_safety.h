// Where the program loads DLLs from: the system folder only. An installer
// runs from a downloads folder, often elevated, next to files anybody could
// have put there; a DLL planted beside it must never be loaded.
#pragma once

#include <windows.h>

namespace qv {

// First thing in WinMain: later loads search the system folder only.
void RestrictDllSearch();

// A system DLL loaded from the system folder, or nullptr.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A function of a system DLL (the DLL stays loaded for the program's life).
template <typename F>
F SystemFunction(const wchar_t* dll, const char* name) {
  HMODULE m = LoadSystemLibrary(dll);
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, name))) : nullptr;
}

// The common controls the program uses (progress bars, tooltips), from the
// system's comctl32.
void InitCommonControlsSafely();

}  // namespace qv
