#include <algorithm>
#include <gtest/gtest.h>
#include <windows.h>

#include "errors.h"
#include "folders.h"
#include "registry.h"
#include "text_conv.h"
#include "temp_dir.h"
#include "win32_platform.h"

namespace qv {
namespace {

constexpr char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr char kTestKey[] = "Software\\qvSetupTest";

// Puts HKLM's ProgramFilesDir back as it was, whatever the test did to it.
class ProgramFilesDirGuard {
 public:
  ProgramFilesDirGuard() {
    reg_.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(reg_.OpenKey(kCurrentVersion, false));
    saved_ = reg_.ReadText("ProgramFilesDir").value_or("");
  }
  ~ProgramFilesDirGuard() { Set(REG_SZ, saved_ + '\0'); }
  // Text types are given in UTF-8 and stored as the system keeps them.
  void Set(DWORD type, const std::string& bytes) {
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      const std::wstring text = Utf8ToWide(bytes);
      const auto* raw = reinterpret_cast<const std::uint8_t*>(text.data());
      data.assign(raw, raw + text.size() * sizeof(wchar_t));
    }
    EXPECT_TRUE(reg_.WriteData("ProgramFilesDir", type, data));
  }

 private:
  TRegistry reg_;
  std::string saved_;
};

TEST(Win32Folders, InitFolderValuesMatchesTheSystem) {
  Win32Platform p;
  FolderValues f;
  InitFolderValues(p, f);
  char buf[MAX_PATH];
  ::GetWindowsDirectoryA(buf, MAX_PATH);
  EXPECT_EQ(f.windows, buf);
  ::GetSystemDirectoryA(buf, MAX_PATH);
  EXPECT_EQ(f.system, buf);
  ::GetTempPathA(MAX_PATH, buf);
  EXPECT_EQ(f.temp + "\\", buf);
  EXPECT_NE(f.temp.back(), '\\');
  EXPECT_TRUE(FolderExists(p, f.programFiles)) << f.programFiles;
  // A 32-bit program on 64-bit Windows gets the x86 folder.
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  if (wow64) {
    EXPECT_EQ(f.programFiles, f.windows.substr(0, 1) + ":\\Program Files (x86)");
  }
}

TEST(Win32Folders, ProgramFilesDirFallbackAndWrongType) {
  Win32Platform p;
  ProgramFilesDirGuard guard;
  FolderValues f;
  struct Case {
    DWORD type;
    std::string bytes;
  } fallbacks[] = {{REG_SZ, std::string("Q:\\no such folder") + '\0'}, {REG_SZ, std::string(1, '\0')},
                   {REG_EXPAND_SZ, std::string("Q:\\nope") + '\0'}};
  for (const auto& c : fallbacks) {
    guard.Set(c.type, c.bytes);
    InitFolderValues(p, f);
    EXPECT_EQ(f.programFiles, f.windows.substr(0, 1) + ":\\Program Files");
  }
  guard.Set(REG_DWORD, std::string(4, '\1'));
  try {
    InitFolderValues(p, f);
    FAIL() << "no error";
  } catch (const EngineError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'ProgramFilesDir'");
  }
}

TEST(Win32Folders, CreateFolderPathOnRealFolders) {
  Win32Platform p;
  test::TempDir dir("mkdir");
  EXPECT_TRUE(CreateFolderPath(p, dir / "a\\b\\c\\"));
  EXPECT_TRUE(test::IsFolder(dir / "a\\b\\c"));
  EXPECT_TRUE(CreateFolderPath(p, dir / "a\\b"));  // already there

  test::WriteTextFile(dir / "file", "x");
  EXPECT_FALSE(CreateFolderPath(p, dir / "file\\sub\\deeper"));
  EXPECT_FALSE(test::IsFolder(dir / "file\\sub"));
  EXPECT_FALSE(FolderExists(p, dir / "file"));
  EXPECT_TRUE(FolderExists(p, dir / "a"));

  // Attributes do not stop a folder from being one.
  ::SetFileAttributesA((dir / "a").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(FolderExists(p, dir / "a"));
}

TEST(Win32Platform, FindSeesHiddenAndSystemEntries) {
  Win32Platform p;
  test::TempDir dir("find");
  test::WriteTextFile(dir / "h.txt", "h");
  test::WriteTextFile(dir / "s.txt", "s");
  ::SetFileAttributesA((dir / "h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesA((dir / "s.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
  test::MakeFolders(dir / "sub");
  FindEntry e;
  std::vector<std::string> names;
  auto find = p.FindFirst(dir / "*.*", e);
  ASSERT_TRUE(find);
  do names.push_back(e.name + ((e.attributes & kAttrDirectory) ? "/" : ""));
  while (find->Next(e));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"../", "./", "h.txt", "s.txt", "sub/"}));
  EXPECT_FALSE(p.FindFirst(dir / "*.none", e));
}

TEST(Win32Platform, RegistryValuesKeepTheirTypesAndBytes) {
  Win32Platform p;
  struct Case {
    std::string subkey;
    std::string name;
    RegType type;
    std::vector<std::uint8_t> data;
    std::string openAs;
  } cases[] = {
      {kTestKey, "Text", RegType::Text, {' ', 'h', 'i', 0}, kTestKey},
      {kTestKey, "Dword", RegType::Dword, {0xFF, 0xFF, 0xFF, 0xFF}, kTestKey},
      {kTestKey, "Bin", RegType::Binary, {1, 0}, kTestKey},
      {std::string("\\") + kTestKey + "\\Deep\\Er", "", RegType::Text, {'d', 0}, std::string(kTestKey) + "\\Deep\\Er"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(p.WriteRegistryValue(kHKCU, c.subkey, c.name, c.type, c.data), RegWrite::Written);
    HKEY k;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, c.openAs.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD type = 0, size = 64;
    std::vector<std::uint8_t> got(64);
    EXPECT_EQ(::RegQueryValueExA(k, c.name.c_str(), nullptr, &type, got.data(), &size), ERROR_SUCCESS);
    ::RegCloseKey(k);
    got.resize(size);
    EXPECT_EQ(type, static_cast<DWORD>(c.type)) << c.name;
    EXPECT_EQ(got, c.data) << c.name;
  }
  // A text value replaces a number of the same name.
  ASSERT_EQ(p.WriteRegistryValue(kHKCU, kTestKey, "Dword", RegType::Text, {'t', 0}), RegWrite::Written);
  EXPECT_EQ(p.ReadRegistryText(kHKCU, kTestKey, "Dword").text, "t");
  EXPECT_EQ(p.ReadRegistryText(kHKCU, kTestKey, "Bin").status, RegistryText::Status::NotText);
  EXPECT_EQ(p.ReadRegistryText(kHKCU, kTestKey, "None").status, RegistryText::Status::Absent);
  EXPECT_EQ(p.ReadRegistryText(kHKCU, "Software\\qvSetupNoSuchKey", "x").status,
            RegistryText::Status::KeyNotOpened);
  EXPECT_EQ(p.WriteRegistryValue(0, "Software\\X", "x", RegType::Text, {0}), RegWrite::KeyNotOpened);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
}

TEST(Win32Platform, ReadWholeFileAndCopy) {
  Win32Platform p;
  test::TempDir dir("copy");
  const std::string bytes("a\0b\r\n\xB0\xB2", 7);
  test::WriteTextFile(dir / "src.bin", bytes);
  EXPECT_EQ(p.ReadWholeFile(dir / "src.bin"), bytes);
  EXPECT_FALSE(p.ReadWholeFile(dir / "missing"));
  test::WriteTextFile(dir / "dst.bin", "old and longer");
  EXPECT_TRUE(p.CopyOneFile(dir / "src.bin", dir / "dst.bin"));
  EXPECT_EQ(test::ReadTextFile(dir / "dst.bin"), bytes);
  EXPECT_FALSE(p.CopyOneFile(dir / "missing", dir / "x"));
}

}  // namespace
}  // namespace qv
