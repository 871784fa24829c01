#include "engine/command_line.h"

#include <algorithm>

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
    const std::size_t handBack = sizeof kHandBackSwitch - 1;
    if (i == 1 && o.elevatedRestart && UpperCase(a.substr(0, handBack)) == UpperCase(kHandBackSwitch)) {
      o.handBack = a.substr(handBack);
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
    } else if (upper == "/ALLOWDOWNGRADE") {
      o.allowDowngrade = true;
    } else if (upper == "/CLOSEAPPLICATIONS") {
      o.closeApplications = CommandLineOptions::Close::Always;
    } else if (upper == "/NOCLOSEAPPLICATIONS") {
      o.closeApplications = CommandLineOptions::Close::Never;
    } else if (o.badOption.empty()) {
      o.badOption = a;
    }
  }
  return o;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  for (;;) {
    while (i < n && static_cast<unsigned char>(commandLine[i]) <= ' ') ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    for (; i < n && (quoted || static_cast<unsigned char>(commandLine[i]) > ' '); ++i) {
      if (commandLine[i] == '"')
        quoted = !quoted;
      else
        arg += commandLine[i];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::optional<std::string> JoinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (arg.find('"') != std::string::npos) return std::nullopt;
    if (!line.empty()) line += ' ';
    const bool blanks = arg.empty() || std::any_of(arg.begin(), arg.end(), [](char c) {
                          return static_cast<unsigned char>(c) <= ' ';
                        });
    if (!blanks) {
      line += arg;
      continue;
    }
    // Backslashes at the end stay outside the quotes: the system's rules
    // would read them before a quote as escapes, ours would not.
    const std::size_t body = arg.find_last_not_of('\\') + 1;
    line += '"' + arg.substr(0, body) + '"' + arg.substr(body);
  }
  return line;
}

}  // namespace qv
