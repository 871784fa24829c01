// A service of ours for the tests: reports itself running to the Service
// Control Manager and stops when it is told to. Started by anything else,
// it ends at once with 1.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS s{};
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  s.dwWaitHint = 1000;
  ::SetServiceStatus(g_status, &s);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
  g_status = ::RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Control, nullptr);
  if (!g_status) return;
  g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(g_stop, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // One service in its own process: the system gives it whatever name it
  // was installed under.
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
