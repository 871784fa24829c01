#include <gtest/gtest.h>

#include "engine/entries.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

TEST(Registry, RootNames) {
  struct Case {
    const char* name;
    std::uint32_t key;
  } cases[] = {
      {"HKCR", kHKCR}, {"hkey_classes_root", kHKCR}, {" HKCU ", kHKCU}, {"HKEY_CURRENT_USER", kHKCU},
      {"hklm", kHKLM}, {"HKEY_LOCAL_MACHINE", kHKLM}, {"HKU", kHKU},    {"HKEY_USERS", kHKU},
      {"HKCC", kHKCC}, {"HKEY_CURRENT_CONFIG", kHKCC}, {"HKDD", kHKDD},  {"HKEY_DYN_DATA", kHKDD},
      {"HKEY_PERFORMANCE_DATA", 0}, {"MYROOT", 0}, {"", 0}, {"HK LM", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(RootKeyFromName(c.name), c.key) << c.name;
}

TEST(Registry, ParseEntry) {
  FolderValues f;
  f.install = "D:\\App";
  struct Case {
    const char* keyPath;
    const char* value;
    std::uint32_t root;
    const char* subkey;
    const char* name;
    RegType type;
    Bytes data;
  } cases[] = {
      {"HKLM\\Software\\Example\\Path", "%INSTALLDIR%", kHKLM, "Software\\Example", "Path",
       RegType::Text, Text("D:\\App")},
      {"HKCU\\Software\\Example\\Name", " hello", kHKCU, "Software\\Example", "Name",
       RegType::Text, Text(" hello")},
      {"HKCU\\Software\\Example\\Name", "", kHKCU, "Software\\Example", "Name", RegType::Text,
       Text("")},
      {"HKCU\\S\\Blob", "HEX:01,02,FF", kHKCU, "S", "Blob", RegType::Binary, {1, 2, 0xFF}},
      {"HKCU\\S\\Blob", "hex:a,b", kHKCU, "S", "Blob", RegType::Binary, {0x0A, 0x0B}},
      {"HKCU\\S\\Blob", "HEX:01, 02", kHKCU, "S", "Blob", RegType::Binary, {1, 0}},
      {"HKCU\\S\\Blob", "HEX:0102", kHKCU, "S", "Blob", RegType::Binary, {2}},
      {"HKCU\\S\\Blob", "HEX:1,2,", kHKCU, "S", "Blob", RegType::Binary, {1, 2, 0}},
      {"HKCU\\S\\Blob", "HEX:", kHKCU, "S", "Blob", RegType::Binary, {0}},
      {"HKCU\\S\\Blob", "  Hex:7g", kHKCU, "S", "Blob", RegType::Binary, {7}},
      {"HKCU\\S\\D", "DWORD:FFFFFFFF", kHKCU, "S", "D", RegType::Dword, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"HKCU\\S\\D", "DWORD:1F", kHKCU, "S", "D", RegType::Dword, {0x1F, 0, 0, 0}},
      {"HKCU\\S\\D", "DWORD: 10", kHKCU, "S", "D", RegType::Dword, {0, 0, 0, 0}},
      {"HKCU\\S\\D", "dword:0x10", kHKCU, "S", "D", RegType::Dword, {0, 0, 0, 0}},
      {"HKCU\\S\\D", "DWORD:123456789", kHKCU, "S", "D", RegType::Dword, {0x89, 0x67, 0x45, 0x23}},
      {"HKCU\\S\\D", "DWORD:", kHKCU, "S", "D", RegType::Dword, {0, 0, 0, 0}},
      {"HKCU\\S\\T", "HEX", kHKCU, "S", "T", RegType::Text, Text("HEX")},
      {"HKCU\\S\\T", "DWORD", kHKCU, "S", "T", RegType::Text, Text("DWORD")},
      {"HKCU", "x", kHKCU, "", "", RegType::Text, Text("x")},
      {"HKCU\\Software", "x", kHKCU, "Software", "", RegType::Text, Text("x")},
      {"HKCU\\Software\\Key\\", "x", kHKCU, "Software\\Key", "", RegType::Text, Text("x")},
      {"HKCU\\\\Software\\X", "x", kHKCU, "\\Software", "X", RegType::Text, Text("x")},
      {"MYROOT\\Software\\X", "1", 0, "Software", "X", RegType::Text, Text("1")},
      {"HKCU\\S\\T", "%WINDOWSDIR%", kHKCU, "S", "T", RegType::Text, Text("%WINDOWSDIR%")},
  };
  for (const auto& c : cases) {
    RegistryEntry e = ParseRegistryEntry(f, c.keyPath, c.value);
    SCOPED_TRACE(std::string(c.keyPath) + " , " + c.value);
    EXPECT_EQ(e.root, c.root);
    EXPECT_EQ(e.subkey, c.subkey);
    EXPECT_EQ(e.valueName, c.name);
    EXPECT_EQ(e.type, c.type);
    EXPECT_EQ(e.data, c.data);
  }
}

TEST(Commands, ShowWordsAndTheLastComma) {
  FolderValues f;
  f.install = "D:\\App";
  struct Case {
    const char* value;
    const char* commandLine;
    int show;
  } cases[] = {
      {"%INSTALLDIR%\\example.exe,MAXIMIZE", "D:\\App\\example.exe", 3},
      {"notepad.exe readme.txt", "notepad.exe readme.txt", 1},
      {"rundll32.exe shell32.dll,Control_RunDLL,HIDE", "rundll32.exe shell32.dll,Control_RunDLL", 0},
      {"rundll32.exe shell32.dll,Control_RunDLL", "rundll32.exe shell32.dll", 1},
      {"rundll32.exe shell32.dll,Control_RunDLL,", "rundll32.exe shell32.dll,Control_RunDLL", 1},
      {"setup2.exe , hide", "setup2.exe", 0},
      {"a.exe,minimize", "a.exe", 6},
      {"a.exe,MAXIMISE", "a.exe", 1},
      {"", "", 1},
      {"  %NOPE%\\x.exe  ,", "%NOPE%\\x.exe", 1},
  };
  for (const auto& c : cases) {
    CommandEntry e = ParseCommandEntry(f, c.value);
    EXPECT_EQ(e.commandLine, c.commandLine) << c.value;
    EXPECT_EQ(e.showCode, c.show) << c.value;
  }
  FolderValues none;
  EXPECT_EQ(ParseCommandEntry(none, "%INSTALLDIR%\\a.exe").commandLine, "%INSTALLDIR%\\a.exe");
}

TEST(Commands, WordsAreTakenFromTheEndWhileAShowFieldRemains) {
  FolderValues f;
  f.install = "D:\\App";
  struct Case {
    const char* value;
    const char* commandLine;
    int show;
    bool wait, asUser, uninstall;
    std::vector<std::uint32_t> ok, restart;
  } cases[] = {
      {"%INSTALLDIR%\\vc.exe /q,HIDE,WAIT,OK=0 1638 3010", "D:\\App\\vc.exe /q", 0, true, false, false, {0, 1638, 3010}, {}},
      {"a.exe x,y,MINIMIZE, asuser ,Uninstall,restart=7,ok=-1", "a.exe x,y", 6, false, true, true, {0xFFFFFFFF}, {7}},
      // No show field before it: the old meaning.
      {"a.exe,WAIT", "a.exe", 1, false, false, false, {0}, {}},
      // Not a word: the value reads as before.
      {"a.exe,HIDE,OK=zero", "a.exe,HIDE", 1, false, false, false, {0}, {}},
      {"a.exe,HIDE,OK=", "a.exe,HIDE", 1, false, false, false, {0}, {}},
  };
  for (const auto& c : cases) {
    const CommandEntry e = ParseCommandEntry(f, c.value);
    EXPECT_EQ(e.commandLine, c.commandLine) << c.value;
    EXPECT_EQ(e.showCode, c.show) << c.value;
    EXPECT_EQ(std::make_tuple(e.wait, e.asUser, e.uninstall), std::make_tuple(c.wait, c.asUser, c.uninstall)) << c.value;
    EXPECT_EQ(e.okCodes, c.ok) << c.value;
    EXPECT_EQ(e.restartCodes, c.restart) << c.value;
    // As the uninstaller's record keeps it, read back the same.
    const CommandEntry back = ParseCommandValue(CommandValue(e));
    EXPECT_EQ(std::make_tuple(back.commandLine, back.showCode, back.wait, back.asUser, back.okCodes, back.restartCodes),
              std::make_tuple(e.commandLine, e.showCode, e.wait, e.asUser, e.okCodes, e.restartCodes))
        << CommandValue(e);
  }
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(Commands, TheProgramOfACommandLine) {
  struct Case {
    const char* line;
    const char* program;
    const char* rest;
    bool bare;
  } cases[] = {
      {"cmd.exe /c echo x", "cmd.exe", " /c echo x", true},
      {"rundll32 shell32.dll,Control_RunDLL", "rundll32", " shell32.dll,Control_RunDLL", true},
      {"\"C:\\Program Files\\A\\a.exe\" -q", "C:\\Program Files\\A\\a.exe", " -q", false},
      {"\"b c.exe\" x", "b c.exe", " x", true},
      {"\"unclosed x", "unclosed x", "", true},
      {"D:a.exe", "D:a.exe", "", false},
      {"sub\\a.exe", "sub\\a.exe", "", false},
      {"", "", "", false},
  };
  for (const auto& c : cases) {
    const ProgramToken t = SplitProgram(c.line);
    EXPECT_EQ(t.program, c.program) << c.line;
    EXPECT_EQ(t.rest, c.rest) << c.line;
    EXPECT_EQ(IsBareProgramName(t.program), c.bare) << c.line;
  }
}

}  // namespace
}  // namespace qv
