#include "framework/application.h"

#include <algorithm>

#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv {

namespace {
TApplication* g_app = nullptr;
}

TApplication::TApplication() {
  g_app = this;
  // Until the program names itself, its title is its file name, read wide
  // so that a name outside the system's code page survives.
  const std::wstring path = ModulePath();
  std::string name = WideToUtf8(path);
  name = name.substr(name.find_last_of("\\:") + 1);
  Title = name.substr(0, name.rfind('.'));
}
TApplication::~TApplication() {
  if (g_app == this) g_app = nullptr;
}

TApplication& TApplication::Instance() { return *g_app; }

UINT DialogKeyMessage() {
  static const UINT id = ::RegisterWindowMessageW(L"qvSetup.DialogKey");
  return id;
}

bool TApplication::OfferDialogKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || (msg.wParam != VK_TAB && msg.wParam != VK_RETURN && msg.wParam != VK_ESCAPE))
    return false;
  HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
  return root && ::SendMessageW(root, DialogKeyMessage(), msg.wParam, 0) != 0;
}

bool TApplication::HandleOne(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  if (OfferDialogKey(msg)) return true;
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (!HandleOne(msg)) break;
}

void TApplication::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  const TNotifyEvent& handler = active ? OnActivate : OnDeactivate;
  if (handler) handler(this);
}

void TApplication::HandleMessage() {
  MSG msg;
  const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    terminated_ = true;
    return;
  }
  HandleOne(msg);
}

void TApplication::WaitForEvent() {
  if (!terminated_) ::WaitMessage();
}

void TApplication::Run() {
  if (MainForm && !terminated_ && !quitPosted_ && ::IsWindow(MainForm) && !::IsWindowVisible(MainForm))
    ::ShowWindow(MainForm, SW_SHOW);
  MSG msg;
  while (!terminated_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      terminated_ = true;
      break;
    }
    HandleOne(msg);
  }
}

void TApplication::Terminate() {
  // The loop sees WM_QUIT and ends; a nested pump notices it too.
  quitPosted_ = true;
  ::PostQuitMessage(0);
}

void TApplication::ShowException(const std::string& message) {
  std::string text = message;
  if (!text.empty() && text.back() != '.') text += '.';
  ::MessageBoxW(MainForm, Utf8ToWide(text).c_str(), Utf8ToWide(Title).c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void TApplication::ShowException(const std::exception& e) { ShowException(std::string(e.what())); }

void TApplication::Guard(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    HandleException(e.what());
  } catch (...) {
    HandleException("Unexpected error");
  }
}

void TApplication::HandleException(const std::string& message) noexcept {
  failed_ = true;
  try {
    if (OnException) OnException(message);
    if (!Silent) ShowException(message);
  } catch (...) {
    // Reporting must not throw in its turn: the error is remembered.
  }
}

void TApplication::ShowMessage(const std::string& text) {
  HWND owner = ::GetActiveWindow();
  if (!owner) owner = MainForm;
  ::MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(Title).c_str(), MB_OK);
}

}  // namespace qv
