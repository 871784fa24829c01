// File names as Windows' file system compares them: UTF-16 code unit by
// code unit, each in the upper case of one fixed table, whatever the
// locale. It is Unicode's simple uppercase mapping where that goes both
// ways: "é" is "É" and "σ" is "Σ", but "ß", "ı", "µ" and "ς" stay as they
// are. Surrogates, so letters outside the BMP, never fold.
// Not the script's key rule: that is engine/text.h's SameText.
#pragma once

#include <string>
#include <string_view>

namespace qv {

char16_t FileNameUpper(char16_t unit);
std::u16string FileNameUpper(std::u16string_view units);

// A UTF-8 name in that upper case, in UTF-8: two names are one file's when
// their keys are equal. A path's key is its names' keys joined, so the key
// of a folder is the start of the keys of the paths inside it.
std::string FileNameKey(std::string_view utf8);

bool SameFileName(std::string_view a, std::string_view b);

}  // namespace qv
