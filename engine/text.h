// Byte-wise text rules shared by the whole engine. Its texts are UTF-8, and
// a multi-byte character counts as its bytes; only the names of an ANSI
// script are still the code page's bytes, where UpperCaseName and SameText
// never take a double-byte character's second byte for a letter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Removes leading and trailing bytes whose code is 32 or less.
std::string Trim(std::string_view s);

// Upper-cases a to z only; every other byte is left alone.
std::string UpperCase(std::string_view s);

// Script section and key names with their single-byte letters upper-cased.
// The second byte of a double-byte character (after a GBK lead byte,
// 0x81-0xFE) belongs to that character and is never touched.
std::string UpperCaseName(std::string_view s);

// Case-blind equality of script names, in the sense of UpperCaseName.
bool SameText(std::string_view a, std::string_view b);

struct Fields {
  std::string head;
  std::string tail;
};

// Cuts text at its first separator (firstOnly) or at its last one.
// No trimming and no quoting: a field never holds the separator it is cut at.
Fields SplitField(std::string_view text, char separator, bool firstOnly);

struct HexValue {
  std::uint32_t value = 0;
  bool valid = true;
};

// Reads hexadecimal digits without any prefix, kept to 32 bits; the first
// other byte ends the reading and marks the result invalid.
HexValue HexToInt(std::string_view text);

// The integer rule of the script's numbers: decimal with an optional sign, or
// hexadecimal after "$", "x" or "0x"; it must fit 32 bits. Anything else is
// no integer.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Orders two product versions by their numeric parts ("1.10" after "1.9",
// "2" the same as "2.0.0"): below, equal to or above zero. What follows a
// part's digits ("1.2beta") is not compared.
int CompareVersions(std::string_view a, std::string_view b);

// A path as the system reads it, for every path that enters the program:
// '/' separates names as a backslash does, and in a full path "." and ".." names
// and doubled separators are resolved as the system resolves them, never
// above the drive or the share. A path with none of these is kept byte for
// byte; a \\?\ path reaches the system as written, so it is kept too.
std::string WindowsPath(std::string_view path);

// A name the system takes as written, one level below its folder: none
// that stays or steps up ("." and "..", also as "..." or ". ", which Win32
// reads so), no stream, wildcard or other character Windows refuses. The
// empty name between doubled separators counts as plain: it is skipped.
bool PlainName(std::string_view name);

// A relative path, as WindowsPath gives it, that stays inside the folder it
// is read against: no drive, no leading backslash, only plain names.
bool StaysInside(std::string_view relative);

// A path is taken as it stands when its second byte is a colon or when it
// starts with two backslashes (a share, or a \\?\ path); any other path is
// relative to the program folder (which ends in a backslash). Resolving
// reads both as WindowsPath does.
bool IsDrivePath(std::string_view path);
bool IsFullPath(std::string_view path);
std::string ResolvePath(std::string_view programFolder, std::string_view path);

// Everything up to and including the last backslash or colon.
std::string FolderPart(std::string_view path);
// A folder with a trailing backslash (none added to an empty one).
std::string WithBackslash(std::string folder);
// A folder without its trailing backslash; a drive's root keeps it.
std::string WithoutBackslash(std::string folder);

}  // namespace qv
