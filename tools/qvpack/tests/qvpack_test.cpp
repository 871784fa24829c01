// The qvpack program run as a packager runs it: pack, list, extract, exit
// codes and what it prints.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "resources/version.h"
#include "tools/qvpack/files.h"

namespace qv::qvpack {
namespace {

namespace fs = std::filesystem;

// The setup program's stand-in, which the host build makes.
const fs::path kStub = fs::path(TEST_PROGRAMS) / "stub.exe";

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class QvpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qvpack_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    pkg_ = dir_ / "pkg";
    Write("setup.ini",
          "[INSTALL]\r\nApp=app\\,?\r\nDocs=docs,%INSTALLDIR%\r\n[REGISTRY]\r\n1=HKCU\\Software\\T\\V,DWORD:1\r\n");
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7919) >> 3);
    Write("app/bin/tool.dll", binary);
    Write("app/readme.txt", "read me\r\n");
    Write("app/empty.txt", "");
    Write("docs/guide.txt", "a guide");
    fs::create_directories(pkg_ / "docs/empty folder");
  }
  void TearDown() override {
    if (!dir_.empty()) {
      std::system(("chmod -R u+w '" + dir_.string() + "'").c_str());
      fs::remove_all(dir_);
    }
  }

  void Write(const std::string& rel, const std::string& bytes) {
    fs::create_directories((pkg_ / rel).parent_path());
    std::ofstream(pkg_ / rel, std::ios::binary) << bytes;
  }

  // Exit code of `qvpack args`; what it printed is in out_ and err_.
  int Run(const std::string& args) {
    const std::string command = std::string("'") + QVPACK_PATH + "' " + args + " >'" + (dir_ / "stdout").string() +
                                "' 2>'" + (dir_ / "stderr").string() + "'";
    const int status = std::system(command.c_str());
    out_ = ReadBytes(dir_ / "stdout");
    err_ = ReadBytes(dir_ / "stderr");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Q(const fs::path& p) const { return "'" + p.string() + "'"; }
  // Packs the folder into `out` behind the stand-in, with more arguments.
  int Pack(const fs::path& out, const std::string& more = "") {
    return Run("pack " + Q(pkg_) + " -o " + Q(out) + " --stub " + Q(kStub) + more);
  }

  fs::path dir_, pkg_;
  std::string out_, err_;
};

// Everything the scan sees of a folder, and the bytes of its files.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::vector<Problem> problems;
  std::map<std::string, std::string> shot;
  for (const Item& i : ScanFolder(folder.string(), "", problems))
    shot[i.path] = std::to_string(i.attributes) + " " + std::to_string(i.modified) + " " + std::to_string(i.size) +
                   " " + (i.IsFolder() ? "" : ReadBytes(i.diskPath));
  return shot;
}

std::string Utf16(const std::string& ascii) {
  std::string b;
  for (char c : ascii) b += {c, '\0'};
  return b;
}

// The script's identity keys and --icon give the packed file its icon and
// version; the package behind it still opens and checks.
TEST_F(QvpackTest, ThePackedFileWearsThePackagesIdentity) {
  const std::string ico = std::string("\0\0\1\0\1\0\x20\x20\0\0\1\0\x20\0\4\0\0\0\x16\0\0\0", 22) + "icon";
  std::string other = ico;
  other.back() = '!';
  Write("setup.ini", ReadBytes(pkg_ / "setup.ini") +
                         "[SETUP]\r\nIcon=setup.ico\r\nVersion=2.5\r\nCopyright=(c) Cheese\r\n"
                         "[UNINSTALL]\r\nName=Cheese\r\nPublisher=Dairy\r\nVersion=9.9\r\n");
  Write("setup.ico", other);
  std::ofstream(dir_ / "cli.ico", std::ios::binary) << ico;
  const fs::path out = dir_ / "cheese.exe";
  ASSERT_EQ(Pack(out, " --icon " + Q(dir_ / "cli.ico")), 0) << err_;
  EXPECT_EQ(err_, "");
  const std::string q = " " + Q(out) + " 2>/dev/null";
  ASSERT_EQ(Run("list " + Q(out)), 0) << err_;
  EXPECT_NE(out_.find("setup.ico"), std::string::npos);
  ASSERT_EQ(std::system(("wrestool -x --type=14" + q + " >" + Q(dir_ / "icon")).c_str()), 0);
  EXPECT_EQ(ReadBytes(dir_ / "icon").substr(0, ico.size()), ico);
  ASSERT_EQ(std::system(("wrestool -x --raw --type=16" + q + " >" + Q(dir_ / "version")).c_str()), 0);
  const std::string version = ReadBytes(dir_ / "version");
  for (const char* text : {"Cheese Setup", "Dairy", "(c) Cheese", "2.5", "cheese.exe"})
    EXPECT_NE(version.find(Utf16(text) + std::string(2, '\0')), std::string::npos) << text;
  EXPECT_EQ(version.find(Utf16("9.9")), std::string::npos);
}

