#include <gtest/gtest.h>

#include "browse_rules.h"

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

TEST(BrowseRules, BrowseInfoFlags) {
  EXPECT_EQ(BrowseInfoFlags(0, false), 0u);
  EXPECT_EQ(BrowseInfoFlags(0, true), 0x0004u);
  EXPECT_EQ(BrowseInfoFlags(Flag(bfEditBox), false), 0x0030u);
  EXPECT_EQ(BrowseInfoFlags(Flag(bfDirectoriesOnly) | Flag(bfComputers), false), 0x1001u);
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

}  // namespace
}  // namespace qv
