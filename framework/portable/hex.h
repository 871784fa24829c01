// Hexadecimal digits, as the program writes them (upper case unless asked)
// and reads them (either case); decimal ones into a fixed place.
#pragma once

#include <cstddef>
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

// Decimal digits into a fixed place of a text, by hand: a printf would bring
// the C runtime's whole formatter into the program.
inline void PutDigits(std::string& text, std::size_t at, unsigned value, std::size_t digits) {
  for (std::size_t i = digits; i-- > 0; value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
}

}  // namespace qv
