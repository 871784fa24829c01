#include <gtest/gtest.h>

#include "engine/errors.h"
#include "engine/script.h"
#include "framework/portable/utf8.h"

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
      {"GUI", "; comment", "(none)"}, {"GUI", "# hash", "(none)"},
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

// UTF-16 units as a file holds them, in either byte order, with or without
// the byte order mark.
std::string Utf16Bytes(std::u16string_view units, bool bigEndian, bool mark = true) {
  std::string bytes;
  for (char16_t u : mark ? u"\xFEFF" + std::u16string(units) : std::u16string(units)) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

TEST(Script, TextThatBreaksItsEncodingIsRefusedNamingItsLine) {
  const std::string utf8 = "\xEF\xBB\xBF";
  struct Case {
    const char* what;
    std::string bytes;
    int badLine;        // 0: the script reads
    const char* value;  // [A] k, when it reads
  } cases[] = {
      {"UTF-8, a Latin-1 byte", utf8 + "[A]\r\nk=v\r\nd=caf\xE9\r\n", 3, nullptr},
      {"UTF-8, an overlong slash", utf8 + "[A]\nk=\xC0\xAF\n", 2, nullptr},
      {"UTF-8, an overlong in three bytes", utf8 + "[A]\nk=\xE0\x80\xAF\n", 2, nullptr},
      {"UTF-8, a surrogate", utf8 + "[A]\nk=\xED\xA0\x80\n", 2, nullptr},
      {"UTF-8, beyond U+10FFFF", utf8 + "[A]\nk=\xF4\x90\x80\x80\n", 2, nullptr},
      {"UTF-8, a lone continuation byte", utf8 + "\x80[A]\nk=v\n", 1, nullptr},
      {"UTF-8, cut short at the end", utf8 + "[A]\nk=v\n; \xE4\xB8", 3, nullptr},
      {"UTF-8, a NUL", utf8 + std::string("[A]\nk=v\0w\n", 10), 2, nullptr},
      {"UTF-16LE, an odd length", Utf16Bytes(u"[A]\nk=v\n", false) + "\n", 3, nullptr},
      {"UTF-16LE, a lone high surrogate", Utf16Bytes(u"[A]\nk=\xD800v\n", false), 2, nullptr},
      {"UTF-16LE, a lone low surrogate", Utf16Bytes(u"[A]\n\nk=\xDC00\n", false), 3, nullptr},
      {"UTF-16BE, two high surrogates", Utf16Bytes(u"[A]\nk=\xD834\xD834\xDD1E\n", true), 2, nullptr},
      {"UTF-16LE without its mark", Utf16Bytes(u"[A]\nk=v\n", false, false), 1, nullptr},
      {"UTF-16BE without its mark", Utf16Bytes(u"[A]\nk=v\n", true, false), 1, nullptr},
      {"ANSI, a NUL", std::string("[A]\nk=v\n\0", 9), 3, nullptr},
      {"UTF-8, beyond 16 bits", utf8 + "[A]\nk=\xF0\x9D\x84\x9E\n", 0, "\xF0\x9D\x84\x9E"},
      {"UTF-16LE, a surrogate pair", Utf16Bytes(u"[A]\nk=\xD834\xDD1E\n", false), 0, "\xF0\x9D\x84\x9E"},
      {"UTF-16BE with its mark", Utf16Bytes(u"[A]\r\nk=Ω☃\r\n", true), 0, "Ω☃"},
      {"ANSI, GBK that is no UTF-8", "[A]\nk=\xCB\xB5\xC3\xF7\xFF\n", 0, "\xCB\xB5\xC3\xF7\xFF"},
  };
  for (const auto& c : cases) {
    const ScriptReader r = Reader(c.bytes);
    if (!c.badLine) {
      EXPECT_EQ(r.ReadString("A", "k", "(none)"), c.value) << c.what;
      continue;
    }
    // Every read is refused, the first as much as any later one.
    for (int read = 0; read < 2; ++read) {
      try {
        r.ReadSection("A");
        ADD_FAILURE() << c.what << ": read";
      } catch (const EngineError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("C:\\s.ini, line " + std::to_string(c.badLine) + ":"), std::string::npos)
            << c.what << ": " << message;
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(message)), message) << c.what << ": the message is no UTF-8";
      }
    }
  }
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
