// qvSetup: reads setup.ini beside itself (or the script named on the command
// line), installs what it lists, and ends when the user closes the window or
// at once after a hidden run.
#include <windows.h>

#include "application.h"
#include "plain_window.h"
#include "setup_engine.h"
#include "win32_platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qv::TApplication app;
  qv::Win32Platform platform;
  std::vector<std::string> args = qv::SplitCommandLine(::GetCommandLineA());
  if (!args.empty()) args.erase(args.begin());

  qv::PlainSetupForm form(app, platform, qv::ProgramFileName());
  form.Create(args);
  app.Run();
  return 0;
}
