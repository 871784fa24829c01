// A top-level window that notes every WM_SETTINGCHANGE it receives: the
// text it names, one line each, appended to a file. It leaves the file
// (empty) once its window is up, and ends when the file is deleted.
//
//     listener.exe notes.txt
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace {

const wchar_t* g_notes = nullptr;

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_SETTINGCHANGE && l) {
    char text[1024] = "";
    ::WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(l), -1, text, sizeof text - 1, nullptr,
                          nullptr);
    if (FILE* f = ::_wfopen(g_notes, L"ab")) {
      std::fprintf(f, "%s\n", text);
      std::fclose(f);
    }
    return 0;
  }
  if (message == WM_TIMER && ::GetFileAttributesW(g_notes) == INVALID_FILE_ATTRIBUTES) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, w, l);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 2) return 2;
  g_notes = argv[1];
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"qvListener";
  ::RegisterClassW(&wc);
  HWND window = ::CreateWindowW(L"qvListener", L"qvListener", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return 1;
  ::SetTimer(window, 1, 100, nullptr);
  if (FILE* f = ::_wfopen(g_notes, L"wb")) std::fclose(f);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}
