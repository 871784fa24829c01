// A name against the last part of a search pattern, as the system's file
// search takes it: letters case-blind as file names compare
// (file_name_case.h), '*' any run of characters and '?' exactly one UTF-16
// unit, so a letter outside the BMP takes two. The search drops a pattern's
// trailing dots and spaces ("*." is "*"), and once the name is used up the
// rest of the pattern may still hold dots and stars ("readme.*" takes
// "readme", "*.*" takes every name).
#pragma once

#include <string_view>

namespace qv {

// Both in UTF-8.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace qv