TEST_F(QvpackTest, PackListExtractGiveTheFolderBack) {
  // Hidden as Wine keeps it, read-only, and times to the 100 ns.
  const std::string guide = (pkg_ / "docs/guide.txt").string();
  ASSERT_EQ(SetFileDetails(guide, 0x20 | 0x02 | 0x01, 132000000000000001ull), "");
  ASSERT_EQ(SetFileDetails((pkg_ / "docs/empty folder").string(), 0x10, 131000000000000000ull), "");
  ASSERT_EQ(SetFileDetails((pkg_ / "app").string(), 0x10, 130000000000000000ull), "");

  const fs::path out = dir_ / "out.exe";
  ASSERT_EQ(Pack(out), 0) << err_;
  EXPECT_EQ(err_, "");  // no terminal, no progress bar
  EXPECT_EQ(out_, out.string() + ": 5 files, 4 folders, " + std::to_string(fs::file_size(out)) + " bytes\n");
  EXPECT_EQ(ReadBytes(out).substr(0, fs::file_size(kStub)), ReadBytes(kStub));

  ASSERT_EQ(Run("list " + Q(out)), 0) << err_;
  const bool dosAttributes = ::getxattr(guide.c_str(), "user.DOSATTRIB", nullptr, 0) > 0;
  const std::string size = std::to_string(fs::file_size(pkg_ / "setup.ini"));
  EXPECT_EQ(out_, "A-----" + std::string(13 - size.size(), ' ') + size + "  setup.ini\n" +
                      std::string("-D----            0  app\n"
                              "-D----            0  app\\bin\n"
                              "A-----        70000  app\\bin\\tool.dll\n"
                              "A-----            0  app\\empty.txt\n"
                              "A-----            9  app\\readme.txt\n"
                              "-D----            0  docs\n"
                              "-D----            0  docs\\empty folder\n") +
                      (dosAttributes ? "A--H-R" : "A----R") +
                      "            7  docs\\guide.txt\n");

  const fs::path back = dir_ / "back";
  ASSERT_EQ(Run("extract " + Q(out) + " " + Q(back)), 0) << err_;
  EXPECT_EQ(Snapshot(back), Snapshot(pkg_));
  EXPECT_EQ(Run("extract " + Q(out) + " " + Q(back)), 1);  // not into a folder with files
}

// Each attribute a file may have on Windows, as Wine keeps it, packed and
// extracted: what says what the file is comes back, what says how a disk
// stores it does not. Files on Linux are always archive ones.
TEST_F(QvpackTest, AFileComesBackWithTheAttributesAPackageKeeps) {
  const struct {
    const char* name;
    std::uint32_t attribute, back;
  } kCases[] = {
      {"read-only", 0x1, 0x21},
      {"hidden", 0x2, 0x22},
      {"system", 0x4, 0x24},
      {"volume", 0x8, 0x20},
      {"archive", 0x20, 0x20},
      {"device", 0x40, 0x20},
      {"normal", 0x80, 0x20},
      {"temporary", 0x100, 0x120},
      {"sparse", 0x200, 0x20},
      {"reparse point", 0x400, 0x20},
      {"compressed", 0x800, 0x20},
      {"offline", 0x1000, 0x20},
      {"not indexed", 0x2000, 0x2020},
      {"encrypted", 0x4000, 0x20},
      {"all of them", 0x7FEF, 0x2127},
  };
  for (const auto& c : kCases) {
    Write(std::string("docs/") + c.name, c.name);
    const std::string path = (pkg_ / "docs" / c.name).string();
    char value[16];
    const int n = std::snprintf(value, sizeof value, "0x%x", c.attribute);
    if (::setxattr(path.c_str(), "user.DOSATTRIB", value, static_cast<std::size_t>(n), 0) != 0)
      GTEST_SKIP() << "no user attributes here";
  }
  const fs::path out = dir_ / "out.exe", back = dir_ / "back";
  ASSERT_EQ(Pack(out), 0) << err_;
  ASSERT_EQ(Run("extract " + Q(out) + " " + Q(back)), 0) << err_;
  std::vector<Problem> problems;
  std::map<std::string, std::uint32_t> got;
  for (const Item& i : ScanFolder(back.string(), "", problems)) got[i.path] = i.attributes;
  for (const auto& c : kCases) EXPECT_EQ(got[std::string("docs\\") + c.name], c.back) << c.name;
}

