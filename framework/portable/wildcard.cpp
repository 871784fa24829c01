#include "framework/portable/wildcard.h"

#include <string>

#include "framework/portable/file_name_case.h"
#include "framework/portable/utf8.h"

namespace qv {

bool MatchesWildcard(std::string_view nameText, std::string_view patternText) {
  const std::u16string nameUnits = FileNameUpper(Utf8ToUtf16(nameText));
  std::u16string patternUnits = FileNameUpper(Utf8ToUtf16(patternText));
  // The path's last part loses them before the search sees it.
  while (!patternUnits.empty() && (patternUnits.back() == u'.' || patternUnits.back() == u' ')) patternUnits.pop_back();
  const std::u16string_view name = nameUnits, pattern = patternUnits;
  constexpr auto npos = std::u16string_view::npos;
  // Greedy, going back only to the last '*': it takes one unit more each
  // time what follows it fails.
  std::size_t n = 0, p = 0, star = npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (star != npos) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == u'*' || pattern[p] == u'.')) ++p;
  return p == pattern.size();
}

}  // namespace qv
