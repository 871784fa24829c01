// qvSetup: reads setup.ini beside itself (or the script named on the command
// line), installs what it lists, and ends when the user closes the window or
// at once after a hidden run.
#include <windows.h>

#include "Unit1.h"
#include "application.h"
#include "qvInfoDlg.h"
#include "setup_engine.h"
#include "win32_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  qv::TApplication app;
  app.Icon = ::LoadIconW(instance, L"MAINICON");
  qv::InfoDlg();  // the shared message dialog lives from here to the end
  qv::Win32Platform platform;
  std::vector<std::string> args = qv::SplitCommandLine(::GetCommandLineA());
  if (!args.empty()) args.erase(args.begin());

  qv::TForm1 form(app, platform, qv::ProgramFileName());
  form.FormCreate(args);
  app.Run();
  return 0;
}
