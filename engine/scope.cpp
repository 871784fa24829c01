#include "engine/scope.h"

#include "engine/errors.h"
#include "engine/run_report.h"
#include "engine/text.h"

namespace qv {
namespace {

const char* ScopeName(Placement::For f) {
  switch (f) {
    case Placement::For::Machine: return "machine";
    case Placement::For::User: return "user";
    case Placement::For::Legacy: break;
  }
  return "as the machine lets it";
}

RightsDecision Refused(RightsDecision d, int code, std::string why) {
  d.next = RightsDecision::Next::Refuse;
  d.exitCode = code;
  d.why = std::move(why);
  return d;
}

// One person's installation in an elevated run of a split account: its
// record in HKCU would be one that no elevated run may trust.
RightsDecision Unelevate(RightsDecision d, const CommandLineOptions& options) {
  if (options.limitedRestart)
    return Refused(d, kExitNoRights, "still elevated after starting again without administrator rights");
  d.next = RightsDecision::Next::Unelevate;
  return d;
}

}  // namespace

RightsDecision DecideRights(const SetupSection& setup, const CommandLineOptions& options, const RunRights& rights) {
  RightsDecision d;
  d.placement.architecture = setup.architecture;
  const auto refuse = [&d](int code, std::string why) { return Refused(d, code, std::move(why)); };
  if (setup.architecture == Architecture::X64 && !rights.windows64)
    return refuse(kExitNeeds64Bit, "this program needs 64-bit Windows");
  if (options.allUsers && options.currentUser) return refuse(kExitBadCommandLine, "/ALLUSERS and /CURRENTUSER together");
  // A package made for one kind of installation is not turned into the
  // other: its registry entries and folders were written for it.
  if (setup.scope == Scope::Machine && options.currentUser)
    return refuse(kExitBadCommandLine, "/CURRENTUSER: this package installs for all users only");
  if (setup.scope == Scope::User && options.allUsers)
    return refuse(kExitBadCommandLine, "/ALLUSERS: this package installs for the current user only");

  using For = Placement::For;
  std::string because;
  if (options.allUsers) {
    d.placement.forWhom = For::Machine;
    because = "/ALLUSERS";
  } else if (options.currentUser) {
    d.placement.forWhom = For::User;
    because = "/CURRENTUSER";
  } else if (setup.scope == Scope::Machine || setup.scope == Scope::User) {
    d.placement.forWhom = setup.scope == Scope::Machine ? For::Machine : For::User;
    because = "the script";
  } else if (setup.scope == Scope::Auto) {
    d.placement.forWhom = rights.elevated ? For::Machine : For::User;
    because = rights.elevated ? "auto, with administrator rights" : "auto, without administrator rights";
  } else {
    because = "no scope given";
  }
  d.why = std::string("scope: ") + ScopeName(d.placement.forWhom) + " (" + because + "), architecture " +
          (setup.architecture == Architecture::X64 ? "x64" : "x86");
  if (d.placement.forWhom == For::User && rights.elevated && rights.limitedHalf) return Unelevate(d, options);

  // Rights: a machine installation needs them; without a scope an
  // administrator is asked once, as he always was; a user's never asks.
  const bool wanted = d.placement.forWhom == For::Machine ||
                      (d.placement.forWhom == For::Legacy && rights.limitedAdministrator);
  if (!wanted || rights.elevated) return d;
  if (!options.elevatedRestart) {
    d.next = RightsDecision::Next::Elevate;
    return d;
  }
  // Started again through the prompt and still without them.
  if (d.placement.forWhom == For::Machine)
    return refuse(kExitNoRights, "administrator rights were not given: an installation for all users needs them");
  return d;
}

RightsDecision UninstallRights(std::uint32_t registrationRoot, bool native64, const CommandLineOptions& options,
                               const RunRights& rights) {
  RightsDecision d;
  const bool machine = registrationRoot == kHKLM;
  d.placement.forWhom = machine ? Placement::For::Machine : Placement::For::User;
  d.placement.architecture = native64 ? Architecture::X64 : Architecture::X86;
  d.why = std::string("scope: ") + (machine ? "machine" : "user") + " (the registration), architecture " +
          (native64 ? "x64" : "x86");
  if (!machine && rights.elevated && rights.limitedHalf) return Unelevate(d, options);
  if (!machine || rights.elevated) return d;
  if (!options.elevatedRestart) {
    d.next = RightsDecision::Next::Elevate;
    return d;
  }
  return Refused(d, kExitNoRights,
                 "administrator rights were not given: an installation for all users needs them to be removed");
}

std::optional<int> ActOnRights(Platform& platform, const RightsDecision& decision,
                               const std::vector<std::string>& args, RunLog* log, bool* refused) {
  const auto say = [log](const std::string& line) {
    if (log) log->Line(line);
  };
  if (refused) *refused = false;
  if (decision.next == RightsDecision::Next::Refuse) {
    say("refused: " + decision.why);
    if (refused) *refused = true;
    return decision.exitCode;
  }
  say(decision.why);
  if (decision.next == RightsDecision::Next::Run) return std::nullopt;
  if (decision.next == RightsDecision::Next::Unelevate) {
    std::vector<std::string> again{kLimitedSwitch};
    again.insert(again.end(), args.begin(), args.end());
    say("rights: one person's installation, done by this account without its administrator rights");
    if (const std::optional<int> code = platform.shell.RunAsLimitedHalf(again)) {
      say("run without administrator rights ended with exit code " + std::to_string(*code));
      return *code;
    }
    const Platform::Error e = platform.system.LastError();
    say("refused: could not start again without administrator rights (error " + std::to_string(e.code) + ": " +
        e.message + "); run it without administrator rights");
    if (refused) *refused = true;
    return kExitNoRights;
  }
  std::vector<std::string> again{kElevatedSwitch};
  again.insert(again.end(), args.begin(), args.end());
  say("rights: administrator rights needed, asking through the elevation prompt");
  const std::optional<int> code = platform.shell.RunElevated(again);
  if (code) {
    say("elevated run ended with exit code " + std::to_string(*code));
    // Its ASUSER commands: this run is the person's own.
    for (const HandedCommand& c : platform.shell.TakeHandedBack()) {
      const bool started = platform.shell.StartProgram(c.commandLine, c.showCode, c.workingFolder);
      say((started ? "started for the elevated run, as the person: " : "not started for the elevated run: ") +
          c.commandLine);
    }
    return *code;
  }
  const Platform::Error e = platform.system.LastError();
  if (e.code == kErrorCancelled) {
    say("user: declined the elevation prompt");
    return kExitUserQuit;
  }
  say("error: the elevated run could not start (error " + std::to_string(e.code) + ": " + e.message + ")");
  return kExitNoRights;
}

}  // namespace qv
