#include <gtest/gtest.h>

#include <algorithm>

#include "engine/install_recorder.h"
#include "engine/logging_platform.h"
#include "engine/setup_engine.h"
#include "engine/uninstaller.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

constexpr char kProgram[] = "D:\\dist\\setup.exe";
constexpr char kFolder[] = "C:\\Program Files\\Demo";

struct Lines : RunLog {
  std::vector<std::string> lines;
  void Line(const std::string& t) override { lines.push_back(t); }
  // A line that says each of these.
  bool Says(const std::vector<const char*>& parts) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return std::all_of(parts.begin(), parts.end(), [&](const char* p) { return l.find(p) != std::string::npos; });
    });
  }
};

test::FakePlatform Machine() {
  test::FakePlatform m;
  m.AddFolder("C:\\Program Files");
  m.AddFolder("C:\\TEMP");
  m.AddFile(kProgram, "MZ setup");
  m.AddFile("D:\\dist\\app\\a.txt", "a");
  return m;
}

// How a run went: its exit code, what it handed back, its log.
struct Ran {
  int exitCode = 0;
  std::vector<HandedCommand> handedBack;
  Lines log;
};

struct RunOptions {
  bool shown = false;
  bool handBack = false;
  // Plays the person at each pump.
  std::function<void(RunState&)> onPump;
};

// The real engine, recorder and logging platform over the machine, as the
// program puts them together.
void Install(test::FakePlatform& machine, Ran& ran, const RunOptions& o = {}) {
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  RunReport report;
  LoggingPlatform logged(machine, &ran.log, report);
  InstallRecorder recorder(logged, machine, &ran.log);
  recorder.SetUninstallerWriter([](Platform& p, const std::string& to) { return p.files.CopyOneFile(kProgram, to); });
  SetupEngine engine(recorder, window, state, folders, kProgram);
  engine.SetLog(&ran.log);
  engine.SetRecordKeeper(&recorder);
  engine.SetReport(&report);
  engine.SetHandBack(o.handBack);
  engine.SetOptions(!o.shown, std::string(kFolder));
  if (o.onPump) window.onPump = [&] { o.onPump(state); };
  engine.Run({});
  recorder.Finish();
  ran.exitCode = ExitCodeOf(report, state.userQuit);
  ran.handedBack = engine.HandedBack();
}

void Uninstall(test::FakePlatform& machine, Ran& ran) {
  test::RecordingWindow window;
  RunState state;
  state.visible = false;
  RunReport report;
  LoggingPlatform logged(machine, &ran.log, report);
  Uninstaller uninstaller(logged, window, state, report, std::string(kFolder) + "\\uninstall.exe");
  uninstaller.SetLog(&ran.log);
  ASSERT_EQ(uninstaller.Read(), Uninstaller::Loaded::Yes);
  ASSERT_EQ(uninstaller.Load(), Uninstaller::Loaded::Yes);
  uninstaller.Run();
  ran.exitCode = ExitCodeOf(report, state.userQuit);
}

// The programs started, each as "<command line>" or "<command line> as the person".
std::vector<std::string> Launched(const test::FakePlatform& m) {
  std::vector<std::string> out;
  for (const std::string& e : m.events)
    if (e.rfind("launch ", 0) == 0 || e.rfind("start ", 0) == 0) out.push_back(e.substr(e.find(' ') + 1));
  return out;
}

