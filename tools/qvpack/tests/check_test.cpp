// qvpack's script checks and install order over a real package folder on
// disk, scanned as qvpack scans it.
#include <gtest/gtest.h>

#include "framework/portable/bmp_codec.h"
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/portable/little_endian.h"
#include "tools/qvpack/files.h"
#include "tools/qvpack/script_check.h"

namespace qv::qvpack {
namespace {

namespace fs = std::filesystem;

class PackageFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qvpack_check_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    for (const char* f : {"app/readme.txt", "app/bin/demo.cfg", "app/data/one.txt", "app/data/deeper/two.txt",
                          "docs/guide.txt", "docs/notes.txt", "fonts/a.ttf"})
      Write(f, std::string("content of ") + f);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  void Write(const std::string& rel, const std::string& bytes) {
    fs::create_directories((dir_ / rel).parent_path());
    std::ofstream(dir_ / rel, std::ios::binary) << bytes;
  }

  // What `qvpack pack` prints about the script, one line each.
  std::vector<std::string> Check(const std::string& script = "setup.ini") {
    std::vector<Problem> scanProblems;
    items_ = ScanFolder(dir_.string(), "", scanProblems);
    EXPECT_TRUE(scanProblems.empty());
    plan_ = PlanPackage(
        items_, script, [](const Item& i) { return ReadWholeFile(i.diskPath); }, nullptr,
        [](std::string_view) { return true; });
    std::vector<std::string> lines;
    for (const Problem& p : plan_.problems) lines.push_back(FormatProblem("setup.ini", p));
    return lines;
  }

  std::vector<std::string> Order() const {
    std::vector<std::string> paths;
    for (std::size_t i : plan_.order) paths.push_back(items_[i].path);
    return paths;
  }

