// Uninstallers under Wine: a file in use stays for another run, and a
// one-file package leaves the plain setup program as its uninstaller.
#include <gtest/gtest.h>
#include <windows.h>

#include "handles.h"
#include "install_record.h"
#include "package.h"
#include "text_conv.h"

namespace qv::e2e {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

constexpr char kScript[] = "[INSTALL]\r\nApp=app\\,?\r\n[UNINSTALL]\r\nName=qvUninstallE2e\r\n";

TEST(Uninstall, AFileInUseStaysAndTheUninstallerCanBeRunAgain) {
  Package pkg("uninstall_in_use");
  pkg.Script(kScript);
  pkg.File("app\\held.txt", "held");
  pkg.File("app\\free.txt", "free");
  const std::string target = pkg / "installed";
  ASSERT_EQ(pkg.Run("/S \"/D=" + target + "\""), 0);
  const std::string uninstaller = Quoted(target + "\\uninstall.exe");
  {
    // Held without any sharing, as an editor or a running program may.
    UniqueFile held(::CreateFileW(WidePath(target + "\\held.txt").value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(RunProgram(uninstaller + " /S " + Quoted("/LOG=" + pkg / "first.log")), 3);
    EXPECT_TRUE(test::IsFile(target + "\\held.txt"));
    EXPECT_FALSE(test::IsFile(target + "\\free.txt"));
    EXPECT_TRUE(test::IsFile(target + "\\uninstall.exe"));
    const std::string log = test::ReadTextFile(pkg / "first.log");
    EXPECT_NE(log.find("not removed: " + target + "\\held.txt (error 32"), std::string::npos) << log;
  }
  // Once free, the uninstaller finishes the job.
  EXPECT_EQ(RunProgram(uninstaller + " /S " + Quoted("/LOG=" + pkg / "second.log")), 0);
  EXPECT_FALSE(test::IsFolder(target)) << test::ReadTextFile(pkg / "second.log");
}

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
