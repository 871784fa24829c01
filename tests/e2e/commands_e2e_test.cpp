// COMMAND entries waited for under Wine: a real program's exit code becomes
// the run's, and the uninstaller runs its own commands before the files go.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

TEST(Commands, AWaitedCommandsExitCodeDecidesTheRunsAndTheUninstallerRunsItsOwnFirst) {
  struct Case {
    int code;  // what cmd ends with
    int runExit;
    const char* said;  // in one log line with the code
  } cases[] = {
      {0, 0, "waited"},
      {1638, 0, "waited"},
      {5, 3, "command failed"},
      {3010, 3010, "a restart completes it"},
  };
  for (const Case& c : cases) {
    const std::string code = std::to_string(c.code);
    Package pkg("commands");
    pkg.File("app\\a.txt", "a");
    const std::string target = pkg / "installed";
    // The uninstaller's command copies an installed file out: it ran
    // before the files went.
    pkg.Script("[GUI]\nVisible=0\n[INSTALL]\nApp=app\\,?\n[COMMAND]\n1=cmd /c exit " + code +
               ",HIDE,WAIT,OK=0 1638\n2=cmd /c copy \"%INSTALLDIR%\\a.txt\" \"" + pkg.Dir() +
               "seen.txt\",HIDE,UNINSTALL,WAIT\n[UNINSTALL]\nName=qvCommandsE2e" + code + "\n");
    const std::string log = pkg / "install.log";
    EXPECT_EQ(pkg.Run("/S " + Quoted("/D=" + target) + " " + Quoted("/LOG=" + log)), c.runExit) << code;
    const std::string text = test::ReadTextFile(log);
    const std::size_t at = text.find("exit code " + code + ": cmd /c exit " + code);
    ASSERT_NE(at, std::string::npos) << text;
    const std::size_t start = text.rfind('\n', at) + 1;
    const std::string line = text.substr(start, text.find('\n', at) - start);
    EXPECT_NE(line.find(c.said), std::string::npos) << line;
    EXPECT_TRUE(test::IsFile(target + "\\a.txt"));
    EXPECT_FALSE(test::IsFile(pkg / "seen.txt")) << "an UNINSTALL command ran at the installation";

    const std::string removal = pkg / "uninstall.log";
    EXPECT_EQ(RunProgram(Quoted(target + "\\uninstall.exe") + " /S " + Quoted("/LOG=" + removal)), 0) << code;
    EXPECT_EQ(test::ReadTextFile(pkg / "seen.txt"), "a") << test::ReadTextFile(removal);
    EXPECT_FALSE(test::IsFolder(target));
  }
}

}  // namespace
}  // namespace qv::e2e
