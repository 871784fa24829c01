// What a deployment tool sees: options on the command line, the exit code
// and the log.
#include <gtest/gtest.h>
#include <windows.h>

#include "engine/setup_texts.h"
#include "framework/portable/messages.h"
#include "framework/text_conv.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

bool WindowSeen(const wchar_t* title, RunningProgram& program) {
  bool seen = false;
  while (!program.WaitForExit(20)) {
    HWND w = ::FindWindowW(nullptr, title);
    seen = seen || (w && ::IsWindowVisible(w));
  }
  return seen;
}

TEST(Deploy, SilentOptionHidesAShownScript) {
  Package pkg("silent");
  pkg.File("files\\a.txt", "a");
  pkg.Script("[GUI]\nVisible=1\nTiTle=ShouldHide\n[INSTALL]\nA=files\\,out\n");
  RunningProgram program(pkg.CommandLine("/s"));
  ASSERT_TRUE(program.Started());
  EXPECT_FALSE(WindowSeen(L"ShouldHide", program));
  EXPECT_EQ(program.ExitCode(), 0);
  EXPECT_TRUE(test::IsFile(pkg / "out\\a.txt"));
}

TEST(Deploy, FolderOptionAnswersEveryPrompt) {
  Package pkg("folder");
  pkg.File("files\\a.txt", "a");
  pkg.File("more.txt", "m");
  pkg.Script("[GUI]\nTiTle=NoPrompt\n[INSTALL]\nApp=files\\,?\nMore=more.txt,%INSTALLDIR%\\sub\n");
  // A shown run: no prompt, the files go to the given folder, and the
  // finished window waits for its one click.
  RunningProgram program(pkg.CommandLine("\"/D=" + pkg.Dir() + "chosen dir\""));
  ASSERT_TRUE(program.Started());
  HWND button = nullptr;
  const std::wstring ok = Utf8ToWide(texts::kOk);
  for (int i = 0; i < 300 && !button; ++i, ::Sleep(50)) {
    HWND w = ::FindWindowW(nullptr, L"NoPrompt");
    HWND b = w ? ::FindWindowExW(w, nullptr, L"BUTTON", nullptr) : nullptr;
    wchar_t text[32] = L"";
    if (b) ::GetWindowTextW(b, text, 32);
    if (b && ok == text) button = b;
  }
  ASSERT_TRUE(button);
  EXPECT_TRUE(test::IsFile(pkg / "chosen dir\\a.txt"));
  EXPECT_TRUE(test::IsFile(pkg / "chosen dir\\sub\\more.txt"));
  ::PostMessageW(button, BM_CLICK, 0, 0);
  ASSERT_TRUE(program.WaitForExit(10000));
  EXPECT_EQ(program.ExitCode(), 0);
}

TEST(Deploy, AFolderOptionInItsLongFormIsTakenAsItStands) {
  // Two backslashes begin a full path, a share's or this one: never one
  // beside the program.
  Package pkg("longform");
  pkg.File("files\\a.txt", "a");
  pkg.Script("[GUI]\nVisible=0\n[INSTALL]\nApp=files\\,?\nMore=files\\a.txt,%INSTALLDIR%\\sub\n"
             "[UNINSTALL]\nName=qvLongFormTest\n");
  ASSERT_EQ(pkg.Run("\"/D=\\\\?\\" + pkg.Dir() + "chosen\""), 0);
  EXPECT_TRUE(test::IsFile(pkg / "chosen\\a.txt"));
  EXPECT_TRUE(test::IsFile(pkg / "chosen\\sub\\a.txt"));
  // Its record names the folder as the system's rules read it.
  EXPECT_EQ(RunProgram("\"" + (pkg / "chosen\\uninstall.exe") + "\" /S"), 0);
  EXPECT_FALSE(test::IsFile(pkg / "chosen\\sub\\a.txt"));
}

