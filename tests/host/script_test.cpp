#include <gtest/gtest.h>

#include "script.h"
#include "utf8.h"

namespace qv {
namespace {

ScriptReader Reader(const std::string& text) {
  return ScriptReader("C:\\s.ini", [text](const std::string&) { return std::optional<std::string>(text); });
}

TEST(Script, ReadStringRules) {
  static const char kIni[] =
      "[GUI]\r\n"
      "TiTle = My Setup \r\n"
      "dq=\"quoted \"\r\n"
      "sq=' single'\r\n"
      "mixed=\"half'\r\n"
      "inner=a\"b\"c\r\n"
      "twice=\"\"x\"\"\r\n"
      "empty=\r\n"
      "eq=a=b=c\r\n"
      "dup=first\r\n"
      "DUP=second\r\n"
      "  ; comment=no\r\n"
      "# hash=no\r\n"
      "no equals sign\r\n"
      "=orphan\r\n"
      "nul=ab\0cd\r\n"
      "\x81\x41=up\r\n"  // 丄
      "\x81\x61=down\r\n"  // 乤: its second byte is no letter
      "[ other ]\n"
      "k=v\n"
      "[gui]\n"
      "late=yes\n"
      "TITLE=ignored\n"
      "[\x81\x41]\n"
      "k=section up\n"
      "[\x81\x61]\n"
      "k=section down\n";
  const ScriptReader r = Reader(std::string(kIni, sizeof kIni - 1));
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"GUI", "TiTle", "My Setup"},  {"gui", "title", "My Setup"}, {"GUI", "dq", "quoted "},
      {"GUI", "sq", " single"},      {"GUI", "mixed", "\"half'"},  {"GUI", "inner", "a\"b\"c"},
      {"GUI", "twice", "\"x\""},     {"GUI", "empty", ""},         {"GUI", "eq", "a=b=c"},
      {"GUI", "dup", "first"},       {"GUI", "late", "yes"},       {"OTHER", "k", "v"},
      {"GUI", "; comment", "(none)"}, {"GUI", "# hash", "(none)"},  {"GUI", "nul", "ab"},
      {"GUI", "missing", "(none)"},  {"NOSECTION", "k", "(none)"},
      {"GUI", "\x81\x41", "up"},     {"GUI", "\x81\x61", "down"},
      {"\x81\x41", "k", "section up"}, {"\x81\x61", "k", "section down"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(r.ReadString(c.section, c.key, "(none)"), c.value) << c.section << "/" << c.key;
}

TEST(Script, ReadSectionKeepsFileOrderAndDuplicates) {
  const ScriptReader r = Reader("[INSTALL]\nB=1\na=2\nB=3\n; c=4\n[X]\nz=0\n[install]\nlast=5\n");
  EXPECT_EQ(r.ReadSection("Install"), (std::vector<std::string>{"B", "a", "B", "last"}));
  EXPECT_TRUE(r.ReadSection("COMMAND").empty());
}

TEST(Script, LongValuesAreCutTo2047) {
  const std::string v(3000, 'x');
  const ScriptReader r = Reader("[A]\nk=\"" + v + "\"\n");
  EXPECT_EQ(r.ReadString("A", "k", ""), std::string(2047, 'x'));
}

TEST(Script, SectionBufferCutsTheLastNameThatPartlyFits) {
  // Names of 19 bytes take 20 with their zero; the list's closing zero must
  // fit too, so a cut keeps 16382 bytes and puts two zeros after them.
  const std::vector<std::string> k819(819, std::string(19, 'k'));  // 16380 bytes
  auto then = [](std::vector<std::string> names, std::vector<std::string> more) {
    names.insert(names.end(), more.begin(), more.end());
    return names;
  };
  std::vector<std::string> entries;
  for (int i = 0; i < 1000; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "entry%014d", i);
    entries.push_back(buf);
  }
  const std::vector<std::string> k818(818, std::string(19, 'k'));  // 16360 bytes
  struct Case {
    const char* what;
    std::vector<std::string> names, fitted;
  } cases[] = {
      {"16382 bytes of names and zeros", then(k819, {"m"}), then(k819, {"m"})},
      {"16383: the closing zero is the buffer's last byte", then(k819, {"mm"}), then(k819, {"mm"})},
      {"16384: one byte too many", then(k819, {"mmm"}), then(k819, {"mm"})},
      {"16385: two too many", then(k819, {"mmmm"}), then(k819, {"mm"})},
      {"20000", entries, then(std::vector<std::string>(entries.begin(), entries.begin() + 819), {"en"})},
      {"a cut just after a zero keeps that name and loses the next",
       then(k818, {std::string(21, 'm'), "lost"}), then(k818, {std::string(21, 'm')})},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> fitted = FitSectionBuffer(c.names);
    EXPECT_EQ(fitted.size(), c.fitted.size()) << c.what;
    EXPECT_TRUE(fitted == c.fitted) << c.what;
  }
  // Through the reader: the same limit holds for a section read from a file.
  std::string ini = "[I]\n";
  for (const auto& n : then(k819, {"mmm"})) ini += n + "=1\n";
  EXPECT_TRUE(Reader(ini).ReadSection("I") == then(k819, {"mm"}));
}

// UTF-16LE bytes of UTF-8 text, with the byte order mark.
std::string Utf16File(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t u : Utf8ToUtf16(utf8)) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

TEST(Script, ThreeEncodings) {
  // "中a" and "中A" are one name: the third byte of 中 (0xAD) would be
  // taken for a GBK lead byte and hide the letter if UTF-8 were folded the
  // ANSI way.
  const std::string text = "[GUI]\r\nTiTle=\"说明☃ Ωmega\"\r\n中a=first\r\n中A=second\r\n[INSTALL]\r\nфайл=x\r\n";
  for (const std::string& file : {"\xEF\xBB\xBF" + text, Utf16File(text)}) {
    // A decoder that must never be used for a Unicode script.
    const ScriptReader r("C:\\s.ini", [&](const std::string&) { return std::optional<std::string>(file); },
                         [](unsigned, std::string_view) { return std::string("decoded"); });
    EXPECT_NE(r.Encoding(), ScriptEncoding::Ansi);
    EXPECT_EQ(r.ReadString("gui", "title", ""), "说明☃ Ωmega");
    EXPECT_EQ(r.ReadText("gui", "title", ""), "说明☃ Ωmega");
    EXPECT_EQ(r.ReadString("GUI", "中A", ""), "first");
    EXPECT_EQ(r.ReadSection("INSTALL"), std::vector<std::string>{"файл"});
    EXPECT_EQ(r.NameForWindow("файл"), "файл");
  }
  // Limits count characters in a Unicode script, never splitting one.
  std::string big;
  for (int i = 0; i < 2100; ++i) big += "中";
  const ScriptReader r("C:\\s.ini", [&](const std::string&) {
    return std::optional<std::string>("\xEF\xBB\xBF[A]\nk=" + big + "\n");
  });
  EXPECT_EQ(r.ReadString("A", "k", ""), big.substr(0, 2047 * 3));
  std::vector<std::string> names(6000, "中文字");  // 24000 characters with their zeros
  const std::vector<std::string> fitted = FitSectionBuffer(names, true);
  ASSERT_EQ(fitted.size(), 4096u);  // 4095 whole names (16380) and two characters of one more
  EXPECT_EQ(fitted.back(), "中文");
}

TEST(Script, AnAnsiScriptIsDecodedForTheMachineAndForTheWindow) {
  // The system's ANSI code page for files, keys and commands; GBK for what
  // the window shows, as it always was.
  const ScriptReader r(
      "C:\\s.ini", [](const std::string&) { return std::optional<std::string>("[GUI]\nTiTle=\xCB\xB5\n[I]\n\xC3\xFB=v\n"); },
      [](unsigned codePage, std::string_view bytes) { return std::to_string(codePage) + ":" + std::string(bytes); });
  EXPECT_EQ(r.Encoding(), ScriptEncoding::Ansi);
  EXPECT_EQ(r.ReadString("GUI", "TiTle", "d"), "0:\xCB\xB5");
  EXPECT_EQ(r.ReadText("GUI", "TiTle", "d"), "936:\xCB\xB5");
  EXPECT_EQ(r.ReadText("GUI", "Href", "d"), "d") << "defaults are the program's own text";
  const std::vector<std::string> names = r.ReadSection("I");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(r.ReadString("I", names[0], ""), "0:v") << "a name read is the key to its value";
  EXPECT_EQ(r.NameForMachine(names[0]), "0:\xC3\xFB");
  EXPECT_EQ(r.NameForWindow(names[0]), "936:\xC3\xFB");
}

TEST(Script, ReadBoolUsesTheIntegerRule) {
  struct Case {
    const char* line;
    bool visible;
  } cases[] = {
      {"Visible=0", false},      {"Visible=0x0", false},   {"Visible=$0", false},
      {"Visible=00", false},     {"Visible=\"0\"", false}, {"Visible= 0 ", false},
      {"Visible=1", true},       {"Visible=-1", true},     {"Visible=false", true},
      {"Visible=yes", true},     {"Visible=", true},       {"", true},
      {"Visible=0 0", true},     {"Visible=0x", true},
  };
  for (const auto& c : cases) {
    const ScriptReader r = Reader(std::string("[GUI]\n") + c.line + "\n");
    EXPECT_EQ(r.ReadBool("GUI", "Visible", true), c.visible) << c.line;
  }
}

TEST(Script, EveryReadGoesToTheFile) {
  std::optional<std::string> content;  // missing file at first
  ScriptReader r("C:\\s.ini", [&content](const std::string& name) {
    EXPECT_EQ(name, "C:\\s.ini");
    return content;
  });
  EXPECT_EQ(r.ReadString("GUI", "TiTle", "dflt"), "dflt");
  EXPECT_TRUE(r.ReadSection("GUI").empty());
  content = "[GUI]\nTiTle=now\n";
  EXPECT_EQ(r.ReadString("GUI", "TiTle", "dflt"), "now");
  content = "[GUI]\nTiTle=changed\n";
  EXPECT_EQ(r.ReadString("GUI", "TiTle", "dflt"), "changed");
}

}  // namespace
}  // namespace qv
