// COMMAND entries carried out, by the installer and by the uninstaller
// alike: started, waited for and judged by their exit code, skipped, or
// handed to the first start of an elevated run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/entries.h"
#include "engine/platform.h"
#include "engine/run_report.h"
#include "engine/setup_window.h"

namespace qv {

class CommandRunner {
 public:
  // report: where failed commands and restarts are counted (start failures
  // the logging platform counts itself).
  CommandRunner(Platform& platform, RunLog* log, RunReport* report) : platform_(platform), log_(log), report_(report) {}

  // A shown run: SKIPIFSILENT runs, ONLYIFSILENT is skipped.
  void SetVisible(bool visible) { visible_ = visible; }
  // This elevated run was started again by a run without the rights,
  // which starts what this one hands back as the person once it ends.
  void SetHandBack(bool handBack) { handBack_ = handBack; }
  // Handles the window's events while a command is waited for; true when
  // the run stops (the wait ends, the program runs on).
  void SetPump(std::function<bool()> pump) { pump_ = std::move(pump); }

  enum class Outcome {
    Done,        // started (and, waited for, ended well), skipped or handed back
    NotStarted,  // could not start (logged and counted)
    Failed,      // ended with a code not taken for success (logged and counted)
    Restart,     // ended asking for a restart (a success)
    Stopped,     // the run stopped while waiting
  };
  // The command now; UNINSTALL is the caller's to keep.
  Outcome Run(const CommandEntry& command);

  // Starts a command line as the person who started setup, never with
  // administrator rights: handed back to the first start from a run it
  // started again for them, as it is from a run without them, else with
  // the desktop's person's account; none when started elsewhere or not at all.
  std::unique_ptr<StartedProgram> StartAsPerson(const std::string& commandLine, int showCode,
                                                const std::string& workingFolder = {});
  // What this run hands back to its first start, in order.
  const std::vector<HandedCommand>& HandedBack() const { return handedBack_; }

 private:
  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }
  Outcome WaitFor(const CommandEntry& command, StartedProgram& program);

  Platform& platform_;
  RunLog* log_;
  RunReport* report_;
  bool visible_ = true;
  bool handBack_ = false;
  std::function<bool()> pump_;
  std::vector<HandedCommand> handedBack_;
};

}  // namespace qv
