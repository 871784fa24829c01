// Uninstallers under Wine: a one-file package leaves the plain setup program
// as its uninstaller. (Files in use: in_use_test.py.)
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/install_record.h"
#include "engine/run_report.h"
#include "framework/windows_paths.h"
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

// '/' in a destination, in /D= and in a shortcut's name and place, read as
// the system reads it: the record names the files so and the uninstaller
// takes them away; a shortcut's name cannot step out of its place.
TEST(Uninstall, SlashesInPathsAreReadAsTheSystemReadsThem) {
  Package pkg("slashes");
  pkg.File("app\\a.txt", "a");
  const std::string target = pkg / "installed";
  std::string slashed = target;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  pkg.Script("[INSTALL]\r\nApp=app\\,?\r\nMore=app\\a.txt," + slashed + "/sub\r\n[SHORTCUTS]\r\nx/../../escaped=" +
             target + "\\a.txt," + slashed + "/menu\r\nSub/Help=%INSTALLDIR%/a.txt," + slashed +
             "/menu\r\n[UNINSTALL]\r\nName=qvSlashesE2e\r\n");
  const std::string log = pkg / "install.log";
  // The shortcut that steps out is a failed entry.
  EXPECT_EQ(pkg.Run("/S " + Quoted("/D=" + slashed + "/main") + " " + Quoted("/LOG=" + log)), 3)
      << test::ReadTextFile(log);
  EXPECT_EQ(test::ReadTextFile(target + "\\main\\a.txt"), "a");
  EXPECT_EQ(test::ReadTextFile(target + "\\sub\\a.txt"), "a");
  EXPECT_TRUE(test::IsFile(target + "\\menu\\Sub\\Help.lnk"));
  EXPECT_FALSE(test::IsFile(target + "\\escaped.lnk"));
  EXPECT_FALSE(test::IsFile(target + "\\menu\\escaped.lnk"));

  EXPECT_EQ(RunProgram(Quoted(target + "\\main\\uninstall.exe") + " /S"), 0);
  EXPECT_FALSE(test::IsFile(target + "\\sub\\a.txt"));
  EXPECT_FALSE(test::IsFile(target + "\\menu\\Sub\\Help.lnk"));
  EXPECT_FALSE(test::IsFolder(target + "\\main"));
}

// The files under a folder as the engine meets them: each folder's
// listing in the system's order, a sub-folder's files where it is met (its
// source empty when the folder is made there).
void Walk(const std::string& from, const std::string& to, std::vector<std::pair<std::string, std::string>>& files) {
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA((from + "\\*.*").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do {
    const std::string n = d.cFileName;
    if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      files.push_back({from + "\\" + n, to + "\\" + n});
    } else if (n != "." && n != "..") {
      if (!test::IsFolder(to + "\\" + n)) files.push_back({"", to + "\\" + n});
      Walk(from + "\\" + n, to + "\\" + n, files);
    }
  } while (::FindNextFileA(h, &d));
  ::FindClose(h);
}

// The first place two lists differ, if any: the lists are long.
void ExpectSameLines(const std::vector<std::string>& got, const std::vector<std::string>& wanted, const char* what) {
  for (std::size_t i = 0; i < std::min(got.size(), wanted.size()); ++i)
    ASSERT_EQ(got[i], wanted[i]) << what << ", line " << i;
  EXPECT_EQ(got.size(), wanted.size()) << what;
}

// Lines of a text file without their ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at - (end > at && text[end - 1] == '\r')));
    at = end + 1;
  }
  return lines;
}

