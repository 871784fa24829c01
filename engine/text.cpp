#include "engine/text.h"

#include <algorithm>
#include <vector>

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

std::string WindowsPath(std::string_view path) {
  if (path.rfind("\\\\?\\", 0) == 0) return std::string(path);
  std::string p(path);
  const bool slashes = p.find('/') != std::string::npos;
  std::replace(p.begin(), p.end(), '/', '\\');
  // Names begin after "C:\" or after "\\server\share"; "C:x" and other
  // relative paths are read against a folder later.
  std::size_t root = 0;
  if (p.size() >= 3 && IsDrivePath(p) && p[2] == '\\') {
    root = 3;
  } else if (p.rfind("\\\\", 0) == 0) {
    const std::size_t server = p.find('\\', 2);
    const std::size_t share = server == std::string::npos ? server : p.find('\\', server + 1);
    root = share == std::string::npos ? p.size() : share + 1;
  }
  if (root == 0) return p;
  std::vector<std::string_view> names;
  bool steps = false;
  for (std::size_t start = root; start <= p.size();) {
    const std::size_t end = std::min(p.find('\\', start), p.size());
    const std::string_view name = std::string_view(p).substr(start, end - start);
    if (name == "." || name == "..") {
      steps = true;
      if (name == ".." && !names.empty()) names.pop_back();
    } else if (!name.empty()) {
      names.push_back(name);
    }
    start = end + 1;
  }
  if (!slashes && !steps) return p;
  std::string out = p.substr(0, root);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += '\\';
    out += names[i];
  }
  if (!names.empty() && p.back() == '\\') out += '\\';
  return out;
}

bool PlainName(std::string_view name) {
  std::string_view bare = name;
  while (!bare.empty() && (bare.back() == '.' || bare.back() == ' ')) bare.remove_suffix(1);
  if (bare.empty() && !name.empty()) return false;
  for (const unsigned char c : name)
    if (c < 0x20 || c == ':' || c == '/' || c == '*' || c == '?' || c == '<' || c == '>' || c == '"' || c == '|')
      return false;
  return true;
}

bool StaysInside(std::string_view relative) {
  if (relative.empty() || relative[0] == '\\' || IsDrivePath(relative)) return false;
  for (std::size_t start = 0;;) {
    const std::size_t end = relative.find('\\', start);
    if (!PlainName(relative.substr(start, end == std::string_view::npos ? end : end - start))) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool IsDrivePath(std::string_view path) { return path.size() >= 2 && path[1] == ':'; }

bool IsFullPath(std::string_view path) { return IsDrivePath(path) || path.rfind("\\\\", 0) == 0; }

std::string ResolvePath(std::string_view programFolder, std::string_view path) {
  std::string p = WindowsPath(path);
  if (IsFullPath(p)) return p;
  return WindowsPath(std::string(programFolder) + p);
}

std::string FolderPart(std::string_view path) {
  std::size_t at = path.find_last_of("\\:");
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string WithBackslash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

std::string WithoutBackslash(std::string folder) {
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

int CompareVersions(std::string_view a, std::string_view b) {
  // Each part as its digits, leading zeros dropped: compared by length,
  // then by digit, so no part is too long for a number.
  const auto part = [](std::string_view& v) {
    const std::size_t dot = v.find('.');
    std::string_view p = v.substr(0, dot);
    v = dot == std::string_view::npos ? std::string_view() : v.substr(dot + 1);
    std::size_t digits = 0;
    while (digits < p.size() && p[digits] >= '0' && p[digits] <= '9') ++digits;
    p = p.substr(0, digits);
    while (!p.empty() && p.front() == '0') p.remove_prefix(1);
    return p;
  };
  while (!a.empty() || !b.empty()) {
    const std::string_view x = part(a), y = part(b);
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    if (const int c = x.compare(y)) return c < 0 ? -1 : 1;
  }
  return 0;
}

}  // namespace qv
