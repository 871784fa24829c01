// The options a deployment tool passes: /S (hidden), /D=folder (the
// installation folder for every "?" entry), /LOG=file, /ALLUSERS and
// /CURRENTUSER (for whom a package installs). Options may stand anywhere
// and are case-blind; the first other argument names the script.
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
  // Started again through the elevation prompt by a run without the rights
  // it needed: never asks again.
  bool elevatedRestart = false;
  // Started again by an elevated run as the same account without its
  // administrator rights, for one person's installation: never drops again.
  bool limitedRestart = false;
  std::vector<std::string> scriptArgs;  // the arguments that are no options
  std::string badOption;                // the first "/" argument we do not know
};

// The first argument of a run started again with administrator rights.
inline constexpr char kElevatedSwitch[] = "/qvElevated";
// The first argument of a run started again without them.
inline constexpr char kLimitedSwitch[] = "/qvLimited";

// args without the program itself.
CommandLineOptions ParseOptions(const std::vector<std::string>& args);

}  // namespace qv
