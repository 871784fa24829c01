#include "engine/run_report.h"

#include "engine/platform.h"

namespace qv {

int ExitCodeOf(const RunReport& report, bool userQuit) {
  if (report.packageDamaged) return kExitPackageDamaged;
  if (report.newerInstalled) return kExitNewerInstalled;
  if (report.notTheBase) return kExitNotTheBase;
  if (report.error) return kExitError;
  if (userQuit) return kExitUserQuit;
  if (!report.scriptFound) return kExitNoScript;
  if (report.failures > 0) return kExitEntryFailed;
  if (report.restartNeeded) return kExitRestartNeeded;
  return kExitOk;
}

std::string RootName(std::uint32_t root) {
  switch (root) {
    case kHKCR: return "HKCR";
    case kHKCU: return "HKCU";
    case kHKLM: return "HKLM";
    case kHKU: return "HKU";
    case kHKCC: return "HKCC";
    case kHKDD: return "HKDD";
    default: return "?";
  }
}

}  // namespace qv
