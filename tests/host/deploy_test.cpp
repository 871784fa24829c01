#include <gtest/gtest.h>

#include <algorithm>

#include "engine/command_line.h"
#include "engine/logging_platform.h"
#include "engine/setup_engine.h"
#include "engine/setup_texts.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

TEST(Options, ParsedAnywhereAndCaseBlind) {
  struct Case {
    std::vector<std::string> args;
    bool silent;
    std::optional<std::string> dir, log;
    std::vector<std::string> script;
    std::string bad;
  } cases[] = {
      {{}, false, std::nullopt, std::nullopt, {}, ""},
      {{"a.ini"}, false, std::nullopt, std::nullopt, {"a.ini"}, ""},
      {{"/S", "a.ini"}, true, std::nullopt, std::nullopt, {"a.ini"}, ""},
      {{"a.ini", "/s", "/d=C:\\My App", "/Log=C:\\x.log"}, true, "C:\\My App", "C:\\x.log", {"a.ini"}, ""},
      {{"/D=D:\\X", "/LOG=l.txt", "b.ini", "extra"}, false, "D:\\X", "l.txt", {"b.ini", "extra"}, ""},
      {{"/D=C:/My App/", "/LOG=C:/logs/../x.log"}, false, "C:\\My App\\", "C:\\x.log", {}, ""},
      {{"/Q", "/S", "/help"}, true, std::nullopt, std::nullopt, {}, "/Q"},
      {{"/D="}, false, std::nullopt, std::nullopt, {}, "/D="},
      {{"/SILENT"}, false, std::nullopt, std::nullopt, {}, "/SILENT"},
      {{"/allowdowngrade", "/CloseApplications", "/NOCLOSEAPPLICATIONS"}, false, std::nullopt, std::nullopt, {}, ""},
  };
  for (const auto& c : cases) {
    const CommandLineOptions o = ParseOptions(c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(o.silent, c.silent) << what;
    EXPECT_EQ(o.installDir, c.dir) << what;
    EXPECT_EQ(o.logFile, c.log) << what;
    EXPECT_EQ(o.scriptArgs, c.script) << what;
    EXPECT_EQ(o.badOption, c.bad) << what;
  }
}

TEST(Options, ExitCodes) {
  struct Case {
    RunReport report;
    bool quit;
    int code;
  } cases[] = {
      {{true, 0, false}, false, kExitOk},         {{true, 2, false}, false, kExitEntryFailed},
      {{false, 0, false}, false, kExitNoScript},  {{false, 3, false}, false, kExitNoScript},
      {{true, 1, false}, true, kExitUserQuit},    {{true, 0, true}, true, kExitError},
      // Done but for a restart: success, unless anything else is to be said.
      {{true, 0, false, true}, false, kExitRestartNeeded}, {{true, 1, false, true}, false, kExitEntryFailed},
      {{true, 0, false, true}, true, kExitUserQuit},       {{true, 0, true, true}, false, kExitError},
      // A damaged package says so before anything else.
      {{true, 2, true, true, true}, true, kExitPackageDamaged},
      // A newer version installed: nothing was done, whatever else.
      {{true, 0, true, false, false, true}, true, kExitNewerInstalled},
  };
  for (const auto& c : cases) EXPECT_EQ(ExitCodeOf(c.report, c.quit), c.code);
}

struct Lines : RunLog {
  std::vector<std::string> lines;
  void Line(const std::string& t) override { lines.push_back(t); }
  bool Has(const std::string& prefix) const {
    for (const auto& l : lines)
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
};

// An engine over the in-memory machine, through the logging platform, that
// writes its log to `log` and counts into `report`.
struct LoggedRun {
  test::FakePlatform fake;
  Lines log;
  RunReport report;
  LoggingPlatform platform{fake, &log, report};
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  SetupEngine engine{platform, window, state, folders, "D:\\dist\\setup.exe"};
  LoggedRun() { engine.SetLog(&log); }
};

TEST(Log, AMixedRunLeavesOneLinePerAction) {
  LoggedRun run;
  test::FakePlatform& fake = run.fake;
  fake.AddFolder("C:\\Program Files");
  fake.AddFile("D:\\dist\\setup.ini",
               "[INSTALL]\nA=files\\,C:\\App\nB=deep\\,C:\\Deep\n[REGISTRY]\n1=HKCU\\S\\V,DWORD:1\n2=NOPE\\S\\W,x\n"
               "[COMMAND]\n1=,HIDE\n2=tool.exe,MAXIMIZE\n");
  fake.AddFile("D:\\dist\\files\\ok.txt", "o");
  fake.AddFile("D:\\dist\\files\\locked.txt", "l");
  fake.failingCopies.insert("D:\\DIST\\FILES\\LOCKED.TXT");
  fake.AddFile("D:\\dist\\deep\\far.txt", "f");
  fake.failingSearches.insert("D:\\DIST\\DEEP\\*.*");
  run.engine.Run({});
  run.report.scriptFound = run.engine.ScriptFound();

  for (const char* line : {"folders: PROGRAMFILESDIR=C:\\Program Files", "script: D:\\dist\\setup.ini",
                           "folder created: C:\\App", "copied: D:\\dist\\files\\ok.txt -> C:\\App\\ok.txt",
                           "not copied: D:\\dist\\files\\locked.txt -> C:\\App\\locked.txt (error 5: Access is denied.)",
                           "registry value written: HKCU\\S value \"V\" REG_DWORD",
                           "registry value not written: unknown root", "not started:  (show 0)",
                           "started: tool.exe (show 3)", "not searched: D:\\dist\\deep\\*.* (error 5: Access is denied.)"})
    EXPECT_TRUE(run.log.Has(line)) << line;
  // The locked file, the search that could not look, the unknown root, the
  // empty command.
  EXPECT_EQ(run.report.failures, 4);
  EXPECT_EQ(ExitCodeOf(run.report, run.state.userQuit), kExitEntryFailed);
}

TEST(Log, CommandLineFolderAndHiddenRun) {
  LoggedRun run;
  run.fake.AddFolder("C:\\Program Files");
  run.fake.AddFile("D:\\dist\\setup.ini", "[GUI]\nVisible=1\n[INSTALL]\nApp=files\\,?\n");
  run.fake.AddFile("D:\\dist\\files\\a.txt", "a");
  run.engine.SetOptions(true, std::string("E:\\Target"));
  run.engine.Run({});
  EXPECT_FALSE(run.state.visible);
  EXPECT_TRUE(run.window.terminated);
  EXPECT_TRUE(run.window.Calls("pathBox").empty());  // no prompt
  EXPECT_EQ(run.folders.install, "E:\\Target");
  EXPECT_TRUE(run.log.Has("install folder for App from the command line: E:\\Target"));
}

TEST(Log, AFileInUseIsReplacedAtTheNextRestartOnlyWithAdministratorRights) {
  for (const bool elevated : {true, false}) {
    SCOPED_TRACE(elevated ? "elevated" : "not elevated");
    LoggedRun run;
    test::FakePlatform& fake = run.fake;
    fake.elevated = elevated;
    fake.AddFile("C:\\App\\held.dll", "old");
    fake.heldFiles.insert("C:\\APP\\HELD.DLL");
    fake.AddFile("D:\\dist\\setup.ini", "[INSTALL]\nA=files\\,C:\\App\n");
    fake.AddFile("D:\\dist\\files\\held.dll", "new");
    fake.AddFile("D:\\dist\\files\\free.txt", "free");
    run.engine.Run({});
    EXPECT_EQ(ExitCodeOf(run.report, run.state.userQuit), elevated ? kExitRestartNeeded : kExitEntryFailed);
    EXPECT_EQ(run.log.Has("in use: C:\\App\\held.dll, replaced at the next restart by C:\\App\\"), elevated);
    EXPECT_EQ(fake.Content("C:\\App\\held.dll"), "old");
    EXPECT_EQ(fake.Content("C:\\App\\free.txt"), "free");
    const std::vector<std::string> status = run.window.Calls("status OK");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back(), std::string("status ") + (elevated ? texts::kFinishedRestart : texts::kFinished));
  }
}

// A running program that holds a file the run replaces: closed when the
// person agrees (shown) or /CLOSEAPPLICATIONS says so, and started again at
// the end when it registered for that; otherwise the file waits for the
// restart, as it always has.
TEST(Log, AProgramHoldingAFileIsClosedOnlyWhenAllowedAndStartedAgain) {
  using Close = CommandLineOptions::Close;
  struct Case {
    const char* what;
    bool shown;
    Close close;
    bool answer, staysOpen;
    bool closed;
  } cases[] = {
      {"hidden", false, Close::Ask, true, false, false},
      {"hidden, /CLOSEAPPLICATIONS", false, Close::Always, true, false, true},
      {"hidden, /CLOSEAPPLICATIONS, refuses to close", false, Close::Always, true, true, false},
      {"shown, yes", true, Close::Ask, true, false, true},
      {"shown, no", true, Close::Ask, false, false, false},
      {"shown, /NOCLOSEAPPLICATIONS", true, Close::Never, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoggedRun run;
    test::FakePlatform& fake = run.fake;
    fake.elevated = true;
    fake.AddFile("C:\\App\\app.exe", "old");
    fake.heldFiles.insert("C:\\APP\\APP.EXE");
    fake.programs["C:\\APP\\APP.EXE"] = {"Demo App", 42, true};
    if (c.staysOpen) fake.staysOpen.insert(42);
    fake.AddFile("D:\\dist\\setup.ini", std::string("[GUI]\nVisible=") + (c.shown ? "1" : "0") +
                                            "\n[INSTALL]\nA=files\\,C:\\App\n");
    fake.AddFile("D:\\dist\\files\\app.exe", "new");
    run.window.answer = c.answer;
    run.engine.SetCloseApplications(c.close);
    run.engine.Run({});
    EXPECT_EQ(run.window.Calls("ask ").size(), c.shown && c.close == Close::Ask ? 1u : 0u);
    EXPECT_EQ(fake.Content("C:\\App\\app.exe"), c.closed ? "new" : "old");
    EXPECT_EQ(ExitCodeOf(run.report, run.state.userQuit), c.closed ? kExitOk : kExitRestartNeeded);
    const bool restarted = std::count(fake.events.begin(), fake.events.end(), "restart Demo App") == 1;
    EXPECT_EQ(restarted, c.closed);
    EXPECT_TRUE(run.log.Has("in use by running programs: Demo App (process 42)"));
  }
}

// The finished window offers to start the program, ticked; what it starts
// when the window closes follows the shortcut it names, or the program.
TEST(Log, TheFinishedWindowStartsTheProgramOnlyWhenThePersonKeepsItChosen) {
  struct Case {
    const char* runAfter;
    bool shown, ticked, elevated;
    const char* started;  // empty: nothing
  } cases[] = {
      {"Acme\\Notes", true, true, false, "\"C:\\Acme Notes\\notes.exe\" --welcome in C:\\Acme Notes\\data"},
      {"%STARTMENU%\\Acme\\Notes.lnk", true, true, false,
       "\"C:\\Acme Notes\\notes.exe\" --welcome in C:\\Acme Notes\\data"},
      {"%INSTALLDIR%\\notes.exe", true, true, false, "\"C:\\Acme Notes\\notes.exe\""},
      // Never with the rights the run was given.
      {"%INSTALLDIR%\\notes.exe", true, true, true, "\"C:\\Acme Notes\\notes.exe\" as the person"},
      {"Acme\\Notes", true, false, false, ""},
      {"Acme\\Notes", false, true, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.runAfter) + (c.shown ? " shown" : " hidden") + (c.ticked ? "" : " unticked"));
    LoggedRun run;
    test::FakePlatform& fake = run.fake;
    fake.elevated = c.elevated;
    fake.AddFile("D:\\dist\\setup.ini",
                 std::string("[SETUP]\nName=Acme Notes\nRunAfter=") + c.runAfter + "\n[GUI]\nVisible=" + (c.shown ? "1" : "0") +
                     "\n[INSTALL]\nNotes=files\\,?\n[SHORTCUTS]\n"
                     "Acme\\Notes=%INSTALLDIR%\\notes.exe,STARTMENU,--welcome,,,%INSTALLDIR%\\data\n");
    fake.AddFile("D:\\dist\\files\\notes.exe", "n");
    run.engine.SetOptions(!c.shown, std::string("C:\\Acme Notes"));
    run.engine.Run({});
    EXPECT_EQ(run.window.Calls("offer ").size(), c.shown ? 1u : 0u);
    if (c.shown) {
      EXPECT_EQ(run.window.Calls("offer ")[0], "offer 立即启动 Acme Notes");
    }
    if (!c.ticked) run.state.startAfter = false;
    fake.events.clear();
    run.engine.StartChosen();
    const std::vector<std::string> expected =
        *c.started ? std::vector<std::string>{std::string("launch ") + c.started} : std::vector<std::string>{};
    EXPECT_EQ(fake.events, expected);
  }
}

TEST(Log, AMissingScriptIsReported) {
  LoggedRun run;
  run.engine.Run({"other.ini"});
  EXPECT_FALSE(run.engine.ScriptFound());
  EXPECT_TRUE(run.log.Has("script not found: D:\\dist\\other.ini"));
}

}  // namespace
}  // namespace qv