TEST(Deploy, ExitCodesFromRealCauses) {
  struct Case {
    const char* what;
    const char* script;
    std::string args;
    int code;
  } cases[] = {
      {"all done", "[INSTALL]\nA=files\\,out\n", "/S", 0},
      {"no script", nullptr, "/S nosuch.ini", 2},
      {"unknown root", "[REGISTRY]\n1=NOSUCHROOT\\Software\\X\\V,1\n", "/S", 3},
      {"command that cannot start", "[COMMAND]\n1=Z:\\no\\such\\program.exe,HIDE\n", "/S", 3},
      {"folder that cannot be made", "[INSTALL]\nA=files\\,Q9:\\x\n", "/S", 3},
      {"bad option", "[INSTALL]\nA=files\\,out\n", "/S /X", 5},
      {"unwritable log", "[INSTALL]\nA=files\\,out\n", "/S /LOG=Z:\\no\\such\\dir\\x.log", 5},
  };
  for (const auto& c : cases) {
    Package pkg("codes");
    pkg.File("files\\a.txt", "a");
    if (c.script) pkg.Script(c.script);
    EXPECT_EQ(pkg.Run(c.args), c.code) << c.what;
    if (c.code == 5) {
      EXPECT_FALSE(test::IsFolder(pkg / "out")) << "a bad command line runs nothing";
    }
  }
}

