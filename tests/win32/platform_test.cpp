#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <tuple>
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "engine/errors.h"
#include "engine/folders.h"
#include "engine/text.h"
#include "engine/win32/access.h"
#include "engine/win32/win32_platform.h"
#include "framework/portable/file_name_case.h"
#include "framework/registry.h"
#include "framework/text_conv.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wildcard_cases.h"

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

TEST(Win32Platform, AProgramStartsInAFolderDeeperThanTheClassicLimit) {
  Win32Platform p;
  test::TempDir dir("deepcwd");
  std::string deep = dir.Path();
  for (char c = 'a'; c < 'f'; ++c) deep += std::string(55, c) + "\\";
  ASSERT_GT(deep.size(), 300u);
  ASSERT_TRUE(CreateFolderPath(p, deep));
  const std::string marker = dir / "cwd.txt";
  ASSERT_TRUE(p.shell.StartProgram("cmd.exe /c cd > \"" + marker + "\"", 0, deep)) << p.system.LastError().message;
  std::string said;
  for (int i = 0; i < 300 && said.find('\n') == std::string::npos; ++i, ::Sleep(50))
    if (test::IsFile(marker)) said = test::ReadTextFile(marker);
  said = said.substr(0, said.find_first_of("\r\n"));
  // Whatever name it was given, it is the folder asked for.
  const std::wstring given = Utf8ToWide(said);
  std::wstring longer(::GetLongPathNameW(given.c_str(), nullptr, 0) + 1, L'\0');
  longer.resize(::GetLongPathNameW(given.c_str(), longer.data(), static_cast<DWORD>(longer.size())));
  EXPECT_EQ(WideToUtf8(longer) + "\\", deep) << said;
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
  auto find = p.files.FindFirst(dir / "*.*", e);
  ASSERT_TRUE(find);
  do names.push_back(e.name + ((e.attributes & kAttrDirectory) ? "/" : ""));
  while (find->Next(e));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"../", "./", "h.txt", "s.txt", "sub/"}));
  EXPECT_FALSE(p.files.FindFirst(dir / "*.none", e));
}