TEST_F(QvpackTest, PackingTwiceGivesTheSameBytes) {
  // The package written into its own folder is never packed into the next.
  const fs::path out = pkg_ / "setup.exe";
  ASSERT_EQ(Pack(out), 0) << err_;
  const std::string first = ReadBytes(out);
  fs::last_write_time(out, fs::file_time_type::clock::now());
  ASSERT_EQ(Pack(out), 0) << err_;
  EXPECT_EQ(ReadBytes(out), first);
  EXPECT_FALSE(fs::exists(pkg_ / "setup.exe.qvpack-part"));
}

TEST_F(QvpackTest, ErrorsStopPackingUnlessForced) {
  const fs::path out = dir_ / "out.exe";
  Write("setup.ini", "[INSTALL]\nApp=app\\,?\nDocs=docs,%INSTALLDIR%\n[REGISTRY]\n1=HKXY\\S\\V,1\n");
  EXPECT_EQ(Pack(out), 1);
  EXPECT_EQ(err_, "setup.ini:5: error: unknown registry root 'HKXY'\n"
                  "qvpack: 1 error: nothing packed (--force packs anyway)\n");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(Run("pack --force " + Q(pkg_) + " -o " + Q(out) + " --stub " + Q(kStub)), 0);
  EXPECT_EQ(err_, "setup.ini:5: error: unknown registry root 'HKXY'\n");
  EXPECT_TRUE(fs::exists(out));

  // Warnings alone pack.
  Write("setup.ini", "[INSTALL]\nApp=app\\,?\n");
  EXPECT_EQ(Pack(out), 0);
  EXPECT_EQ(err_, "setup.ini: warning: 'docs\\guide.txt' is installed by no entry\n");

  // A name no package may hold.
  Write("setup.ini", "[INSTALL]\nAll=*.*,C:\\T\n");
  Write("con.txt", "");
  EXPECT_EQ(Pack(out), 1);
  EXPECT_NE(err_.find("setup.ini: error: 'con.txt' cannot be packed"), std::string::npos) << err_;
}

TEST_F(QvpackTest, DamagedPackagesAreRefused) {
  const fs::path out = dir_ / "out.exe";
  ASSERT_EQ(Pack(out), 0) << err_;
  const std::string good = ReadBytes(out);
  const std::size_t stub = fs::file_size(kStub);
  const struct {
    const char* what;
    std::string bytes;
  } kCases[] = {
      {"a byte flipped near the start", [&] { std::string b = good; b[stub + 40] ^= 1; return b; }()},
      {"a byte flipped in the middle", [&] { std::string b = good; b[stub + (good.size() - stub) / 2] ^= 0x40; return b; }()},
      {"a byte flipped at the end", [&] { std::string b = good; b[good.size() - 1] ^= 0x80; return b; }()},
      {"cut short", good.substr(0, good.size() - 10)},
      {"no package at all", good.substr(0, stub)},
  };
  for (const auto& c : kCases) {
    std::ofstream(out, std::ios::binary | std::ios::trunc) << c.bytes;
    EXPECT_EQ(Run("list " + Q(out)), 1) << c.what;
    EXPECT_EQ(out_, "") << c.what;
    EXPECT_EQ(Run("extract " + Q(out) + " " + Q(dir_ / "back")), 1) << c.what;
    EXPECT_FALSE(fs::exists(dir_ / "back") && !fs::is_empty(dir_ / "back")) << c.what;
    EXPECT_NE(err_.find("qvpack: "), std::string::npos) << c.what;
  }
}