TEST(Uninstall, ManySmallFilesAreLoggedAndRecordedInOrderAroundOneThatFails) {
  // Many small files go through more than one thread: the log and the record
  // still name them in the order the script installs them, a file that
  // cannot be copied fails in its place, one replaced in the middle is kept
  // aside as always, and the uninstaller takes back exactly what was written.
  Package pkg("many_small");
  pkg.Script("[INSTALL]\r\nApp=app\\,?\r\n[UNINSTALL]\r\nName=qvManySmallE2e\r\n");
  // Files and folders side by side at each level, as the system lists them.
  for (int f = 0; f < 30; ++f) pkg.File("app\\t" + std::to_string(f) + ".txt", std::to_string(f));
  for (int d = 0; d < 6; ++d) {
    const std::string dir = "app\\dir" + std::to_string(d);
    for (int f = 0; f < 60; ++f) pkg.File(dir + "\\f" + std::to_string(f) + ".txt", std::to_string(d * 100 + f));
    for (int f = 0; f < 10; ++f) pkg.File(dir + "\\sub\\g" + std::to_string(f) + ".txt", std::to_string(d * 10 + f));
  }
  const std::string target = pkg / "installed";
  pkg.File("installed\\dir4\\f30.txt", "there before");
  const std::string held = pkg / "app\\dir2\\f41.txt", replaced = target + "\\dir4\\f30.txt";
  std::vector<std::pair<std::string, std::string>> files;
  Walk(pkg / "app", target, files);
  ASSERT_EQ(files.size(), 461u);  // 450 files, 11 folders: dir4 is there already

  HANDLE lock = ::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const std::string log = pkg / "install.log";
  const int code = pkg.Run("/S " + Quoted("/D=" + target) + " " + Quoted("/LOG=" + log));
  ::CloseHandle(lock);
  EXPECT_EQ(code, 3);

  std::vector<std::string> copies, expected;
  for (const std::string& line : Lines(test::ReadTextFile(log))) {
    const std::string text = line.size() > 13 ? line.substr(13) : "";
    if (text.rfind("copied: ", 0) == 0 || text.rfind("not copied: ", 0) == 0 || text.rfind("folder created: ", 0) == 0)
      copies.push_back(text.substr(0, text.find(" (error ")));
  }
  for (const auto& [from, to] : files)
    expected.push_back(from.empty() ? "folder created: " + to
                                    : (from == held ? "not copied: " : "copied: ") + from + " -> " + to);
  ExpectSameLines(copies, expected, "log");
  EXPECT_NE(test::ReadTextFile(log).find("not copied: " + held + " -> " + target + "\\dir2\\f41.txt (error 32"),
            std::string::npos);

  // The record: each file written (F, with whether it was there before) or
  // not (x), in the same order.
  std::vector<std::string> recorded, wanted;
  for (const std::string& line : Lines(test::ReadTextFile(target + "\\uninstall.dat"))) {
    if (line.size() < 11 || (line[9] != 'F' && line[9] != 'x')) continue;
    const std::size_t tab = line.find('\t', 11);
    recorded.push_back(line.substr(9, 1) + " " + line.substr(11, tab == std::string::npos ? tab : tab - 11) +
                       (line[9] == 'F' ? line.substr(tab, 2) : ""));
  }
  for (const auto& [from, to] : files) {
    if (!from.empty()) wanted.push_back(from == held ? "x " + to : "F " + to + (to == replaced ? "\t1" : "\t0"));
  }
  ExpectSameLines(recorded, wanted, "record");
  for (const auto& [from, to] : files) {
    if (!from.empty()) {
      EXPECT_EQ(test::ReadTextFile(to), from == held ? "" : test::ReadTextFile(from)) << to;
    }
  }

  EXPECT_EQ(RunProgram(Quoted(target + "\\uninstall.exe") + " /S"), 0);
  for (const auto& [from, to] : files) {
    if (!from.empty()) {
      EXPECT_EQ(test::IsFile(to), to == replaced) << to;
    }
  }
  EXPECT_FALSE(test::IsFolder(target + "\\dir0"));
}

// Seals a package folder into one file beside it, as a packager does.
std::string Sealed(const Package& pkg) {
  const std::string folder = pkg.Dir().substr(0, pkg.Dir().size() - 1);
  const std::string out = pkg / "out\\Setup.exe";
  test::MakeFolders(pkg / "out");
  return RunProgram(Quoted(g_qvpackExe) + " pack " + Quoted(folder) + " -o " + Quoted(out) + " --stub " +
                    Quoted(g_setupExe)) == 0
             ? out
             : std::string();
}

