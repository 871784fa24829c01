// Every text the program keeps is UTF-8; the screen and the system's W
// functions take UTF-16, converted here so that any language shows right
// whatever the system's locale.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Malformed bytes come out as U+FFFD rather than vanishing.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// A file system path for the W functions. A path too long for the classic
// limit is made absolute and given the \\?\ form, which lifts the limit; a
// short one is passed as it is, so relative paths keep their meaning.
std::wstring WidePath(std::string_view utf8);

}  // namespace qv
