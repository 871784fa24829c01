#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/install_recorder.h"
#include "engine/logging_platform.h"
#include "engine/setup_engine.h"
#include "engine/uninstaller.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

constexpr char kProgram[] = "D:\\dist\\setup.exe";
constexpr char kFolder[] = "C:\\Program Files\\Demo";
constexpr char kSvc[] = "C:\\Program Files\\Demo\\svc.exe";
constexpr char kSpooler[] = "\"C:\\WINDOWS\\system32\\spoolsv.exe\"";

struct Lines : RunLog {
  std::vector<std::string> lines;
  void Line(const std::string& t) override { lines.push_back(t); }
  bool Mentions(const std::string& one, const std::string& other) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(one) != std::string::npos && l.find(other) != std::string::npos;
    });
  }
};

// One run of the setup program over the machine, as the program puts it
// together; gives the failed entries.
int Install(test::FakePlatform& m, Lines& log, const std::function<void(RunState&)>& onPump = nullptr,
            const Placement& placement = {.forWhom = Placement::For::Machine}) {
  test::RecordingWindow window;
  RunState state;
  FolderValues folders;
  RunReport report;
  LoggingPlatform logged(m, &log, report);
  InstallRecorder recorder(logged, m, &log);
  recorder.SetUninstallerWriter([](Platform& p, const std::string& to) { return p.files.CopyOneFile(kProgram, to); });
  SetupEngine engine(recorder, window, state, folders, kProgram);
  engine.SetRecordKeeper(&recorder);
  engine.SetPlacement(placement);
  engine.SetReport(&report);
  engine.SetLog(&log);
  if (onPump) window.onPump = [&] { onPump(state); };
  engine.SetOptions(true, kFolder);
  engine.Run({});
  recorder.Finish();
  return report.failures;
}

std::string Release(bool first) {
  // Somebody else's service comes first, ours after it; the second
  // version no longer has the demand-started one.
  return std::string("[INSTALL]\r\nApp=app\\,?\r\n[SERVICES]\r\nSpooler=%INSTALLDIR%\\svc.exe,Not ours,auto\r\n") +
         (first ? "QvTool=%INSTALLDIR%\\tool.exe,,manual\r\n" : "") +
         "QvAuto=%INSTALLDIR%\\svc.exe,Qv Auto,auto,LocalService,Watches things, and more\r\n"
         "[UNINSTALL]\r\nName=Demo\r\nId=Demo\r\nVersion=" +
         (first ? "1.0" : "1.1") + "\r\n";
}

std::set<std::string> Names(const test::FakePlatform& m) {
  std::set<std::string> names;
  for (const auto& [key, s] : m.services) names.insert(s.name);
  return names;
}

