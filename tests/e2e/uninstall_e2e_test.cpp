// Uninstallers under Wine: a one-file package leaves the plain setup program
// as its uninstaller. (Files in use: in_use_test.py.)
#include <gtest/gtest.h>
#include <windows.h>

#include "engine/install_record.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

constexpr char kScript[] = "[INSTALL]\r\nApp=app\\,?\r\n[UNINSTALL]\r\nName=qvUninstallE2e\r\n";

TEST(Uninstall, AOneFilePackageLeavesThePlainProgramToUninstall) {
  Package pkg("uninstall_packed");
  pkg.Script(kScript);
  pkg.File("app\\a.txt", "a");
  const std::string sealed = pkg / "out\\OneSetup.exe";
  const std::string folder = pkg.Dir().substr(0, pkg.Dir().size() - 1);
  test::MakeFolders(pkg / "out");
  ASSERT_EQ(RunProgram(Quoted(g_qvpackExe) + " pack " + Quoted(folder) + " -o " + Quoted(sealed) + " --stub " +
                       Quoted(g_setupExe)),
            0);
  const std::string target = pkg / "installed";
  ASSERT_EQ(RunProgram(Quoted(sealed) + " /S " + Quoted("/D=" + target)), 0);
  EXPECT_EQ(test::ReadTextFile(target + "\\a.txt"), "a");
  EXPECT_TRUE(test::ReadTextFile(target + "\\uninstall.exe") == test::ReadTextFile(g_setupExe) + kUninstallerMark)
      << "the uninstaller is not the setup program without its package, marked";
  EXPECT_EQ(RunProgram(Quoted(target + "\\uninstall.exe") + " /S"), 0);
  EXPECT_FALSE(test::IsFolder(target));
}

}  // namespace
}  // namespace qv::e2e
