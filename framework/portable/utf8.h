// UTF-8 and UTF-16, converted without the platform: the engine keeps every
// name and text in UTF-8 and meets UTF-16 in scripts and at the Win32 border.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Malformed, overlong or surrogate sequences become one U+FFFD per byte
// that cannot start a character.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 bytes as a file holds them, in either byte order; an odd last byte
// is dropped.
std::u16string Utf16Units(std::string_view bytes, bool bigEndian);

// Where the first byte that starts no well-formed character is (overlong
// forms, surrogates and code points beyond U+10FFFF are not well formed);
// npos for UTF-8 throughout.
std::size_t FirstInvalidUtf8(std::string_view text);
// Where the first unpaired surrogate is; npos when there is none.
std::size_t FirstUnpairedSurrogate(std::u16string_view text);
// The text with each byte that starts no well-formed character written as
// \xNN: UTF-8 whatever it was given, and the bytes still readable.
std::string QuoteInvalidUtf8(std::string_view text);

}  // namespace qv
