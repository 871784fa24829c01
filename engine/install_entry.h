// An INSTALL value, "source,destination[,FLAG]...": read the same way by the
// setup program and by qvpack.
#pragma once

#include <string>
#include <string_view>

namespace qv {

struct InstallFlags {
  bool onlyIfNew = false;  // ONLYIFNEW: an existing file is never replaced
  bool keep = false;       // KEEP: the uninstaller leaves the files
  bool ifNewer = false;    // IFNEWER: replaced only by a newer file
  // Whether an existing file may be left as it is.
  bool MayLeave() const { return onlyIfNew || ifNewer; }
};

struct InstallLine {
  std::string source;       // as written, not trimmed
  std::string destination;  // likewise
  InstallFlags flags;
};

// Flags are taken from the end only while a destination remains before
// them: a value whose last field is no flag reads exactly as it always
// has (cut at its first comma).
InstallLine ParseInstallLine(std::string_view value);

}  // namespace qv
