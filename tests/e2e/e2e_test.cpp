// Whole runs of qvSetup.exe on real packages: files on disk, registry values
// and started programs are checked for real.
#include <gtest/gtest.h>
#include <windows.h>

#include "package.h"
#include "text_conv.h"

namespace qv::e2e {
namespace {

constexpr char kHidden[] = "[GUI]\nVisible=0\n";

TEST(Script, FoundBesideTheProgramByItsOwnName) {
  struct Case {
    const char* exe;
    const char* ownScript;
  } cases[] = {{"setup.exe", "setup.ini"}, {"Install.EXE", "Install.ini"}};
  for (const auto& c : cases) {
    Package pkg("own", c.exe);
    pkg.File("files\\a.txt", "a");
    pkg.Script(std::string(kHidden) + "[INSTALL]\nA=files\\,out\n", c.ownScript);
    if (std::string(c.ownScript) != "setup.ini") pkg.Script("[INSTALL]\nA=files\\,wrong\n", "setup.ini");
    EXPECT_EQ(pkg.Run(), 0) << c.exe;
    EXPECT_EQ(test::ReadTextFile(pkg / "out\\a.txt"), "a") << c.exe;
    EXPECT_FALSE(test::IsFolder(pkg / "wrong")) << c.exe;
  }
}

TEST(Script, NamedByARelativeArgumentOrADrivePath) {
  Package pkg("arg");
  pkg.File("files\\a.txt", "a");
  pkg.Script("[INSTALL]\nA=files\\,wrong\n");
  pkg.Script(std::string(kHidden) + "[INSTALL]\nA=files\\,fromsub\n", "sub\\a.ini");
  EXPECT_EQ(pkg.Run("sub\\a.ini"), 0);
  EXPECT_TRUE(test::IsFile(pkg / "fromsub\\a.txt"));

  test::TempDir elsewhere("elsewhere");
  test::WriteTextFile(elsewhere / "b.ini", std::string(kHidden) + "[INSTALL]\nB=" + pkg.Dir() +
                                               "files\\," + elsewhere.Path() + "out\n");
  EXPECT_EQ(pkg.Run("\"" + elsewhere.Path() + "b.ini\" ignored.ini"), 0);
  EXPECT_TRUE(test::IsFile(elsewhere / "out\\a.txt"));
  EXPECT_FALSE(test::IsFolder(pkg / "wrong"));
}

TEST(Window, AVisibleRunWaitsForOneClickOnOk) {
  Package pkg("visible");
  pkg.File("files\\a.txt", "a");
  pkg.Script("[GUI]\nTiTle=E2E\n[INSTALL]\nA=files\\,out\n");
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + pkg.Exe() + "\"";
  ASSERT_TRUE(::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  // Whatever the test finds, the program does not outlive it.
  struct Reaper {
    PROCESS_INFORMATION& pi;
    ~Reaper() {
      ::TerminateProcess(pi.hProcess, 1);
      ::CloseHandle(pi.hThread);
      ::CloseHandle(pi.hProcess);
    }
  } reaper{pi};
  const std::wstring ok = GbkToWide("\xC8\xB7\xB6\xA8");  // the finished window's button
  HWND button = nullptr;
  for (int i = 0; i < 300 && !button; ++i, ::Sleep(50)) {
    HWND w = ::FindWindowW(L"qvSetupPlainForm", L"E2E");
    HWND b = w ? ::GetDlgItem(w, 1) : nullptr;
    wchar_t text[32] = L"";
    if (b) ::GetWindowTextW(b, text, 32);
    if (b && ok == text) button = b;
  }
  ASSERT_TRUE(button) << "no finished window";
  EXPECT_TRUE(test::IsFile(pkg / "out\\a.txt"));
  // Still up: only the user ends a shown run.
  EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  ::PostMessageW(button, BM_CLICK, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
}

}  // namespace
}  // namespace qv::e2e
