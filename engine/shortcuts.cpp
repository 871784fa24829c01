#include "engine/shortcuts.h"

#include <algorithm>

#include "engine/entries.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"

namespace qv {

std::optional<Shortcut> ParseShortcutEntry(const FolderValues& folders, const std::string& name,
                                           const std::string& value) {
  std::vector<std::string> f;
  for (std::size_t at = 0;;) {
    const std::size_t comma = value.find(',', at);
    f.push_back(value.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  // A description may hold commas of its own.
  while (f.size() > 7) {
    f[6] += "," + f[7];
    f.erase(f.begin() + 7);
  }
  f.resize(7);
  for (std::string& field : f) {
    ExpandMacros(folders, field);
    field = Trim(field);
  }
  // Target, place, icon and working folder name files; the arguments and
  // the description are the program's and the person's text.
  for (const int path : {0, 1, 3, 5}) f[path] = WindowsPath(f[path]);
  const std::string file = WindowsPath(Trim(name));
  if (f[0].empty() || f[1].empty() || !StaysInside(file)) return std::nullopt;
  const std::string place = UpperCase(f[1]);
  std::string folder = place == "STARTMENU" ? folders.startMenu
                       : place == "DESKTOP" ? folders.desktop
                       : place == "STARTUP" ? folders.startup
                                            : f[1];
  if (folder.empty()) return std::nullopt;
  if (folder.back() != '\\') folder += '\\';
  Shortcut s;
  s.file = WindowsPath(folder + file + ".lnk");
  s.target = f[0];
  s.arguments = f[2];
  s.iconFile = f[3];
  s.iconIndex = ParseInt32(f[4]).value_or(0);
  s.workingFolder = f[5].empty() ? WithoutBackslash(FolderPart(f[0])) : f[5];
  s.description = f[6];
  return s;
}

bool ShortcutMaker::Make(const Shortcut& shortcut) {
  const std::string folder = WithoutBackslash(FolderPart(shortcut.file));
  if (!FolderExists(platform_, folder)) CreateFolderPath(platform_, folder);
  if (!platform_.shell.MakeShortcut(shortcut)) return false;
  if (std::none_of(folders_.begin(), folders_.end(), [&](const std::string& f) { return SameFileName(f, folder); }))
    folders_.push_back(folder);
  return true;
}

void ShortcutMaker::Announce() {
  for (const std::string& folder : folders_) platform_.shell.Announce(Change::Folder, folder);
}

}  // namespace qv