// UTF-8 with its terminating zero, as text crosses the platform.
std::vector<std::uint8_t> TextBytes(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

TEST(Win32Platform, RegistryValuesKeepTheirTypesAndBytes) {
  Win32Platform p;
  // Far longer than any fixed buffer a PATH might be read into.
  const std::string longPath = "%SystemRoot%\\x;" + std::string(5000, 'p') + "\xC3\xA9;";
  struct Case {
    std::string subkey;
    std::string name;
    RegType type;
    std::vector<std::uint8_t> data;
    std::string openAs;
  } cases[] = {
      {kTestKey, "Text", RegType::Text, TextBytes(" hi"), kTestKey},
      {kTestKey, "Dword", RegType::Dword, {0xFF, 0xFF, 0xFF, 0xFF}, kTestKey},
      {kTestKey, "Bin", RegType::Binary, {1, 0}, kTestKey},
      {std::string("\\") + kTestKey + "\\Deep\\Er", "", RegType::Text, TextBytes("d"), std::string(kTestKey) + "\\Deep\\Er"},
      {kTestKey, "Expand", RegType::ExpandText, TextBytes("%TEMP%\\a"), kTestKey},
      {kTestKey, "Path", RegType::ExpandText, TextBytes(longPath), kTestKey},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(p.registry.WriteRegistryValue(kHKCU, c.subkey, c.name, c.type, c.data), RegWrite::Written);
    UniqueKey k;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(c.openAs).c_str(), 0, KEY_READ, k.Receive()), ERROR_SUCCESS);
    const std::wstring name = Utf8ToWide(c.name);
    DWORD type = 0, size = 0;
    ASSERT_EQ(::RegQueryValueExW(k.Get(), name.c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    std::vector<std::uint8_t> got(size);
    EXPECT_EQ(::RegQueryValueExW(k.Get(), name.c_str(), nullptr, &type, got.data(), &size), ERROR_SUCCESS);
    got.resize(size);
    EXPECT_EQ(type, static_cast<DWORD>(c.type));
    // Text as the system keeps it: UTF-16, its zero included.
    const bool text = c.type == RegType::Text || c.type == RegType::ExpandText;
    const std::string utf8(c.data.begin(), c.data.end());
    const std::wstring wide = Utf8ToWide(utf8);
    const auto* units = reinterpret_cast<const std::uint8_t*>(wide.data());
    EXPECT_EQ(got, text ? std::vector<std::uint8_t>(units, units + wide.size() * sizeof(wchar_t)) : c.data);
    if (text) {
      const RegistryText read = p.registry.ReadRegistryText(kHKCU, c.subkey, c.name);
      EXPECT_EQ(read.status, RegistryText::Status::Text);
      EXPECT_EQ(read.text, utf8.substr(0, utf8.size() - 1));  // as stored, not expanded
      EXPECT_EQ(read.expandable, c.type == RegType::ExpandText);
    }
  }
  // A text value replaces a number of the same name.
  ASSERT_EQ(p.registry.WriteRegistryValue(kHKCU, kTestKey, "Dword", RegType::Text, {'t', 0}), RegWrite::Written);
  EXPECT_EQ(p.registry.ReadRegistryText(kHKCU, kTestKey, "Dword").text, "t");
  EXPECT_EQ(p.registry.ReadRegistryText(kHKCU, kTestKey, "Bin").status, RegistryText::Status::NotText);
  EXPECT_EQ(p.registry.ReadRegistryText(kHKCU, kTestKey, "None").status, RegistryText::Status::Absent);
  EXPECT_EQ(p.registry.ReadRegistryText(kHKCU, "Software\\qvSetupNoSuchKey", "x").status,
            RegistryText::Status::KeyNotOpened);
  EXPECT_EQ(p.registry.WriteRegistryValue(0, "Software\\X", "x", RegType::Text, {0}), RegWrite::KeyNotOpened);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
}

// The fields a shortcut file holds, read back through the shell's own
// shortcut object.
Shortcut ReadShortcut(const std::string& file) {
  const ComInit com;
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  Shortcut read;
  EXPECT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid()),
            S_OK);
  if (!link || FAILED(link->QueryInterface(IID_IPersistFile, persist.ReceiveVoid()))) return read;
  EXPECT_EQ(persist->Load(WidePath(file).value().c_str(), STGM_READ), S_OK) << file;
  wchar_t buf[INFOTIPSIZE] = {};
  const int n = static_cast<int>(std::size(buf));
  const auto take = [&](HRESULT hr, std::string& to) {
    to = SUCCEEDED(hr) ? WideToUtf8(buf) : "(failed)";
    buf[0] = L'\0';
  };
  take(link->GetPath(buf, n, nullptr, SLGP_RAWPATH), read.target);
  take(link->GetArguments(buf, n), read.arguments);
  take(link->GetIconLocation(buf, n, &read.iconIndex), read.iconFile);
  take(link->GetWorkingDirectory(buf, n), read.workingFolder);
  take(link->GetDescription(buf, n), read.description);
  return read;
}

auto Fields(const Shortcut& s) {
  return std::make_tuple(s.target, s.arguments, s.iconFile, s.iconIndex, s.workingFolder, s.description);
}

