#include <gtest/gtest.h>

#include "engine/errors.h"
#include "engine/folders.h"
#include "engine/scope.h"
#include "engine/setup_engine.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

FolderValues Sample() {
  FolderValues f;
  f.windows = "C:\\WINDOWS";
  f.temp = "C:\\Documents and Settings\\someone\\Local Settings\\Temp";
  f.programFiles = "C:\\Program Files";
  f.system = "C:\\WINDOWS\\system32";
  return f;
}

TEST(Macros, ExpandMacros) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"%WINDOWSDIR%\\Fonts", "C:\\WINDOWS\\Fonts"},
      {"%NOSUCH%WINDOWSDIR%", "%NOSUCHC:\\WINDOWS"},
      {"100%", "100%"},
      {"%TEMPDIR", "%TEMPDIR"},
      {"%TEMPDIR% %WINDOWSDIR%",
       "C:\\Documents and Settings\\someone\\Local Settings\\Temp C:\\WINDOWS"},
      {"%installdir%\\x", "%installdir%\\x"},
      {"% systemdir %", "C:\\WINDOWS\\system32"},
      {"%ProgramFilesDir%\\A%%B", "C:\\Program Files\\A%%B"},
      {"%%WINDOWSDIR%", "%C:\\WINDOWS"},
      {"", ""},
      {"%", "%"},
      {"%%", "%%"},
  };
  const FolderValues f = Sample();
  for (const auto& c : cases) {
    std::string s = c.in;
    ExpandMacros(f, s);
    EXPECT_EQ(s, c.out) << c.in;
  }
}

TEST(Macros, InsertedTextIsNotScannedAgain) {
  FolderValues f = Sample();
  f.install = "D:\\100%TEMPDIR%";
  std::string s = "%INSTALLDIR%\\%WINDOWSDIR%";
  ExpandMacros(f, s);
  EXPECT_EQ(s, "D:\\100%TEMPDIR%\\C:\\WINDOWS");
}

TEST(Folders, InitFolderValues) {
  test::FakePlatform p;
  p.AddFolder("C:\\Program Files (x86)");
  p.programFilesDir = {RegistryText::Status::Text, "C:\\Program Files (x86)"};
  FolderValues f;
  InitFolderValues(p, f);
  EXPECT_EQ(f.windows, "C:\\WINDOWS");
  EXPECT_EQ(f.system, "C:\\WINDOWS\\system32");
  EXPECT_EQ(f.temp, "C:\\TEMP");
  EXPECT_EQ(f.programFiles, "C:\\Program Files (x86)");
}

TEST(Folders, ProgramFilesFallsBackToTheWindowsDrive) {
  struct Case {
    RegistryText reg;
  } cases[] = {
      {{RegistryText::Status::KeyNotOpened, ""}},
      {{RegistryText::Status::Absent, ""}},
      {{RegistryText::Status::Text, "E:\\nowhere"}},
      {{RegistryText::Status::Text, ""}},
  };
  for (const auto& c : cases) {
    test::FakePlatform p;
    p.windowsFolder = "E:\\WINNT";
    p.programFilesDir = c.reg;
    FolderValues f;
    InitFolderValues(p, f);
    EXPECT_EQ(f.programFiles, "E:\\Program Files") << c.reg.text;
  }
}

TEST(Folders, ProgramFilesOfAnotherTypeIsAnError) {
  test::FakePlatform p;
  p.programFilesDir = {RegistryText::Status::NotText, ""};
  FolderValues f;
  try {
    InitFolderValues(p, f);
    FAIL() << "no error";
  } catch (const EngineError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'ProgramFilesDir'");
  }
}

