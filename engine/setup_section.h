// The [SETUP] section of a script: for whom and for which processor a
// package installs, in which language it speaks and which face it shows.
#pragma once

#include <string>

#include "engine/script.h"

namespace qv {

enum class Scope { Unset, Machine, User, Auto };
enum class Architecture { X86, X64 };

// What a script's [SETUP] section asks for.
struct SetupSection {
  Scope scope = Scope::Unset;
  Architecture architecture = Architecture::X86;
  std::string language{};  // zh (or empty), en or auto: checked
  std::string face{};  // a picture file for the window's face, as written
  bool allowDowngrade = false;  // an older version may replace a newer one
  // What the finished window offers to start: a [SHORTCUTS] entry's name or
  // the shortcut file it makes, or a command line; as written.
  std::string runAfter{};
};
// Throws EngineError for a value it does not know.
SetupSection ReadSetupSection(const ScriptReader& script);

}  // namespace qv
