#include <gtest/gtest.h>

#include <algorithm>

#include "engine/setup_engine.h"
#include "engine/setup_texts.h"
#include "framework/portable/messages.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

struct Rig {
  test::FakePlatform platform;
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  SetupEngine engine{platform, window, state, folders, "D:\\dist\\setup.exe"};

  Rig() {
    folders.programFiles = "C:\\Program Files";
    folders.windows = "C:\\WINDOWS";
    platform.AddFile("D:\\dist\\files\\readme.txt", "r");
    platform.AddFile("D:\\dist\\files\\bin\\app.dll", "d", kAttrHidden | kAttrSystem);
    platform.AddFile("D:\\dist\\files\\bin\\ro.dat", "o", kAttrReadOnly);
    platform.AddFolder("D:\\dist\\files\\empty");
    platform.AddFolder("D:\\dist\\files\\odd", kAttrDirectory | kAttrReadOnly | kAttrHidden | kAttrArchive);
    platform.AddFile("D:\\dist\\files\\odd\\x.dll", "x");
  }
  int Steps() const { return static_cast<int>(window.Calls("step").size()); }
};

TEST(Install, SourceForms) {
  struct Case {
    const char* source;
    const char* destination;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } cases[] = {
      {"files\\", "D:\\App",
       {"D:\\App\\readme.txt", "D:\\App\\bin\\app.dll", "D:\\App\\bin\\ro.dat", "D:\\App\\odd\\x.dll"},
       {"D:\\App\\files"}},
      {"files", "D:\\App", {"D:\\App\\files\\readme.txt", "D:\\App\\files\\bin\\app.dll"}, {"D:\\App\\readme.txt"}},
      {"files\\*.dll", "D:\\App", {"D:\\App"}, {"D:\\App\\readme.txt", "D:\\App\\bin"}},
      {"files\\b*", "D:\\App\\", {"D:\\App\\bin\\app.dll", "D:\\App\\bin\\ro.dat"}, {"D:\\App\\readme.txt"}},
      {"  files\\readme.txt ", "  D:\\App  ", {"D:\\App\\readme.txt"}, {"D:\\App\\bin"}},
      {"D:\\dist\\files\\odd\\", "%WINDOWSDIR%\\Odd", {"C:\\WINDOWS\\Odd\\x.dll"}, {}},
  };
  for (const auto& c : cases) {
    Rig rig;
    SCOPED_TRACE(std::string(c.source) + " , " + c.destination);
    rig.engine.InstallEntry(c.source, c.destination);
    for (const auto& p : c.present)
      EXPECT_TRUE(rig.platform.IsFile(p) || rig.platform.IsFolder(p)) << p;
    for (const auto& p : c.absent)
      EXPECT_FALSE(rig.platform.IsFile(p) || rig.platform.IsFolder(p)) << p;
    // The count pass sized the bar for exactly the steps the copy made.
    std::vector<std::string> max = rig.window.Calls("mainMax");
    ASSERT_EQ(max.size(), 1u);
    EXPECT_EQ(max[0], "mainMax " + std::to_string(rig.Steps()));
  }
}

TEST(Install, EmptyFoldersAndAttributesCarryOver) {
  Rig rig;
  rig.engine.InstallEntry("files\\", "D:\\App");
  EXPECT_TRUE(rig.platform.IsFolder("D:\\App\\empty"));
  EXPECT_EQ(rig.platform.AttributesOf("D:\\App\\bin\\app.dll"), kAttrHidden | kAttrSystem);
  EXPECT_EQ(rig.Steps(), 4);
}

TEST(Install, AFolderWithExtraAttributesIsWalkedAsAFolder) {
  Rig rig;
  // The set-up the case stands on: the files added inside kept the folder's attributes.
  ASSERT_EQ(rig.platform.AttributesOf("D:\\dist\\files\\odd"),
            kAttrDirectory | kAttrReadOnly | kAttrHidden | kAttrArchive);
  rig.engine.InstallEntry("files\\", "D:\\App");
  EXPECT_TRUE(rig.platform.IsFolder("D:\\App\\odd"));
  EXPECT_EQ(rig.platform.Content("D:\\App\\odd\\x.dll"), "x");
}

