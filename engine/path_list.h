// A PATH value's entries, edited so that the person's own stay as they are:
// one entry added at the end, or exactly one taken out; nothing else of the
// text changes, whatever its length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/platform.h"

namespace qv {

// Where the PATH of all users, and of the person running the run, is kept.
inline constexpr char kMachineEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr char kUserEnvironmentKey[] = "Environment";
const char* EnvironmentKey(std::uint32_t root);

// Two entries name the same folder: case-blind, with or without trailing
// backslashes, each also as `expand` makes of it (%SystemRoot%...).
bool SameFolderEntry(const std::string& a, const std::string& b,
                     const std::function<std::string(const std::string&)>& expand);

// The value with `entry` added at its end; none when a folder it names is
// there already.
std::optional<std::string> WithEntry(const std::string& value, const std::string& entry,
                                     const std::function<std::string(const std::string&)>& expand);
// The value without the one entry that is `entry` (case-blind, trailing
// backslashes aside, never expanded: only what was added goes); none when
// it is not there.
std::optional<std::string> WithoutEntry(const std::string& value, const std::string& entry);

enum class PathEdit { Changed, Unchanged, Failed };
// Adds to or takes from the PATH kept under `root`, its type kept
// (REG_EXPAND_SZ stays expandable; a new value is one).
PathEdit AddToPath(Platform& platform, std::uint32_t root, const std::string& entry);
PathEdit RemoveFromPath(Platform& platform, std::uint32_t root, const std::string& entry);

}  // namespace qv
