#include "plain_window.h"

#include <commctrl.h>

#include "text.h"
#include "text_conv.h"
#include "texts.h"

namespace qv {

namespace {

constexpr wchar_t kClassName[] = L"qvSetupPlainForm";
constexpr int kButtonId = 1;
constexpr int kClientWidth = 372, kClientHeight = 131;

}  // namespace

PlainSetupForm::PlainSetupForm(TApplication& app, Platform& platform, std::string programFile)
    : app_(app), platform_(platform), engine_(platform, *this, state_, folders_, std::move(programFile)) {}

PlainSetupForm::~PlainSetupForm() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void PlainSetupForm::Create(const std::vector<std::string>& args) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&icc);
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &PlainSetupForm::WndProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  ::RegisterClassExW(&wc);

  RECT r{0, 0, kClientWidth, kClientHeight};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  ::AdjustWindowRectEx(&r, style, FALSE, WS_EX_TOPMOST);
  hwnd_ = ::CreateWindowExW(WS_EX_TOPMOST, kClassName, GbkToWide(texts::kDefaultTitle).c_str(), style,
                            418, 478, r.right - r.left, r.bottom - r.top, nullptr, nullptr, inst, this);
  app_.MainForm = hwnd_;
  font_.Reset(::CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0,
                            GbkToWide(texts::kFontName).c_str()));
  FormCreate(args);
}

void PlainSetupForm::FormCreate(const std::vector<std::string>& args) {
  try {
    engine_.Run(args);
  } catch (const std::exception& e) {
    app_.ShowException(e);
    // Nobody can see a hidden window: end rather than wait for ever.
    if (!state_.visible) app_.Terminate();
  }
}

HWND PlainSetupForm::Child(const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y,
                           int w, int h, int id) {
  HWND c = ::CreateWindowExW(0, cls, text.c_str(), WS_CHILD | style, x, y, w, h, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  return c;
}

void PlainSetupForm::BuildControls(const std::string& title, const std::string&, const std::string&) {
  ::SetWindowTextW(hwnd_, GbkToWide(title).c_str());
  app_.Title = title;
  const int barWidth = kClientWidth - 40;
  status_ = Child(L"STATIC", L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 63, 43, barWidth - 43, 16, 0);
  mainBar_ = Child(PROGRESS_CLASSW, L"", WS_VISIBLE | PBS_SMOOTH, 20, 65, barWidth, 18, 0);
  thinBar_ = Child(PROGRESS_CLASSW, L"", WS_VISIBLE | PBS_SMOOTH, 20, 82, barWidth, 3, 0);
  ::SendMessageW(mainBar_, PBM_SETSTEP, 1, 0);
  ::SendMessageW(thinBar_, PBM_SETSTEP, 1, 0);
  pathBox_ = Child(L"EDIT", L"", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 20, 65, barWidth, 22, 0);
  button_ = Child(L"BUTTON", GbkToWide(texts::kCancel), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                  (kClientWidth - 75) / 2, 94, 75, 25, kButtonId);
}

void PlainSetupForm::ApplyVisible(bool visible) {
  if (visible) {
    ::ShowWindow(hwnd_, SW_SHOW);
    ::UpdateWindow(hwnd_);
  } else {
    // An empty region: nothing of the window can ever be seen.
    ::SetWindowRgn(hwnd_, ::CreateRectRgn(0, 0, 0, 0), TRUE);
  }
}

void PlainSetupForm::SetStatusText(const std::string& text) {
  ::SetWindowTextW(status_, GbkToWide(text).c_str());
}
void PlainSetupForm::RepaintStatus() { ::RedrawWindow(status_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }
void PlainSetupForm::UpdateStatus() { ::UpdateWindow(status_); }
void PlainSetupForm::SetStatusRed() {
  statusRed_ = true;
  ::InvalidateRect(status_, nullptr, TRUE);
}
void PlainSetupForm::SetMainMax(int max) { ::SendMessageW(mainBar_, PBM_SETRANGE32, 0, max); }
void PlainSetupForm::SetMainPosition(int position) { ::SendMessageW(mainBar_, PBM_SETPOS, position, 0); }
void PlainSetupForm::StepMain() { ::SendMessageW(mainBar_, PBM_STEPIT, 0, 0); }
void PlainSetupForm::UpdateMain() { ::UpdateWindow(mainBar_); }
void PlainSetupForm::SetThinMax(int max) { ::SendMessageW(thinBar_, PBM_SETRANGE32, 0, max); }
void PlainSetupForm::SetThinPosition(int position) { ::SendMessageW(thinBar_, PBM_SETPOS, position, 0); }
void PlainSetupForm::ShowProgressBars(bool show) {
  ::ShowWindow(mainBar_, show ? SW_SHOW : SW_HIDE);
  ::ShowWindow(thinBar_, show ? SW_SHOW : SW_HIDE);
}
void PlainSetupForm::ShowPathBox(bool show) { ::ShowWindow(pathBox_, show ? SW_SHOW : SW_HIDE); }
void PlainSetupForm::SetPathText(const std::string& text) {
  ::SetWindowTextW(pathBox_, GbkToWide(text).c_str());
}
std::string PlainSetupForm::PathText() {
  std::wstring w(static_cast<std::size_t>(::GetWindowTextLengthW(pathBox_)) + 1, L'\0');
  w.resize(static_cast<std::size_t>(::GetWindowTextW(pathBox_, w.data(), static_cast<int>(w.size()))));
  return WideToGbk(w);
}
void PlainSetupForm::SetButtonCaption(const std::string& caption) {
  ::SetWindowTextW(button_, GbkToWide(caption).c_str());
}
void PlainSetupForm::ProcessMessages() { app_.ProcessMessages(); }
void PlainSetupForm::WaitForEvent() { app_.WaitForEvent(); }
void PlainSetupForm::Terminate() { app_.Terminate(); }

void PlainSetupForm::OnClickButtonSys(bool fromButton) {
  if (state_.awaitingPath && fromButton) {
    if (!Trim(PathText()).empty())
      state_.awaitingPath = false;
    else
      ::MessageBoxW(hwnd_, GbkToWide(texts::kEmptyPath).c_str(), GbkToWide(texts::kWarning).c_str(),
                    MB_OK | MB_ICONWARNING);
    return;
  }
  if (state_.finished) {
    ::ShowWindow(hwnd_, SW_HIDE);
    app_.Terminate();
    return;
  }
  if (::MessageBoxW(hwnd_, GbkToWide(texts::kQuitQuestion).c_str(), GbkToWide(texts::kWarning).c_str(),
                    MB_YESNO | MB_ICONWARNING) == IDYES) {
    state_.finished = true;
    ::ShowWindow(hwnd_, SW_HIDE);
    app_.Terminate();
  }
}

LRESULT CALLBACK PlainSetupForm::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<PlainSetupForm*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<PlainSetupForm*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  self->app_.Guard([&] { result = self->OnMessage(msg, wp, lp); });
  return result;
}

LRESULT PlainSetupForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == kButtonId && HIWORD(wp) == BN_CLICKED) {
        OnClickButtonSys(true);
        return 0;
      }
      break;
    case WM_CLOSE:
      OnClickButtonSys(false);
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lp) == status_ && statusRed_) {
        HDC dc = reinterpret_cast<HDC>(wp);
        ::SetTextColor(dc, RGB(255, 0, 0));
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace qv
