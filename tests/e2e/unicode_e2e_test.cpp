// Names of any language and paths of any depth, on Wine's default (Western)
// code page, where neither Chinese nor Cyrillic has an ANSI form.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/text_conv.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

constexpr char kHidden[] = "[GUI]\nVisible=0\n";

std::string Utf16LeBytes(const std::string& utf8) {
  const std::wstring wide = Utf8ToWide(utf8);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

// The key as `reg export` writes it: UTF-16 with a byte order mark, here
// given back in UTF-8.
std::string ExportedKey(const std::string& key, const std::string& file) {
  RunningProgram reg("reg.exe export \"" + key + "\" \"" + file + "\" /y");
  EXPECT_TRUE(reg.WaitForExit(30000));
  const std::string bytes = test::ReadTextFile(file);
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return {};
  return WideToUtf8({reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t)});
}

TEST(Unicode, APackageInAFolderNamedInChineseInstalls) {
  Package pkg("cn", "下载\\安装包\\setup.exe");
  pkg.File("下载\\安装包\\a.txt", "a");
  pkg.Script(std::string(kHidden) + "[INSTALL]\n1=a.txt,out\n", "下载\\安装包\\setup.ini");
  ASSERT_EQ(pkg.Run("/S"), 0);
  EXPECT_EQ(test::ReadTextFile(pkg / "下载\\安装包\\out\\a.txt"), "a");
}

TEST(Unicode, Utf8AndUtf16ScriptsInstallNamesOutsideEveryAnsiCodePage) {
  constexpr char kKey[] = "Software\\qvSetupTest\\Unicode\\键Ω";
  struct Case {
    const char* encoding;
    std::string (*encode)(const std::string&);
  } cases[] = {
      {"UTF-8", [](const std::string& s) { return "\xEF\xBB\xBF" + s; }},
      {"UTF-16", [](const std::string& s) { return "\xFF\xFE" + Utf16LeBytes(s); }},
      {"UTF-16BE", [](const std::string& s) {
         std::string bytes = "\xFE\xFF" + Utf16LeBytes(s);
         for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
         return bytes;
       }},
  };
  for (const auto& c : cases) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\qvSetupTest\\Unicode");
    Package pkg("uni");
    pkg.File("files\\说明☃.txt", "snow");
    pkg.File("files\\Ωmega\\файл.txt", "file");
    pkg.AddRecorder("启动Ω.exe");
    const std::string d = pkg.Dir();
    pkg.Script(c.encode(std::string(kHidden) +
                        "[INSTALL]\n"
                        "1=files\\说明☃.txt,out\n"
                        "2=files\\Ωmega,out\n"
                        "[REGISTRY]\n"
                        "1=HKCU\\" + kKey + "\\名字,值☃Ωфайл\n"
                        "[COMMAND]\n"
                        "1=\"" + d + "启动Ω.exe\" \"" + d + "标记☃\",HIDE\n"));
    ASSERT_EQ(pkg.Run("/S /LOG=" + d + "日志.log"), 0) << c.encoding;

    EXPECT_EQ(test::ReadTextFile(pkg / "out\\说明☃.txt"), "snow") << c.encoding;
    EXPECT_EQ(test::ReadTextFile(pkg / "out\\Ωmega\\файл.txt"), "file") << c.encoding;
    const std::string exported = ExportedKey("HKCU\\" + std::string(kKey), d + "key.reg");
    EXPECT_NE(exported.find("[HKEY_CURRENT_USER\\" + std::string(kKey) + "]\r\n\"名字\"=\"值☃Ωфайл\"\r\n"),
              std::string::npos)
        << c.encoding << ": " << exported;
    const std::string started = WaitForFile(d + "标记☃");
    EXPECT_NE(started.find("cmd=\"" + d + "启动Ω.exe\""), std::string::npos) << c.encoding << ": " << started;
    const std::string log = test::ReadTextFile(d + "日志.log");
    EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF") << c.encoding;
    EXPECT_NE(log.find("out\\Ωmega\\файл.txt"), std::string::npos) << c.encoding << ": " << log;
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\qvSetupTest\\Unicode");
}

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW d;
  const HANDLE find = ::FindFirstFileW(Utf8ToWide(folder + "*").c_str(), &d);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(WideToUtf8(d.cFileName));
  while (::FindNextFileW(find, &d));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Unicode, ScriptTextThatBreaksItsEncodingIsAnErrorAndInstallsNothing) {
  constexpr char kKey[] = "Software\\qvSetupTest\\BadText";
  const std::string entries = std::string(kHidden) + "[INSTALL]\n1=a.txt,out\n[REGISTRY]\n1=HKCU\\" + kKey + "\\k";
  struct Case {
    const char* what;
    std::string script;
    int line;
  } cases[] = {
      {"UTF-8 with a Latin-1 byte", "\xEF\xBB\xBF" + entries + ",v\n[INSTALL]\n2=a.txt,caf\xE9\n", 8},
      {"UTF-16 with half a surrogate pair",
       "\xFF\xFE" + Utf16LeBytes(entries) + std::string("\x00\xD8", 2) + Utf16LeBytes("ey,v\n"), 6},
      {"UTF-16 without its byte order mark", Utf16LeBytes(entries + ",v\n"), 1},
  };
  for (const auto& c : cases) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\qvSetupTest\\BadText");
    Package pkg("badtext");
    pkg.File("a.txt", "a");
    pkg.Script(c.script);
    const std::vector<std::string> before = Names(pkg.Dir());
    const std::string log = pkg.Dir() + "run.log";
    // Silent: a refused script has no Visible=0, and a shown run's error box would wait.
    EXPECT_EQ(pkg.Run("/S /LOG=" + log), 4) << c.what;

    std::vector<std::string> after = Names(pkg.Dir());
    std::erase(after, "run.log");
    EXPECT_EQ(after, before) << c.what;
    HKEY key;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\qvSetupTest\\BadText", 0, KEY_READ, &key), ERROR_SUCCESS)
        << c.what;
    const std::string text = test::ReadTextFile(log);
    EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text) << c.what << ": the log is no UTF-8";
    EXPECT_NE(text.find("setup.ini, line " + std::to_string(c.line) + ": "), std::string::npos) << c.what << ": " << text;
  }
}

