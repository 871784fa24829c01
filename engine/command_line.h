// The options a deployment tool passes: /S (hidden), /D=folder (the
// installation folder for every "?" entry), /LOG=file. Options may stand
// anywhere and are case-blind; the first other argument names the script.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv {

struct CommandLineOptions {
  bool silent = false;
  std::optional<std::string> installDir;
  std::optional<std::string> logFile;
  std::vector<std::string> scriptArgs;  // the arguments that are no options
  std::string badOption;                // the first "/" argument we do not know
};

// args without the program itself.
CommandLineOptions ParseOptions(const std::vector<std::string>& args);

// What the process tells the tool that started it.
enum ExitCode : int {
  kExitOk = 0,
  kExitUserQuit = 1,
  kExitNoScript = 2,
  kExitEntryFailed = 3,
  kExitError = 4,
  kExitBadCommandLine = 5,
  kExitPackageDamaged = 6,  // the package sealed into the program is damaged or cut short
  kExitRecordDamaged = 7,   // the uninstaller's record is missing or damaged
  kExitRestartNeeded = 3010,
};

}  // namespace qv