std::size_t At(const std::vector<std::string>& events, const std::string& event) {
  return static_cast<std::size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

// The services of an installation, through its whole life: installed and
// the auto-started one started; taken back with a run quit after them;
// stopped while an update replaces their program and started again after,
// the one the update drops deleted; all deleted by the uninstaller. A
// service of the same name that is somebody else's is never touched.
TEST(Services, LiveAndGoWithTheirInstallationAndNobodyElsesAreTouched) {
  test::FakePlatform m;
  m.elevated = true;
  m.AddFolder("C:\\Program Files");
  m.AddFolder("C:\\TEMP");
  m.AddFile(kProgram, "MZ setup");
  m.AddFile("D:\\dist\\app\\svc.exe", "svc 1");
  m.AddFile("D:\\dist\\app\\tool.exe", "tool");
  m.AddFile("D:\\dist\\setup.ini", Release(true));
  m.services["SPOOLER"] = {"Spooler", {kSpooler, "Print Spooler", ServiceStart::Auto, "", "Prints"}, true};
  const auto spooler = m.services.at("SPOOLER");
  const auto files = [&m] { return m.Tree("C:"); };
  const std::vector<std::string> pristine = files();

  struct Run {
    const char* what;
    bool quit;
  };
  for (const Run run : {Run{"quit after the services", true}, Run{"installed", false}}) {
    SCOPED_TRACE(run.what);
    Lines log;
    const int failures = Install(m, log, [&](RunState& state) {
      if (run.quit && m.ServiceRunning("QvAuto")) state.finished = true;
    });
    EXPECT_EQ(failures, 1);  // the one of somebody else's name
    EXPECT_TRUE(log.Mentions("service not installed: Spooler", "not installed by Demo"));
    EXPECT_EQ(m.services.at("SPOOLER").config, spooler.config);
    EXPECT_TRUE(m.services.at("SPOOLER").running);
    if (run.quit) {
      EXPECT_EQ(Names(m), std::set<std::string>{"Spooler"});
      EXPECT_EQ(files(), pristine);
      continue;
    }
    ASSERT_EQ(Names(m), (std::set<std::string>{"QvAuto", "QvTool", "Spooler"}));
    const ServiceConfig expected{"\"C:\\Program Files\\Demo\\svc.exe\"", "Qv Auto", ServiceStart::Auto,
                                 "NT AUTHORITY\\LocalService", "Watches things, and more"};
    EXPECT_EQ(m.services.at("QVAUTO").config, expected);
    EXPECT_TRUE(m.services.at("QVAUTO").running);
    EXPECT_EQ(m.services.at("QVTOOL").config.start, ServiceStart::Demand);
    EXPECT_EQ(m.services.at("QVTOOL").config.displayName, "QvTool");
    EXPECT_FALSE(m.services.at("QVTOOL").running);
  }

  // An update quit while its files are copied, or after its services: the
  // service runs its earlier program again, as it was configured; the one
  // the update drops is still there.
  m.AddFile("D:\\dist\\app\\svc.exe", "svc 2");
  m.AddFile("D:\\dist\\setup.ini", Release(false));
  const auto installed = m.services;
  for (const std::string after : {"service stop QvAuto", "service start QvAuto"}) {
    SCOPED_TRACE("quit after " + after);
    m.events.clear();
    Lines quit;
    const int failures = Install(m, quit, [&](RunState& state) {
      if (std::count(m.events.begin(), m.events.end(), after)) state.finished = true;
    });
    // Somebody else's service is met only in the services step.
    EXPECT_EQ(failures, after == "service start QvAuto" ? 1 : 0);
    EXPECT_EQ(m.Content(kSvc), "svc 1");
    ASSERT_EQ(Names(m), (std::set<std::string>{"QvAuto", "QvTool", "Spooler"}));
    EXPECT_EQ(m.services.at("QVAUTO").config, installed.at("QVAUTO").config);
    EXPECT_TRUE(m.services.at("QVAUTO").running);
  }

  // The update: the running service's program is replaced in its place
  // (nothing waits for a restart), between its stop and its start.
  m.events.clear();
  Lines log;
  EXPECT_EQ(Install(m, log), 1);
  EXPECT_EQ(m.Content(kSvc), "svc 2");
  EXPECT_TRUE(m.waiting.empty());
  const std::size_t stop = At(m.events, "service stop QvAuto"), start = At(m.events, "service start QvAuto");
  const auto copied = std::find_if(m.events.begin(), m.events.end(),
                                   [](const std::string& e) { return e.rfind("copy D:\\dist\\app\\svc.exe", 0) == 0; });
  ASSERT_LT(start, m.events.size());
  EXPECT_LT(stop, static_cast<std::size_t>(copied - m.events.begin()));
  EXPECT_LT(static_cast<std::size_t>(copied - m.events.begin()), start);
  EXPECT_LT(At(m.events, "service change QvAuto"), start);
  EXPECT_TRUE(m.services.at("QVAUTO").running);
  EXPECT_EQ(Names(m), (std::set<std::string>{"QvAuto", "Spooler"}));

  // The uninstaller stops and deletes the installation's service before its
  // program goes; somebody else's stays, running.
  RunState state;
  state.visible = false;
  test::RecordingWindow window;
  RunReport report;
  Uninstaller uninstaller(m, window, state, report, std::string(kFolder) + "\\uninstall.exe");
  ASSERT_EQ(uninstaller.Read(), Uninstaller::Loaded::Yes);
  ASSERT_EQ(uninstaller.Load(), Uninstaller::Loaded::Yes);
  m.events.clear();
  uninstaller.Run();
  EXPECT_EQ(report.failures, 0);
  EXPECT_EQ(Names(m), std::set<std::string>{"Spooler"});
  EXPECT_TRUE(m.services.at("SPOOLER").running);
  EXPECT_LT(At(m.events, "service stop QvAuto"), At(m.events, "service delete QvAuto"));
  EXPECT_LT(At(m.events, "service delete QvAuto"), At(m.events, "delete " + std::string(kSvc)));
  EXPECT_FALSE(m.IsFile(kSvc));
}

// What a service cannot be installed as is a failed entry, logged with its
// reason, before anything is asked of the Service Control Manager; so is
// one that will not start, with the system's error. The rest of the
// package is installed.
TEST(Services, OneThatCannotBeInstalledAsWrittenOrStartedIsAFailedEntry) {
  const std::string kLoose = "C:\\Loose";
  const struct {
    const char* entry;
    std::function<void(test::FakePlatform&)> arrange;
    Placement placement;
    const char* why;
  } kCases[] = {
      {"%INSTALLDIR%\\svc.exe,,auto", [](test::FakePlatform& m) { m.elevated = false; },
       {.forWhom = Placement::For::User}, "only an elevated installation for all users"},
      {"%INSTALLDIR%\\svc.exe,,auto", [](test::FakePlatform& m) { m.foreignFiles.insert(UpperCase(kSvc)); },
       {}, "other accounts can change"},
      {"C:\\Loose\\svc.exe,,auto",
       [&](test::FakePlatform& m) {
         m.AddFile(kLoose + "\\svc.exe", "svc");
         m.foreignFiles.insert(UpperCase(kLoose));
       },
       {}, "other accounts can change"},
      {"%INSTALLDIR%\\missing.exe,,auto", nullptr, {}, "its program is no file"},
      {"%INSTALLDIR%\\svc.exe,,boot", nullptr, {}, "its start type is"},
      {"%INSTALLDIR%\\svc.exe,,auto,.\\Administrator", nullptr, {}, "its account is"},
      {"svc.exe,,auto", nullptr, {}, "must be a full path"},
      {"%INSTALLDIR%\\svc.exe,,auto", [](test::FakePlatform& m) { m.failingServices.insert("QVSVC"); }, {},
       "(error 1053: The service did not respond"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.entry);
    test::FakePlatform m;
    m.elevated = true;
    m.AddFolder("C:\\Program Files");
    m.AddFile(kProgram, "MZ setup");
    m.AddFile("D:\\dist\\app\\svc.exe", "svc 1");
    m.AddFile("D:\\dist\\setup.ini", std::string("[INSTALL]\r\nApp=app\\,?\r\n[SERVICES]\r\nQvSvc=") + c.entry +
                                         "\r\n[UNINSTALL]\r\nName=Demo\r\n");
    if (c.arrange) c.arrange(m);
    Lines log;
    EXPECT_EQ(Install(m, log, nullptr, c.placement), 1);
    // Installed, not started: the record names it, for the uninstaller.
    const bool made = !m.failingServices.empty();
    EXPECT_TRUE(log.Mentions(made ? "service not started: QvSvc" : "service not installed: QvSvc", c.why));
    EXPECT_EQ(m.services.size(), made ? 1u : 0u);
    EXPECT_TRUE(m.IsFile(kSvc));
  }
}

}  // namespace
}  // namespace qv
