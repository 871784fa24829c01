// Every entry kind of a script doing its real work under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

constexpr char kHidden[] = "[GUI]\nVisible=0\n";

// files\ holds a nested tree with hidden, system and read-only files, a
// folder with extra attributes and an empty folder.
void AddTree(const Package& pkg) {
  pkg.File("files\\top.txt", "top");
  pkg.File("files\\lib\\a.dll", "dll");
  pkg.File("files\\lib\\hidden.dat", "hidden");
  pkg.File("files\\lib\\deep\\system.sys", "system");
  pkg.File("files\\ro.txt", "readonly");
  test::MakeFolders(pkg / "files\\empty");
  ::SetFileAttributesA((pkg / "files\\lib\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesA((pkg / "files\\lib\\deep\\system.sys").c_str(), FILE_ATTRIBUTE_SYSTEM);
  ::SetFileAttributesA((pkg / "files\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesA((pkg / "files\\lib").c_str(),
                       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
}

DWORD Attr(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

TEST(Install, SourceFormsOnARealTree) {
  struct Case {
    const char* entry;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } cases[] = {
      {"files\\,out",
       {"out\\top.txt", "out\\lib\\a.dll", "out\\lib\\hidden.dat", "out\\lib\\deep\\system.sys",
        "out\\ro.txt", "out\\empty\\"},
       {"out\\files\\"}},
      {"files,out",
       {"out\\files\\top.txt", "out\\files\\lib\\deep\\system.sys", "out\\files\\empty\\"},
       {"out\\top.txt"}},
      {"files\\*.dll,out", {"out\\"}, {"out\\top.txt", "out\\lib\\"}},
      {"files\\l*,out", {"out\\lib\\a.dll", "out\\lib\\hidden.dat"}, {"out\\top.txt"}},
      {"files\\t?p.txt,out\\x,y", {"out\\x,y\\top.txt"}, {"out\\ro.txt"}},
      {"files\\nothing*.none,out\\made\\anyway", {"out\\made\\anyway\\"}, {}},
  };
  for (const auto& c : cases) {
    Package pkg("tree");
    AddTree(pkg);
    pkg.Script(std::string(kHidden) + "[INSTALL]\nE=" + c.entry + "\n");
    ASSERT_EQ(pkg.Run(), 0) << c.entry;
    for (const auto& p : c.present) {
      const bool folder = p.back() == '\\';
      EXPECT_TRUE(folder ? test::IsFolder(pkg / p) : test::IsFile(pkg / p)) << c.entry << ": " << p;
    }
    for (const auto& p : c.absent) EXPECT_EQ(Attr(pkg / p), INVALID_FILE_ATTRIBUTES) << c.entry << ": " << p;
  }
}

TEST(Install, CopiesKeepContentAndAttributesAndReplaceOldFiles) {
  Package pkg("attrs");
  AddTree(pkg);
  pkg.File("out\\top.txt", "an older and longer top");
  pkg.Script(std::string(kHidden) + "[INSTALL]\nE=files\\,out\n");
  ASSERT_EQ(pkg.Run(), 0);
  EXPECT_EQ(test::ReadTextFile(pkg / "out\\top.txt"), "top");
  EXPECT_EQ(test::ReadTextFile(pkg / "out\\lib\\deep\\system.sys"), "system");
  EXPECT_TRUE(Attr(pkg / "out\\lib\\hidden.dat") & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(Attr(pkg / "out\\lib\\deep\\system.sys") & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(Attr(pkg / "out\\ro.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST(Install, DestinationsWithMacros) {
  Package pkg("macros");
  pkg.File("files\\a.txt", "a");
  char tmp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, tmp);
  const std::string name = "qv_macro_" + std::to_string(::GetCurrentProcessId());
  const std::string target = std::string(tmp) + name;
  test::RemoveTree(target);
  pkg.Script(std::string(kHidden) + "[INSTALL]\nA=files\\a.txt,%TEMPDIR%\\" + name +
             "\\%nosuch%\nB=files\\a.txt, %INSTALLDIR%\\lit\n");
  ASSERT_EQ(pkg.Run(), 0);
  EXPECT_TRUE(test::IsFile(target + "\\%nosuch%\\a.txt"));
  // No prompt ran, so %INSTALLDIR% is a folder name beside the program.
  EXPECT_TRUE(test::IsFile(pkg / "%INSTALLDIR%\\lit\\a.txt"));
  test::RemoveTree(target);
}

class RegistryKey {
 public:
  explicit RegistryKey(const char* path) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, path);
    path_ = path;
  }
  ~RegistryKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); }
  struct Value {
    DWORD type = 0;
    std::vector<unsigned char> bytes;
    bool found = false;
  };
  static Value Read(HKEY root, const std::string& key, const std::string& name) {
    Value v;
    HKEY k;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return v;
    DWORD size = 256;
    v.bytes.resize(size);
    v.found = ::RegQueryValueExA(k, name.c_str(), nullptr, &v.type, v.bytes.data(), &size) == ERROR_SUCCESS;
    v.bytes.resize(v.found ? size : 0);
    ::RegCloseKey(k);
    return v;
  }

 private:
  std::string path_;
};

std::vector<unsigned char> Sz(const std::string& s) {
  std::vector<unsigned char> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

TEST(Registry, ValuesReadBackWithTheirTypesAndBytes) {
  RegistryKey key("Software\\qvSetupTest");
  Package pkg("reg");
  pkg.Script(std::string(kHidden) +
             "[REGISTRY]\n"
             "1=HKCU\\Software\\qvSetupTest\\E2E\\Lead, hello\n"
             "2=HKCU\\Software\\qvSetupTest\\E2E\\Max,DWORD:FFFFFFFF\n"
             "3=HKCU\\Software\\qvSetupTest\\E2E\\Blank,HEX:01, 02\n"
             "4=HKCU\\Software\\qvSetupTest\\E2E\\Short,hex:1,2\n"
             "5=hkey_current_user\\Software\\qvSetupTest\\E2E\\,default text\n"
             "6=HKCU\\\\Software\\qvSetupTest\\Doubled,x\n"
             "7=HKCU\\Software\\qvSetupTest\\E2E\\Where,%WINDOWSDIR%\n"
             "8=NOSUCHROOT\\Software\\qvSetupTest\\E2E\\Never,1\n"
             "9=HKCU\\Software\\qvSetupTest\\E2E\\Commas,a,b,c\n");
  ASSERT_EQ(pkg.Run(), 3);  // the unknown root fails; everything else is written
  char windows[MAX_PATH];
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  struct Case {
    const char* key;
    const char* name;
    DWORD type;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"Software\\qvSetupTest\\E2E", "Lead", REG_SZ, Sz(" hello")},
      {"Software\\qvSetupTest\\E2E", "Max", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"Software\\qvSetupTest\\E2E", "Blank", REG_BINARY, {0x01, 0x00}},
      {"Software\\qvSetupTest\\E2E", "Short", REG_BINARY, {0x01, 0x02}},
      {"Software\\qvSetupTest\\E2E", "", REG_SZ, Sz("default text")},
      {"Software\\qvSetupTest", "Doubled", REG_SZ, Sz("x")},
      {"Software\\qvSetupTest\\E2E", "Where", REG_SZ, Sz(windows)},
      {"Software\\qvSetupTest\\E2E", "Commas", REG_SZ, Sz("a,b,c")},
  };
  for (const auto& c : cases) {
    RegistryKey::Value v = RegistryKey::Read(HKEY_CURRENT_USER, c.key, c.name);
    EXPECT_TRUE(v.found) << c.name;
    EXPECT_EQ(v.type, c.type) << c.name;
    EXPECT_EQ(v.bytes, c.bytes) << c.name;
  }
  EXPECT_FALSE(RegistryKey::Read(HKEY_CURRENT_USER, "Software\\qvSetupTest\\E2E", "Never").found);
}

TEST(Registry, AKeyPathThatIsOnlyARootWritesItsDefaultValue) {
  // HKCU's own default value: saved and put back.
  RegistryKey::Value before = RegistryKey::Read(HKEY_CURRENT_USER, "", "");
  Package pkg("root");
  pkg.Script(std::string(kHidden) + "[REGISTRY]\n1=HKCU,root default\n");
  ASSERT_EQ(pkg.Run(), 0);
  RegistryKey::Value v = RegistryKey::Read(HKEY_CURRENT_USER, "", "");
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(v.bytes, Sz("root default"));
  if (before.found)
    ::RegSetValueExA(HKEY_CURRENT_USER, "", 0, before.type, before.bytes.data(), static_cast<DWORD>(before.bytes.size()));
  else
    ::RegDeleteValueA(HKEY_CURRENT_USER, "");
}

TEST(Command, ProgramsStartWithTheirShowCodes) {
  Package pkg("cmd");
  pkg.AddRecorder();
  pkg.AddRecorder("sub dir\\rec.exe");
  const std::string d = pkg.Dir();
  pkg.Script(std::string(kHidden) +
             "[COMMAND]\n"
             "1=recorder.exe \"" + d + "m1\" a,b,MAXIMIZE\n"
             "2=\"" + d + "sub dir\\rec.exe\" \"" + d + "m2\", hide\n"
             "3=" + d + "recorder.exe " + d + "m3\n"
             "4=" + d + "recorder.exe " + d + "m4,minimize\n"
             "5=nosuchprogram.exe,HIDE\n"
             "6=\n"
             "7=" + d + "recorder.exe " + d + "m7 shell32.dll,Control_RunDLL,\n");
  ASSERT_EQ(pkg.Run(), 3);  // the missing program and the empty line fail; the rest start
  struct Case {
    const char* marker;
    const char* show;
    const char* cmdTail;
  } cases[] = {
      {"m1", "show=3", " a,b"},
      {"m2", "show=0", "m2\""},
      {"m3", "show=1", "m3"},
      {"m4", "show=6", "m4"},
      {"m7", "show=1", "m7 shell32.dll,Control_RunDLL"},
  };
  for (const auto& c : cases) {
    const std::string text = WaitForFile(d + c.marker);
    ASSERT_FALSE(text.empty()) << c.marker << " never started";
    EXPECT_EQ(text.substr(0, text.find('\n')), c.show) << c.marker;
    const std::string cmd = text.substr(text.find("cmd=") + 4);
    const std::string line = cmd.substr(0, cmd.find('\n'));
    EXPECT_EQ(line.substr(line.size() - std::string(c.cmdTail).size()), c.cmdTail) << line;
  }
}

}  // namespace
}  // namespace qv::e2e
