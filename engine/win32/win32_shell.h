// Programs started and what the shell is given, through the Win32 API.
#pragma once

#include "engine/shell.h"
#include "engine/system.h"
#include "engine/win32/native_view.h"

namespace qv {

class Win32Shell : public Shell {
 public:
  Win32Shell(const NativeView& view, System& system) : view_(view), system_(system) {}
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override;
  std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode, const std::string& workingFolder,
                                         StartAs as) override;
  std::vector<HandedCommand> TakeHandedBack() override { return std::move(handedBack_); }
  bool StartWatcher(const std::string& commandLine) override;
  std::optional<int> RunElevated(const std::vector<std::string>& args) override;
  std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) override;
  bool MakeShortcut(const Shortcut& shortcut) override;
  void Announce(Change change, const std::string& folder) override;
  // The command line with a bare program name found in the system folders
  // made a full path; anything else as it is.
  std::string ResolveProgram(const std::string& commandLine);

 private:
  // The program of a command line named apart for CreateProcess.
  std::optional<std::wstring> ProgramApart(const std::string& program) const;

  // A command line ready for CreateProcess: the command, the program
  // named apart (empty: none) and the working folder (empty: ours).
  struct Prepared {
    std::wstring command, program, folder;
  };
  std::optional<Prepared> Prepare(const std::string& commandLine, const std::string& workingFolder);

  const NativeView& view_;
  System& system_;
  std::vector<HandedCommand> handedBack_;
};

// An elevated run started again by RunElevated hands its ASUSER commands
// back through `channel` (what kHandBackSwitch says): a pipe only the run
// that started it reads. False when it cannot.
bool HandBack(const std::string& channel, const std::vector<HandedCommand>& commands);

}  // namespace qv
