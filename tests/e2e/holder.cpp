// A running program that holds a file: opens it shared with nobody, leaves
// a marker file, and keeps the file open until the marker is deleted (or it
// is killed). Given mutex:NAME, it holds that named mutex instead.
//
//     holder.exe file marker
//     holder.exe mutex:NAME marker
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 3) return 2;
  const bool mutex = ::wcsncmp(argv[1], L"mutex:", 6) == 0;
  HANDLE held = mutex ? ::CreateMutexW(nullptr, TRUE, argv[1] + 6)
                      : ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (!held || held == INVALID_HANDLE_VALUE) return 1;
  HANDLE marker = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  ::CloseHandle(marker);
  while (::GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) ::Sleep(20);
  ::CloseHandle(held);
  return 0;
}