TEST(Win32Platform, ShortcutsAreTheShellsOwnAndReplaceTheirFile) {
  Win32Platform p;
  test::TempDir dir("shortcut");
  test::WriteTextFile(dir / "app.exe", "");
  test::WriteTextFile(dir / "icons.dll", "");
  Shortcut full;
  full.file = dir / "Gr\xC3\xBC\xC3\x9F" "e \xE5\xBF\xAB\xE6\x8D\xB7.lnk";
  full.target = dir / "app.exe";
  full.arguments = "--open \"two words\" /x";
  full.iconFile = dir / "icons.dll";
  full.iconIndex = 3;
  full.workingFolder = dir.Path().substr(0, dir.Path().size() - 1);
  full.description = "Starts the \xC3\xA9" "diteur";
  ASSERT_TRUE(p.shell.MakeShortcut(full)) << p.system.LastError().message;
  EXPECT_EQ(Fields(ReadShortcut(full.file)), Fields(full));

  // Made again with the target alone, it replaces the file: nothing of the
  // first one is left.
  Shortcut bare;
  bare.file = full.file;
  bare.target = full.target;
  ASSERT_TRUE(p.shell.MakeShortcut(bare)) << p.system.LastError().message;
  EXPECT_EQ(Fields(ReadShortcut(bare.file)), Fields(bare));

  // In the native view the .lnk's own path reaches the 64-bit folders, but
  // what it points at stays as the script named it: the shell knows no
  // Sysnative.
  p.system.UseNativeView();
  Shortcut system;
  system.file = dir / "system.lnk";
  system.target = p.system.SystemFolder() + "\\cmd.exe";
  system.workingFolder = p.system.SystemFolder();
  ASSERT_TRUE(p.shell.MakeShortcut(system)) << p.system.LastError().message;
  EXPECT_EQ(Fields(ReadShortcut(system.file)), Fields(system));

  Shortcut nowhere = bare;
  nowhere.file = dir / "missing\\x.lnk";
  EXPECT_FALSE(p.shell.MakeShortcut(nowhere));
  EXPECT_EQ(p.system.LastError().code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND)) << p.system.LastError().message;
  EXPECT_FALSE(test::IsFile(nowhere.file));
}

TEST(Win32Platform, ExpandEnvironmentAsTheSystemDoes) {
  Win32Platform p;
  const std::string windows = p.system.WindowsFolder();
  const std::string longer(5000, 'l');
  // Beyond the 32K units the system expands in one piece, with an unknown
  // name right where the text's middle is: as the system does in the short
  // case, it stays and the name after it is expanded.
  const std::string half(19995, 'h');
  const auto around = [](const std::string& middle) {
    return "%SystemRoot%" + middle + "%qvNoSuchVariable%%SystemRoot%" + middle + "%SystemRoot%";
  };
  const struct {
    std::string text, expanded;
  } cases[] = {
      {"%SystemRoot%\\a", windows + "\\a"},
      {"%systemroot%", windows},
      {"%qvNoSuchVariable%\\b", "%qvNoSuchVariable%\\b"},
      {"\xC3\xA9%SystemRoot%" + longer, "\xC3\xA9" + windows + longer},
      {around("h"), windows + "h%qvNoSuchVariable%" + windows + "h" + windows},
      {around(half), windows + half + "%qvNoSuchVariable%" + windows + half + windows},
      {"%SystemRoot%%" + half + half, windows + "%" + half + half},  // a % without its pair is text
      {"", ""},
  };
  for (const auto& c : cases) {
    const std::string expanded = p.system.ExpandEnvironment(c.text);
    EXPECT_EQ(expanded.size(), c.expanded.size()) << c.text.substr(0, 40);
    EXPECT_TRUE(expanded == c.expanded) << c.text.substr(0, 40) << " -> " << expanded.substr(0, 40);
  }
}

TEST(Win32Platform, ReadWholeFileAndCopy) {
  Win32Platform p;
  test::TempDir dir("copy");
  const std::string bytes("a\0b\r\n\xB0\xB2", 7);
  test::WriteTextFile(dir / "src.bin", bytes);
  EXPECT_EQ(p.files.ReadWholeFile(dir / "src.bin"), bytes);
  EXPECT_FALSE(p.files.ReadWholeFile(dir / "missing"));
  test::WriteTextFile(dir / "dst.bin", "old and longer");
  EXPECT_TRUE(p.files.CopyOneFile(dir / "src.bin", dir / "dst.bin"));
  EXPECT_EQ(test::ReadTextFile(dir / "dst.bin"), bytes);
  EXPECT_FALSE(p.files.CopyOneFile(dir / "missing", dir / "x"));
}


// Gives its text in pieces, or fails after the first piece when told to.
FileProducer Pieces(const std::string& text, bool fail) {
  return [text, fail](pack::ByteSink& out) {
    for (std::size_t at = 0; at < text.size(); at += 3) {
      if (!out.Write(text.data() + at, std::min<std::size_t>(3, text.size() - at))) return false;
      if (fail) return false;
    }
    return true;
  };
}

