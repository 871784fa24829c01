// UTF-8 and UTF-16, converted without the platform: the engine keeps every
// name and text in UTF-8 and meets UTF-16 in scripts and at the Win32 border.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Malformed, overlong or surrogate sequences become one U+FFFD per byte
// that cannot start a character.
std::u16string Utf8ToUtf16(std::string_view text);
// Little-endian UTF-16 bytes, as a file holds them; an odd last byte is
// dropped.
std::string Utf16LeBytesToUtf8(std::string_view bytes);

}  // namespace qv
