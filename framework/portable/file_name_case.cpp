#include "framework/portable/file_name_case.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "framework/portable/utf8.h"

namespace qv {

namespace {

struct Run {
  std::uint16_t first, last, step, delta;
};

// Runs, not a 128 KB table: the setup program carries it.
constexpr Run kRuns[] = {
#include "framework/portable/upcase_table.inc"
};

}  // namespace

char16_t FileNameUpper(char16_t unit) {
  if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? char16_t(unit - 32) : unit;
  const auto after = std::upper_bound(std::begin(kRuns), std::end(kRuns), unit,
                                      [](char16_t u, const Run& r) { return u < r.first; });
  if (after == std::begin(kRuns)) return unit;
  const Run& r = *std::prev(after);
  if (unit > r.last || (unit - r.first) % r.step != 0) return unit;
  return char16_t(unit + r.delta);
}

std::u16string FileNameUpper(std::u16string_view units) {
  std::u16string out(units);
  for (char16_t& u : out) u = FileNameUpper(u);
  return out;
}

std::string FileNameKey(std::string_view utf8) {
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::string out(utf8);
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = char(c - 32);
    return out;
  }
  return Utf16ToUtf8(FileNameUpper(Utf8ToUtf16(utf8)));
}

bool SameFileName(std::string_view a, std::string_view b) { return FileNameKey(a) == FileNameKey(b); }

}  // namespace qv