std::uint64_t ModifiedOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  ::GetFileAttributesExW(WidePath(path).value().c_str(), GetFileExInfoStandard, &d);
  return (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
}

TEST(Win32Platform, WriteFileFromIsWholeOrNothing) {
  Win32Platform p;
  test::TempDir dir("write");
  const std::uint64_t time = 132500000000000000ull;  // 2020
  const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  const struct {
    const char* name;
    bool existing;
    bool fail;
  } cases[] = {{"new", false, false}, {"replaced", true, false}, {"failed new", false, true}, {"failed old", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = dir / (std::string(c.name) + ".bin");
    if (c.existing) test::WriteTextFile(target, "old");
    const bool ok = p.files.WriteFileFrom(target, attributes, time, Pieces("new content", c.fail));
    EXPECT_EQ(ok, !c.fail);
    if (!ok) {
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CRC));
    }
    if (c.fail && !c.existing) {
      EXPECT_FALSE(test::IsFile(target));
    } else {
      EXPECT_EQ(test::ReadTextFile(target), c.fail ? "old" : "new content");
    }
    if (!c.fail) {
      EXPECT_EQ(test::Attributes(target) & 7u, attributes);
      EXPECT_EQ(ModifiedOf(target), time);
    }
    ::SetFileAttributesW(WidePath(target).value().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  // Nothing half-written or temporary is left beside them.
  int files = 0;
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileW(WidePath(dir / "*").value().c_str(), &d);
  do files += !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  while (::FindNextFileW(h, &d));
  ::FindClose(h);
  EXPECT_EQ(files, 3);
}

TEST(Win32Platform, PathsLongerThanTheSystemTakesAreRefusedNotCutShort) {
  // Wine cuts such a path short and acts on what is left: a folder or key
  // somewhere above the one named. Each call must refuse it and say why.
  Win32Platform p;
  test::TempDir dir("toolong");
  test::WriteTextFile(dir / "a.txt", "a");
  std::string deep = dir.Path();
  while (deep.size() <= kMaxPathUnits) deep += std::string(200, 'd') + "\\";
  const std::string top = std::string(kTestKey) + "\\Long\\" + std::string(200, 'k');
  std::string key = top;
  while (key.size() <= kMaxPathUnits) key += "\\" + std::string(200, 'k');
  TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey(top, true));
  FindEntry found;
  const struct {
    const char* call;
    std::function<bool()> succeeds;
  } cases[] = {
      {"Attributes", [&] { return p.files.Attributes(deep + "a.txt") != kNoAttributes; }},
      {"MakeFolder", [&] { return p.files.MakeFolder(deep + "x"); }},
      {"FindFirst", [&] { return p.files.FindFirst(deep + "*", found) != nullptr; }},
      {"CopyOneFile", [&] { return p.files.CopyOneFile(dir / "a.txt", deep + "a.txt"); }},
      {"WriteFileFrom", [&] { return p.files.WriteFileFrom(deep + "a.txt", 0, 0, Pieces("a", false)); }},
      {"OpenAppend", [&] { return p.files.OpenAppend(deep + "a.txt") != nullptr; }},
      {"MoveOneFile", [&] { return p.files.MoveOneFile(dir / "a.txt", deep + "a.txt"); }},
      {"WriteRegistryValue", [&] { return p.registry.WriteRegistryValue(kHKCU, key, "v", RegType::Text, {'x', 0}) != RegWrite::KeyNotOpened; }},
      {"DeleteRegistryKey", [&] { return p.registry.DeleteRegistryKey(kHKCU, key, true); }},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(c.succeeds()) << c.call;
    EXPECT_EQ(p.system.LastError().code, static_cast<std::uint32_t>(ERROR_FILENAME_EXCED_RANGE)) << c.call;
  }
  // Nothing was made or moved anywhere on the way.
  std::vector<std::string> names;
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileW(WidePath(dir / "*").value().c_str(), &d);
  do names.push_back(WideToUtf8(d.cFileName));
  while (::FindNextFileW(h, &d));
  ::FindClose(h);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.txt"}));
  ASSERT_TRUE(reg.OpenKey(top, false));
  EXPECT_EQ(reg.KeyEmpty(), std::optional<bool>(true));
  ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
}

