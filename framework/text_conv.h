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

}  // namespace qv
