#include "engine/text.h"

#include "framework/portable/hex.h"

namespace qv {

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string UpperCaseName(std::string_view s) {
  std::string r(s);
  for (std::size_t i = 0; i < r.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(r[i]);
    if (c >= 0x81 && c <= 0xFE)
      ++i;  // 丄 and 乤 differ only in a second byte that looks like A and a
    else if (c >= 'a' && c <= 'z')
      r[i] = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperCaseName(a) == UpperCaseName(b);
}

Fields SplitField(std::string_view text, char separator, bool firstOnly) {
  Fields f;
  std::size_t at = firstOnly ? text.find(separator) : text.rfind(separator);
  if (at == std::string_view::npos) {
    f.head = std::string(text);
  } else {
    f.head = std::string(text.substr(0, at));
    f.tail = std::string(text.substr(at + 1));
  }
  return f;
}

HexValue HexToInt(std::string_view text) {
  HexValue r;
  for (char c : text) {
    int d = HexDigitValue(c);
    if (d < 0) {
      r.valid = false;
      break;
    }
    r.value = (r.value << 4) | static_cast<std::uint32_t>(d);
  }
  return r;
}

std::optional<std::int32_t> ParseInt32(std::string_view t) {
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  bool hex = false;
  if (i < t.size() && (t[i] == '$' || t[i] == 'x' || t[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= t.size()) return std::nullopt;
  std::uint64_t v = 0;
  for (; i < t.size(); ++i) {
    int d = hex ? HexDigitValue(t[i]) : (t[i] >= '0' && t[i] <= '9' ? t[i] - '0' : -1);
    if (d < 0) return std::nullopt;
    v = v * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    // Hexadecimal may use all 32 bits; decimal must fit the signed range.
    if (v > (hex ? 0xFFFFFFFFull : 0x80000000ull)) return std::nullopt;
  }
  if (!hex && !negative && v > 0x7FFFFFFFull) return std::nullopt;
  std::uint32_t bits = static_cast<std::uint32_t>(v);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

bool IsDrivePath(std::string_view path) { return path.size() >= 2 && path[1] == ':'; }

bool IsFullPath(std::string_view path) { return IsDrivePath(path) || path.rfind("\\\\", 0) == 0; }

std::string ResolvePath(std::string_view programFolder, std::string_view path) {
  if (IsFullPath(path)) return std::string(path);
  std::string r(programFolder);
  r += path;
  return r;
}

std::string FolderPart(std::string_view path) {
  std::size_t at = path.find_last_of("\\:");
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string WithoutBackslash(std::string folder) {
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace qv