TEST(Win32Platform, PrivateFoldersAreNewUnguessableAndOwnedByTheUser) {
  Win32Platform p;
  const std::optional<std::string> a = p.files.MakePrivateFolder("qvTest-"), b = p.files.MakePrivateFolder("qvTest-");
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  const std::string name = a->substr(p.system.TempPath().size());
  EXPECT_EQ(name.size(), 7u + 32u + 1u) << name;
  EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 7), name.size() - 1) << name;
  // Only the owner and the system are let in; nothing comes from above.
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(WidePath(*a).value().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  wchar_t* text = nullptr;
  ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                     &text, nullptr));
  const std::string sddl = WideToUtf8(text);
  ::LocalFree(text);
  ::LocalFree(sd);
  // (Wine does not keep the "protected" flag; what counts is that no entry is inherited.)
  EXPECT_EQ(sddl.find("ID;"), std::string::npos) << sddl;
  EXPECT_EQ(std::count(sddl.begin(), sddl.end(), '('), 2) << sddl;
  EXPECT_NE(sddl.find(";;;SY)"), std::string::npos) << sddl;
  EXPECT_TRUE(p.files.RemoveTree(*a));
  EXPECT_TRUE(p.files.RemoveTree(*b));
  EXPECT_FALSE(test::IsFolder(*a));
}

