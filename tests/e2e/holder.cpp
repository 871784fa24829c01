// A running program that holds a file: opens it shared with nobody, leaves
// a marker file, and keeps the file open until the marker is deleted (or it
// is killed).
//
//     holder.exe file marker
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 3) return 2;
  HANDLE held = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE marker = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  ::CloseHandle(marker);
  while (::GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) ::Sleep(20);
  ::CloseHandle(held);
  return 0;
}
