// The SHORTCUTS section: its lines read, and each shortcut made in its
// folder, the shell told of every folder once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/folders.h"
#include "engine/platform.h"

namespace qv {

// A SHORTCUTS line: its key the shortcut's name (sub-folders allowed), its
// value "target,place[,arguments[,icon file[,icon index[,working folder
// [,description]]]]]", place STARTMENU, DESKTOP, STARTUP or a folder. None
// when it names no target or no place, or a name that leaves its place.
// An empty working folder is the target's own.
std::optional<Shortcut> ParseShortcutEntry(const FolderValues& folders, const std::string& name,
                                           const std::string& value);

class ShortcutMaker {
 public:
  explicit ShortcutMaker(Platform& platform) : platform_(platform) {}
  // Makes the shortcut, its folder first when that is missing.
  bool Make(const Shortcut& shortcut);
  // Tells the shell of each folder a shortcut went into, once.
  void Announce();

 private:
  Platform& platform_;
  std::vector<std::string> folders_;
};

}  // namespace qv