// `qvpack check` over the words a script may use, each finding on its line,
// and its exit codes with and without --strict.
TEST_F(QvpackTest, CheckReportsEachFindingWithItsExitCode) {
  Write("app/bin/tool.exe", "MZ");
  // Everything goes to the prompted folder, which has a blank in it.
  const std::string kInstall = "[INSTALL]\nApp=app\\,?\nDocs=docs,%INSTALLDIR%\n";
  const struct {
    std::string script;
    std::vector<std::string> lines;
    int code, strict;
  } kCases[] = {
      // Every new word, used as meant.
      {"[INSTALL]\nApp=app\\,?,ONLYIFNEW,KEEP\nDocs=docs,%INSTALLDIR%,IFNEWER\nData=docs\\guide.txt,"
       "%COMMONAPPDATA%\\T\n[SETUP]\nScope=auto\nArchitecture=x64\nRunAfter=Tool\n[SHORTCUTS]\n"
       "Tool=%INSTALLDIR%\\bin\\tool.exe,STARTMENU\n[REGISTRY]\n"
       "1=HKSCOPE\\Software\\Classes\\qvfile\\shell\\open\\command\\,\"%INSTALLDIR%\\bin\\tool.exe\" \"%1\"\n"
       "2=HKSCOPE\\Software\\T\\Path,%INSTALLDIR%\n[PATH]\nBin=%INSTALLDIR%\\bin\n[COMMAND]\n"
       "1=%INSTALLDIR%\\bin\\tool.exe /setup,HIDE,WAIT,OK=0 3010,RESTART=1641 3010,SKIPIFSILENT\n"
       "2=cmd.exe /c echo,1,2,MINIMIZE,ASUSER,ONLYIFSILENT\n3=\"%INSTALLDIR%\\bin\\tool.exe\" /remove,HIDE,wait,"
       "Uninstall\n[SERVICES]\nTool=%INSTALLDIR%\\bin\\tool.exe,Tool Service,auto,LocalService,Keeps, with "
       "commas, the tool going\nTool2=%INSTALLDIR%\\bin\\tool.exe,Tool Two,demand\n"
       "Tool3=%INSTALLDIR%\\bin\\tool.exe,Tool Three,Manual,NetworkService\nTool4=%INSTALLDIR%\\bin\\tool.exe,"
       "Tool Four,disabled,\n[UNINSTALLDELETE]\nLogs=%INSTALLDIR%\\logs\\*.log\nCache=%INSTALLDIR%\\cache\n"
       "Data=%COMMONAPPDATA%\\T\\*.db\n[UNINSTALL]\nName=T\nHelpLink=https://example.com/help\n"
       "URLInfoAbout=https://example.com/\nURLUpdateInfo=https://example.com/new\nContact=help@example.com\n"
       "Comments=A tool\nDisplayIcon=%INSTALLDIR%\\bin\\tool.exe,0\n[COMMAND]\n"
       "4=\"%INSTALLDIR%\\Uninstall.exe\" /S,HIDE,UNINSTALL\n",
       {}, 0, 0},
      // HKSCOPE follows the scope: no mix with a per-user one.
      {kInstall + "[SETUP]\nScope=user\n[REGISTRY]\n1=HKSCOPE\\Software\\T\\V,DWORD:1\n", {}, 0, 0},
      {kInstall + "[PATH]\nLib=%INSTALLDIR%\\lib\n",
       {"setup.ini:5: warning: [PATH] entry 'Lib' adds '%INSTALLDIR%\\lib', which no INSTALL entry installs"}, 0, 1},
      {kInstall + "[COMMAND]\n1=\"%INSTALLDIR%\\bin\\setup2.exe\" /s,HIDE,WAIT\n",
       {"setup.ini:5: warning: [COMMAND] entry '1' runs '%INSTALLDIR%\\bin\\setup2.exe', which no INSTALL entry "
        "installs"},
       0, 1},
      {kInstall + "[SERVICES]\nSvc=%INSTALLDIR%\\svc.exe,Service,auto\n",
       {"setup.ini:5: warning: [SERVICES] entry 'Svc' runs '%INSTALLDIR%\\svc.exe', which no INSTALL entry "
        "installs"},
       0, 1},
      {kInstall + "[SETUP]\nRunAfter=%INSTALLDIR%\\start.exe\n",
       {"setup.ini:5: warning: [SETUP] RunAfter starts '%INSTALLDIR%\\start.exe', which no INSTALL entry installs"},
       0, 1},
      {kInstall + "[SETUP]\nScope=auto\n[REGISTRY]\n1=HKLM\\Software\\T\\Path,%INSTALLDIR%\n2=HKCR\\.qv\\,qvfile\n"
                  "3=HKSCOPE\\Software\\T\\V,1\n",
       {"setup.ini:7: warning: [REGISTRY] entry '1' writes under HKLM with Scope=auto: a run without administrator "
        "rights installs for one person and cannot write there; write HKSCOPE\\Software\\T\\Path (HKLM for "
        "everyone, HKCU for one person)",
        "setup.ini:8: warning: [REGISTRY] entry '2' writes under HKCR with Scope=auto: a run without administrator "
        "rights installs for one person and cannot write there; write HKSCOPE\\Software\\Classes\\.qv\\ (HKLM for "
        "everyone, HKCU for one person)"},
       0, 1},
      {kInstall + "[SETUP]\nArchitecture=x64\n[REGISTRY]\n1=HKLM\\SOFTWARE\\Wow6432Node\\T\\Path,%INSTALLDIR%\n",
       {"setup.ini:7: warning: [REGISTRY] entry '1' writes under Wow6432Node in an x64 package: it writes the 64-bit "
        "view already, so this is the 32-bit programs' key; write HKLM\\SOFTWARE\\T\\Path"},
       0, 1},
      {kInstall + "[REGISTRY]\n1=HKCU\\Software\\Classes\\qvfile\\Shell\\open\\Command\\,%INSTALLDIR%\\bin\\tool.exe "
                  "\"%1\"\n2=HKCU\\Software\\Classes\\qvfile\\shell\\print\\command\\,notepad.exe /p \"%1\"\n",
       {"setup.ini:5: warning: [REGISTRY] entry '1' starts a program whose path holds blanks, unquoted: Windows may "
        "start another program; write \"%INSTALLDIR%\\bin\\tool.exe\" \"%1\""},
       0, 1},
      {kInstall + "[SHORTCUT]\nTool=%INSTALLDIR%\\bin\\tool.exe,DESKTOP\n[Registries]\n1=HKCU\\Software\\T\\V,1\n",
       {"setup.ini:4: error: unknown section [SHORTCUT]: the program never reads it (did you mean [SHORTCUTS]?)",
        "setup.ini:6: error: unknown section [Registries]: the program never reads it (did you mean [REGISTRY]?)"},
       2, 2},
      // A misspelt word is read as the program reads it: part of the entry.
      {kInstall + "Guide=docs\\guide.txt,%INSTALLDIR%,KEPP\n[COMMAND]\n1=cmd.exe /c echo,HIDE,WIAT\n",
       {"setup.ini:4: warning: [INSTALL] entry 'Guide' ends in 'KEPP', which is no INSTALL flag (did you mean "
        "KEEP?): the program takes '%INSTALLDIR%,KEPP' for the destination",
        "setup.ini:6: warning: [COMMAND] entry '1' ends in 'WIAT', which is no COMMAND word (did you mean WAIT?): "
        "the program runs 'cmd.exe /c echo,HIDE' as the command line, shown normally"},
       0, 1},
      // Fields of the new words; the uninstaller deletes nothing outside
      // the installation, a system folder an entry installs to included.
      {kInstall + "Fonts=docs\\guide.txt,%WINDOWSDIR%\\Fonts\n[COMMAND]\n1=cmd.exe,HIDE,OK=0 x,RESTART=\n"
                  "[SERVICES]\nSvc=%INSTALLDIR%\\bin\\tool.exe,Service,boot,LocalSystem\n[UNINSTALLDELETE]\n"
                  "Fonts=%WINDOWSDIR%\\Fonts\\*.ttf\nUp=%INSTALLDIR%\\..\\*\nAll=%INSTALLDIR%\n"
                  "[SERVICES]\nArgs=\"%INSTALLDIR%\\bin\\tool.exe\" --service,Service,demand\n",
       {"setup.ini:6: error: OK= code 'x' of [COMMAND] entry '1' is no integer",
        "setup.ini:6: error: RESTART= of [COMMAND] entry '1' names no exit code",
        "setup.ini:8: error: start type 'boot' of [SERVICES] entry 'Svc' is unknown: it must be auto, demand, manual "
        "or disabled",
        "setup.ini:8: error: account 'LocalSystem' of [SERVICES] entry 'Svc' is unknown: it must be empty "
        "(LocalSystem), LocalService or NetworkService",
        "setup.ini:10: error: path '%WINDOWSDIR%\\Fonts\\*.ttf' of [UNINSTALLDELETE] entry 'Fonts' lies outside the "
        "installation: the uninstaller removes only what is inside %INSTALLDIR% or another folder an INSTALL entry "
        "installs to",
        "setup.ini:11: error: path '%INSTALLDIR%\\..\\*' of [UNINSTALLDELETE] entry 'Up' lies outside the "
        "installation: the uninstaller removes only what is inside %INSTALLDIR% or another folder an INSTALL entry "
        "installs to",
        "setup.ini:12: error: path '%INSTALLDIR%' of [UNINSTALLDELETE] entry 'All' lies outside the installation: "
        "the uninstaller removes only what is inside %INSTALLDIR% or another folder an INSTALL entry installs to",
        "setup.ini:14: error: [SERVICES] entry 'Args': its program '\"%INSTALLDIR%\\bin\\tool.exe\" --service' must be "
        "a full path to a file, unquoted"},
       2, 2},
  };
  for (const auto& c : kCases) {
    Write("setup.ini", c.script);
    std::string expected;
    int errors = 0;
    for (const std::string& line : c.lines) {
      expected += line + "\n";
      errors += line.find(": error: ") != std::string::npos;
    }
    const std::size_t warnings = c.lines.size() - static_cast<std::size_t>(errors);
    if (!c.lines.empty())
      expected += "qvpack: " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
                  std::to_string(warnings) + (warnings == 1 ? " warning\n" : " warnings\n");
    EXPECT_EQ(Run("check " + Q(pkg_)), c.code) << c.script;
    EXPECT_EQ(err_, expected) << c.script;
    EXPECT_EQ(out_, "");
    EXPECT_EQ(Run("check --strict " + Q(pkg_)), c.strict) << c.script;
  }
  EXPECT_FALSE(fs::exists(pkg_ / "setup.exe"));
}

