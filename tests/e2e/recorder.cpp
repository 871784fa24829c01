// Started by qvSetup in the end-to-end tests: writes how it was started
// (show state, command line and working folder, in UTF-8) into the file named by its first
// argument.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
  return s;
}

// The first token after the program's own name.
std::wstring FirstArgument(const wchar_t* p) {
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {}
    if (*p) ++p;
  } else {
    for (; *p && *p != L' ' && *p != L'\t'; ++p) {}
  }
  while (*p == L' ' || *p == L'\t') ++p;
  std::wstring token;
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) token += *p;
  } else {
    for (; *p && *p != L' '; ++p) token += *p;
  }
  return token;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const wchar_t* command = ::GetCommandLineW();
  const std::wstring marker = FirstArgument(command);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  ::GetStartupInfoW(&si);
  const int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
  wchar_t folder[MAX_PATH] = L"";
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  const std::string text = "show=" + std::to_string(show) + "\ncmd=" + Utf8(command) + "\ncwd=" + Utf8(folder) + "\n";
  const std::wstring tmp = marker + L".part";
  HANDLE f = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD n = 0;
  ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  ::CloseHandle(f);
  // Appears whole or not at all, so the test never reads half a marker.
  return ::MoveFileExW(tmp.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