  fs::path dir_;
  std::vector<Item> items_;
  Plan plan_;
};

// Installs everything, so that only the line under test has something to say.
constexpr char kAll[] = "[INSTALL]\r\nAll=*.*,C:\\Target\r\n";

TEST_F(PackageFolder, EachProblemOnItsLineWithItsSeverity) {
  const struct {
    std::string script;
    std::vector<std::string> expected;
  } kCases[] = {
      {std::string(kAll) + "; a comment\r\n\r\nMissing=nothere\\*.txt,C:\\T\r\n",
       {"setup.ini:5: error: source 'nothere\\*.txt' of 'Missing' matches nothing in the package folder"}},
      {std::string(kAll) + "Fonts=fonts\\*.otf,%WINDOWSDIR%\\Fonts\r\n",
       {"setup.ini:3: error: source 'fonts\\*.otf' of 'Fonts' matches nothing in the package folder"}},
      {std::string(kAll) + "Before=%INSTALLDIR%\\x,C:\\T\r\n",  // no "?" yet: the macro stays as written
       {"setup.ini:3: error: source '%INSTALLDIR%\\x' of 'Before' matches nothing in the package folder"}},
      {std::string(kAll) + "Up=..\\beside\\x.dll,C:\\T\r\n",
       {"setup.ini:3: warning: source '..\\beside\\x.dll' of 'Up' lies outside the package folder: it is not packed"}},
      {std::string(kAll) + "Half=docs\\\r\n",
       {"setup.ini:3: warning: entry 'Half' lacks a source or a destination: the program passes it over"}},
      {std::string(kAll) + "[REGISTRY]\r\n1=HKEY_LOCAL_MACHNE\\Software\\A\\B,1\r\n",
       {"setup.ini:4: error: unknown registry root 'HKEY_LOCAL_MACHNE'"}},
      {std::string(kAll) + "[REGISTRY]\r\n1=HKCU\\S\\Blob,HEX:01,0G,FF\r\n",
       {"setup.ini:4: error: HEX: byte '0G' is no hexadecimal number from 00 to FF"}},
      {std::string(kAll) + "[REGISTRY]\r\n1=HKCU\\S\\Blob,HEX:01, 02\r\n",
       {"setup.ini:4: error: HEX: byte ' 02' is no hexadecimal number from 00 to FF"}},
      {std::string(kAll) + "[REGISTRY]\r\n1=HKCU\\S\\Blob,HEX:100\r\n",
       {"setup.ini:4: error: HEX: byte '100' is no hexadecimal number from 00 to FF"}},
      // Nine digits wrap round to FF where the program reads them.
      {std::string(kAll) + "[REGISTRY]\r\n1=HKCU\\S\\Blob,HEX:000FF,1000000FF\r\n",
       {"setup.ini:4: error: HEX: byte '1000000FF' is no hexadecimal number from 00 to FF"}},
      {std::string(kAll) + "[REGISTRY]\r\n1=HKCU\\S\\N,DWORD:0x1F\r\n",
       {"setup.ini:4: error: DWORD: value '0X1F' is no hexadecimal number of at most 8 digits"}},
      {std::string(kAll) + "[REGISTRY]\r\n1=HKCU\\S\\N,DWORD:123456789\r\n",
       {"setup.ini:4: error: DWORD: value '123456789' is no hexadecimal number of at most 8 digits"}},
      {std::string(kAll) + "[Instal]\r\nApp=app,C:\\T\r\n",
       {"setup.ini:3: error: unknown section [Instal]: the program never reads it (did you mean [INSTALL]?)"}},
      {std::string(kAll) + "[Uninstall]\r\nName=Demo\r\nIcon=x.ico\r\n",
       {"setup.ini:3: error: [UNINSTALL] names no Folder and no INSTALL entry asks for one: the run stops with an error",
        "setup.ini:5: warning: unknown key 'Icon' in [UNINSTALL]: the program never reads it"}},
      // The program reads the first line of a key again; a problem of that
      // line is reported once, on it.
      {std::string(kAll) + "[REGISTRY]\r\na=HKCU\\S\\N,DWORD:zz\r\n#\r\nA=HKCU\\S\\M,DWORD:1\r\n",
       {"setup.ini:4: error: DWORD: value 'ZZ' is no hexadecimal number of at most 8 digits",
        "setup.ini:6: warning: key 'A' is used again (first on line 4): the program carries out line 4's value "
        "twice"}},
      {std::string(kAll) + "[COMMAND]\r\n1=cmd.exe /c one,HIDE\r\n[REGISTRY]\r\n[command]\r\n 1 =cmd.exe /c two\r\n",
       {"setup.ini:7: warning: key '1' is used again (first on line 4): the program carries out line 4's value "
        "twice"}},
      // Sources on the target machine are not the package's business.
      {std::string(kAll) + "Fonts=%WINDOWSDIR%\\Fonts\\*.ttf,C:\\T\r\nAbs=D:\\x\\y,C:\\T\r\n[REGISTRY]\r\n"
                           "1=HKLM\\Software\\E\\Path,%INSTALLDIR%\r\n2=HKCU\\S\\Blob,hex:0a,ff\r\n3=HKCR\\S\\N,DWORD:0\r\n",
       {}},
      // Files no entry installs, and none other.
      {"[INSTALL]\nDocs=DOCS\\,?\nCfg=app\\bin\\*.CFG,%INSTALLDIR%\nDeep=app\\data\\deeper,%INSTALLDIR%\n",
       {"setup.ini: warning: 'app\\data\\one.txt' is installed by no entry",
        "setup.ini: warning: 'app\\readme.txt' is installed by no entry",
        "setup.ini: warning: 'fonts\\a.ttf' is installed by no entry"}},
  };
  for (const auto& c : kCases) {
    Write("setup.ini", c.script);
    EXPECT_EQ(Check(), c.expected) << c.script;
  }
}

// [SETUP]'s values, and entries that reach past the installation's scope.
TEST_F(PackageFolder, SetupAndScopeMixesOnTheirLine) {
  const std::string kMachine = " in a machine-wide installation: it reaches only the account that runs the "
                               "installation (under a deployment tool, SYSTEM)";
  const std::string kUser = " in a per-user installation: it needs administrator rights, which a per-user "
                            "installation does not ask for";
  const struct {
    std::string script;
    std::vector<std::string> expected;
  } kCases[] = {
      {std::string(kAll) + "[Setup]\r\nScope=everyone\r\nArchitecture=arm64\r\nScop=user\r\nLanguage=fr\r\n"
                           "[REGISTRY]\r\n1=HKCU\\S\\N,1\r\n[MESSAGES]\r\nfinished=Done\r\nFinish=Done\r\nCancel=Stop\r\n",
       {"setup.ini:4: error: unknown Scope value 'everyone': it must be machine, user or auto",
        "setup.ini:5: error: unknown Architecture value 'arm64': it must be x86 or x64",
        "setup.ini:6: warning: unknown key 'Scop' in [SETUP]: the program never reads it",
        "setup.ini:7: error: unknown Language value 'fr': it must be zh, en or auto",
        "setup.ini:12: warning: unknown text 'Finish' in [MESSAGES]: the program has no text of that name"}},
      {std::string(kAll) + "Cfg=docs\\notes.txt,%AppData%\\E\r\n[SETUP]\r\n scope = Machine \r\nArchitecture= X64\r\n"
                           "[REGISTRY]\r\n1=HKEY_CURRENT_USER\\S\\N,1\r\n2=HKLM\\S\\Path,%INSTALLDIR%\r\n"
                           "[COMMAND]\r\n1=\"%LOCALAPPDATA%\\x.exe\" /s,HIDE\r\n",
       {"setup.ini:3: warning: entry 'Cfg' uses %APPDATA%" + kMachine,
        "setup.ini:8: warning: entry '1' writes under HKEY_CURRENT_USER" + kMachine,
        "setup.ini:11: warning: entry '1' uses %LOCALAPPDATA%" + kMachine}},
      {"[SETUP]\nScope=USER\n[INSTALL]\nAll=*.*,%ProgramFilesDir%\\E\nFonts=fonts\\*.ttf,%FONTSDIR%\n"
       "[REGISTRY]\n1=hklm\\S\\N,1\n2=HKCR\\.ex\\N,x\n3=HKCU\\S\\Path,%LOCALAPPDATA%\\E\n"
       "[UNINSTALL]\nFolder=%COMMONAPPDATA%\\E\n",
       {"setup.ini:4: warning: entry 'All' uses %PROGRAMFILESDIR%" + kUser,
        "setup.ini:7: warning: entry '1' writes under hklm" + kUser,
        "setup.ini:8: warning: entry '2' writes under HKCR" + kUser,
        "setup.ini:11: warning: [UNINSTALL] Folder uses %COMMONAPPDATA%" + kUser}},
      // What the packed file shows: an icon from the folder (no entry needs
      // to install it), a version the program can wear.
      {"[INSTALL]\nA=app\\,C:\\T\nD=docs\\,C:\\T\nF=fonts\\,C:\\T\n[SETUP]\nIcon=setup.ico\nCopyright=(c) E\n"
       "Name=E\nVersion=1.2\nPublisher=P\n",
       {}},
      {std::string(kAll) + "[SETUP]\r\nIcon=missing.ico\r\nVersion=1.2.beta\r\n",
       {"setup.ini:4: error: icon 'missing.ico' is no file in the package folder",
        "setup.ini:5: error: Version '1.2.beta' is not numbers a.b.c.d (up to 65535 each), as the packed file's "
        "version must be"}},
      {std::string(kAll) + "[UNINSTALL]\r\nFolder=C:\\E\r\nVersion=2 beta\r\n[SETUP]\r\nIcon=docs/notes.txt\r\n",
       {"setup.ini:5: error: Version '2 beta' is not numbers a.b.c.d (up to 65535 each), as the packed file's "
        "version must be",
        "setup.ini:7: error: icon 'docs/notes.txt' is no .ico file"}},
      // A source in a folder of the target machine is none of the package's.
      {"[SETUP]\nScope=auto\n[INSTALL]\nAll=*.*,%APPDATA%\\E\nOld=%LocalAppData%\\E\\*.*,%PROGRAMFILESDIR%\\E\n"
       "[REGISTRY]\n1=HKCU\\S\\N,1\n2=HKSCOPE\\S\\N,1\n",
       {}},
      // The window's own face: a picture of its size.
      {std::string(kAll) + "[SETUP]\r\nFace=app\\face.bmp\r\n", {}},
      {std::string(kAll) + "[SETUP]\r\nFace=app/small.bmp\r\n",
       {"setup.ini:4: error: face 'app/small.bmp' is 10 x 4: the window's face is 250 x 100"}},
      {std::string(kAll) + "[SETUP]\r\nFace=docs\\notes.txt\r\n",
       {"setup.ini:4: error: face 'docs\\notes.txt' is no JPEG or BMP picture the window can show"}},
  };
  Write("setup.ico", std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0\1\0\0\0\x16\0\0\0X", 23));
  const auto picture = [](int width, int height) {
    BmpImage image;
    image.width = width;
    image.height = height;
    image.bits.assign(static_cast<std::size_t>(image.Stride() * height), 0x80);
    const std::vector<std::uint8_t> file = EncodeBmp(image);
    return std::string(file.begin(), file.end());
  };
  Write("app/face.bmp", picture(250, 100));
  Write("app/small.bmp", picture(10, 4));
  for (const auto& c : kCases) {
    Write("setup.ini", c.script);
    EXPECT_EQ(Check(), c.expected) << c.script;
  }
}

// [SHORTCUTS] and [PATH]: their fields, their places in the installation's
// scope, and targets looked for where the INSTALL entries put files.
TEST_F(PackageFolder, ShortcutsAndPathOnTheirLine) {
  const std::string kMachine = " in a machine-wide installation: it reaches only the account that runs the "
                               "installation (under a deployment tool, SYSTEM)";
  const std::string kUser = " in a per-user installation: it needs administrator rights, which a per-user "
                            "installation does not ask for";
  const std::string kPlace =
      ": it must be STARTMENU, DESKTOP, STARTUP or a folder starting with a macro, a drive or \\\\";
  // The app folder goes to the installation, everything else elsewhere.
  const std::string kInstall = "[INSTALL]\r\nApp=app,?\r\nRest=*.*,C:\\Target\r\n";
  const struct {
    std::string script;
    std::vector<std::string> expected;
  } kCases[] = {
      {kInstall + "[Shortcuts]\r\n"
                  "Example\\Example Help=%INSTALLDIR%\\app\\readme.txt,startmenu,,%INSTALLDIR%\\app\\readme.txt,-1,"
                  "%INSTALLDIR%,Help, with a comma\r\n"
                  "Readme=%installdir%\\APP\\README.TXT,Desktop\r\n"
                  "Bin=%INSTALLDIR%\\app\\bin\\,STARTUP\r\n"
                  "NoTarget=,DESKTOP\r\n"
                  "NoPlace=%INSTALLDIR%\\app\\readme.txt\r\n"
                  " = x.exe,DESKTOP\r\n"
                  "C:\\Evil=x.exe,DESKTOP\r\n"
                  "\\Evil=x.exe,DESKTOP\r\n"
                  "A\\..\\..\\Evil=x.exe,DESKTOP\r\n"
                  "Bad|Name=x.exe,DESKTOP\r\n"
                  "Tab\tName=x.exe,DESKTOP\r\n"
                  "Icon=x.exe,DESKTOP,,x.ico,first\r\n"
                  "Where=x.exe,Programs\r\n"
                  "Rel=x.exe,%NOSUCH%\\Links\r\n"
                  "Share=x.exe,\\\\server\\links\r\n"
                  "Gone=%INSTALLDIR%\\app\\missing.exe,DESKTOP\r\n"
                  "Guide=%INSTALLDIR%\\docs\\guide.txt,DESKTOP\r\n",
       {"setup.ini:8: error: shortcut 'NoTarget' has no target",
        "setup.ini:9: error: shortcut 'NoPlace' has no place",
        "setup.ini:10: error: a shortcut with no name: the program never reads the line",
        "setup.ini:11: error: shortcut name 'C:\\Evil' is absolute: it must lie within its place",
        "setup.ini:12: error: shortcut name '\\Evil' is absolute: it must lie within its place",
        "setup.ini:13: error: shortcut name 'A\\..\\..\\Evil' holds '..': it must lie within its place",
        "setup.ini:14: error: shortcut name 'Bad|Name' holds '|', which Windows forbids in file names",
        "setup.ini:15: error: shortcut name 'Tab\tName' holds '\\x09', which Windows forbids in file names",
        "setup.ini:16: error: icon index 'first' of shortcut 'Icon' is no integer",
        "setup.ini:17: error: unknown place 'Programs' of shortcut 'Where'" + kPlace,
        "setup.ini:18: error: unknown place '%NOSUCH%\\Links' of shortcut 'Rel'" + kPlace,
        "setup.ini:20: warning: shortcut 'Gone' points to '%INSTALLDIR%\\app\\missing.exe', which no INSTALL entry "
        "installs",
        "setup.ini:21: warning: shortcut 'Guide' points to '%INSTALLDIR%\\docs\\guide.txt', which no INSTALL entry "
        "installs"}},
      // Files land under the names below the folder searched; what a source
      // outside the package brings is not known here.
      {"[INSTALL]\nCfg=app\\bin\\*.cfg,?\nAll=*.*,C:\\T\nOld=%WINDOWSDIR%\\Fonts\\*.ttf,%INSTALLDIR%\\fonts\n"
       "[SHORTCUTS]\nCfg=%INSTALLDIR%\\demo.cfg,DESKTOP\nDeep=%INSTALLDIR%\\app\\bin\\demo.cfg,DESKTOP\n"
       "Font=%INSTALLDIR%\\fonts\\x.ttf,DESKTOP\nFolder=%INSTALLDIR%,%STARTMENU%\\Example\n",
       {"setup.ini:7: warning: shortcut 'Deep' points to '%INSTALLDIR%\\app\\bin\\demo.cfg', which no INSTALL entry "
        "installs"}},
      {kInstall + "[SETUP]\r\nScope=machine\r\n[SHORTCUTS]\r\n"
                  "Mine=%INSTALLDIR%\\app\\readme.txt,%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\r\n"
                  "All=%INSTALLDIR%\\app\\readme.txt,STARTMENU\r\n"
                  "[PATH]\r\n1=%INSTALLDIR%\\app\\bin\r\n2=%LOCALAPPDATA%\\E\\bin\r\n3=app\\bin\r\n4=\r\n"
                  "5=C:\\Tools;D:\\More\r\n6=\\\\server\\tools\r\n",
       {"setup.ini:7: warning: shortcut 'Mine' uses %APPDATA%" + kMachine,
        "setup.ini:11: warning: entry '2' uses %LOCALAPPDATA%" + kMachine,
        "setup.ini:12: error: folder 'app\\bin' of entry '3' is relative: it must start with a macro, a drive or \\\\",
        "setup.ini:13: error: entry '4' names no folder",
        "setup.ini:14: warning: folder 'C:\\Tools;D:\\More' of entry '5' holds ';': PATH takes it for more than one "
        "folder"}},
      {"[SETUP]\nScope=user\n[INSTALL]\nAll=*.*,%LOCALAPPDATA%\\E\n[SHORTCUTS]\n"
       "Links=C:\\x.exe,%COMMONAPPDATA%\\Links\nRun=C:\\x.exe,STARTUP\n"
       "[PATH]\n1=%PROGRAMFILESDIR%\\Tool\\bin\n2=%APPDATA%\\E\n",
       {"setup.ini:6: warning: shortcut 'Links' uses %COMMONAPPDATA%" + kUser}},
  };
  for (const auto& c : kCases) {
    Write("setup.ini", c.script);
    EXPECT_EQ(Check(), c.expected) << c.script;
  }
}

// Paths as the program reads them, '/' as a backslash; and folder macros
// that would have no value in the sections that are ours, where the
// program stops.
TEST_F(PackageFolder, PathsAsTheProgramReadsThemAndUnsetMacrosOnTheirLine) {
  const std::string kOdd = ", which is no plain file name: Windows reads it otherwise or refuses it, and no uninstall "
                           "record can name it";
  const std::string kUnset = ", which has no value here: no INSTALL entry asks for the installation folder (\"?\"), "
                             "so the program stops with an error before it installs anything";
  const struct {
    std::string script;
    std::vector<std::string> expected;
  } kCases[] = {
      {"[INSTALL]\nApp=app/,?\nAll=*.*,C:/T3c/sub\n[SHORTCUTS]\nSub/Readme=%INSTALLDIR%/readme.txt,C:/Links/\n"
       "[PATH]\nBin=%INSTALLDIR%/bin\n",
       {}},
      {std::string(kAll) + "Odd=docs\\notes.txt,C:\\T\\...\\x\r\nLong=docs\\guide.txt,\\\\?\\C:\\T/x\r\n"
                           "Star=docs\\notes.txt,%WINDOWSDIR%\\*\r\n",
       {"setup.ini:3: error: destination 'C:\\T\\...\\x' of 'Odd' holds the name '...'" + kOdd,
        "setup.ini:4: error: destination '\\\\?\\C:\\T/x' of 'Long' holds the name 'T/x'" + kOdd,
        "setup.ini:5: error: destination '%WINDOWSDIR%\\*' of 'Star' holds the name '*'" + kOdd}},
      {std::string(kAll) + "[SHORTCUTS]\r\nx/../../Evil=C:\\x.exe,DESKTOP\r\nx/.../y=C:\\x.exe,DESKTOP\r\n"
                           "App=%INSTALLDIR%\\x.exe,DESKTOP\r\nIcon=C:\\x.exe,DESKTOP,,%INSTALLDIR%\\x.ico\r\n"
                           "[PATH]\r\nBin=%INSTALLDIR%\\bin\r\n[UNINSTALL]\r\nFolder=%INSTALLDIR%\\x\r\n",
       {"setup.ini:4: error: shortcut name 'x/../../Evil' holds '..': it must lie within its place",
        "setup.ini:5: error: shortcut name 'x/.../y' holds '...': it must lie within its place",
        "setup.ini:6: error: shortcut 'App' uses %INSTALLDIR%" + kUnset,
        "setup.ini:7: error: shortcut 'Icon' uses %INSTALLDIR%" + kUnset,
        "setup.ini:9: error: entry 'Bin' uses %INSTALLDIR%" + kUnset,
        "setup.ini:11: error: [UNINSTALL] Folder uses %INSTALLDIR%" + kUnset}},
  };
  for (const auto& c : kCases) {
    Write("setup.ini", c.script);
    EXPECT_EQ(Check(), c.expected) << c.script;
  }
}

TEST_F(PackageFolder, UnicodeScriptsKeepTheirLineNumbers) {
  // UTF-16 with its mark: the reader converts it, the lines stay where they are.
  std::string utf16 = "\xFF\xFE";
  for (unsigned char c : std::string("[INSTALL]\nAll=*.*,C:\\T\n"))
    utf16 += std::string{static_cast<char>(c), '\0'};
  // "[REGISTRY]\n" then a key in Chinese.
  for (char16_t c : std::u16string(u"[REGISTRY]\n值=HKCX\\S\\N,1\n")) AppendLe(utf16, c, 2);
  Write("setup.ini", utf16);
  EXPECT_EQ(Check(), std::vector<std::string>{"setup.ini:4: error: unknown registry root 'HKCX'"});
  Write("setup.ini", "\xEF\xBB\xBF" + std::string(kAll) + "[REGISTRY]\n值=HKCX\\S\\N,1\n");
  EXPECT_EQ(Check(), std::vector<std::string>{"setup.ini:4: error: unknown registry root 'HKCX'"});
  // Text the program refuses, whole, on the line it is on.
  Write("setup.ini", "\xEF\xBB\xBF" + std::string(kAll) + "[REGISTRY]\n1=HKCU\\caf\xE9\\N,1\n");
  EXPECT_EQ(Check(), std::vector<std::string>{"setup.ini:4: error: text that is not UTF-8: '1=HKCU\\caf\\xE9\\N,1': "
                                              "the program refuses the script"});
  EXPECT_TRUE(plan_.HasErrors());
}

TEST_F(PackageFolder, CleanScriptSaysNothing) {
  Write("setup.ini",
        "[GUI]\nVisible=1\nTiTle=Example\n[INSTALL]\nDocs=docs\\,?\nApp=app,%INSTALLDIR%\n"
        "Fonts=fonts\\*.ttf,%WINDOWSDIR%\\Fonts\n[REGISTRY]\n1=HKLM\\Software\\Example\\Path,%INSTALLDIR%\n"
        "2=HKCU\\Software\\Example\\Flags,DWORD:1F\n3=HKCU\\Software\\Example\\Blob,HEX:01,02,FF\n"
        "[COMMAND]\n1=%INSTALLDIR%\\app\\readme.txt,MAXIMIZE\n");
  EXPECT_EQ(Check(), std::vector<std::string>{});
  EXPECT_FALSE(plan_.HasErrors());
}

TEST_F(PackageFolder, MissingScriptIsAnError) {
  EXPECT_EQ(Check("other.ini"), std::vector<std::string>{"setup.ini: error: the package folder has no script 'other.ini'"});
  EXPECT_TRUE(plan_.HasErrors());
  // Everything is still laid out, for --force.
  EXPECT_EQ(plan_.order.size(), 13u);
}

TEST_F(PackageFolder, FilesComeInTheOrderTheProgramInstallsThem) {
  Write("B.txt", "b");
  Write("a.txt", "a");
  Write("sub/setup.ini",
        "[INSTALL]\nNotes=docs\\notes.txt,C:\\T\nApp=app,C:\\T\nDocs=docs\\,C:\\T\nTexts=?.TXT,C:\\T\n");
  Write("sub/SETUP.exe", "MZ");  // the folder's own setup program: the packed file replaces it
  EXPECT_EQ(Check("sub/setup.ini"), std::vector<std::string>{"setup.ini: warning: 'fonts\\a.ttf' is installed by no entry"});
  // The script first, then each entry in turn, each folder's names
  // case-blind in order, a folder before its contents; what no entry takes
  // at the end.
  EXPECT_EQ(Order(), (std::vector<std::string>{
                         "sub", "sub\\setup.ini", "docs", "docs\\notes.txt", "app", "app\\bin", "app\\bin\\demo.cfg", "app\\data",
                         "app\\data\\deeper", "app\\data\\deeper\\two.txt", "app\\data\\one.txt", "app\\readme.txt",
                         "docs\\guide.txt", "a.txt", "B.txt", "fonts", "fonts\\a.ttf"}));
}

// Names Windows takes for one, whatever their letters: a source written in
// another case than the folder still matches, and two files that would be
// one are refused.
TEST_F(PackageFolder, NamesAreComparedAsWindowsComparesThem) {
  Write("données/Été.txt", "e");
  Write("Σ.txt", "upper");
  Write("σ.txt", "lower");
  Write("setup.ini", "\xEF\xBB\xBF[INSTALL]\r\nData=DONNÉES\\ÉTÉ.TXT,C:\\T\r\nAll=*.*,C:\\T\r\n");
  EXPECT_EQ(Check(), std::vector<std::string>{
                         "setup.ini: error: 'σ.txt' differs from another name only in letter case: on Windows they "
                         "are one file"});
  EXPECT_EQ(Order()[1], "données");
  EXPECT_EQ(Order()[2], "données\\Été.txt");
}

// Files that the uninstaller, left beside them, would take for its own.
TEST_F(PackageFolder, UninstallerNamesAreWarnedOnTheirLine) {
  Write("app/bin/Uninstall.EXE", "MZ");
  Write("docs/UNINSTALL.ini", "[INSTALL]");
  Write("setup.ini", "[INSTALL]\r\nApp=app,C:\\T\r\nDocs=docs\\*.*,C:\\T\r\nFonts=fonts\\,C:\\T\r\n");
  EXPECT_EQ(Check(), (std::vector<std::string>{
                         "setup.ini:2: warning: 'App' installs 'app\\bin\\Uninstall.EXE': a file named uninstall.exe or "
                         "uninstall.ini beside the uninstaller replaces it or changes what it does",
                         "setup.ini:3: warning: 'Docs' installs 'docs\\UNINSTALL.ini': a file named uninstall.exe or "
                         "uninstall.ini beside the uninstaller replaces it or changes what it does"}));
}

// Attributes and times as Wine keeps them on Linux, read by the scan and
// written back by extract's SetFileDetails.
TEST_F(PackageFolder, AttributesAndTimesSurviveTheDisk) {
  const std::string file = (dir_ / "docs/guide.txt").string();
  if (::setxattr(file.c_str(), "user.DOSATTRIB", "0x2", 3, 0) != 0) GTEST_SKIP() << "no user attributes here";
  const std::uint64_t when = 133000000000000000ull + 1234567;  // 2022, with 100 ns ticks
  const struct {
    const char* path;
    std::uint32_t attributes;
  } kCases[] = {
      {"docs/guide.txt", 0x20 | 0x02 | 0x01},  // archive, hidden, read-only
      {"docs/notes.txt", 0x20 | 0x04},         // archive, system
      {"fonts/a.ttf", 0x20},
      {"app/data", 0x10 | 0x02},  // a hidden folder
  };
  for (const auto& c : kCases)
    ASSERT_EQ(SetFileDetails((dir_ / c.path).string(), c.attributes, when), "") << c.path;
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);

  std::vector<Problem> problems;
  const std::vector<Item> items = ScanFolder(dir_.string(), "", problems);
  for (const auto& c : kCases) {
    std::string rel = c.path;
    for (char& ch : rel)
      if (ch == '/') ch = '\\';
    const auto at = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.path == rel; });
    ASSERT_NE(at, items.end()) << rel;
    EXPECT_EQ(at->attributes, c.attributes) << rel;
    EXPECT_EQ(at->modified, when) << rel;
  }
}

TEST_F(PackageFolder, ThePackageBeingWrittenIsNotPacked) {
  Write("out.exe", "an older package");
  std::vector<Problem> problems;
  const std::vector<Item> items = ScanFolder(dir_.string(), (dir_ / "docs/../out.exe").string(), problems);
  for (const Item& i : items) EXPECT_NE(i.path, "out.exe");
  EXPECT_EQ(items.size(), 13u);
}

}  // namespace
}  // namespace qv::qvpack
