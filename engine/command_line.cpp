#include "engine/command_line.h"

#include "engine/text.h"

namespace qv {

CommandLineOptions ParseOptions(const std::vector<std::string>& args) {
  CommandLineOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // Case-blind like every option.
    if (i == 0 && UpperCase(a) == UpperCase(kElevatedSwitch)) {
      o.elevatedRestart = true;
      continue;
    }
    if (i == 0 && UpperCase(a) == UpperCase(kLimitedSwitch)) {
      o.limitedRestart = true;
      continue;
    }
    if (a.empty() || a[0] != '/') {
      o.scriptArgs.push_back(a);
      continue;
    }
    const std::string upper = UpperCase(a);
    if (upper == "/S") {
      o.silent = true;
    } else if (upper.rfind("/D=", 0) == 0 && a.size() > 3) {
      // Folders and files are read as the system reads them from here on.
      o.installDir = WindowsPath(a.substr(3));
    } else if (upper.rfind("/LOG=", 0) == 0 && a.size() > 5) {
      o.logFile = WindowsPath(a.substr(5));
    } else if (upper == "/ALLUSERS") {
      o.allUsers = true;
    } else if (upper == "/CURRENTUSER") {
      o.currentUser = true;
    } else if (o.badOption.empty()) {
      o.badOption = a;
    }
  }
  return o;
}

}  // namespace qv
