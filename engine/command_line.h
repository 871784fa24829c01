// Command lines: split into arguments and joined back, and the options a
// deployment tool passes: /S (hidden), /D=folder (the installation folder
// for every "?" entry), /LOG=file, /ALLUSERS and /CURRENTUSER (for whom a
// package installs), /ALLOWDOWNGRADE (an older version over a newer one),
// /CLOSEAPPLICATIONS and /NOCLOSEAPPLICATIONS (whether a hidden run closes
// the programs that hold files it replaces). Options may stand anywhere and are case-blind; the
// first other argument names the script.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv {

struct CommandLineOptions {
  bool silent = false;
  std::optional<std::string> installDir;
  std::optional<std::string> logFile;
  bool allUsers = false;
  bool currentUser = false;
  bool allowDowngrade = false;
  enum class Close { Ask, Always, Never } closeApplications = Close::Ask;
  // Started again through the elevation prompt by a run without the rights
  // it needed: never asks again.
  bool elevatedRestart = false;
  // Started again by an elevated run as the same account without its
  // administrator rights, for one person's installation: never drops again.
  bool limitedRestart = false;
  // With elevatedRestart: where the run that asked for the rights takes
  // back the commands it starts as the person once this one ends.
  std::optional<std::string> handBack;
  std::vector<std::string> scriptArgs;  // the arguments that are no options
  std::string badOption;                // the first "/" argument we do not know
};

// The first argument of a run started again with administrator rights.
inline constexpr char kElevatedSwitch[] = "/qvElevated";
// The second argument of such a run, with the hand-back channel's name.
inline constexpr char kHandBackSwitch[] = "/qvHandBack=";
// The first argument of a run started again without them.
inline constexpr char kLimitedSwitch[] = "/qvLimited";

// args without the program itself.
CommandLineOptions ParseOptions(const std::vector<std::string>& args);

// Splits a command line into arguments: blanks separate them, double quotes
// group blanks into one and are dropped. The first is the program.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// Arguments as a command line that both SplitCommandLine and the system's
// own rules split back into them; none when one holds a double quote, which
// SplitCommandLine never gives.
std::optional<std::string> JoinCommandLine(const std::vector<std::string>& args);

}  // namespace qv