// A product's version as a one-file package: 1.0 has a file 1.1 no longer
// has, a file both have alike, and a larger one 1.1 changes in a few places.
std::unique_ptr<Package> Release(const std::string& version) {
  auto pkg = std::make_unique<Package>("update_" + version);
  pkg->Script("[INSTALL]\r\nqvUpdateE2eApp=app\\,?\r\n[UNINSTALL]\r\nName=qvUpdateE2e\r\nId=qvUpdateE2e\r\nVersion=" +
              version + "\r\n");
  pkg->File("app\\a.txt", "a" + version);
  pkg->File("app\\same.txt", "the same in both");
  std::string big(256 << 10, '\0');
  std::uint32_t x = 12345;
  for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  if (version != "1.0")
    for (std::size_t at = 1000; at < big.size(); at += 50000) big[at] = '!';
  pkg->File("app\\big.bin", big);
  pkg->File(version == "1.0" ? "app\\obsolete.txt" : "app\\new.txt", version);
  return pkg;
}

// 1.1 run silently without /D= goes where 1.0 was installed with /D=, and
// leaves nothing of 1.0; so does the update made from the two, which
// refuses a changed file and any other version first; 1.0 again is refused
// with its own exit code, then allowed; the uninstaller leaves nothing.
TEST(Update, ANewVersionLandsWhereTheOldOneIsAndLeavesNothingOfIt) {
  const std::unique_ptr<Package> first = Release("1.0"), second = Release("1.1");
  const std::string v1 = Sealed(*first), v2 = Sealed(*second);
  ASSERT_TRUE(!v1.empty() && !v2.empty());
  Package place("update_place");
  const std::string update = place / "Update.exe";
  ASSERT_EQ(RunProgram(Quoted(g_qvpackExe) + " patch " + Quoted(v1) + " " + Quoted(v2) + " -o " + Quoted(update)), 0);
  const std::string target = place / "custom";
  char programFiles[MAX_PATH] = {};
  ::GetEnvironmentVariableA("ProgramFiles", programFiles, MAX_PATH);
  const std::string suggested = std::string(programFiles) + "\\qvUpdateE2eApp";
  const auto isVersion11 = [&] {
    EXPECT_EQ(test::ReadTextFile(target + "\\a.txt"), "a1.1");
    EXPECT_EQ(test::ReadTextFile(target + "\\new.txt"), "1.1");
    EXPECT_EQ(test::ReadTextFile(target + "\\big.bin"), test::ReadTextFile(second->Dir() + "app\\big.bin"));
    EXPECT_EQ(test::ReadTextFile(target + "\\same.txt"), "the same in both");
    EXPECT_FALSE(test::IsFile(target + "\\obsolete.txt"));
    EXPECT_FALSE(test::IsFolder(suggested));
  };
  for (const bool delta : {false, true}) {
    SCOPED_TRACE(delta ? "update package" : "full package");
    ASSERT_EQ(RunProgram(Quoted(v1) + " /S /ALLOWDOWNGRADE " + Quoted("/D=" + target)), 0);
    ASSERT_TRUE(test::IsFile(target + "\\obsolete.txt"));
    const std::string log = place / "update.log";
    if (delta) {
      // A file it takes as installed, changed since: nothing is written.
      test::WriteTextFile(target + "\\same.txt", "the person's");
      EXPECT_EQ(RunProgram(Quoted(update) + " /S " + Quoted("/LOG=" + log)), kExitNotTheBase) << test::ReadTextFile(log);
      EXPECT_EQ(test::ReadTextFile(target + "\\a.txt"), "a1.0");
      test::WriteTextFile(target + "\\same.txt", "the same in both");
    }
    EXPECT_EQ(RunProgram(Quoted(delta ? update : v2) + " /S " + Quoted("/LOG=" + log)), 0) << test::ReadTextFile(log);
    isVersion11();
    // Over 1.1, the update has nothing to go by.
    if (delta) {
      EXPECT_EQ(RunProgram(Quoted(update) + " /S"), kExitNotTheBase);
    }
  }

  EXPECT_EQ(RunProgram(Quoted(v1) + " /S"), kExitNewerInstalled);
  EXPECT_EQ(test::ReadTextFile(target + "\\a.txt"), "a1.1");
  EXPECT_EQ(RunProgram(Quoted(v1) + " /S /ALLOWDOWNGRADE"), 0);
  EXPECT_EQ(test::ReadTextFile(target + "\\a.txt"), "a1.0");
  EXPECT_TRUE(test::IsFile(target + "\\obsolete.txt"));
  EXPECT_FALSE(test::IsFile(target + "\\new.txt"));

  EXPECT_EQ(RunProgram(Quoted(target + "\\uninstall.exe") + " /S"), 0);
  EXPECT_FALSE(test::IsFolder(target));
}

