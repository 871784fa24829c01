// Every text the program keeps is UTF-8; the screen and the system's W
// functions take UTF-16, converted here so that any language shows right
// whatever the system's locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Malformed bytes come out as U+FFFD rather than vanishing.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The longest path the system's file calls take, in UTF-16 units with the
// \\?\ prefix. Wine does not refuse a longer one: it cuts it short and acts
// on whatever path is left.
constexpr std::size_t kMaxPathUnits = 32767;

// True when a path of this many units reaches the system whole; otherwise
// false, with the last error at ERROR_FILENAME_EXCED_RANGE.
bool FitsSystem(std::size_t units);

}  // namespace qv