TEST(CommandWords, WaitedForJudgedByTheirCodesSkippedOrStartedAsThePerson) {
  enum class Who { Person, Elevated, Relaunched, SystemWithoutPerson };
  struct Case {
    const char* name;
    const char* commands;  // the [COMMAND] section's lines
    std::uint32_t exitCode;  // fix.exe's, which runs for 4 seconds
    bool shown;
    Who who;
    int runExit;
    std::vector<std::string> started;
    std::vector<const char*> said;  // parts of one log line
    std::vector<std::string> handedBack;
  } cases[] = {
      {"a code listed in OK=", "1=fix.exe /q,HIDE,WAIT,OK=0 1638\n", 1638, false, Who::Person, kExitOk,
       {"fix.exe /q"}, {"waited", "exit code 1638", "fix.exe /q"}, {}},
      {"any other code fails the entry", "1=fix.exe /q,HIDE,WAIT,OK=0 1638\n2=next.exe,HIDE\n", 5, false,
       Who::Person, kExitEntryFailed, {"fix.exe /q", "next.exe"}, {"command failed", "exit code 5", "fix.exe /q"}, {}},
      {"3010 asks for a restart", "1=fix.exe,HIDE,WAIT\n", 3010, false, Who::Person, kExitRestartNeeded,
       {"fix.exe"}, {"exit code 3010", "restart"}, {}},
      {"so does a code in RESTART=", "1=fix.exe,HIDE,WAIT,RESTART=7\n", 7, false, Who::Person, kExitRestartNeeded,
       {"fix.exe"}, {"exit code 7", "restart"}, {}},
      {"not waited for, the code is not looked at", "1=fix.exe,HIDE\n", 5, false, Who::Person, kExitOk,
       {"fix.exe"}, {"started: fix.exe (show 0)"}, {}},
      {"the old meaning of a last field that is no show word", "1=fix.exe,WAIT\n", 5, false, Who::Person, kExitOk,
       {"fix.exe"}, {"started: fix.exe (show 1)"}, {}},
      {"hidden run", "1=a.exe,HIDE,SKIPIFSILENT\n2=b.exe,HIDE,ONLYIFSILENT\n", 0, false, Who::Person, kExitOk,
       {"b.exe"}, {"skipped", "a.exe"}, {}},
      {"shown run", "1=a.exe,HIDE,SKIPIFSILENT\n2=b.exe,HIDE,ONLYIFSILENT\n", 0, true, Who::Person, kExitOk,
       {"a.exe"}, {"skipped", "b.exe"}, {}},
      {"ASUSER in the person's own run", "1=fix.exe,SHOW,ASUSER,WAIT\n", 5, false, Who::Person, kExitEntryFailed,
       {"fix.exe"}, {"exit code 5"}, {}},
      {"ASUSER in an elevated run started by the person's", "1=fix.exe,SHOW,ASUSER,WAIT\n", 5, false,
       Who::Relaunched, kExitOk, {}, {"handed back", "fix.exe"}, {"fix.exe"}},
      {"ASUSER in a run started elevated", "1=fix.exe,SHOW,ASUSER\n", 0, false, Who::Elevated, kExitOk,
       {"fix.exe as the person"}, {"started: fix.exe (show 1) as the person"}, {}},
      {"ASUSER under the system account without a person", "1=fix.exe,SHOW,ASUSER,WAIT\n2=next.exe,HIDE\n", 0,
       false, Who::SystemWithoutPerson, kExitOk, {"next.exe"}, {"skipped", "no person at the desktop", "fix.exe"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakePlatform m = Machine();
    m.AddFile("D:\\dist\\setup.ini", std::string("[INSTALL]\nApp=app\\,?\n[COMMAND]\n") + c.commands);
    m.behaviours["FIX.EXE"] = {c.exitCode, 4000};
    m.elevated = c.who != Who::Person;
    m.person = c.who != Who::SystemWithoutPerson;
    Ran ran;
    Install(m, ran, {.shown = c.shown, .handBack = c.who == Who::Relaunched, .onPump = nullptr});
    EXPECT_EQ(ran.exitCode, c.runExit);
    EXPECT_EQ(Launched(m), c.started);
    EXPECT_TRUE(ran.log.Says(c.said)) << c.said[0];
    std::vector<std::string> handed;
    for (const HandedCommand& h : ran.handedBack) handed.push_back(h.commandLine);
    EXPECT_EQ(handed, c.handedBack);
  }
}

TEST(CommandWords, UninstallCommandsRunBeforeTheFilesGoNeverAtTheInstallationNorItsUndo) {
  test::FakePlatform m = Machine();
  m.behaviours["C:\\PROGRAM FILES\\DEMO\\UNREG.EXE"] = {9, 2000};
  m.behaviours["LONG.EXE"] = {0, 60000};
  const auto script = [](const std::string& option, const std::string& more) {
    return "[INSTALL]\nApp=app\\,?\n[COMMAND]\n1=\"%INSTALLDIR%\\unreg.exe\" " + option + ",HIDE,UNINSTALL,OK=0 4\n" +
           more + "[UNINSTALL]\nName=Demo\nVersion=1.0\n";
  };
  m.AddFile("D:\\dist\\setup.ini", script("/first", ""));
  Ran first;
  Install(m, first);
  ASSERT_EQ(first.exitCode, kExitOk);
  EXPECT_TRUE(Launched(m).empty());
  EXPECT_TRUE(first.log.Says({"kept for the uninstaller", "unreg.exe\" /first"}));

  // Installed again with another command: only this run's is kept.
  m.AddFile("D:\\dist\\setup.ini", script("/second", ""));
  Ran second;
  Install(m, second);
  ASSERT_EQ(second.exitCode, kExitOk);

  // A third run, quit while it waits: undone, its command never run, the
  // program it waited for left running.
  m.AddFile("D:\\dist\\setup.ini", script("/third", "2=long.exe,HIDE,WAIT\n"));
  m.events.clear();
  Ran quit;
  Install(m, quit, {.shown = false, .handBack = false, .onPump = [&m](RunState& s) {
                      if (!m.launched.empty() && m.launched.back()->left > 0) s.finished = s.userQuit = true;
                    }});
  EXPECT_EQ(quit.exitCode, kExitUserQuit);
  EXPECT_EQ(Launched(m), std::vector<std::string>{"long.exe"});
  EXPECT_GT(m.launched.back()->left, 0u);
  EXPECT_TRUE(quit.log.Says({"stopped waiting", "long.exe"}));
  EXPECT_TRUE(quit.log.Says({"undoing"}));

  m.events.clear();
  Ran removed;
  Uninstall(m, removed);
  EXPECT_EQ(Launched(m), std::vector<std::string>{"\"C:\\Program Files\\Demo\\unreg.exe\" /second"});
  // Waited for before the first file went; its failure did not stop the removal.
  const auto launch =
      std::find(m.events.begin(), m.events.end(), "launch \"C:\\Program Files\\Demo\\unreg.exe\" /second");
  const auto firstDelete = std::find_if(m.events.begin(), m.events.end(),
                                        [](const std::string& e) { return e.rfind("delete ", 0) == 0; });
  EXPECT_LT(launch, firstDelete);
  EXPECT_TRUE(removed.log.Says({"command failed", "exit code 9", "unreg.exe\" /second"}));
  EXPECT_FALSE(m.IsFile(std::string(kFolder) + "\\a.txt"));
  EXPECT_EQ(removed.exitCode, kExitEntryFailed);
}

}  // namespace
}  // namespace qv
