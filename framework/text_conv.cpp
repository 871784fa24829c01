#include "framework/text_conv.h"

#include <windows.h>

#include "framework/portable/utf8.h"

namespace qv {

// One converter for the whole program: the portable one, which the host
// tests check; wchar_t is a UTF-16 unit here.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Utf8ToWide(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string WideToUtf8(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

bool FitsSystem(std::size_t units) {
  if (units <= kMaxPathUnits) return true;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

}  // namespace qv