// The sections that are ours with %INSTALLDIR% where no entry asks for the
// folder: the run stops before anything is written, and nothing named
// after the macro lands in the person's PATH or in a shortcut.
TEST(Deploy, AFolderMacroWithoutAValueInOurSectionsStopsTheRunFirst) {
  HKEY environment;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Environment", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &environment,
                              nullptr),
            ERROR_SUCCESS);
  const auto userPath = [environment] {
    std::string text(32768, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    if (::RegQueryValueExA(environment, "PATH", nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
      return std::string("(none)");
    return text.substr(0, text.find('\0'));
  };
  const std::string before = userPath();
  const struct {
    const char* section;
    const char* entry;
  } kCases[] = {{"PATH", "Bin=%INSTALLDIR%\\bin"}, {"SHORTCUTS", "App=%INSTALLDIR%\\app.exe,%TEMPDIR%\\qvUnsetE2e"}};
  for (const auto& c : kCases) {
    Package pkg("unset");
    pkg.File("files\\a.txt", "a");
    pkg.Script(std::string("[SETUP]\nScope=user\n[INSTALL]\nA=files\\,out\n[") + c.section + "]\n" + c.entry + "\n");
    const std::string log = pkg / "install.log";
    EXPECT_EQ(pkg.Run("/S \"/LOG=" + log + "\""), 4) << c.section;
    const std::string text = test::ReadTextFile(log);
    EXPECT_NE(text.find(std::string("error: [") + c.section + "] " + std::string(c.entry).substr(0, 3) +
                        " uses %INSTALLDIR%, which has no value"),
              std::string::npos)
        << text;
    EXPECT_FALSE(test::IsFolder(pkg / "out")) << c.section;
    const std::string after = userPath();
    EXPECT_EQ(after, before) << c.section;
    if (after != before && before == "(none)") ::RegDeleteValueA(environment, "PATH");
    if (after != before && before != "(none)")
      ::RegSetValueExA(environment, "PATH", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(before.c_str()),
                       static_cast<DWORD>(before.size() + 1));
  }
  ::RegCloseKey(environment);
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  const std::string links = std::string(temp) + "qvUnsetE2e";
  EXPECT_FALSE(test::IsFolder(links));
  ::DeleteFileA((links + "\\App.lnk").c_str());
  ::RemoveDirectoryA(links.c_str());
}

TEST(Deploy, AnUnreadableSourceFileFails) {
  Package pkg("locked");
  pkg.File("files\\a.txt", "a");
  pkg.File("files\\b.txt", "b");
  pkg.Script("[INSTALL]\nA=files\\,out\n");
  // Held open with no sharing: nobody can read it while the run goes.
  HANDLE lock = ::CreateFileA((pkg / "files\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(pkg.Run("/S"), 3);
  ::CloseHandle(lock);
  EXPECT_TRUE(test::IsFile(pkg / "out\\a.txt"));
}

TEST(Deploy, ABadOptionInAShownRunIsExplained) {
  Package pkg("badshown");
  pkg.Script("[GUI]\nTiTle=Bad\n");
  RunningProgram program(pkg.CommandLine("/QUIET"));
  ASSERT_TRUE(program.Started());
  HWND box = nullptr;
  for (int i = 0; i < 200 && !box; ++i, ::Sleep(50)) {
    HWND w = ::FindWindowW(nullptr, Utf8ToWide(texts::kWarning).c_str());
    if (w && ::IsWindowVisible(w)) box = w;
  }
  ASSERT_TRUE(box) << "no warning";
  ::PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
  ::PostMessageW(::FindWindowExW(box, nullptr, L"BUTTON", nullptr), BM_CLICK, 0, 0);
  ASSERT_TRUE(program.WaitForExit(10000));
  EXPECT_EQ(program.ExitCode(), 5);
  EXPECT_EQ(::FindWindowW(nullptr, L"Bad"), nullptr);
}

TEST(Deploy, TheLogTellsWhatHappened) {
  Package pkg("log");
  pkg.File("files\\a.txt", "a");
  pkg.File("files\\b.txt", "b");
  pkg.Script(
      "[INSTALL]\nA=files\\,out\n"
      "[REGISTRY]\n1=HKCU\\Software\\qvSetupTest\\Log\\V,DWORD:2\n2=NOPE\\S\\W,x\n"
      "[COMMAND]\n1=cmd.exe /c exit,HIDE\n2=Z:\\no\\such.exe,MAXIMIZE\n");
  HANDLE lock = ::CreateFileA((pkg / "files\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const std::string log = pkg / "install.log";
  EXPECT_EQ(pkg.Run("/S \"/LOG=" + log + "\""), 3);
  ::CloseHandle(lock);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\qvSetupTest");
  const std::string text = test::ReadTextFile(log);
  for (const std::string& line : {std::string("script: ") + pkg.Dir() + "setup.ini", std::string("folders: PROGRAMFILESDIR="),
                                  "folder created: " + pkg.Dir() + "out",
                                  "copied: " + pkg.Dir() + "files\\a.txt -> " + pkg.Dir() + "out\\a.txt",
                                  "not copied: " + pkg.Dir() + "files\\b.txt -> " + pkg.Dir() + "out\\b.txt (error 32",
                                  std::string("registry value written: HKCU\\Software\\qvSetupTest\\Log value \"V\" REG_DWORD"),
                                  std::string("registry value not written: unknown root"),
                                  std::string("started: cmd.exe /c exit (show 0)"),
                                  std::string("not started: Z:\\no\\such.exe (show 3) (error "),
                                  std::string("exit code 3")})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n--- log:\n" << text;
  std::printf("%s", text.c_str());
}

}  // namespace
}  // namespace qv::e2e

namespace qv::e2e {
namespace {

TEST(Deploy, ASilentRunEndsAnErrorWithItsCodeAndNoBox) {
  // ProgramFilesDir of the wrong type is one of the hard errors.
  HKEY k;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS, &k),
            ERROR_SUCCESS);
  char saved[MAX_PATH] = "";
  DWORD size = sizeof saved;
  ::RegQueryValueExA(k, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(saved), &size);
  const DWORD bad = 1;
  ::RegSetValueExA(k, "ProgramFilesDir", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bad), 4);
  Package pkg("silenterror");
  pkg.Script("[INSTALL]\nA=setup.ini,out\n");
  const std::string log = pkg / "error.log";
  const int code = pkg.Run("/S \"/LOG=" + log + "\"", 20000);
  ::RegSetValueExA(k, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved),
                   static_cast<DWORD>(strlen(saved) + 1));
  ::RegCloseKey(k);
  EXPECT_EQ(code, 4);  // not -1: it ended by itself, no box waited
  const std::string text = test::ReadTextFile(log);
  EXPECT_NE(text.find("error: Invalid data type for 'ProgramFilesDir'"), std::string::npos) << text;
  EXPECT_NE(text.find("exit code 4"), std::string::npos) << text;
}

}  // namespace
}  // namespace qv::e2e
