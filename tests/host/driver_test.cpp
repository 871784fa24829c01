#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "engine/errors.h"
#include "engine/setup_engine.h"
#include "engine/setup_texts.h"
#include "framework/portable/messages.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

constexpr char kProgram[] = "D:\\dist\\setup.exe";

struct Rig {
  test::FakePlatform platform;
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  SetupEngine engine{platform, window, state, folders, kProgram};

  explicit Rig(const std::string& script = "") {
    platform.AddFolder("C:\\Program Files");
    platform.AddFile(kProgram, "MZ");
    if (!script.empty()) platform.AddFile("D:\\dist\\setup.ini", script);
  }
};

TEST(Driver, CommandLineSplitting) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  } cases[] = {
      {"setup.exe", {"setup.exe"}},
      {"\"D:\\my dist\\setup.exe\" a.ini extra", {"D:\\my dist\\setup.exe", "a.ini", "extra"}},
      {"  setup.exe   \"C:\\x y\\a.ini\"  ", {"setup.exe", "C:\\x y\\a.ini"}},
      {"setup.exe a\"b c\"d", {"setup.exe", "ab cd"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
  // What a run hands its elevated self comes back as it was.
  const std::vector<std::string> handed[] = {
      {"a.ini", "/S"}, {"", "C:\\my dir\\", "\\\\server\\a b\\\\"}, {"tab\there", "a\\b", "end\\"}, {}};
  for (const auto& args : handed) {
    std::vector<std::string> expected{"setup.exe"};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(SplitCommandLine("setup.exe " + JoinCommandLine(args).value()), expected);
  }
  EXPECT_EQ(JoinCommandLine({"a\"b"}), std::nullopt);
}

TEST(Driver, ScriptLocation) {
  struct Case {
    const char* program;
    std::vector<std::string> args;
    const char* script;
  } cases[] = {
      {"D:\\dist\\setup.exe", {}, "D:\\dist\\setup.ini"},
      {"D:\\dist\\Setup.EXE", {}, "D:\\dist\\Setup.ini"},
      {"D:\\v1.2\\setup", {}, "D:\\v1.2\\setup.ini"},
      {"D:\\dist\\setup.exe", {"a.ini"}, "D:\\dist\\a.ini"},
      {"D:\\dist\\setup.exe", {"sub\\a.ini", "ignored"}, "D:\\dist\\sub\\a.ini"},
      {"D:\\dist\\setup.exe", {"C:\\x\\a.ini"}, "C:\\x\\a.ini"},
      {"D:\\dist\\setup.exe", {"\\\\srv\\share\\a.ini"}, "\\\\srv\\share\\a.ini"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScriptFileName(c.program, c.args), c.script) << c.program;
}

TEST(Driver, AMissingScriptRunsToTheEndWithDefaults) {
  Rig rig;
  rig.engine.Run({});
  // The window shows each phase and ends on the finished line, red, with OK.
  EXPECT_EQ(rig.window.screen.title, texts::kDefaultTitle);
  EXPECT_TRUE(rig.window.screen.shown);
  EXPECT_EQ(rig.window.statuses,
            (std::vector<std::string>{texts::kRegister, texts::kExecute, texts::kFinished}));
  EXPECT_TRUE(rig.window.screen.red);
  EXPECT_EQ(rig.window.screen.button, texts::kOk);
  EXPECT_TRUE(rig.state.finished);
  EXPECT_FALSE(rig.window.terminated);
  EXPECT_EQ(rig.platform.paused, 0u);
}

TEST(Driver, GuiSection) {
  struct Case {
    const char* gui;
    const char* build;
    bool visible;
  } cases[] = {
      {"TiTle=Example Setup\nHref=Maker,http://a.example/x,y", "build Example Setup|Maker|http://a.example/x,y", true},
      {"Href=just a caption", "build 安装程序|just a caption|", true},
      {"Href=,target\nTiTle=", "build ||target", true},
      {"Visible=0x0\nTiTle=T\nHref=c,t", "build T|c|t", false},
  };
  for (const auto& c : cases) {
    Rig rig(std::string("[GUI]\n") + c.gui + "\n");
    rig.engine.Run({});
    EXPECT_EQ(rig.window.calls[0], c.build) << c.gui;
    EXPECT_EQ(rig.state.visible, c.visible) << c.gui;
    EXPECT_EQ(rig.window.terminated, !c.visible) << c.gui;
  }
}

TEST(Driver, AnAnsiScriptShowsInTheWindowsCodePageAndActsInTheMachines) {
  // The window keeps showing GBK as it always has; files, folders, registry
  // names and data follow the system's code page. Here code page 936 upper-
  // cases and the system's lower-cases, so each text shows which it went by.
  Rig rig(
      "[GUI]\nTiTle=Title\nHref=Caption,Http://Target\n"
      "[INSTALL]\nApp=files\\,?\n[REGISTRY]\n1=HKCU\\Key\\Name,Data\n");
  rig.platform.AddFile("D:\\dist\\files\\a.txt", "a");
  rig.platform.decode = [](unsigned codePage, std::string_view bytes) {
    std::string s(bytes);
    for (char& c : s) c = static_cast<char>(codePage == 936 ? std::toupper(c) : std::tolower(c));
    return s;
  };
  rig.window.onPump = [&] { rig.state.awaitingPath = false; };
  rig.engine.Run({});
  EXPECT_EQ(rig.window.calls[0], "build TITLE|CAPTION|http://target");
  EXPECT_EQ(rig.window.Calls("status ")[0], std::string("status ") + texts::kPromptBefore + "APP" + texts::kPromptAfter);
  EXPECT_EQ(rig.window.Calls("path ")[0], "path C:\\Program Files\\app");
  const auto& events = rig.platform.events;
  EXPECT_NE(std::find(events.begin(), events.end(), "reg key\\name"), events.end());
  const auto value = rig.platform.registry.find({kHKCU, "KEY", "NAME"});
  ASSERT_NE(value, rig.platform.registry.end());
  EXPECT_EQ(value->second.data, std::vector<std::uint8_t>({'d', 'a', 't', 'a', 0}));
}

TEST(Driver, PhasesRunInOrderWithTheirBarsAndPauses) {
  Rig rig(
      "[COMMAND]\nc1=first.exe,HIDE\nc2=%WINDOWSDIR%\\second.exe a,b\n"
      "[REGISTRY]\nr1=HKCU\\Software\\T\\A,x\nr2=HKCU\\Software\\T\\B,DWORD:2\nr3=HKCU\\Software\\T\\C,HEX:3\n"
      "[INSTALL]\nApp=files\\,C:\\App\n");
  rig.platform.AddFile("D:\\dist\\files\\a.txt", "a");
  // The bar's registry step and how long the run had waited, at each pump
  // (with a clock this slow, before each value).
  std::vector<std::pair<int, unsigned>> registrySteps;
  rig.window.onPump = [&] {
    if (rig.window.screen.status == texts::kRegister)
      registrySteps.emplace_back(rig.window.screen.mainPos, rig.platform.paused);
  };
  rig.engine.Run({});

  EXPECT_EQ(rig.platform.events,
            (std::vector<std::string>{"mkdir C:\\App", "copy D:\\dist\\files\\a.txt > C:\\App\\a.txt",
                                      "reg Software\\T\\A", "reg Software\\T\\B", "reg Software\\T\\C",
                                      "start first.exe", "start C:\\WINDOWS\\second.exe a"}));
  EXPECT_EQ(rig.platform.started[0].second, 0);
  EXPECT_EQ(rig.platform.started[1].second, 1);  // "b" is no show word
  // Each value's step stays on the bar for a moment: the run waits before
  // the next one.
  ASSERT_EQ(registrySteps.size(), 3u);
  for (std::size_t i = 1; i < registrySteps.size(); ++i) {
    EXPECT_EQ(registrySteps[i].first, static_cast<int>(i));
    EXPECT_GT(registrySteps[i].second, registrySteps[i - 1].second) << "no wait on step " << i;
  }
  EXPECT_GT(rig.platform.paused, registrySteps.back().second) << "no wait on the last step";
  EXPECT_EQ(rig.window.Calls("thin"), (std::vector<std::string>{"thinMax 1", "thinPos 1"}));
  // After the install entry: registry sets 3 and walks 1..3, commands set 2.
  std::vector<std::string> bars = rig.window.Calls("main");
  std::vector<std::string> tail(bars.end() - 7, bars.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"mainMax 3", "mainPos 1", "mainPos 2", "mainPos 3",
                                            "mainMax 2", "mainPos 1", "mainPos 2"}));
  EXPECT_EQ(rig.window.calls.back(), std::string("button ") + texts::kOk);
}

TEST(Driver, EmptyRegistryPhaseLeavesTheBarAlone) {
  Rig rig("[INSTALL]\nApp=files\\,C:\\App\n[REGISTRY]\n[COMMAND]\n");
  rig.platform.AddFile("D:\\dist\\files\\a.txt", "a");
  rig.platform.AddFile("D:\\dist\\files\\b.txt", "b");
  rig.engine.Run({});
  std::vector<std::string> bars = rig.window.Calls("main");
  EXPECT_EQ(bars.back(), "mainMax 2");
  EXPECT_EQ(rig.platform.paused, 0u);
}

TEST(Driver, ADuplicateKeyRunsTheFirstValueTwice) {
  Rig rig("[COMMAND]\nx=one.exe\ny=mid.exe\nX=two.exe\n");
  rig.engine.Run({});
  ASSERT_EQ(rig.platform.started.size(), 3u);
  EXPECT_EQ(rig.platform.started[0].first, "one.exe");
  EXPECT_EQ(rig.platform.started[1].first, "mid.exe");
  EXPECT_EQ(rig.platform.started[2].first, "one.exe");
}

TEST(Driver, ScriptNamedOnTheCommandLine) {
  Rig rig;
  rig.platform.AddFile("D:\\dist\\sub\\a.ini", "[GUI]\nTiTle=from sub\n");
  rig.platform.AddFile("C:\\x\\a.ini", "[GUI]\nTiTle=from C\n");
  rig.engine.Run({"sub\\a.ini"});
  EXPECT_EQ(rig.window.calls[0].substr(0, 14), "build from sub");
  Rig other;
  other.platform.AddFile("C:\\x\\a.ini", "[GUI]\nTiTle=from C\n");
  other.engine.Run({"C:\\x\\a.ini"});
  EXPECT_EQ(other.window.calls[0].substr(0, 12), "build from C");
}

TEST(Driver, AFailedRegistryWriteEndsTheRunWithItsValueName) {
  Rig rig("[REGISTRY]\n1=HKCU\\Software\\T\\Name,x\n[COMMAND]\n1=never.exe\n");
  rig.platform.registryWritesFail = true;
  try {
    rig.engine.Run({});
    FAIL() << "no error";
  } catch (const EngineError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Name'");
  }
  EXPECT_FALSE(rig.state.finished);
  EXPECT_TRUE(rig.platform.started.empty());
}

TEST(Driver, KeysThatDoNotOpenAndUnknownRootsArePassedOverSilently) {
  Rig rig("[REGISTRY]\n1=NOPE\\Software\\T\\A,x\n2=HKCU\\Software\\T\\B,y\n");
  rig.platform.registryKeysOpen = false;
  rig.engine.Run({});
  EXPECT_EQ(rig.platform.events, (std::vector<std::string>{"reg Software\\T\\A", "reg Software\\T\\B"}));
  EXPECT_TRUE(rig.platform.registry.empty());
  EXPECT_TRUE(rig.state.finished);
}

TEST(Driver, QuittingDuringInstallSkipsEverythingAfter) {
  Rig rig("[INSTALL]\nA=files\\,C:\\A\nB=files\\,C:\\B\n[REGISTRY]\n1=HKCU\\S\\V,x\n[COMMAND]\n1=x.exe\n");
  rig.platform.AddFile("D:\\dist\\files\\1.txt", "1");
  rig.platform.AddFile("D:\\dist\\files\\2.txt", "2");
  rig.window.onPump = [&] {
    if (rig.platform.IsFolder("C:\\A")) rig.state.finished = true;  // the copy pass has begun
  };
  rig.engine.Run({});
  EXPECT_EQ(rig.platform.events, (std::vector<std::string>{"mkdir C:\\A", "copy D:\\dist\\files\\1.txt > C:\\A\\1.txt"}));
  EXPECT_TRUE(rig.window.Calls(std::string("status ") + texts::kRegister).empty());
}

TEST(Driver, AClickAtTheEndOfAPassIsAnsweredBeforeTheNextStep) {
  // A frozen clock: within a pass only the first file pumps, so the quit
  // can only be seen by the pump that ends each pass.
  struct Case {
    int quitAtPump;
    std::vector<std::string> events;
  } cases[] = {
      {2, {}},  // end of the count pass: not even the destination is made
      {3, {"mkdir C:\\A", "copy D:\\dist\\files\\1.txt > C:\\A\\1.txt",
           "copy D:\\dist\\files\\2.txt > C:\\A\\2.txt"}},  // end of the copy pass: no registry
  };
  for (const auto& c : cases) {
    Rig rig("[INSTALL]\nA=files\\,C:\\A\n[REGISTRY]\n1=HKCU\\S\\V,x\n");
    rig.platform.AddFile("D:\\dist\\files\\1.txt", "1");
    rig.platform.AddFile("D:\\dist\\files\\2.txt", "2");
    rig.platform.tickStep = 0;
    rig.window.onPump = [&] {
      if (rig.window.pumps == c.quitAtPump) rig.state.finished = true;
    };
    rig.engine.Run({});
    EXPECT_EQ(rig.platform.events, c.events) << c.quitAtPump;
  }
}

// A folder macro without a value: the sections that are ours refuse it
// before anything is written, where it would land as text in a PATH or a
// shortcut; the original ones keep it as written, as they always have.
TEST(Driver, AFolderMacroWithoutAValueStopsOurSectionsBeforeAnythingIsWritten) {
  const std::string first = "[INSTALL]\nA=files\\,C:\\A\n";
  const std::string why = ", which has no value: only a \"?\" INSTALL entry sets it, and in a hidden run only with "
                          "/D= or /S";
  const struct {
    std::string script;
    std::string error;
  } kCases[] = {
      {first + "[PATH]\nBin=%INSTALLDIR%\\bin\n", "[PATH] Bin uses %INSTALLDIR%" + why},
      {first + "[SHORTCUTS]\nApp=%InstallDir%\\app.exe,DESKTOP\n", "[SHORTCUTS] App uses %INSTALLDIR%" + why},
      {first + "[SHORTCUTS]\nApp=C:\\A\\1.txt,DESKTOP,,% installdir %\\app.ico\n",
       "[SHORTCUTS] App uses %INSTALLDIR%" + why},
      // A hidden run without /S or /D= never learns the folder its "?" asks for.
      {"[GUI]\nVisible=0\n[INSTALL]\nA=files\\,?\nB=files\\,C:\\A\n[PATH]\nBin=%INSTALLDIR%\n",
       "[PATH] Bin uses %INSTALLDIR%" + why},
  };
  for (const auto& c : kCases) {
    Rig rig(c.script);
    rig.platform.AddFile("D:\\dist\\files\\1.txt", "1");
    try {
      rig.engine.Run({});
      ADD_FAILURE() << "no error: " << c.script;
    } catch (const EngineError& e) {
      EXPECT_EQ(e.what(), c.error);
    }
    EXPECT_EQ(rig.platform.events, std::vector<std::string>{}) << c.script;
    EXPECT_TRUE(rig.platform.registry.empty()) << c.script;
  }
  Rig old(first + "[REGISTRY]\n1=HKCU\\S\\V,%INSTALLDIR%\\x\n[COMMAND]\n1=%INSTALLDIR%\\x.exe\n");
  old.platform.AddFile("D:\\dist\\files\\1.txt", "1");
  old.engine.Run({});
  EXPECT_EQ(old.platform.ReadRegistryText(kHKCU, "S", "V").text, "%INSTALLDIR%\\x");
  EXPECT_EQ(old.platform.started, (std::vector<std::pair<std::string, int>>{{"%INSTALLDIR%\\x.exe", 1}}));
}

}  // namespace
}  // namespace qv
