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

}  // namespace qv
