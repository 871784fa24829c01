// A service of ours under Wine's Service Control Manager, through a
// machine installation's whole life; its state is read from the SCM here.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/handles.h"
#include "framework/text_conv.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

constexpr wchar_t kName[] = L"qvE2eService";

struct Seen {
  DWORD state = 0;
  DWORD process = 0;
  DWORD start = 0;
  std::string command;
};

// The service as the SCM has it; none when there is no such service.
std::optional<Seen> Look() {
  const UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const UniqueService service(
      manager ? ::OpenServiceW(manager.Get(), kName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG) : nullptr);
  if (!service) return std::nullopt;
  Seen seen;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed)) {
    seen.state = status.dwCurrentState;
    seen.process = status.dwProcessId;
  }
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  std::vector<BYTE> bytes(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(bytes.data());
  if (needed && ::QueryServiceConfigW(service.Get(), config, needed, &needed)) {
    seen.start = config->dwStartType;
    seen.command = WideToUtf8(config->lpBinaryPathName);
  }
  return seen;
}

// A service a failed test left behind goes with it.
struct Leftover {
  ~Leftover() {
    const UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueService service(manager ? ::OpenServiceW(manager.Get(), kName, SERVICE_STOP | DELETE) : nullptr);
    if (!service) return;
    SERVICE_STATUS status{};
    ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    ::DeleteService(service.Get());
  }
};

std::string Release(const std::string& version) {
  return "[INSTALL]\r\nApp=app\\,?\r\n[SERVICES]\r\n"
         "qvE2eService=%INSTALLDIR%\\qvservice.exe,qvSetup test service,auto,,Installed by a test, started with "
         "the system\r\n[UNINSTALL]\r\nName=qvServicesE2e\r\nVersion=" +
         version + "\r\n";
}

// Installed and started; an update replaces its program while it runs (it
// is stopped for that and runs again after, in a new process); the
// uninstaller stops and deletes it before its program goes.
TEST(Services, InstalledReplacedWhileRunningAndUninstalled) {
  const std::string program = test::ReadTextFile(test::FolderOf(g_recorderExe) + "\\qvservice.exe");
  ASSERT_FALSE(program.empty()) << "qvservice.exe beside " << g_recorderExe;
  ASSERT_FALSE(Look()) << "a service of that name is there already";
  const Leftover leftover;
  Package pkg("services");
  pkg.File("app\\qvservice.exe", program);
  pkg.Script(Release("1.0"));
  const std::string target = pkg / "installed";
  const std::string log = pkg / "install.log";
  ASSERT_EQ(pkg.Run("/S \"/D=" + target + "\" \"/LOG=" + log + "\"", 90000), 0) << test::ReadTextFile(log);
  const std::optional<Seen> first = Look();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(first->start, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(first->command, "\"" + target + "\\qvservice.exe\"");

  // Data behind the program's end: a new file that runs as before.
  const std::string second = program + "version 1.1";
  pkg.File("app\\qvservice.exe", second);
  pkg.Script(Release("1.1"));
  ASSERT_EQ(pkg.Run("/S \"/D=" + target + "\" \"/LOG=" + log + "\"", 90000), 0) << test::ReadTextFile(log);
  EXPECT_EQ(test::ReadTextFile(target + "\\qvservice.exe"), second) << test::ReadTextFile(log);
  const std::optional<Seen> updated = Look();
  ASSERT_TRUE(updated);
  EXPECT_EQ(updated->state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_NE(updated->process, first->process);

  EXPECT_EQ(RunProgram("\"" + target + "\\uninstall.exe\" /S", 90000), 0);
  EXPECT_FALSE(Look());
  EXPECT_FALSE(test::IsFolder(target));
}

}  // namespace
}  // namespace qv::e2e