TEST(Unicode, TreesDeeperThanTheClassicLimitInstallWhole) {
  Package pkg("deep");
  std::string rel;
  for (char c = 'a'; c < 'f'; ++c) {
    rel += std::string(55, c) + "\\";
    pkg.File("files\\" + rel + "level.txt", rel);
  }
  ASSERT_GT((pkg / "out\\" + rel + "level.txt").size(), 300u);
  pkg.Script(std::string(kHidden) + "[INSTALL]\n1=files\\,out\n");
  ASSERT_EQ(pkg.Run(), 0);
  std::string path;
  for (char c = 'a'; c < 'f'; ++c) {
    path += std::string(55, c) + "\\";
    EXPECT_EQ(test::ReadTextFile(pkg / "out\\" + path + "level.txt"), path);
  }
}

TEST(Unicode, AProgramInstalledDeeperThanTheClassicLimitStarts) {
  Package pkg("deepcmd");
  pkg.AddRecorder("rec\\recorder.exe");
  std::string deep = "out";
  for (char c = 'a'; c < 'f'; ++c) deep += "\\" + std::string(55, c);
  const std::string program = pkg / deep + "\\recorder.exe";
  ASSERT_GT(program.size(), 300u);
  const std::string marker = pkg.Dir() + "started";
  pkg.Script(std::string(kHidden) + "[INSTALL]\n1=rec\\," + deep + "\n[COMMAND]\n1=\"" + program + "\" " + marker + "\n");
  ASSERT_EQ(pkg.Run(), 0);
  const std::string text = WaitForFile(marker);
  ASSERT_FALSE(text.empty()) << "never started";
  // Its command line is the script's, its own long name first.
  EXPECT_NE(text.find("cmd=\"" + program + "\" " + marker + "\n"), std::string::npos) << text;
}

TEST(Unicode, AFolderLongerThanTheSystemTakesIsAFailedEntryThatSaysSo) {
  // The program deep enough that a folder its command line names lies
  // beyond 32,767 units: none of it may be made, neither its parents nor a
  // part of it cut short.
  const std::string sub(200, 'p');
  Package pkg("toolong", sub + "\\setup.exe");
  pkg.File(sub + "\\a.txt", "a");
  pkg.Script(std::string(kHidden) + "[INSTALL]\n1=a.txt,?\n", sub + "\\setup.ini");
  std::string folder;
  while (folder.size() < 32400) folder += std::string(200, 'd') + "\\";
  folder += std::string(100, 'd');
  ASSERT_GT(pkg.Dir().size() + sub.size() + 1 + folder.size(), 32767u);
  const std::vector<std::string> top = Names(pkg.Dir()), inside = Names(pkg / sub + "\\");

  // Named by a short command line, or the folder would not fit on it.
  RunningProgram run("setup.exe /S /LOG=run.log \"/D=" + folder + "\"", pkg / sub + "\\setup.exe");
  ASSERT_TRUE(run.WaitForExit(60000));
  EXPECT_EQ(run.ExitCode(), 3);
  EXPECT_EQ(Names(pkg.Dir()), top);
  std::vector<std::string> after = Names(pkg / sub + "\\");
  std::erase(after, "run.log");
  EXPECT_EQ(after, inside);

  const std::string log = test::ReadTextFile(pkg / sub + "\\run.log");
  EXPECT_EQ(log.find("folder created: "), std::string::npos);
  const std::size_t failed = log.find("folder not created: ");
  ASSERT_NE(failed, std::string::npos);
  const std::string reason = log.substr(log.find(" (error ", failed), log.find('\n', failed) - log.find(" (error ", failed));
  EXPECT_EQ(reason.substr(0, 13), " (error 206: ") << reason;
  EXPECT_NE(reason.find("too long"), std::string::npos) << reason;
}

TEST(Unicode, ASearchThatCannotLookIsAFailedEntry) {
  // A file named where a folder's contents were meant, and a name the file
  // system refuses: neither search finds "nothing", both fail.
  for (const char* entry : {"files\\top.txt\\,out", "files\\a|b\\*,out"}) {
    Package pkg("search");
    pkg.File("files\\top.txt", "top");
    pkg.Script(std::string(kHidden) + "[INSTALL]\n1=" + entry + "\n");
    const std::string log = pkg.Dir() + "run.log";
    EXPECT_EQ(pkg.Run("/LOG=" + log), 3) << entry;
    EXPECT_NE(test::ReadTextFile(log).find("not searched: "), std::string::npos) << entry;
  }
}

}  // namespace
}  // namespace qv::e2e
