#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "browse/browse_rules.h"

namespace qv {
namespace {

TEST(BrowseRules, RootIds) {
  struct Case {
    TRootID root;
    int nt, other;
  } cases[] = {
      {TRootID::idDesktop, 0x00, 0x00},          {TRootID::idDrives, 0x11, 0x11},
      {TRootID::idDesktopDirectory, 0x10, 0x10}, {TRootID::idTemplates, 0x15, 0x15},
      {TRootID::idCommonStartMenu, 0x16, 0x0B},  {TRootID::idCommonPrograms, 0x17, 0x02},
      {TRootID::idCommonStartup, 0x18, 0x07},    {TRootID::idCommonDesktopDirectory, 0x19, 0x10},
      {TRootID::idAppData, 0x1A, 0x1A},          {TRootID::idPrintHood, 0x1B, 0x1B},
      {TRootID::idDesktopExpanded, 0xFEFE, 0xFEFE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SpecialFolderId(c.root, true), c.nt) << static_cast<int>(c.root);
    EXPECT_EQ(SpecialFolderId(c.root, false), c.other) << static_cast<int>(c.root);
  }
}

TEST(BrowseRules, OptionsBringWhatTheyNeed) {
  struct Case {
    TBrowseFlags given, implied;
  } cases[] = {
      {Flag(bfIncludeURLs),
       static_cast<TBrowseFlags>(Flag(bfIncludeFiles) | Flag(bfEditBox) | Flag(bfIncludeURLs) |
                                 Flag(bfNewDialogStyle) | Flag(bfUseNewUI))},
      {Flag(bfShareable),
       static_cast<TBrowseFlags>(Flag(bfShareable) | Flag(bfUseNewUI) | Flag(bfEditBox) | Flag(bfNewDialogStyle))},
      {Flag(bfDirectoriesOnly), Flag(bfDirectoriesOnly)},
      {0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ImpliedOptions(c.given), c.implied) << c.given;
}

// BIF_ values from the SDK's ShlObj.h; the edit box brings BIF_VALIDATE (0x20).
TEST(BrowseRules, BrowseInfoFlags) {
  const std::pair<TBrowseFlag, unsigned> cases[] = {
      {bfDirectoriesOnly, 0x0001}, {bfDomainOnly, 0x0002},   {bfAncestors, 0x0008},      {bfComputers, 0x1000},
      {bfPrinters, 0x2000},        {bfIncludeFiles, 0x4000}, {bfEditBox, 0x0030},        {bfIncludeURLs, 0x0080},
      {bfNewDialogStyle, 0x0040},  {bfShareable, 0x8000},    {bfUseNewUI, 0x0050}};
  for (const auto& [option, bif] : cases) EXPECT_EQ(BrowseInfoFlags(Flag(option), false), bif) << option;
  EXPECT_EQ(BrowseInfoFlags(0, true), 0x0004u);  // BIF_STATUSTEXT
  EXPECT_EQ(BrowseInfoFlags(Flag(bfUseNewUI) | Flag(bfShareable), true), 0x8054u);
}

TEST(BrowseRules, PreselectionForm) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"C:", "C:\\"}, {"C:\\", "C:\\"}, {"C:\\A\\", "C:\\A"}, {"C:\\A", "C:\\A"}, {"\\", "\\"},
               {"D:\\x\\y\\\\", "D:\\x\\y\\"}};
  for (const auto& c : cases) EXPECT_EQ(NormalisedSelection(c.in), c.out) << c.in;
}

// ---------------------------------------------------------------------------
// Status-text fitting

int SixPerByte(std::string_view s) { return 6 * static_cast<int>(s.size()); }

// Capital letters are wide, as in a real font, so a cut path can get wider.
int WideCapitals(std::string_view s) {
  int w = 0;
  for (char c : s) w += (c >= 'A' && c <= 'Z') ? 30 : 6;
  return w;
}

