// Shortcuts, made through the shell's own shortcut object.
#include <windows.h>
#include <shlobj.h>

#include "engine/win32/win32_shell.h"
#include "framework/handles.h"
#include "framework/text_conv.h"

namespace qv {

namespace {

// The system's code an HRESULT carries, for LastError; a general failure
// where it carries none.
DWORD CodeOf(HRESULT hr) { return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_GEN_FAILURE; }

}  // namespace

bool Win32Shell::MakeShortcut(const Shortcut& shortcut) {
  // Only the .lnk's own path goes through the native view: what is written
  // inside is read by the shell, which knows no Sysnative.
  const std::optional<std::wstring> file = view_.Of(shortcut.file);
  if (!file) return false;
  const ComInit com;  // before the objects, so it ends after them
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = link->SetPath(Utf8ToWide(shortcut.target).c_str());
  if (SUCCEEDED(hr)) hr = link->SetArguments(Utf8ToWide(shortcut.arguments).c_str());
  // Left unset, the shell shows the target's own icon and starts it in the
  // caller's folder.
  if (SUCCEEDED(hr) && !shortcut.iconFile.empty())
    hr = link->SetIconLocation(Utf8ToWide(shortcut.iconFile).c_str(), shortcut.iconIndex);
  if (SUCCEEDED(hr) && !shortcut.workingFolder.empty())
    hr = link->SetWorkingDirectory(Utf8ToWide(shortcut.workingFolder).c_str());
  if (SUCCEEDED(hr) && !shortcut.description.empty()) hr = link->SetDescription(Utf8ToWide(shortcut.description).c_str());
  if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, persist.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = persist->Save(file->c_str(), TRUE);
  if (SUCCEEDED(hr)) return true;
  ::SetLastError(CodeOf(hr));
  return false;
}

}  // namespace qv
