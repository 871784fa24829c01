// The baseline for first-paint timing: a bare Win32 window of the same size
// that paints one colour, titled "Bare".
#include <windows.h>

static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(h, &ps);
    HBRUSH b = ::CreateSolidBrush(RGB(40, 48, 64));
    ::FillRect(dc, &ps.rcPaint, b);
    ::DeleteObject(b);
    ::EndPaint(h, &ps);
    return 0;
  }
  if (m == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(h, m, w, l);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = inst;
  wc.lpszClassName = L"Bare";
  ::RegisterClassW(&wc);
  HWND h = ::CreateWindowExW(WS_EX_TOPMOST, L"Bare", L"Bare", WS_POPUP | WS_VISIBLE, 418, 478, 372, 131, nullptr,
                             nullptr, inst, nullptr);
  ::UpdateWindow(h);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}