TEST(StatusText, FolderShortenedAsPath) {
  struct Case {
    const char* text;
    int width;
    std::function<int(std::string_view)> measure;
    const char* want;
  } cases[] = {
      {"C:\\A\\B\\C\\", 150, WideCapitals, "C:\\A\\B\\C\\"},
      {"C:\\A\\B\\C\\", 149, WideCapitals, "C:\\...\\B\\C\\"},
      {"C:\\A\\B\\C\\", 137, WideCapitals, "C:\\...\\C\\"},
      {"C:\\A\\B\\C\\", 101, WideCapitals, "C:\\...\\"},
      {"C:\\A\\B\\C\\", 65, WideCapitals, "...\\"},
      {"C:\\A\\B\\C\\", 23, WideCapitals, ""},
      {"C:\\Program Files\\App\\Data\\", 155, SixPerByte, "C:\\...\\App\\Data\\"},
      {"C:\\Program Files\\App\\Data\\", 95, SixPerByte, "C:\\...\\Data\\"},
      {"C:\\A\\B", 35, SixPerByte, "...\\B"},  // no trailing backslash: B is the name
      {"\\AB\\C\\", 35, SixPerByte, "\\...\\"},
      {"\\AB\\C\\", 29, SixPerByte, "...\\"},
      {"C:\\", 10, SixPerByte, ""},          // a lone root backslash goes, then the drive
      {"C:\\", 12, SixPerByte, "C:"},
      {"Data", 10, SixPerByte, "Data"},      // nothing to shorten
  };
  for (const auto& c : cases)
    EXPECT_EQ(FitStatusText(c.text, c.width, c.measure, true), c.want) << c.text << " in " << c.width;
}

TEST(StatusText, OtherTextCutFromTheEnd) {
  struct Case {
    const char* text;
    int width;
    const char* want;
  } cases[] = {
      {"abcdefgh", 48, "abcdefgh"},
      {"abcdefgh", 47, "abcd..."},
      {"abcdefgh", 30, "ab..."},
      {"abcdefgh", 10, "..."},
      {"", 0, ""},
      {"", -5, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FitStatusText(c.text, c.width, SixPerByte, false), c.want) << c.width;
}

// True when s ends in the middle of a UTF-8 character: its last lead byte
// announces more bytes than follow it.
bool EndsInsideCharacter(std::string_view s) {
  std::size_t i = s.size();
  while (i > 0 && (static_cast<unsigned char>(s[i - 1]) & 0xC0) == 0x80) --i;
  if (i == 0) return false;
  const auto lead = static_cast<unsigned char>(s[i - 1]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return s.size() - (i - 1) < length;
}

TEST(StatusText, NeverSplitsAUtf8Character) {
  // 中 E4 B8 AD, 文 E6 96 87, Ω CE A9, ☃ E2 98 83: six pixels a byte.
  struct Case {
    const char* text;
    int width;
    bool folder;
    const char* want;
  } cases[] = {
      {"ab中文xy", 47, false, "ab..."},  // not "ab\xE4\xB8..."
      {"ab中文xy", 48, false, "ab中..."},
      {"ab\xE4\xB8", 20, false, "..."},  // an unfinished character at the end
      {"☃", 12, false, "..."},
      {"C:\\中文\\Ωmega\\", 65, true, "C:\\...\\"},
      {"C:\\中文\\Ωmega\\", 84, true, "C:\\...\\Ωmega\\"},
      {"C:\\A\\说明☃", 78, true, "...\\说明☃"},  // the name stays whole
  };
  for (const auto& c : cases) {
    std::vector<std::string> measured;
    auto measure = [&](std::string_view s) {
      measured.emplace_back(s);
      return SixPerByte(s);
    };
    EXPECT_EQ(FitStatusText(c.text, c.width, measure, c.folder), c.want) << c.text << " in " << c.width;
    for (const std::string& s : measured) {
      const std::string body = s.size() >= 3 && s.ends_with("...") ? s.substr(0, s.size() - 3) : s;
      if (!EndsInsideCharacter(c.text)) {
        EXPECT_FALSE(EndsInsideCharacter(body)) << "measured a split character: " << s;
      }
    }
  }
}

}  // namespace
}  // namespace qv
