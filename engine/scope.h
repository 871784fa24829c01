// For whom and for which processor a package installs: what its [SETUP]
// section says, what the command line adds, and what the run's rights make
// of them, decided before anything is shown or installed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "engine/platform.h"
#include "engine/script.h"
#include "engine/setup_section.h"
#include "engine/setup_window.h"

namespace qv {

// Where this run's pieces go.
struct Placement {
  // Legacy: no scope said anywhere, the rules of old (the registration
  // where the machine lets it, the new folders as for auto).
  enum class For { Legacy, Machine, User } forWhom = For::Legacy;
  Architecture architecture = Architecture::X86;
  // Whether this run's per-user places are the all-users ones.
  bool AllUsers(bool elevated) const {
    return forWhom == For::Machine || (forWhom == For::Legacy && elevated);
  }
};

struct RunRights {
  bool elevated = false;
  bool limitedAdministrator = false;  // an administrator without his rights, asked at a consent prompt
  bool windows64 = false;
  // Elevated, with an unelevated half of the same account (a split token).
  bool limitedHalf = false;
};

struct RightsDecision {
  // Unelevate: one person's installation, in an elevated run of an account
  // whose unelevated programs can change what it relies on (HKCU): done by
  // that unelevated half, so that every later run can trust its record.
  enum class Next { Run, Elevate, Unelevate, Refuse } next = Next::Run;
  Placement placement;
  int exitCode = 0;  // when refused
  std::string why;   // a line for the log; the warning when refused
};

RightsDecision DecideRights(const SetupSection& setup, const CommandLineOptions& options, const RunRights& rights);

// An uninstaller's: an installation registered for all users needs the
// rights to take it away; one person's never asks.
RightsDecision UninstallRights(std::uint32_t registrationRoot, bool native64, const CommandLineOptions& options,
                               const RunRights& rights);

// Carries the decision out: none when this run goes on; else the exit code
// it ends with (the other run's, 1 when the person declined the prompt).
// `args` are this run's own, passed on unchanged. `refused` says whether
// this run refused (and should say so), rather than another run ending.
std::optional<int> ActOnRights(Platform& platform, const RightsDecision& decision,
                               const std::vector<std::string>& args, RunLog* log, bool* refused = nullptr);

}  // namespace qv
