// Hexadecimal digits, as the program writes them (upper case unless asked)
// and reads them (either case).
#pragma once

#include <string>

namespace qv {

// Appends a byte as two digits.
inline void AppendHex(std::string& out, unsigned char byte, bool lower = false) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

// The value of one digit; -1 for anything else.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace qv
