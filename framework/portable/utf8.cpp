#include "framework/portable/utf8.h"

#include "framework/portable/hex.h"

namespace qv {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void Append(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (c >> 10));
    out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The bytes of the well-formed character at text[i], or 0 when none
// starts there; its code point in c.
std::size_t Decode(std::string_view text, std::size_t i, char32_t& c) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    c = b;
    return 1;
  }
  std::size_t more;
  char32_t least;
  if (b >= 0xC2 && b <= 0xDF) more = 1, c = b & 0x1F, least = 0x80;
  else if (b >= 0xE0 && b <= 0xEF) more = 2, c = b & 0x0F, least = 0x800;
  else if (b >= 0xF0 && b <= 0xF4) more = 3, c = b & 0x07, least = 0x10000;
  else return 0;
  if (text.size() - i <= more) return 0;
  for (std::size_t k = 1; k <= more; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return more + 1;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
      Append(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      Append(out, IsHigh(u) || IsLow(u) ? kReplacement : u);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    const std::size_t n = Decode(text, i, c);
    Append(out, n ? c : kReplacement);
    i += n ? n : 1;
  }
  return out;
}

std::u16string Utf16Units(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]), second = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return units;
}

std::size_t FirstInvalidUtf8(std::string_view text) {
  char32_t c;
  for (std::size_t i = 0, n; i < text.size(); i += n)
    if ((n = Decode(text, i, c)) == 0) return i;
  return std::string_view::npos;
}

std::size_t FirstUnpairedSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1]))
      ++i;
    else if (IsHigh(text[i]) || IsLow(text[i]))
      return i;
  }
  return std::u16string_view::npos;
}

std::string QuoteInvalidUtf8(std::string_view text) {
  if (FirstInvalidUtf8(text) == std::string_view::npos) return std::string(text);
  std::string out;
  char32_t c;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Decode(text, i, c);
    if (n) {
      out += text.substr(i, n);
      i += n;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[i++]);
    out += "\\x";
    AppendHex(out, b);
  }
  return out;
}

}  // namespace qv
