#include "engine/private_folders.h"

#include <algorithm>
#include <vector>

#include "framework/portable/hex.h"

namespace qv {

void RemoveLeftoverFolders(Platform& platform, RunLog* log) {
  const std::string temp = platform.system.TempPath();
  if (temp.empty()) return;
  FindEntry e;
  std::unique_ptr<FindHandle> find = platform.files.FindFirst(temp + kPrivateFolderPrefix + "*", e);
  if (!find) return;
  std::vector<std::string> found;
  const std::size_t prefix = sizeof kPrivateFolderPrefix - 1;
  do {
    // Only names we make: the prefix and 32 hex digits; never a link, whatever
    // its name (RemoveTree checks again, with owner and access list).
    if ((e.attributes & kAttrDirectory) && !(e.attributes & kAttrReparsePoint) && e.name.size() == prefix + 32 &&
        std::all_of(e.name.begin() + static_cast<std::ptrdiff_t>(prefix), e.name.end(),
                    [](char c) { return HexDigitValue(c) >= 0; }))
      found.push_back(temp + e.name);
  } while (find->Next(e));
  find.reset();
  for (const std::string& f : found) {
    const bool removed = platform.files.RemoveTree(f);
    if (!log) continue;
    if (removed) log->Line("removed an earlier run's folder: " + f);
    else if (platform.system.LastError().code == kErrorAccessDenied) log->Line("left alone (not a folder of ours): " + f);
    else log->Line("kept an earlier run's folder (in use): " + f);
  }
}

}  // namespace qv
