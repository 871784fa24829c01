// How a run went and what the process tells the tool that started it:
// the installer's and the uninstaller's alike.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct RunReport {
  bool scriptFound = true;
  int failures = 0;            // entries or parts of entries that did not happen
  bool error = false;          // a hard error ended the run
  bool restartNeeded = false;  // a file in use is replaced or removed at the next restart
  bool packageDamaged = false;  // a packed file turned out not to be what the package says
  bool newerInstalled = false;  // a newer version of the product is installed: nothing was done
  bool notTheBase = false;  // an update run where its base is not installed: nothing was done
};

enum ExitCode : int {
  kExitOk = 0,
  kExitUserQuit = 1,
  kExitNoScript = 2,
  kExitEntryFailed = 3,
  kExitError = 4,
  kExitBadCommandLine = 5,
  kExitPackageDamaged = 6,  // the package sealed into the program is damaged or cut short
  kExitRecordDamaged = 7,   // the uninstaller's record is missing or damaged
  kExitNeeds64Bit = 8,      // a 64-bit program's package on 32-bit Windows
  kExitNoRights = 9,        // an installation for all users without administrator rights
  kExitNewerInstalled = 10,  // a newer version of the product is installed, and no downgrade was allowed
  kExitNotTheBase = 11,      // an update package, and the version it updates is not what is installed
  kExitRestartNeeded = 3010,
};

// The process exit code for a run: an error ends it (4) before a quit (1),
// a missing script (2) and failed entries (3); a run that did everything
// but waits for a restart ends with 3010, which deployment tools take for
// success with a restart pending, so any of the others comes first.
int ExitCodeOf(const RunReport& report, bool userQuit);

// The root's short name for a root key value ("?" for none).
std::string RootName(std::uint32_t root);

}  // namespace qv
