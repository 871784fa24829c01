// The Service Control Manager's calls: each opens what it needs, with no
// more access than it needs, and waits a bounded time where a service
// takes its time.
#include <windows.h>

#include <vector>

#include "engine/text.h"
#include "engine/win32/win32_system.h"
#include "framework/handles.h"
#include "framework/text_conv.h"

namespace qv {

namespace {

// How long a service may take to start or to stop.
constexpr DWORD kServiceWaitMs = 30000;
// And its process to end once it says it stopped (it holds its program until then).
constexpr DWORD kProcessWaitMs = 10000;

UniqueService OpenOne(const std::string& name, DWORD access) {
  UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return UniqueService();
  UniqueService service(::OpenServiceW(manager.Get(), Utf8ToWide(name).c_str(), access));
  {
    // The open's own error (no such service) is what the caller reads.
    const KeepLastError kept;
    manager.Reset();
  }
  return service;
}

std::optional<SERVICE_STATUS_PROCESS> StatusOf(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed))
    return std::nullopt;
  return status;
}

// Waits while the service is in `pending`; gives its state then (none
// when it cannot be read).
std::optional<SERVICE_STATUS_PROCESS> WaitWhile(SC_HANDLE service, DWORD pending) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const std::optional<SERVICE_STATUS_PROCESS> status = StatusOf(service);
    if (!status || status->dwCurrentState != pending || ::GetTickCount() - start > kServiceWaitMs) return status;
    ::Sleep(100);
  }
}

bool Describe(SC_HANDLE service, const std::string& description) {
  std::wstring text = Utf8ToWide(description);
  SERVICE_DESCRIPTIONW d{text.data()};
  return ::ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &d) != 0;
}

DWORD StartType(ServiceStart start) {
  switch (start) {
    case ServiceStart::Auto: return SERVICE_AUTO_START;
    case ServiceStart::Disabled: return SERVICE_DISABLED;
    default: return SERVICE_DEMAND_START;
  }
}

}  // namespace

std::optional<ServiceConfig> Win32System::FindService(const std::string& name) {
  const UniqueService service = OpenOne(name, SERVICE_QUERY_CONFIG);
  if (!service) return std::nullopt;
  DWORD needed = 0;
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
  std::vector<BYTE> bytes(needed);
  auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(bytes.data());
  if (!::QueryServiceConfigW(service.Get(), q, needed, &needed)) return std::nullopt;
  const auto text = [](const wchar_t* w) { return w ? WideToUtf8(w) : std::string(); };
  ServiceConfig c;
  c.command = text(q->lpBinaryPathName);
  c.displayName = text(q->lpDisplayName);
  c.start = q->dwStartType == SERVICE_AUTO_START ? ServiceStart::Auto
            : q->dwStartType == SERVICE_DISABLED ? ServiceStart::Disabled
                                                 : ServiceStart::Demand;
  c.account = text(q->lpServiceStartName);
  if (UpperCase(c.account) == "LOCALSYSTEM") c.account.clear();
  needed = 0;
  ::QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
  if (needed >= sizeof(SERVICE_DESCRIPTIONW)) {
    std::vector<BYTE> more(needed);
    auto* d = reinterpret_cast<SERVICE_DESCRIPTIONW*>(more.data());
    if (::QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, more.data(), needed, &needed))
      c.description = text(d->lpDescription);
  }
  return c;
}

bool Win32System::MakeService(const std::string& name, const ServiceConfig& config) {
  const UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return false;
  const std::wstring account = Utf8ToWide(config.account);
  // The built-in accounts have no password: an empty one.
  const UniqueService service(::CreateServiceW(
      manager.Get(), Utf8ToWide(name).c_str(), Utf8ToWide(config.displayName).c_str(),
      SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG, SERVICE_WIN32_OWN_PROCESS, StartType(config.start),
      SERVICE_ERROR_NORMAL, Utf8ToWide(config.command).c_str(), nullptr, nullptr, nullptr,
      account.empty() ? nullptr : account.c_str(), L""));
  if (!service) return false;
  return config.description.empty() || Describe(service.Get(), config.description);
}

bool Win32System::ChangeService(const std::string& name, const ServiceConfig& config) {
  // The account only when it changes: the same one keeps its password.
  const std::optional<ServiceConfig> now = FindService(name);
  if (!now) return false;
  const bool sameAccount = UpperCase(now->account) == UpperCase(config.account);
  const UniqueService service = OpenOne(name, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG);
  if (!service) return false;
  const std::wstring account = config.account.empty() ? std::wstring(L"LocalSystem") : Utf8ToWide(config.account);
  if (!::ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, StartType(config.start), SERVICE_NO_CHANGE,
                              Utf8ToWide(config.command).c_str(), nullptr, nullptr, nullptr,
                              sameAccount ? nullptr : account.c_str(), sameAccount ? nullptr : L"",
                              Utf8ToWide(config.displayName).c_str()))
    return false;
  return Describe(service.Get(), config.description);
}

bool Win32System::ServiceRunning(const std::string& name) {
  const UniqueService service = OpenOne(name, SERVICE_QUERY_STATUS);
  const std::optional<SERVICE_STATUS_PROCESS> status = service ? StatusOf(service.Get()) : std::nullopt;
  return status && (status->dwCurrentState == SERVICE_RUNNING || status->dwCurrentState == SERVICE_START_PENDING);
}

bool Win32System::StartOneService(const std::string& name) {
  const UniqueService service = OpenOne(name, SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) return false;
  if (!::StartServiceW(service.Get(), 0, nullptr) && ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) return false;
  const std::optional<SERVICE_STATUS_PROCESS> status = WaitWhile(service.Get(), SERVICE_START_PENDING);
  if (!status) return false;
  if (status->dwCurrentState == SERVICE_RUNNING) return true;
  // Stopped again: what it said, else that it is not running.
  const DWORD code = status->dwWin32ExitCode;
  ::SetLastError(status->dwCurrentState == SERVICE_START_PENDING ? ERROR_SERVICE_REQUEST_TIMEOUT
                 : code != NO_ERROR && code != ERROR_SERVICE_SPECIFIC_ERROR ? code
                                                                             : ERROR_SERVICE_NOT_ACTIVE);
  return false;
}

bool Win32System::StopOneService(const std::string& name) {
  const UniqueService service = OpenOne(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return false;
  std::optional<SERVICE_STATUS_PROCESS> status = StatusOf(service.Get());
  if (!status) return false;
  if (status->dwCurrentState == SERVICE_STOPPED) return true;
  const DWORD process = status->dwProcessId;
  // Its process, to see it end: until then it holds its program.
  const UniqueHandle running(process ? ::OpenProcess(SYNCHRONIZE, FALSE, process) : nullptr);
  SERVICE_STATUS plain{};
  const bool asked = status->dwCurrentState == SERVICE_STOP_PENDING ||
                     ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &plain) ||
                     ::GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
  if (!asked) return false;
  status = WaitWhile(service.Get(), SERVICE_STOP_PENDING);
  if (!status) return false;
  if (status->dwCurrentState != SERVICE_STOPPED) {
    ::SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
    return false;
  }
  if (running) ::WaitForSingleObject(running.Get(), kProcessWaitMs);
  return true;
}

bool Win32System::DeleteOneService(const std::string& name) {
  const UniqueService service = OpenOne(name, DELETE);
  if (!service) return false;
  return ::DeleteService(service.Get()) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

}  // namespace qv
