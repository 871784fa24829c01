// Programs started (now, elevated, as the limited half, after this run)
// and what the shell is given: shortcuts and news of changes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// A shell shortcut (.lnk file). Empty fields are not set: the shell then
// takes the target's own icon, and no working folder.
struct Shortcut {
  std::string file;  // the .lnk's own path
  std::string target;
  std::string arguments;
  std::string iconFile;
  int iconIndex = 0;
  std::string workingFolder;
  std::string description;
};

// What the shell and the running programs are told has changed.
enum class Change {
  Associations,  // file types and their programs (SHCNE_ASSOCCHANGED)
  Folder,        // the contents of one folder
  Environment,   // the environment variables kept in the registry
};

// A program started to be waited for. Letting go of it lets go of the
// hold on it, never of the program: it runs on.
class StartedProgram {
 public:
  virtual ~StartedProgram() = default;
  // Waits at most this long for it to end: true once it has.
  virtual bool Wait(unsigned milliseconds) = 0;
  // What it ended with (once Wait said so).
  virtual std::uint32_t ExitCode() = 0;
};

// Whose program: this run's account, or the person at the desktop without
// administrator rights (never the system account).
enum class StartAs { Run, Person };

// A command an elevated run started again hands back to its first start,
// which runs it as the person once that run has ended.
struct HandedCommand {
  std::string commandLine;
  int showCode = 1;
  std::string workingFolder;  // empty: the first start's own
};

class Shell {
 public:
  virtual ~Shell() = default;

  // Starts a program without waiting for it to end; with a working folder
  // when one is given, else in the caller's.
  virtual bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) = 0;
  // Starts a program as StartProgram does, but without waiting for its
  // first window, and holds on to it; null when it could not start. As
  // the person from an elevated run: with the desktop shell's account, or
  // under the system account the console's person's; null when there is
  // none (LastError says why).
  virtual std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode,
                                                 const std::string& workingFolder, StartAs as) = 0;
  // What the last run started by RunElevated handed back (taken once).
  virtual std::vector<HandedCommand> TakeHandedBack() { return {}; }
  // Starts a program that acts once this process has ended: it gets a
  // handle to this process, which it may wait on, and that handle's number
  // as the last word of its command line; nothing else of ours. It starts
  // hidden, in the system folder.
  virtual bool StartWatcher(const std::string& commandLine) = 0;
  // Starts this program again through the system's elevation prompt with
  // these arguments and waits for it to end: its exit code. None when the
  // person declined; LastError tells other failures apart.
  virtual std::optional<int> RunElevated(const std::vector<std::string>& args) = 0;
  // Starts this program again as this account without its administrator
  // rights (its limited half) and waits for it: its exit code, or none
  // when it could not be started (LastError tells why).
  virtual std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) = 0;
  // Makes a shortcut through the shell's own shortcut object, replacing a
  // file of its name; its folder must exist.
  virtual bool MakeShortcut(const Shortcut& shortcut) = 0;
  // Tells the shell (and for the environment, every top-level window, each
  // given a few seconds at most: a hung one cannot stop the run).
  virtual void Announce(Change change, const std::string& folder) = 0;
};

}  // namespace qv