// A source's last part is read as the system's search reads it: its
// trailing dots go, and letters of any alphabet compare case-blind.
TEST(Install, PatternsFindWhatTheSystemsSearchFinds) {
  const std::vector<std::string> names = {"README", "x", "été.txt"};
  const struct {
    const char* source;
    std::vector<std::string> installed;
  } cases[] = {
      {"names\\*.", names},
      {"names\\x.", {"x"}},
      {"names\\ÉTÉ.TXT", {"été.txt"}},
  };
  for (const auto& c : cases) {
    Rig rig;
    for (const std::string& name : names) rig.platform.AddFile("D:\\dist\\names\\" + name, name);
    rig.engine.InstallEntry(c.source, "D:\\App");
    for (const std::string& name : names) {
      const bool wanted = std::find(c.installed.begin(), c.installed.end(), name) != c.installed.end();
      EXPECT_EQ(rig.platform.IsFile("D:\\App\\" + name), wanted) << c.source << " " << name;
    }
  }
}

TEST(Install, StatusAndBarPerFile) {
  Rig rig;
  rig.engine.InstallEntry("files\\readme.txt", "D:\\App");
  EXPECT_EQ(rig.window.statuses, std::vector<std::string>{"Decompressing readme.txt ..."});
  EXPECT_EQ(rig.window.screen.mainMax, 1);
  EXPECT_EQ(rig.window.screen.mainPos, 1);
}

TEST(Install, NothingMatchingStillCreatesTheDestination) {
  Rig rig;
  rig.engine.InstallEntry("files\\*.none", "D:\\New\\Deep");
  EXPECT_TRUE(rig.platform.IsFolder("D:\\New\\Deep"));
  EXPECT_EQ(rig.window.Calls("mainMax"), (std::vector<std::string>{"mainMax 0"}));
}

TEST(Install, EmptyFieldsAndFailures) {
  Rig rig;
  rig.engine.InstallEntry("  ", "D:\\App");
  rig.engine.InstallEntry("files\\", " \t");
  EXPECT_TRUE(rig.window.calls.empty());

  rig.platform.failingCopies.insert("D:\\DIST\\FILES\\README.TXT");
  rig.platform.failingFolders.insert("D:\\APP\\BIN");
  rig.engine.InstallEntry("files\\", "D:\\App");
  EXPECT_FALSE(rig.platform.IsFile("D:\\App\\readme.txt"));
  EXPECT_FALSE(rig.platform.IsFile("D:\\App\\bin\\app.dll"));
  EXPECT_TRUE(rig.platform.IsFile("D:\\App\\odd\\x.dll"));
  // A failed copy still steps; a folder that cannot be made copies nothing.
  EXPECT_EQ(rig.Steps(), 2);
}

TEST(Install, UnexpandedMacroIsAFolderBesideTheProgram) {
  Rig rig;
  rig.engine.InstallEntry("files\\readme.txt", "%INSTALLDIR%\\x");
  EXPECT_TRUE(rig.platform.IsFile("D:\\dist\\%INSTALLDIR%\\x\\readme.txt"));
}

TEST(Install, QuitStopsTheWalkAtEveryLevel) {
  Rig rig;
  // Quit as the copy pass enters bin: the file in hand is the last one.
  rig.window.onPump = [&] {
    if (rig.platform.IsFolder("D:\\App\\bin")) rig.state.finished = true;
  };
  rig.engine.InstallEntry("files\\", "D:\\App");
  EXPECT_EQ(rig.Steps(), 1);
  EXPECT_EQ(rig.platform.events.back(), "copy D:\\dist\\files\\bin\\app.dll > D:\\App\\bin\\app.dll");
  EXPECT_FALSE(rig.platform.IsFolder("D:\\App\\empty"));
}

TEST(Install, PathPromptSequence) {
  Rig rig;
  rig.state.entryName = "Example";
  rig.state.entryLabel = "Example";
  int step = 0;
  test::RecordingWindow::Screen asked;  // what the person sees while asked
  rig.window.onPump = [&] {
    if (!rig.state.awaitingPath) return;
    asked = rig.window.screen;
    switch (++step) {
      case 1: rig.window.pathText = "   "; break;  // the window warns; still waiting
      case 2: rig.window.pathText = "  D:\\Chosen  "; rig.state.awaitingPath = false; break;
    }
  };
  rig.engine.InstallEntry("files\\readme.txt", " ? ");
  EXPECT_EQ(rig.folders.install, "D:\\Chosen");
  EXPECT_TRUE(rig.platform.IsFile("D:\\Chosen\\readme.txt"));
  EXPECT_EQ(rig.window.waits, 1);
  // Asked: the question, the suggested folder in the box instead of the bars, OK.
  EXPECT_EQ(asked.status, std::string(texts::kPromptBefore) + "Example" + texts::kPromptAfter);
  EXPECT_EQ(asked.button, texts::kOk);
  EXPECT_TRUE(asked.pathBox);
  EXPECT_FALSE(asked.bars);
  EXPECT_EQ(rig.window.Calls("path ").front(), "path C:\\Program Files\\Example");
  // Answered: the bars again, and the button cancels.
  EXPECT_FALSE(rig.window.screen.pathBox);
  EXPECT_TRUE(rig.window.screen.bars);
  EXPECT_EQ(rig.window.screen.button, texts::kCancel);
}

