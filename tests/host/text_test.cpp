#include <gtest/gtest.h>

#include "engine/text.h"
#include "framework/portable/utf8.h"

namespace qv {
namespace {

TEST(Text, TrimRemovesEveryControlByteButKeepsGbk) {
  EXPECT_EQ(Trim(" \t\r\n\x01 a b \x1F "), "a b");
  EXPECT_EQ(Trim("\xB0\xB2 "), "\xB0\xB2");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(UpperCase("abz\xE0\xB0\xB2-q"), "ABZ\xE0\xB0\xB2-Q");
}

TEST(Text, SameTextFoldsSingleByteLettersOnly) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"TiTle", "title", true},
      {"INSTALL", "install", true},
      {"\x81\x41", "\x81\x61", false},          // 丄 and 乤: the second bytes are no letters
      {"\xB0\xB2x\x81\x41", "\xB0\xB2X\x81\x41", true},  // a letter after a double-byte character
      {"\x81\x41\x81\x61", "\x81\x61\x81\x41", false},
      {"a\x81", "A\x81", true},                   // a lead byte at the end stands alone
      {"\xE0" "a", "\xE0" "A", false},
      {"\xE0\xE0" "a", "\xE0\xE0" "A", true},
      {"[", "{", false},
      {"ab", "abc", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameText(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameText(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
}

TEST(Text, SplitField) {
  struct Case {
    const char* text;
    char sep;
    bool firstOnly;
    const char* head;
    const char* tail;
  } cases[] = {
      {"a,b,c", ',', true, "a", "b,c"},
      {"a,b,c", ',', false, "a,b", "c"},
      {",x", ',', true, "", "x"},
      {"x,", ',', true, "x", ""},
      {"x,", ',', false, "x", ""},
      {"plain", ',', false, "plain", ""},
      {"", ',', true, "", ""},
      {"HKLM\\Software\\Key\\Name", '\\', true, "HKLM", "Software\\Key\\Name"},
      {"Software\\Key\\Name", '\\', false, "Software\\Key", "Name"},
      {"Key", '\\', false, "Key", ""},
      {"rundll32.exe shell32.dll,Control_RunDLL,HIDE", ',', false,
       "rundll32.exe shell32.dll,Control_RunDLL", "HIDE"},
  };
  for (const auto& c : cases) {
    Fields f = SplitField(c.text, c.sep, c.firstOnly);
    EXPECT_EQ(f.head, c.head) << c.text;
    EXPECT_EQ(f.tail, c.tail) << c.text;
  }
}

TEST(Text, HexToInt) {
  struct Case {
    const char* text;
    std::uint32_t value;
    bool valid;
  } cases[] = {
      {"1F", 31, true},        {"ff", 255, true},          {"1G", 1, false},
      {"123456789", 591751049, true},                      {"FFFFFFFF", 0xFFFFFFFFu, true},
      {"", 0, true},           {"0x10", 0, false},         {" 10", 0, false},
      {"10 ", 16, false},      {"fFfFfFfF0", 0xFFFFFFF0u, true},
  };
  for (const auto& c : cases) {
    HexValue h = HexToInt(c.text);
    EXPECT_EQ(h.value, c.value) << c.text;
    EXPECT_EQ(h.valid, c.valid) << c.text;
  }
}

TEST(Text, ParseInt32FollowsTheScriptsIntegerRule) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"0", 0},          {"00", 0},          {"0x0", 0},          {"$0", 0},
      {"x0", 0},         {"X0", 0},          {"0X0", 0},          {"-0", 0},
      {"+7", 7},         {"-12", -12},       {"1", 1},            {"$FF", 255},
      {"0xffffffff", -1}, {"2147483647", 2147483647},             {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},          {"0x100000000", std::nullopt},
      {"", std::nullopt}, {"false", std::nullopt}, {"yes", std::nullopt},
      {"$", std::nullopt}, {"0x", std::nullopt}, {"1 ", std::nullopt}, {"1.0", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.text), c.value) << c.text;
}

TEST(Text, RelativePathRule) {
  const std::string prog = "D:\\dist\\";
  struct Case {
    const char* path;
    const char* resolved;
  } cases[] = {
      {"C:\\x\\a.ini", "C:\\x\\a.ini"},
      {"C:a.ini", "C:a.ini"},
      {"a.ini", "D:\\dist\\a.ini"},
      {"sub\\a.ini", "D:\\dist\\sub\\a.ini"},
      {"\\a.ini", "D:\\dist\\\\a.ini"},
      {"\\\\server\\share\\a.ini", "\\\\server\\share\\a.ini"},
      {"\\\\?\\C:\\x\\a.ini", "\\\\?\\C:\\x\\a.ini"},
      {"?", "D:\\dist\\?"},
      // Read as the system reads them: '/' a backslash, ".." a step up but
      // never above the drive or share, a \\?\ path as written.
      {"sub/a.ini", "D:\\dist\\sub\\a.ini"},
      {"..\\..\\..\\a.ini", "D:\\a.ini"},
      {"C:/x/./y/../a.ini", "C:\\x\\a.ini"},
      {"//server/share/../a.ini", "\\\\server\\share\\a.ini"},
      {"\\\\?\\C:\\x/../a.ini", "\\\\?\\C:\\x/../a.ini"},
      {"C:x/a.ini", "C:x\\a.ini"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolvePath(prog, c.path), c.resolved) << c.path;
  EXPECT_EQ(FolderPart("C:\\a\\b*.txt"), "C:\\a\\");
  EXPECT_EQ(FolderPart("C:x"), "C:");
  EXPECT_EQ(FolderPart("x"), "");
}

// The program's one converter between UTF-8 and UTF-16: every name that
// reaches the system goes through it.
TEST(Text, Utf8AndUtf16ConvertBothWaysAndMendBrokenInput) {
  struct Case {
    const char* utf8;
    std::u16string utf16;
    const char* back;  // UTF-8 again, where it differs
  } cases[] = {
      {"Ωmega\\файл 说明☃.txt", u"Ωmega\\файл 说明☃.txt", nullptr},
      {"\xF0\x9D\x84\x9E", u"\xD834\xDD1E", nullptr},              // beyond 16 bits: a surrogate pair
      {"\xC0\xAF", u"\xFFFD\xFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong '/'
      {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"a\xE4\xB8", u"a\xFFFD\xFFFD", "a\xEF\xBF\xBD\xEF\xBF\xBD"},  // cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.back ? c.back : c.utf8) << c.utf8;
  }
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x\xDC00"), "\xEF\xBF\xBDx\xEF\xBF\xBD");  // unpaired halves
  // File bytes in either order; an odd last byte is dropped.
  EXPECT_EQ(Utf16ToUtf8(Utf16Units(std::string("A\0\x9E\x03!", 5), false)), "A\xCE\x9E");
  EXPECT_EQ(Utf16ToUtf8(Utf16Units(std::string("\0A\x03\x9E!", 5), true)), "A\xCE\x9E");
}

}  // namespace
}  // namespace qv
