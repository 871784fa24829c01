// A stand-in for a file an attacker drops beside the installer. Built as a
// DLL (loaded: DllMain runs) and as a program (started: WinMain runs); either
// way it leaves "planted-<its own name>.txt" in its folder.
#include <windows.h>

#include <string>

static void LeaveMarker(HMODULE self) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(self, path, MAX_PATH);
  std::string file(path, n);
  const std::size_t slash = file.find_last_of('\\');
  const std::string marker = file.substr(0, slash + 1) + "planted-" + file.substr(slash + 1) + ".txt";
  HANDLE h = ::CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

#ifdef PLANT_DLL
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}
#else
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LeaveMarker(nullptr);
  return 0;
}
#endif
