#include "engine/commands.h"

#include <cstdio>

namespace qv {

namespace {

// Long enough to cost nothing, short enough that the window answers at once.
constexpr unsigned kWaitSliceMs = 50;

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u s", ms / 1000, ms % 1000 / 100);
  return text;
}

}  // namespace

std::unique_ptr<StartedProgram> CommandRunner::StartAsPerson(const std::string& commandLine, int showCode,
                                                             const std::string& workingFolder) {
  if (handBack_) {
    // The run that asked for the rights is the person's own: it starts it
    // (whatever rights this run was given).
    handedBack_.push_back({commandLine, showCode, workingFolder});
    Log("handed back: the run without administrator rights starts it as the person once this run ends: " +
        commandLine);
    return nullptr;
  }
  return platform_.shell.Launch(commandLine, showCode, workingFolder,
                                platform_.rights.Elevated() ? StartAs::Person : StartAs::Run);
}

CommandRunner::Outcome CommandRunner::Run(const CommandEntry& c) {
  if (c.skipIfSilent && !visible_) {
    Log("skipped (SKIPIFSILENT, a hidden run): " + c.commandLine);
    return Outcome::Done;
  }
  if (c.onlyIfSilent && visible_) {
    Log("skipped (ONLYIFSILENT, a shown run): " + c.commandLine);
    return Outcome::Done;
  }
  if (!c.wait && !c.asUser) {
    // As it always was.
    return platform_.shell.StartProgram(c.commandLine, c.showCode, {}) ? Outcome::Done : Outcome::NotStarted;
  }
  std::unique_ptr<StartedProgram> program;
  if (c.asUser) {
    const std::size_t handed = handedBack_.size();
    program = StartAsPerson(c.commandLine, c.showCode);
    if (handedBack_.size() > handed) {
      if (c.wait) Log("not waited for (started after this run): " + c.commandLine);
      return Outcome::Done;
    }
    // Nobody to start it for: skipped, as logged.
    if (!program && platform_.system.LastError().code == kErrorNoPerson) return Outcome::Done;
  } else {
    program = platform_.shell.Launch(c.commandLine, c.showCode, {}, StartAs::Run);
  }
  if (!program) return Outcome::NotStarted;
  return c.wait ? WaitFor(c, *program) : Outcome::Done;
}

CommandRunner::Outcome CommandRunner::WaitFor(const CommandEntry& c, StartedProgram& program) {
  const std::uint32_t start = platform_.system.Ticks();
  while (!program.Wait(kWaitSliceMs)) {
    if (pump_ && pump_()) {
      Log("stopped waiting after " + Seconds(platform_.system.Ticks() - start) +
          " (the run stops; the program runs on): " + c.commandLine);
      return Outcome::Stopped;
    }
  }
  const std::uint32_t code = program.ExitCode();
  const std::string ended = "waited " + Seconds(platform_.system.Ticks() - start) + ", exit code " +
                            std::to_string(code) + ": " + c.commandLine;
  if (RestartCode(c, code)) {
    Log(ended + " (a restart completes it)");
    if (report_) report_->restartNeeded = true;
    return Outcome::Restart;
  }
  if (SuccessCode(c, code)) {
    Log(ended);
    return Outcome::Done;
  }
  std::string ok;
  for (const std::uint32_t k : c.okCodes) ok += (ok.empty() ? "" : " ") + std::to_string(k);
  Log("command failed: " + ended + " (taken for success: " + ok + ")");
  if (report_) ++report_->failures;
  return Outcome::Failed;
}

}  // namespace qv
