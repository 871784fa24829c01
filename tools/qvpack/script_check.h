// Reads a package's script exactly as the setup program will (the engine's
// own reader and parsers), reports what would go wrong on the customer's
// machine with the line it is on, and lays the files out in the order the
// program installs them. Portable.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/script.h"
#include "tools/qvpack/folder_tree.h"

namespace qv::qvpack {

enum class Severity { Warning, Error };

struct Problem {
  int line = 0;  // 0: about the package, not one line
  Severity severity = Severity::Warning;
  std::string text;
};

struct Plan {
  // By line; those about the whole package last.
  std::vector<Problem> problems;
  // Items to pack, in the order the program installs them: INSTALL's
  // entries in turn, each file in the order the program's walk copies it,
  // a folder before its contents; then the script and whatever no entry
  // takes. Items that cannot be packed (unsafe names) are left out.
  std::vector<std::size_t> order;
  // The script's item, when the folder has it.
  std::optional<std::size_t> script;
  // What the packed file shows of the package: [SETUP] Icon (an item),
  // Copyright, Name, Version and Publisher, the last three defaulting to
  // [UNINSTALL]'s. `identity` says whether [SETUP] names any of them.
  bool identity = false;
  std::optional<std::size_t> icon;
  std::optional<std::size_t> face;  // the window's own face picture
  // By item: some INSTALL entry copies it.
  std::vector<bool> installed;
  std::string copyright, name, version, publisher;
  bool HasErrors() const;
};

using ItemLoader = std::function<std::optional<std::string>(const Item&)>;
// The file-name rule of a package (the package library's IsSafePath).
using SafePath = std::function<bool(std::string_view path)>;

// `scriptPath` is relative to the package folder, backslashes or slashes.
// `decode` turns an ANSI script's bytes into UTF-8 as the program's machine
// would (null: take them as they are).
// Items whose path breaks `safe` are reported and left out.
Plan PlanPackage(const std::vector<Item>& items, const std::string& scriptPath, const ItemLoader& load,
                 const ScriptReader::Decoder& decode, const SafePath& safe);

// "setup.ini:12: error: text", or "setup.ini: warning: text" without a line.
std::string FormatProblem(const std::string& scriptName, const Problem& problem);

}  // namespace qv::qvpack