TEST(Install, PromptEndsAtOnceWhenTheUserQuits) {
  Rig rig;
  rig.state.entryName = "App";
  rig.window.onPump = [&] { rig.state.finished = true; };
  rig.engine.InstallEntry("files\\readme.txt", "?");
  EXPECT_EQ(rig.folders.install, "C:\\Program Files\\App");
  EXPECT_EQ(rig.window.waits, 0) << "it waited for more once the person had quit";
  EXPECT_TRUE(rig.platform.events.empty()) << "the person refused the installation: nothing is made";
}

TEST(Install, PathWithoutDriveIsBesideTheProgram) {
  Rig rig;
  rig.state.entryName = "App";
  rig.window.onPump = [&] {
    rig.window.pathText = "App";
    rig.state.awaitingPath = false;
  };
  rig.engine.InstallEntry("files\\readme.txt", "?");
  EXPECT_EQ(rig.folders.install, "App");
  EXPECT_TRUE(rig.platform.IsFile("D:\\dist\\App\\readme.txt"));
}

TEST(Install, OnlyAQuestionMarkPromptsAndHiddenRunsNever) {
  struct Case {
    const char* destination;
    bool visible;
  } cases[] = {{"??", true}, {"?\\x", true}, {"?", false}};
  for (const auto& c : cases) {
    Rig rig;
    rig.state.visible = c.visible;
    rig.engine.InstallEntry("files\\readme.txt", c.destination);
    EXPECT_TRUE(rig.window.Calls("pathBox").empty()) << c.destination;
    EXPECT_EQ(rig.folders.install, "") << c.destination;
  }
  Rig hidden;
  hidden.state.visible = false;
  hidden.engine.InstallEntry("files\\readme.txt", "?");
  EXPECT_EQ(hidden.platform.events.front(), "mkdir D:\\dist\\?");
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// While files go by, the window answers the person at least once an
// interval (give or take the file in hand), but not for every file when
// files come quicker than that; a clock that runs backwards never silences it.
TEST(Install, TheWindowIsAnsweredOnceAnIntervalWhileFilesGoBy) {
  constexpr int kFiles = 10, kVisits = 2 * kFiles;  // counted, then copied
  for (const std::uint32_t tickStep : {kPumpIntervalMs, (kPumpIntervalMs + 1) / 2, 1u, 0u, 0xFFFFFFFBu}) {
    SCOPED_TRACE(tickStep);
    test::FakePlatform platform;
    test::RecordingWindow window;
    RunState state;
    FolderValues folders;
    SetupEngine engine(platform, window, state, folders, "D:\\dist\\setup.exe");
    for (int i = 0; i < kFiles; ++i) platform.AddFile("D:\\dist\\many\\f" + std::to_string(i), "x");
    platform.tickStep = tickStep;
    std::vector<std::uint32_t> answered;  // the clock at each pump
    window.onPump = [&] { answered.push_back(platform.clock); };
    engine.InstallEntry("many\\", "D:\\App");
    ASSERT_EQ(window.Calls("step").size(), static_cast<std::size_t>(kFiles));
    ASSERT_FALSE(answered.empty());
    if (tickStep > 0x80000000u) {
      EXPECT_GE(window.pumps, kVisits);
      continue;
    }
    for (std::size_t i = 1; i < answered.size(); ++i)
      EXPECT_LE(answered[i] - answered[i - 1], kPumpIntervalMs + tickStep) << "before pump " << i;
    if (2 * tickStep <= kPumpIntervalMs) {
      EXPECT_LT(window.pumps, kVisits);
    }
  }
}

}  // namespace
}  // namespace qv
