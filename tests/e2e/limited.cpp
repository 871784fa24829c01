// Starts a command line as this account without its administrator rights
// (the limited half of its token, as an administrator's programs start when
// the system asks before elevating), waits, and ends with its exit code.
//
//     limited.exe program arguments...
#include <windows.h>

#include <cwchar>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Everything after our own name, as given.
  const wchar_t* line = ::GetCommandLineW();
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  while (*line == L' ' || *line == L'\t') ++line;
  if (!*line) return 250;

  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) return 251;
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  TOKEN_ELEVATION_TYPE type{};
  HANDLE limited = nullptr;
  if (!::GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) ||
      !::GetTokenInformation(linked.LinkedToken, TokenElevationType, &type, sizeof type, &size) ||
      type != TokenElevationTypeLimited ||
      !::DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          &limited))
    return 252;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  wchar_t* commandLine = ::_wcsdup(line);
  if (!::CreateProcessAsUserW(limited, nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 253;
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 254;
  ::GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}