// Without --stub the setup program this build makes is sealed behind;
// until it is made, packing says where it looked.
TEST_F(QvpackTest, TheBuildsSetupProgramIsTheDefaultStub) {
  const fs::path out = dir_ / "out.exe";
  const int code = Run("pack " + Q(pkg_) + " -o " + Q(out));
  if (fs::exists(QVPACK_DEFAULT_STUB)) {
    ASSERT_EQ(code, 0) << err_;
    EXPECT_EQ(ReadBytes(out).substr(0, fs::file_size(QVPACK_DEFAULT_STUB)), ReadBytes(QVPACK_DEFAULT_STUB));
  } else {
    EXPECT_EQ(code, 1);
    EXPECT_NE(err_.find("cannot read the setup program " QVPACK_DEFAULT_STUB ": "), std::string::npos) << err_;
  }
}

TEST_F(QvpackTest, CommandLine) {
  const struct {
    std::string args;
    int code;
    std::string out;
  } kCases[] = {
      {"--version", 0, "qvpack " QV_VERSION_TEXT "\n"},
      {"", 2, ""},
      {"unpack x", 2, ""},
      {"pack " + Q(pkg_), 2, ""},  // no -o
      {"pack " + Q(pkg_) + " -o", 2, ""},
      {"pack " + Q(pkg_) + " -o x.exe --fast", 2, ""},
      {"list", 2, ""},
      {"extract one", 2, ""},
      {"check", 2, ""},
      {"check " + Q(pkg_) + " --force", 2, ""},
      {"pack " + Q(dir_ / "missing") + " -o " + Q(dir_ / "x.exe"), 1, ""},
      {"pack " + Q(pkg_) + " -o " + Q(dir_ / "x.exe") + " --stub " + Q(dir_ / "nostub.exe"), 1, ""},
      {"list " + Q(dir_ / "missing.exe"), 1, ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Run(c.args), c.code) << c.args;
    EXPECT_EQ(out_, c.out) << c.args;
    if (c.code != 0) {
      EXPECT_NE(err_, "") << c.args;
    }
  }
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(out_.find("qvpack pack FOLDER -o OUT.exe"), std::string::npos);
  EXPECT_EQ(err_, "");
}

}  // namespace
}  // namespace qv::qvpack
