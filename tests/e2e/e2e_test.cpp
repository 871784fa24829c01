// Whole runs of qvSetup.exe on real packages: files on disk, registry values
// and started programs are checked for real.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/portable/messages.h"
#include "framework/text_conv.h"
#include "tests/e2e/package_fixture.h"

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
  RunningProgram program(pkg.CommandLine());
  ASSERT_TRUE(program.Started());
  const std::wstring ok = Utf8ToWide(texts::kOk);  // the finished window's button
  HWND button = nullptr;
  for (int i = 0; i < 300 && !button; ++i, ::Sleep(50)) {
    HWND w = ::FindWindowW(L"qvWinControl", L"E2E");
    HWND b = w ? ::FindWindowExW(w, nullptr, L"BUTTON", nullptr) : nullptr;
    wchar_t text[32] = L"";
    if (b) ::GetWindowTextW(b, text, 32);
    if (b && ok == text) button = b;
  }
  ASSERT_TRUE(button) << "no finished window";
  EXPECT_TRUE(test::IsFile(pkg / "out\\a.txt"));
  // Still up: only the user ends a shown run.
  EXPECT_FALSE(program.WaitForExit(300));
  ::PostMessageW(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(program.WaitForExit(10000));
  EXPECT_EQ(program.ExitCode(), 0);
}

}  // namespace
}  // namespace qv::e2e

namespace qv::e2e {
namespace {

// Finds a visible top-level window of a process by its caption.
HWND FindProcessWindow(DWORD pid, const std::wstring& caption) {
  return static_cast<HWND>(VisibleWindowOf(pid, [&](void* w) {
    wchar_t text[256] = L"";
    ::GetWindowTextW(static_cast<HWND>(w), text, 256);
    return caption == text;
  }));
}

BOOL CALLBACK CollectText(HWND c, LPARAM lp) {
  wchar_t t[256] = L"";
  ::GetWindowTextW(c, t, 256);
  *reinterpret_cast<std::wstring*>(lp) += std::wstring(t) + L"|";
  return TRUE;
}

// The error comes before the script's GUI section is read, so the window
// takes its default (shown) and stays up after the box, as after any error.
TEST(Errors, AHardErrorIsReportedUnderTheProgramsTitle) {
  // ProgramFilesDir of the wrong type is one of the engine's hard errors.
  HKEY k;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  char saved[MAX_PATH] = "";
  DWORD size = sizeof saved;
  ::RegQueryValueExA(k, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(saved), &size);
  struct Restore {
    HKEY k;
    const char* saved;
    ~Restore() {
      ::RegSetValueExA(k, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved),
                       static_cast<DWORD>(strlen(saved) + 1));
      ::RegCloseKey(k);
    }
  } restore{k, saved};
  const DWORD bad = 1;
  ::RegSetValueExA(k, "ProgramFilesDir", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bad), 4);

  Package pkg("error");
  pkg.File("files\\a.txt", "a");
  pkg.Script("[GUI]\nVisible=0\n[INSTALL]\nA=files\\,out\n");
  RunningProgram program(pkg.CommandLine());
  ASSERT_TRUE(program.Started());
  HWND box = nullptr;
  for (int i = 0; i < 200 && !box; ++i, ::Sleep(50)) box = FindProcessWindow(program.Id(), L"setup");
  ASSERT_TRUE(box) << "no error box under the program's title";
  // The box's text names the error.
  std::wstring text;
  ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
  EXPECT_NE(text.find(L"Invalid data type for 'ProgramFilesDir'."), std::wstring::npos);
  EXPECT_FALSE(test::IsFolder(pkg / "out"));
  ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  for (int i = 0; i < 100 && ::IsWindow(box); ++i) ::Sleep(50);
  EXPECT_FALSE(::IsWindow(box));
  EXPECT_FALSE(program.WaitForExit(500));
}

}  // namespace
}  // namespace qv::e2e