TEST(Win32Platform, RemoveTreeTakesOnlyPrivateFoldersAndLeavesOneSomethingHolds) {
  Win32Platform p;
  const std::optional<std::string> priv = p.files.MakePrivateFolder("qvTreeTest-");
  ASSERT_TRUE(priv);
  const std::string tree = priv->substr(0, priv->size() - 1);
  test::WriteTextFile(tree + "\\a\\b\\deep.txt", "d");
  test::WriteTextFile(tree + "\\ro.dll", "r");
  ::SetFileAttributesW(WidePath(tree + "\\ro.dll").value().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  test::MakeFolders(tree + "\\empty");
  {
    // As a program running from it holds its files.
    UniqueFile held(::CreateFileW(WidePath(tree + "\\a\\b\\deep.txt").value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(p.files.RemoveTree(tree));
    EXPECT_TRUE(test::IsFile(tree + "\\ro.dll"));
    EXPECT_TRUE(test::IsFolder(tree + "\\empty"));
  }
  // Not ours: a folder anybody may read, and a link to one of ours.
  test::TempDir dir("tree");
  test::WriteTextFile(dir / "plain\\keep.txt", "k");
  EXPECT_FALSE(p.files.RemoveTree(dir / "plain"));
  EXPECT_TRUE(test::IsFile(dir / "plain\\keep.txt"));
  if (::CreateSymbolicLinkW(WidePath(dir / "link").value().c_str(), WidePath(tree).value().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    EXPECT_FALSE(p.files.RemoveTree(dir / "link"));
    EXPECT_TRUE(test::IsFile(tree + "\\ro.dll"));
    ::RemoveDirectoryW(WidePath(dir / "link").value().c_str());
  }
  EXPECT_TRUE(p.files.RemoveTree(*priv));
  EXPECT_FALSE(test::IsFolder(tree));
}

// A text value straight from one view of HKLM; none when it is not there.
std::optional<std::string> ViewText(REGSAM view, const std::string& key, const std::string& name) {
  TRegistry reg(KEY_READ | view);
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  if (!reg.OpenKey(key, false)) return std::nullopt;
  return reg.ReadText(name);
}

TEST(Win32Platform, TheNativeViewReachesThe64BitRegistryAndSystemFolder) {
  Win32Platform p;
  ASSERT_TRUE(p.system.Windows64()) << "the tests run in a 64-bit prefix";
  p.system.UseNativeView();
  // HKLM\Software is one key for each view (HKCU\Software one for both).
  // The same key in the 32-bit view must stay as it is.
  const std::string key = "Software\\qvSetupNativeTest";
  TRegistry other(KEY_ALL_ACCESS | KEY_WOW64_32KEY);
  other.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(other.OpenKey(key + "\\Sub", true));
  ASSERT_TRUE(other.WriteText("v", std::wstring(L"32", 3)));
  ASSERT_EQ(p.registry.WriteRegistryValue(kHKLM, key + "\\Sub", "v", RegType::Text, {'6', '4', 0}), RegWrite::Written);
  EXPECT_EQ(ViewText(KEY_WOW64_64KEY, key + "\\Sub", "v"), "64");
  EXPECT_EQ(ViewText(KEY_WOW64_32KEY, key + "\\Sub", "v"), "32");
  EXPECT_EQ(p.registry.ReadRegistryText(kHKLM, key + "\\Sub", "v").text, "64");
  EXPECT_TRUE(p.registry.DeleteRegistryKey(kHKLM, key, true)) << p.system.LastError().message;
  EXPECT_FALSE(ViewText(KEY_WOW64_64KEY, key + "\\Sub", "v"));
  EXPECT_EQ(ViewText(KEY_WOW64_32KEY, key + "\\Sub", "v"), "32");
  EXPECT_TRUE(other.DeleteKey(key, true));

  // A file of the system folder's is the 64-bit folder's, however the path
  // spells it; one of the same name in SysWOW64 is not touched.
  const std::string system = p.system.SystemFolder(), windows = p.system.WindowsFolder();
  const std::string name = "qvNativeTest" + std::to_string(::GetCurrentProcessId()) + ".txt";
  const std::string wow64 = windows + "\\SysWOW64\\" + name, native = windows + "\\Sysnative\\" + name;
  test::WriteTextFile(wow64, "32");
  ASSERT_TRUE(p.files.WriteFileFrom(system + "\\" + name, 0, 0, Pieces("64", false))) << p.system.LastError().message;
  EXPECT_EQ(test::ReadTextFile(native), "64");
  EXPECT_EQ(test::ReadTextFile(wow64), "32");
  // A path keeps the form it was given for the view it was used in, never
  // for another: read in the 32-bit view and again in the native one.
  Win32Platform later;
  const Path kept = system + "\\" + name;
  EXPECT_EQ(later.files.ReadWholeFile(kept), std::optional<std::string>("32"));
  later.system.UseNativeView();
  EXPECT_EQ(later.files.ReadWholeFile(kept), std::optional<std::string>("64"));
  std::string upper = system;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return std::toupper(c); });
  std::string slashed = system + "/../" + system.substr(system.rfind('\\') + 1) + "/" + name;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  for (const std::string& path : {"\\\\?\\" + upper + "\\" + name, slashed})
    EXPECT_EQ(p.files.ReadWholeFile(path), std::optional<std::string>("64")) << path;
  EXPECT_TRUE(p.files.DeleteOneFile(system + "\\" + name)) << p.system.LastError().message;
  EXPECT_FALSE(test::IsFile(native));
  EXPECT_EQ(test::ReadTextFile(wow64), "32");
  ::DeleteFileW(WidePath(wow64).value().c_str());
}

TEST(Win32Platform, KnownFoldersAreFullPathsAndTheNativeProgramFilesIs64Bit) {
  Win32Platform p;
  const KnownFolder all[] = {
      KnownFolder::LocalAppData,  KnownFolder::AppData,       KnownFolder::UserPrograms,
      KnownFolder::Profile,       KnownFolder::StartMenuPrograms, KnownFolder::Desktop,
      KnownFolder::Startup,       KnownFolder::CommonAppData, KnownFolder::CommonStartMenuPrograms,
      KnownFolder::CommonDesktop, KnownFolder::CommonStartup, KnownFolder::ProgramFilesNative,
      KnownFolder::CommonFiles,   KnownFolder::CommonFilesNative, KnownFolder::Fonts};
  for (const KnownFolder which : all) {
    const std::string path = p.system.KnownFolderPath(which);
    ASSERT_GT(path.size(), 3u) << static_cast<int>(which);
    EXPECT_EQ(path.substr(1, 2), ":\\") << path;
    EXPECT_NE(path.back(), '\\') << path;
  }
  // What the shell names a 32-bit program is the x86 folder; the native one
  // is another, and each Common Files lies in its own.
  wchar_t* shell = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &shell);
  const ShellMemory<wchar_t> owned(shell);
  ASSERT_EQ(hr, S_OK);
  const std::string x86 = WideToUtf8(shell);
  const std::string native = p.system.KnownFolderPath(KnownFolder::ProgramFilesNative);
  EXPECT_NE(FileNameKey(native), FileNameKey(x86));
  EXPECT_TRUE(test::IsFolder(native)) << native;
  EXPECT_EQ(FileNameKey(FolderPart(p.system.KnownFolderPath(KnownFolder::CommonFilesNative))), FileNameKey(native + "\\"));
  EXPECT_EQ(FileNameKey(FolderPart(p.system.KnownFolderPath(KnownFolder::CommonFiles))), FileNameKey(x86 + "\\"));
}

// The table the package and the packed run compare names by is the one the
// system upper-cases file names with, unit for unit.
TEST(Win32Platform, OnlyFilesNobodyElseMayChangeAreOurs) {
  // What the uninstaller asks of its record before it follows it.
  Win32Platform p;
  test::TempDir dir("ours");
  const std::string file = dir / "uninstall.dat";
  test::WriteTextFile(file, "record");
  ASSERT_TRUE(p.rights.Protect(file));
  EXPECT_TRUE(p.rights.OnlyOursCanChange(file));
  // Everybody may write it, as a file in a shared folder may be.
  const UniqueLocal open = access::Descriptor(L"D:(A;;FA;;;WD)");
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(open.Get(), &present, &dacl, &defaulted));
  std::wstring name = WidePath(file).value();
  ASSERT_EQ(::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                    nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(p.rights.OnlyOursCanChange(file));
  EXPECT_FALSE(p.rights.OnlyOursCanChange(dir / "missing.dat"));
}

TEST(FileNameCase, IsTheSystems) {
  using Upcase = WCHAR(WINAPI*)(WCHAR);
  const auto upcase = reinterpret_cast<Upcase>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
  ASSERT_NE(upcase, nullptr);
  std::vector<std::string> differ;
  for (unsigned u = 0; u <= 0xFFFF; ++u)
    if (WCHAR(FileNameUpper(char16_t(u))) != upcase(WCHAR(u))) {
      char text[32];
      std::snprintf(text, sizeof text, "U+%04X: %04X, system %04X", u, unsigned(FileNameUpper(char16_t(u))),
                    unsigned(upcase(WCHAR(u))));
      differ.push_back(text);
    }
  EXPECT_EQ(differ, std::vector<std::string>{});
}

// The wildcard table holds what the system's own search finds: it is made
// of names on a real disk here.
TEST(Wildcard, TheTableIsWhatTheSystemsSearchFinds) {
  test::TempDir dir("wildcard");
  for (const std::string& name : test::kWildcardNames)
    if (name != "." && name != "..") test::WriteTextFile(dir / name, "");
  for (const test::WildcardCase& c : test::kWildcardCases) {
    SCOPED_TRACE(c.pattern);
    std::vector<std::string> listed;
    WIN32_FIND_DATAW d;
    HANDLE h = ::FindFirstFileW(WidePath(dir / c.pattern).value().c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do listed.push_back(WideToUtf8(d.cFileName));
      while (::FindNextFileW(h, &d));
      ::FindClose(h);
    } else {
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    std::vector<std::string> found;  // in the table's order
    for (const std::string& name : test::kWildcardNames)
      if (std::count(listed.begin(), listed.end(), name)) found.push_back(name);
    EXPECT_EQ(found.size(), listed.size());
    EXPECT_EQ(found, c.found);
  }
}

}  // namespace
}  // namespace qv
