#include <gtest/gtest.h>

#include "engine/run_report.h"
#include "engine/scope.h"
#include "engine/setup_engine.h"
#include "tests/host/fakes.h"

namespace qv {
namespace {

using Next = RightsDecision::Next;
using For = Placement::For;

// What a run does with its script's scope, its command line and its rights.
TEST(Scope, TheRunsRightsFollowTheScope) {
  const struct {
    const char* what;
    Scope scope;
    Architecture architecture;
    std::vector<std::string> args;
    bool elevated, limitedAdministrator, windows64;
    Next next;
    For forWhom;
    int exitCode;
  } kCases[] = {
      {"no scope, elevated: as it always ran", Scope::Unset, Architecture::X86, {}, true, false, true, Next::Run,
       For::Legacy, 0},
      {"no scope, an administrator without his rights: asked once", Scope::Unset, Architecture::X86, {}, false,
       true, true, Next::Elevate, For::Legacy, 0},
      {"no scope, asked already: runs as he is", Scope::Unset, Architecture::X86, {kElevatedSwitch}, false, true,
       true, Next::Run, For::Legacy, 0},
      {"no scope, a standard user runs as himself", Scope::Unset, Architecture::X86, {}, false, false, true,
       Next::Run, For::Legacy, 0},
      {"machine needs the rights, a standard user too", Scope::Machine, Architecture::X86, {}, false, false, true,
       Next::Elevate, For::Machine, 0},
      {"machine, elevated", Scope::Machine, Architecture::X64, {}, true, false, true, Next::Run, For::Machine, 0},
      {"machine, asked already and still without them", Scope::Machine, Architecture::X86, {kElevatedSwitch},
       false, true, true, Next::Refuse, For::Machine, kExitNoRights},
      {"user never asks", Scope::User, Architecture::X86, {}, false, true, true, Next::Run, For::User, 0},
      {"user stays user when elevated", Scope::User, Architecture::X86, {}, true, false, true, Next::Run,
       For::User, 0},
      {"auto with rights", Scope::Auto, Architecture::X86, {}, true, false, true, Next::Run, For::Machine, 0},
      {"auto without them never asks", Scope::Auto, Architecture::X86, {}, false, true, true, Next::Run, For::User,
       0},
      {"/ALLUSERS over auto asks", Scope::Auto, Architecture::X86, {"/allusers"}, false, true, true, Next::Elevate,
       For::Machine, 0},
      {"/CURRENTUSER over no scope", Scope::Unset, Architecture::X86, {"/CURRENTUSER"}, false, true, true,
       Next::Run, For::User, 0},
      {"a machine package refuses /CURRENTUSER", Scope::Machine, Architecture::X86, {"/CURRENTUSER"}, true, false,
       true, Next::Refuse, For::Legacy, kExitBadCommandLine},
      {"a user package refuses /ALLUSERS", Scope::User, Architecture::X86, {"/ALLUSERS"}, true, false, true,
       Next::Refuse, For::Legacy, kExitBadCommandLine},
      {"both at once", Scope::Auto, Architecture::X86, {"/ALLUSERS", "/CURRENTUSER"}, true, false, true,
       Next::Refuse, For::Legacy, kExitBadCommandLine},
      {"x64 on 32-bit Windows, before any question of rights", Scope::Machine, Architecture::X64, {}, false, true,
       false, Next::Refuse, For::Legacy, kExitNeeds64Bit},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const RightsDecision d = DecideRights({.scope = c.scope, .architecture = c.architecture}, ParseOptions(c.args),
                                          {c.elevated, c.limitedAdministrator, c.windows64});
    EXPECT_EQ(d.next, c.next);
    EXPECT_EQ(d.exitCode, c.exitCode);
    if (d.next != Next::Refuse) {
      EXPECT_EQ(d.placement.forWhom, c.forWhom);
      EXPECT_EQ(d.placement.architecture, c.architecture);
    }
  }
}

// Asking: the same arguments go to the elevated run, whose exit code is the
// run's; a declined prompt is a quit.
TEST(Scope, AskingForRightsHandsOnTheCommandLineAndTheExitCode) {
  const std::vector<std::string> args = {"/S", "/D=C:\\My Programs\\Demo", "my setup.ini", ""};
  RightsDecision elevate;
  elevate.next = Next::Elevate;
  const struct {
    std::optional<int> elevatedExit;
    Platform::Error error;
    int exitCode;
  } kCases[] = {
      {3010, {}, 3010},
      {0, {}, 0},
      {std::nullopt, {kErrorCancelled, "declined"}, kExitUserQuit},
      {std::nullopt, {2, "not found"}, kExitNoRights},
  };
  for (const auto& c : kCases) {
    test::FakePlatform m;
    m.elevatedExit = c.elevatedExit;
    m.elevationFailure = c.error;
    const std::optional<int> code = ActOnRights(m, elevate, args, nullptr);
    ASSERT_EQ(m.elevatedRuns.size(), 1u);
    EXPECT_EQ(code, c.exitCode);
    // Through a real command line and back.
    const std::vector<std::string> again = SplitCommandLine("setup.exe " + JoinCommandLine(m.elevatedRuns[0]).value_or("?"));
    const std::vector<std::string> expected = {"setup.exe", kElevatedSwitch, args[0], args[1], args[2], args[3]};
    EXPECT_EQ(again, expected);
    EXPECT_TRUE(ParseOptions({again.begin() + 1, again.end()}).elevatedRestart);
  }
}

// One person's installation in an elevated run of an account that also
// runs without its rights: done by that unelevated half, whose record every
// later run can trust; where there is no half, done here.
TEST(Scope, OnePersonsInstallationIsDoneByTheAccountsUnelevatedHalf) {
  const struct {
    const char* what;
    bool uninstall;
    Scope scope;
    std::vector<std::string> args;
    bool elevated, limitedHalf;
    Next next;
  } kCases[] = {
      {"user, elevated with a half", false, Scope::User, {}, true, true, Next::Unelevate},
      {"/CURRENTUSER, elevated with a half", false, Scope::Unset, {"/CURRENTUSER"}, true, true, Next::Unelevate},
      {"user, the system or no consent prompt: no half", false, Scope::User, {}, true, false, Next::Run},
      {"user, not elevated", false, Scope::User, {}, false, false, Next::Run},
      {"auto, elevated with a half: for everyone", false, Scope::Auto, {}, true, true, Next::Run},
      {"started again so and still elevated", false, Scope::User, {kLimitedSwitch}, true, true, Next::Refuse},
      {"uninstalling one person's, elevated with a half", true, Scope::User, {}, true, true, Next::Unelevate},
      {"uninstalling one person's, no half", true, Scope::User, {}, true, false, Next::Run},
      {"uninstalling everyone's, elevated with a half", true, Scope::Machine, {}, true, true, Next::Run},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const RunRights rights{c.elevated, false, true, c.limitedHalf};
    const RightsDecision d =
        c.uninstall ? UninstallRights(c.scope == Scope::Machine ? kHKLM : kHKCU, false, ParseOptions(c.args), rights)
                    : DecideRights({.scope = c.scope}, ParseOptions(c.args), rights);
    EXPECT_EQ(d.next, c.next);
    EXPECT_EQ(d.exitCode, d.next == Next::Refuse ? kExitNoRights : 0);
  }
  // Carried out: the same arguments behind the switch, the other run's exit
  // code; when it cannot start, a refusal that says how to run it.
  RightsDecision unelevate;
  unelevate.next = Next::Unelevate;
  for (const std::optional<int> exit : {std::optional<int>(0), std::optional<int>()}) {
    test::FakePlatform m;
    m.limitedExit = exit;
    bool refused = false;
    EXPECT_EQ(ActOnRights(m, unelevate, {"/S", "my setup.ini"}, nullptr, &refused), exit.value_or(kExitNoRights));
    EXPECT_EQ(refused, !exit);
    ASSERT_EQ(m.limitedRuns.size(), 1u);
    const std::vector<std::string> expected = {kLimitedSwitch, "/S", "my setup.ini"};
    EXPECT_EQ(m.limitedRuns[0], expected);
    EXPECT_TRUE(ParseOptions(m.limitedRuns[0]).limitedRestart);
  }
}

}  // namespace
}  // namespace qv
