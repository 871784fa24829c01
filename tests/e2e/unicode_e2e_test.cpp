// Names of any language and paths of any depth, on Wine's default (Western)
// code page, where neither Chinese nor Cyrillic has an ANSI form.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "package.h"
#include "text_conv.h"

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