// A program's bytes with the file version of its version resource changed
// in place: the resource windres made, other numbers.
std::string WithFileVersion(std::string program, std::uint32_t ms, std::uint32_t ls) {
  std::string key;
  for (const char c : std::string("VS_VERSION_INFO")) key += {c, '\0'};
  const std::size_t info = program.find(key);
  const std::size_t at = info == std::string::npos ? info : program.find(std::string("\xBD\x04\xEF\xFE", 4), info);
  EXPECT_NE(at, std::string::npos) << "no VS_FIXEDFILEINFO";
  if (at == std::string::npos) return program;
  for (int i = 0; i < 4; ++i) {
    program[at + 8 + i] = static_cast<char>(ms >> (8 * i));
    program[at + 12 + i] = static_cast<char>(ls >> (8 * i));
  }
  return program;
}

// The file version as the system reads it.
std::string FileVersionOf(const std::string& path) {
  const std::wstring wide = WidePath(path).value();
  DWORD ignored = 0;
  std::vector<std::uint8_t> info(::GetFileVersionInfoSizeW(wide.c_str(), &ignored));
  void* p = nullptr;
  UINT length = 0;
  if (info.empty() || !::GetFileVersionInfoW(wide.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) ||
      !::VerQueryValueW(info.data(), L"\\", &p, &length) || length < sizeof(VS_FIXEDFILEINFO))
    return "none";
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

void SetModified(const std::string& path, std::uint64_t ticks) {
  HANDLE h =
      ::CreateFileW(WidePath(path).value().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  const FILETIME t{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  EXPECT_TRUE(::SetFileTime(h, nullptr, nullptr, &t));
  ::CloseHandle(h);
}

TEST(Uninstall, EntryFlagsAndGeneratedFilesThroughTheRealProgram) {
  Package pkg("flags");
  pkg.Script(
      "[INSTALL]\r\nApp=app\\,?\r\nConf=conf\\settings.ini,%INSTALLDIR%,ONLYIFNEW\r\n"
      "Fresh=conf\\fresh.ini,%INSTALLDIR%,ONLYIFNEW\r\nShared=shared.dat,%INSTALLDIR%\\shared,KEEP,IFNEWER\r\n"
      "Lib=lib\\,%INSTALLDIR%\\lib,ifnewer\r\n"
      "[UNINSTALLDELETE]\r\nLogs=%INSTALLDIR%\\logs\\*.log\r\nCache=%INSTALLDIR%\\cache\r\n"
      "Marker=%INSTALLDIR%\\first-run.flag\r\nOutside=%INSTALLDIR%\\..\\outside\\*.*\r\n"
      "[UNINSTALL]\r\nName=qvFlagsE2e\r\n");
  const std::string program = test::ReadTextFile(g_setupExe);
  const std::string old = WithFileVersion(program, 0, 1), newest = WithFileVersion(program, 99 << 16, 0);
  const std::string ours = FileVersionOf(g_setupExe);
  pkg.File("app\\a.txt", "a");
  pkg.File("conf\\settings.ini", "shipped");
  pkg.File("conf\\fresh.ini", "fresh");
  pkg.File("shared.dat", "shared");
  pkg.File("lib\\newer.exe", program);
  pkg.File("lib\\older.exe", program);
  pkg.File("lib\\later.txt", "package's");
  pkg.File("lib\\earlier.txt", "package's");
  const std::string target = pkg / "installed";
  test::WriteTextFile(target + "\\settings.ini", "edited");
  test::WriteTextFile(target + "\\lib\\newer.exe", old);
  test::WriteTextFile(target + "\\lib\\older.exe", newest);
  test::WriteTextFile(target + "\\lib\\later.txt", "installed");
  test::WriteTextFile(target + "\\lib\\earlier.txt", "installed");
  test::WriteTextFile(pkg / "outside\\mine.log", "not ours");
  ASSERT_EQ(FileVersionOf(target + "\\lib\\newer.exe"), "0.0.0.1");
  // 2001 and 2200: older and newer than the package's files.
  SetModified(target + "\\lib\\later.txt", 126000000000000000ull);
  SetModified(target + "\\lib\\earlier.txt", 189000000000000000ull);

  const std::string log = pkg / "install.log";
  EXPECT_EQ(pkg.Run("/S " + Quoted("/D=" + target) + " " + Quoted("/LOG=" + log)), 3) << test::ReadTextFile(log);
  const std::string logged = test::ReadTextFile(log);
  EXPECT_EQ(test::ReadTextFile(target + "\\settings.ini"), "edited");
  EXPECT_EQ(test::ReadTextFile(target + "\\fresh.ini"), "fresh");
  EXPECT_EQ(FileVersionOf(target + "\\lib\\newer.exe"), ours);
  EXPECT_EQ(FileVersionOf(target + "\\lib\\older.exe"), "99.0.0.0");
  EXPECT_EQ(test::ReadTextFile(target + "\\lib\\later.txt"), "package's");
  EXPECT_EQ(test::ReadTextFile(target + "\\lib\\earlier.txt"), "installed");
  EXPECT_NE(logged.find("kept: exists: " + target + "\\settings.ini"), std::string::npos) << logged;
  const auto logs = [&](const std::string& line) { return logged.find(line) != std::string::npos; };
  EXPECT_TRUE(logs("replaced: newer, version " + ours + " against 0.0.0.1 installed: " + target));
  EXPECT_TRUE(logs("kept: not newer, version " + ours + " against 99.0.0.0 installed: " + target));
  EXPECT_NE(logged.find("[UNINSTALLDELETE] Outside refused"), std::string::npos);
  // qvpack.exe's check refuses that entry too, before anything is packed.
  EXPECT_EQ(RunProgram(Quoted(g_qvpackExe) + " check " + Quoted(pkg.Dir().substr(0, pkg.Dir().size() - 1))), 2);

  // What the program makes as it runs. (Links: the host test; Wine 8 makes none.)
  test::WriteTextFile(target + "\\logs\\1.log", "1");
  test::WriteTextFile(target + "\\logs\\note.txt", "the person's");
  test::WriteTextFile(target + "\\cache\\deep\\x.bin", "x");
  test::WriteTextFile(target + "\\first-run.flag", "");
  const std::string uninstallLog = pkg / "uninstall.log";
  EXPECT_EQ(RunProgram(Quoted(target + "\\uninstall.exe") + " /S " + Quoted("/LOG=" + uninstallLog)), 0)
      << test::ReadTextFile(uninstallLog);
  EXPECT_FALSE(test::IsFolder(target + "\\cache"));
  EXPECT_FALSE(test::IsFile(target + "\\first-run.flag"));
  EXPECT_FALSE(test::IsFile(target + "\\logs\\1.log"));
  EXPECT_EQ(test::ReadTextFile(target + "\\logs\\note.txt"), "the person's");
  EXPECT_EQ(test::ReadTextFile(pkg / "outside\\mine.log"), "not ours");
  EXPECT_EQ(test::ReadTextFile(target + "\\shared\\shared.dat"), "shared");
  EXPECT_EQ(test::ReadTextFile(target + "\\settings.ini"), "edited");
  EXPECT_FALSE(test::IsFile(target + "\\fresh.ini"));
  EXPECT_FALSE(test::IsFile(target + "\\a.txt"));
  EXPECT_FALSE(test::IsFile(target + "\\uninstall.exe"));
}

}  // namespace
}  // namespace qv::e2e
