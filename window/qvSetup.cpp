// qvSetup: reads setup.ini beside itself (or the script named on the command
// line), installs what it lists, and ends when the user closes the window or
// at once after a hidden run. Deployment tools read its exit code and log.
#include <windows.h>

#include <memory>

#include "Unit1.h"
#include "application.h"
#include "command_line.h"
#include "dll_safety.h"
#include "logging_platform.h"
#include "qvInfoDlg.h"
#include "setup_engine.h"
#include "texts.h"
#include "win32_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  qv::RestrictDllSearch();
  qv::TApplication app;
  app.Icon = ::LoadIconW(instance, L"MAINICON");
  qv::InfoDlg();  // the shared message dialog lives from here to the end
  std::vector<std::string> args = qv::SplitCommandLine(::GetCommandLineA());
  if (!args.empty()) args.erase(args.begin());
  const qv::CommandLineOptions options = qv::ParseOptions(args);

  std::unique_ptr<qv::FileLog> log;
  std::string bad = options.badOption;
  if (bad.empty() && options.logFile) {
    log = std::make_unique<qv::FileLog>(options.logFile->c_str());
    if (!log->Opened()) bad = "/LOG=" + *options.logFile;
  }
  if (!bad.empty()) {
    if (log) log->Line("bad command line: " + bad);
    if (!options.silent) qv::InfoDlg().MsgBox(std::string(qv::texts::kBadOption) + bad, qv::texts::kWarning, 48);
    return qv::kExitBadCommandLine;
  }

  qv::Win32Platform system;
  qv::RunReport report;
  qv::LoggingPlatform platform(system, log.get(), report);
  qv::TForm1 form(app, platform, qv::ProgramFileName());
  form.SetLog(log.get());
  form.SetSilent(options.silent);
  form.Engine().SetOptions(options.silent, options.installDir);
  form.FormCreate(options.scriptArgs);
  app.Run();

  report.scriptFound = form.Engine().ScriptFound();
  report.error = form.ErrorEnded();
  const int code = qv::ExitCodeOf(report, form.State().userQuit);
  if (log) log->Line("exit code " + std::to_string(code));
  return code;
}
