// Started by qvSetup in the end-to-end tests: writes how it was started
// (show state and command line) into the file named by its first argument.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int) {
  std::string marker;
  const char* p = args;
  while (*p == ' ') ++p;
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) marker += *p;
  } else {
    for (; *p && *p != ' '; ++p) marker += *p;
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  ::GetStartupInfoA(&si);
  const int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
  const std::string text = "show=" + std::to_string(show) + "\ncmd=" + ::GetCommandLineA() + "\n";
  const std::string tmp = marker + ".part";
  HANDLE f = ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD n = 0;
  ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  ::CloseHandle(f);
  // Appears whole or not at all, so the test never reads half a marker.
  return ::MoveFileExA(tmp.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
