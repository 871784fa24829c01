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

namespace {

// The path in the \\?\ form, or as it is when it cannot have that form.
std::wstring LongForm(const std::wstring& path) {
  // The \\?\ form takes the path literally: no "..", no forward slashes,
  // no relative part, so those are resolved first.
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD got = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return path;
  full.resize(got);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.rfind(L"\\\\", 0) == 0 && full.rfind(L"\\\\.\\", 0) != 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return path;
}

}  // namespace

std::optional<std::wstring> WidePath(std::string_view utf8) {
  std::wstring path = Utf8ToWide(utf8);
  // 248: a folder must leave room for an 8.3 name below it.
  if (path.size() >= MAX_PATH - 12 && path.rfind(L"\\\\?\\", 0) != 0) path = LongForm(path);
  if (!FitsSystem(path.size())) return std::nullopt;
  return path;
}

}  // namespace qv
