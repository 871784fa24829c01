// Hexadecimal digits, as the program writes them (upper case unless asked)
// and reads them (either case); decimal ones into a fixed place.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

// The `n` bytes that exactly 2n digits spell, into `out`; false for any
// other count or anything but digits.
inline bool DecodeHex(std::string_view hex, unsigned char* out, std::size_t n) {
  if (hex.size() != 2 * n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const int high = HexDigitValue(hex[2 * i]), low = HexDigitValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

// Decimal digits into a fixed place of a text, by hand: a printf would bring
// the C runtime's whole formatter into the program.
inline void PutDigits(std::string& text, std::size_t at, unsigned value, std::size_t digits) {
  for (std::size_t i = digits; i-- > 0; value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
}

}  // namespace qv