// Every macro of a place the system names reaches that place, one person's
// or all users' as the run's scope says, wherever a script writes it.
TEST(Folders, EachKnownFolderMacroIsThePlaceForTheRunsScope) {
  const struct {
    const char* macro;
    const char* user;  // the fake machine's places
    const char* machine;
  } cases[] = {
      {"LOCALAPPDATA", "C:\\Users\\Ann\\AppData\\Local", "C:\\ProgramData"},
      {"APPDATA", "C:\\Users\\Ann\\AppData\\Roaming", "C:\\ProgramData"},
      {"COMMONAPPDATA", "C:\\ProgramData", "C:\\ProgramData"},
      {"COMMONFILESDIR", "C:\\Program Files\\Common Files", "C:\\Program Files\\Common Files"},
      {"STARTMENU", "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
       "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"DESKTOP", "C:\\Users\\Ann\\Desktop", "C:\\Users\\Public\\Desktop"},
      {"FONTSDIR", "C:\\WINDOWS\\Fonts", "C:\\WINDOWS\\Fonts"},
      {"USERPROFILE", "C:\\Users\\Ann", "C:\\Users\\Ann"},
  };
  std::string script = "[REGISTRY]\n";
  for (const auto& c : cases)
    script += std::string(c.macro) + "=HKCU\\Software\\T\\" + c.macro + ",%" + c.macro + "%\n";
  for (const Placement::For scope : {Placement::For::User, Placement::For::Machine}) {
    const bool allUsers = scope == Placement::For::Machine;
    SCOPED_TRACE(allUsers ? "for all users" : "for one person");
    test::FakePlatform platform;
    platform.elevated = allUsers;
    platform.AddFile("D:\\dist\\setup.ini", script);
    test::RecordingWindow window;
    RunState state;
    FolderValues folders;
    SetupEngine engine(platform, window, state, folders, "D:\\dist\\setup.exe");
    engine.SetPlacement({.forWhom = scope});
    engine.Run({});
    for (const auto& c : cases) {
      const auto value = platform.registry.find({kHKCU, "SOFTWARE\\T", c.macro});
      ASSERT_NE(value, platform.registry.end()) << c.macro;
      EXPECT_EQ(std::string(value->second.data.begin(), value->second.data.end()),
                std::string(allUsers ? c.machine : c.user) + '\0')
          << c.macro;
    }
  }
}

TEST(Folders, CreateFolderPathMakesEachMissingLevelTopDown) {
  test::FakePlatform p;
  EXPECT_TRUE(CreateFolderPath(p, "C:\\a\\b\\c\\"));
  EXPECT_EQ(p.events, (std::vector<std::string>{"mkdir C:\\a", "mkdir C:\\a\\b", "mkdir C:\\a\\b\\c"}));
  EXPECT_TRUE(p.IsFolder("C:\\a\\b\\c"));

  p.events.clear();
  EXPECT_TRUE(CreateFolderPath(p, "C:\\a\\b"));  // already there: nothing made
  EXPECT_TRUE(p.events.empty());
}

TEST(Folders, CreateFolderPathStopsAtTheFirstFailureAndKeepsUpperLevels) {
  test::FakePlatform p;
  p.failingFolders.insert("C:\\A\\B");
  EXPECT_FALSE(CreateFolderPath(p, "C:\\a\\b\\c"));
  EXPECT_EQ(p.events, (std::vector<std::string>{"mkdir C:\\a", "mkdir C:\\a\\b"}));
  EXPECT_TRUE(p.IsFolder("C:\\a"));
  EXPECT_FALSE(CreateFolderPath(p, "Q:\\x"));  // no such drive
  EXPECT_THROW(CreateFolderPath(p, ""), EngineError);
}

TEST(Folders, FolderExistsNeedsTheFolderAttribute) {
  test::FakePlatform p;
  p.AddFile("C:\\f.txt", "x");
  p.AddFolder("C:\\ro", kAttrDirectory | kAttrReadOnly | kAttrHidden);
  EXPECT_FALSE(FolderExists(p, "C:\\f.txt"));
  EXPECT_TRUE(FolderExists(p, "C:\\ro"));
  EXPECT_FALSE(FolderExists(p, ""));
  EXPECT_FALSE(FolderExists(p, "C:\\none"));
}

}  // namespace
}  // namespace qv
