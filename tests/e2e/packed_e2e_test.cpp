// One-file packages: a folder sealed by qvpack must install exactly as the
// folder does, and a damaged one must install nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <tuple>

#include "framework/handles.h"
#include "framework/text_conv.h"
#include "framework/windows_paths.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

constexpr wchar_t kKey[] = L"Software\\qvSetupTest\\Packed";

// Seals a package folder into one file with the qvSetup.exe under test; some
// cases fail on purpose, so qvpack's checks must not stop them.
std::string Seal(const Package& pkg, const std::string& out) {
  test::MakeFolders(test::FolderOf(out));
  // Without its last backslash, which would quote the closing quote.
  const std::string folder = pkg.Dir().substr(0, pkg.Dir().size() - 1);
  EXPECT_EQ(RunProgram("\"" + g_qvpackExe + "\" pack \"" + folder + "\" -o \"" + out + "\" --stub \"" +
                       g_setupExe + "\" --force"),
            0);
  return out;
}

void SetTimeAndAttributes(const std::string& path, std::uint64_t time, DWORD attributes) {
  UniqueFile f(::CreateFileW(WidePath(path).value().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const FILETIME t{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  EXPECT_TRUE(::SetFileTime(f.Get(), nullptr, nullptr, &t)) << path;
  f.Reset();
  EXPECT_TRUE(::SetFileAttributesW(WidePath(path).value().c_str(), attributes)) << path;
}

// Everything a run can leave: files (bytes, attributes, times), registry
// values (types and bytes), what a started program was told, the exit code.
struct Outcome {
  int exitCode = -3;
  std::map<std::string, std::tuple<std::string, DWORD, std::uint64_t>> files;
  std::map<std::string, std::pair<DWORD, std::string>> registry;
  std::string started;  // the recorder's show state and its arguments
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "exit " << o.exitCode << ", started [" << o.started << "]";
  for (const auto& [path, f] : o.files)
    *os << "\n  " << path << " attr " << std::get<1>(f) << " time " << std::get<2>(f) << " " << std::get<0>(f).size()
        << " bytes";
  for (const auto& [name, v] : o.registry) *os << "\n  reg " << name << " type " << v.first << " " << v.second.size();
}

void ReadTree(const std::string& root, const std::string& rel, Outcome& o) {
  WIN32_FIND_DATAW d;
  UniqueFind find(::FindFirstFileW(WidePath(root + rel + "*").value().c_str(), &d));
  if (!find) return;
  do {
    const std::string name = WideToUtf8(d.cFileName);
    if (name == "." || name == "..") continue;
    const std::uint64_t time = (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      o.files[rel + name + "\\"] = {"", d.dwFileAttributes, 0};
      ReadTree(root, rel + name + "\\", o);
    } else {
      o.files[rel + name] = {test::ReadTextFile(root + rel + name), d.dwFileAttributes, time};
    }
  } while (::FindNextFileW(find.Get(), &d));
}

// The packed file with one entry's CRC in the index made wrong and both
// checksums around it made right again, as a crafted package has them.
// ntdll's CRC-32 is the package's.
std::string WithWrongCrc(std::string bytes, std::size_t start, const std::string& path) {
  using Crc32 = DWORD(WINAPI*)(DWORD, const BYTE*, INT);
  const auto crc32 = reinterpret_cast<Crc32>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlComputeCrc32")));
  const auto get = [&bytes](std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::size_t>(v);
  };
  // The CRC of the bytes from `from` to `to` but the blocks' packed bytes.
  std::vector<std::pair<std::size_t, std::size_t>> blocks;
  const auto seal = [&](std::size_t at, std::size_t from, std::size_t to) {
    DWORD crc = 0;
    for (const auto& [where, size] : blocks) {
      if (where < from || where >= to) continue;
      crc = crc32(crc, reinterpret_cast<const BYTE*>(bytes.data() + from), static_cast<INT>(where - from));
      from = where + size;
    }
    crc = crc32(crc, reinterpret_cast<const BYTE*>(bytes.data() + from), static_cast<INT>(to - from));
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(crc >> (8 * i));
  };
  // Records after the 24-byte lead: blocks (1), the index (2), the end (3).
  std::size_t pos = start + 24, index = 0;
  for (; get(pos, 4) != 3; pos += 12 + get(pos + 4, 8)) {
    if (get(pos, 4) == 1) blocks.emplace_back(pos + 12, get(pos + 4, 8));
    if (get(pos, 4) == 2) index = pos + 12;
  }
  // The index: its CRC, content size, count, the script's name, then entries.
  const std::size_t entries = index + 16 + 2 + get(index + 16, 2);
  const std::size_t at = bytes.find(std::string{static_cast<char>(path.size()), '\0'} + path, entries);
  EXPECT_NE(at, std::string::npos) << path;
  bytes[at + 2 + path.size() + 4 + 8 + 8] ^= 1;
  seal(index, index + 4, pos);
  seal(pos + 12, start, pos + 12);
  return bytes;
}

// Takes what a run left and clears it for the next run.
Outcome Collect(int exitCode, const std::string& out, const std::string& marker, bool command) {
  Outcome o;
  if (command) WaitForFile(marker);
  o.exitCode = exitCode;
  ReadTree(out, "", o);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      BYTE data[1024];
      DWORD nameSize = 256, size = sizeof data, type = 0;
      if (::RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
      o.registry[WideToUtf8(name)] = {type, std::string(reinterpret_cast<char*>(data), size)};
    }
    ::RegCloseKey(key);
  }
  std::string note = test::IsFile(marker) ? test::ReadTextFile(marker) : "";
  // The program's own path and working folder differ (a private folder);
  // what it was told does not.
  note = note.substr(0, note.find("cwd="));
  const std::size_t cmd = note.find("cmd=");
  if (cmd != std::string::npos) {
    const std::size_t quote = note.find('"', cmd + 5);
    o.started = note.substr(0, cmd) + note.substr(note[cmd + 4] == '"' ? quote + 1 : note.find(' ', cmd));
  }
  for (auto it = o.files.rbegin(); it != o.files.rend(); ++it) {
    const std::wstring path = WidePath(out + it->first).value();
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::DeleteFileW(path.c_str())) ::RemoveDirectoryW(path.c_str());
  }
  ::DeleteFileW(WidePath(marker).value().c_str());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  return o;
}

// A package folder with files of every kind the script may meet.
void FillPackage(const Package& pkg) {
  pkg.File("files\\a.txt", "alpha");
  pkg.File("files\\hidden.sys", "hs");
  pkg.File("files\\ro.dat", std::string(100000, 'r'));
  pkg.File("files\\sub\\deep\\c.bin", std::string("\0\1\2\xFF", 4));
  test::MakeFolders(pkg / "files\\empty");
  pkg.AddRecorder("tools\\recorder.exe");
  pkg.AddRecorder();
  pkg.File("tools\\note.txt", "beside the tool");
  SetTimeAndAttributes(pkg / "files\\a.txt", 130000000000000000ull, FILE_ATTRIBUTE_ARCHIVE);
  SetTimeAndAttributes(pkg / "files\\hidden.sys", 131000000000000000ull, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetTimeAndAttributes(pkg / "files\\ro.dat", 132000000000000000ull, FILE_ATTRIBUTE_READONLY);
}

TEST(Packed, InstallsExactlyAsTheFolderItWasPackedFrom) {
  const struct {
    const char* name;
    std::string script;
    std::string args;
    int exitCode;
  } cases[] = {
      {"contents and registry",
       "[INSTALL]\nApp=files\\,?\n[REGISTRY]\n1=HKCU\\Software\\qvSetupTest\\Packed\\Dir,%INSTALLDIR%\n"
       "2=HKCU\\Software\\qvSetupTest\\Packed\\Bin,HEX:01,02,FF\n3=HKCU\\Software\\qvSetupTest\\Packed\\N,DWORD:1F\n",
       "/S", 0},
      {"patterns and folders", "[INSTALL]\nA=files\\*.*,?\nB=files\\sub,%INSTALLDIR%\\two\nC=nothing*,%INSTALLDIR%\n",
       "/S", 0},
      {"a command from the package",
       "[INSTALL]\nA=files\\a.txt,?\n[COMMAND]\n1=recorder.exe \"%INSTALLDIR%\\..\\marker.txt\" x y,MINIMIZE\n",
       "/S", 0},
      {"a failed entry", "[INSTALL]\nA=files\\a.txt,?\n[REGISTRY]\n1=HKXX\\Software\\qvSetupTest\\Packed\\V,1\n", "/S", 3},
      {"a script named that is nowhere", "[INSTALL]\nA=files\\a.txt,?\n", "/S missing.ini", 2},
      {"another script of the package", "[INSTALL]\nA=files\\a.txt,?\n", "/S tools\\other.ini", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Package pkg("packed");
    FillPackage(pkg);
    pkg.Script("[GUI]\nTiTle=Packed\n" + c.script);
    pkg.Script("[INSTALL]\nOther=tools\\,?\n", "tools\\other.ini");
    test::TempDir work("packedrun");
    const std::string out = work / "out\\", marker = work / "marker.txt";
    const std::string args = c.args + " \"/D=" + work.Path() + "out\"";

    const bool command = c.script.find("[COMMAND]") != std::string::npos;
    const Outcome fromFolder = Collect(pkg.Run(args), out, marker, command);
    // Renamed after packing, as downloads are; alone in its folder.
    const std::string packed = Seal(pkg, work / "ship\\Example Setup (2).exe");
    const Outcome fromFile = Collect(RunProgram("\"" + packed + "\" " + args), out, marker, command);
    EXPECT_EQ(fromFile, fromFolder);
    EXPECT_EQ(fromFolder.exitCode, c.exitCode);
    if (command) {
      EXPECT_NE(fromFolder.started.find("x y"), std::string::npos) << fromFolder.started;
    }
  }
}

TEST(Packed, AFileWithANameAsLongAsANameMayBeIsReplacedFromAFolderAndFromAPackedFile) {
  // The new file is written beside the old one first, under a name that
  // must fit as well.
  const std::string name = std::string(243, 'n') + ".dll";
  Package pkg("longname");
  pkg.File("files\\" + name, "new");
  pkg.Script("[INSTALL]\nA=files\\,?\n");
  test::TempDir work("longrun");
  const std::string packed = Seal(pkg, work / "ship\\setup.exe");
  for (const std::string& program : {pkg.Exe(), packed}) {
    SCOPED_TRACE(program);
    const std::string args = " /S \"/D=" + work.Path() + "out\" \"/LOG=" + (work / "run.log") + "\"";
    ASSERT_EQ(RunProgram("\"" + program + "\"" + args), 0);
    test::WriteTextFile(work / "out\\" + name, "old");
    EXPECT_EQ(RunProgram("\"" + program + "\"" + args), 0) << test::ReadTextFile(work / "run.log");
    EXPECT_EQ(test::ReadTextFile(work / "out\\" + name), "new");
    Outcome left;
    ReadTree(work / "out\\", "", left);
    EXPECT_EQ(left.files.size(), 1u) << ::testing::PrintToString(left);
    test::RemoveTree(work / "out");
  }
}

TEST(Packed, ACommandFromThePackageRunsFromAPrivateFolderGoneAfterTheRun) {
  Package pkg("privcmd");
  FillPackage(pkg);
  test::TempDir work("privrun");
  pkg.Script("[INSTALL]\nA=files\\a.txt,?\n[COMMAND]\n1=tools\\recorder.exe \"" + work.Path() + "marker.txt\",HIDE\n");
  const std::string packed = Seal(pkg, work / "setup.exe");
  EXPECT_EQ(RunProgram("\"" + packed + "\" /S \"/D=" + work.Path() + "out\""), 0);
  const std::string note = WaitForFile(work / "marker.txt");
  const std::size_t open = note.find("cmd=\"");
  ASSERT_NE(open, std::string::npos) << note;
  const std::string program = note.substr(open + 5, note.find('"', open + 5) - open - 5);
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::string tempPath = WideToUtf8(temp);
  // %TEMP%\qvSetup-<32 random hex digits>\tools\recorder.exe
  ASSERT_EQ(program.rfind(tempPath + "qvSetup-", 0), 0u) << program;
  EXPECT_EQ(program.substr(tempPath.size() + 8 + 32), "\\tools\\recorder.exe");
  // Its own folder as working folder: a DLL planted beside the downloaded
  // setup is never found first.
  EXPECT_NE(note.find("\ncwd=" + program.substr(0, program.size() - 13) + "\n"), std::string::npos) << note;
  EXPECT_FALSE(test::IsFolder(program.substr(0, tempPath.size() + 8 + 32))) << "the private folder is still there";
}

TEST(Packed, ADamagedOrCutShortFileInstallsNothing) {
  Package pkg("damaged");
  FillPackage(pkg);
  pkg.Script("[INSTALL]\nA=files\\,?\n[REGISTRY]\n1=HKCU\\Software\\qvSetupTest\\Packed\\V,1\n");
  test::TempDir work("damagedrun");
  const std::string good = test::ReadTextFile(Seal(pkg, work / "good.exe"));
  const std::size_t start = test::ReadTextFile(g_setupExe).size();  // the package follows the program
  ASSERT_GT(good.size(), start + 100);
  // A flipped byte anywhere in the package (its header after the mark that
  // says a package is there, its index and end last, its blocks between) and
  // a file cut short.
  std::vector<std::pair<std::string, std::string>> damaged;
  const std::size_t length = good.size() - start;
  for (std::size_t at : {start + 8, start + 12, start + length / 8, start + length / 3, start + length / 2,
                         start + length * 7 / 8, good.size() - 9, good.size() - 1}) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    damaged.emplace_back("byte " + std::to_string(at - start) + " of " + std::to_string(length), bytes);
  }
  damaged.emplace_back("cut short", good.substr(0, start + length / 2));
  damaged.emplace_back("cut by one byte", good.substr(0, good.size() - 1));
  // Every checksum right, but a file is not what the index says: the
  // script, and the last file the entry installs.
  damaged.emplace_back("the script's CRC", WithWrongCrc(good, start, "setup.ini"));
  damaged.emplace_back("the last file's CRC", WithWrongCrc(good, start, "files\\sub\\deep\\c.bin"));
  // A file of the person's where the package puts its own: it stays his,
  // also when the damage is found only after it was replaced.
  test::MakeFolders(work / "out");
  for (const auto& [what, bytes] : damaged) {
    SCOPED_TRACE(what);
    test::WriteTextFile(work / "setup.exe", bytes);
    test::WriteTextFile(work / "out\\a.txt", "mine");
    const std::string log = work / "setup.log";
    EXPECT_EQ(RunProgram("\"" + (work / "setup.exe") + "\" /S \"/D=" + work.Path() + "out\" \"/LOG=" + log + "\""), 6);
    Outcome left;
    ReadTree(work / "out\\", "", left);
    ASSERT_EQ(left.files.size(), 1u);
    EXPECT_EQ(std::get<0>(left.files["a.txt"]), "mine");
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_NE(test::ReadTextFile(log).find("package damaged"), std::string::npos);
  }
  // The same file undamaged installs.
  test::WriteTextFile(work / "setup.exe", good);
  EXPECT_EQ(RunProgram("\"" + (work / "setup.exe") + "\" /S \"/D=" + work.Path() + "out\""), 0);
  EXPECT_EQ(test::ReadTextFile(work / "out\\a.txt"), "alpha");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
}


TEST(Packed, AHandleThatMayDeleteTheProgramNeverMakesItRunAScriptPlantedBesideIt) {
  Package pkg("held");
  FillPackage(pkg);
  pkg.Script("[INSTALL]\nA=files\\a.txt,?\n");
  test::TempDir work("heldrun");
  const std::string packed = Seal(pkg, work / "dl\\setup.exe");
  test::WriteTextFile(work / "dl\\planted.txt", "planted");
  test::WriteTextFile(work / "dl\\setup.ini", "[INSTALL]\nP=planted.txt,?\n");
  // Delete access changes no byte, and the loader shares it. (A handle that
  // may write keeps the program from starting at all.)
  const UniqueFile held(::CreateFileW(WidePath(packed).value().c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
  ASSERT_TRUE(held);
  const std::string log = work / "setup.log";
  EXPECT_EQ(RunProgram("\"" + packed + "\" /S \"/D=" + work.Path() + "out\" \"/LOG=" + log + "\""), 0)
      << test::ReadTextFile(log);
  EXPECT_FALSE(test::IsFile(work / "out\\planted.txt"));
  EXPECT_TRUE(test::IsFile(work / "out\\a.txt"));
  // What came from the package is said to: no such file is on the disk.
  EXPECT_NE(test::ReadTextFile(log).find("copied: files\\a.txt (in the package) -> "), std::string::npos)
      << test::ReadTextFile(log);
}

}  // namespace
}  // namespace qv::e2e
