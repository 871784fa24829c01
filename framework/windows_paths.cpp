#include "framework/windows_paths.h"

#include <windows.h>

#include "framework/text_conv.h"

namespace qv {

namespace {

// The system's two-call pattern: the size first, then the text; the input
// as it is when either call fails.
template <typename Call>
std::wstring Resized(const std::wstring& path, Call call) {
  std::wstring out(call(path.c_str(), nullptr, 0), L'\0');
  if (out.empty()) return path;
  const DWORD n = call(path.c_str(), out.data(), static_cast<DWORD>(out.size()));
  if (n == 0 || n >= out.size()) return path;
  out.resize(n);
  return out;
}

}  // namespace

std::wstring FullPath(const std::wstring& path) {
  return Resized(path, [](const wchar_t* in, wchar_t* out, DWORD n) { return ::GetFullPathNameW(in, n, out, nullptr); });
}

std::wstring ShortForm(const std::wstring& path) { return Resized(path, ::GetShortPathNameW); }

std::wstring LongNames(const std::wstring& path) { return Resized(path, ::GetLongPathNameW); }

std::wstring LongForm(const std::wstring& path) {
  // The \\?\ form takes the path literally: no "..", no forward slashes,
  // no relative part, so those are resolved first.
  const std::wstring full = FullPath(path);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.rfind(L"\\\\", 0) == 0 && full.rfind(L"\\\\.\\", 0) != 0 && !HasLongPrefix(full))
    return L"\\\\?\\UNC\\" + full.substr(2);
  return path;
}

std::optional<std::wstring> WidePath(std::string_view utf8) {
  std::wstring path = Utf8ToWide(utf8);
  // 248: a folder must leave room for an 8.3 name below it.
  if (path.size() >= MAX_PATH - 12 && !HasLongPrefix(path)) path = LongForm(path);
  if (!FitsSystem(path.size())) return std::nullopt;
  return path;
}

std::wstring WithoutPrefix(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
  if (HasLongPrefix(path)) return path.substr(4);
  return path;
}

std::wstring ModulePath() {
  // The buffer grows for a program deeper than MAX_PATH.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size() || path.size() >= kMaxPathUnits) {
      path.resize(n < path.size() ? n : path.size());
      break;
    }
    path.resize(path.size() * 2);
  }
  return path;
}

std::wstring ProgramPath() {
  const std::wstring path = ModulePath();
  return path.find(L'~') != std::wstring::npos ? LongNames(path) : path;
}

std::string ProgramFileName() { return WideToUtf8(ProgramPath()); }

std::string SystemMessage(unsigned long code) {
  wchar_t* text = nullptr;
  std::string message;
  if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) &&
      text) {
    message = WideToUtf8(text);
    ::LocalFree(text);
  }
  while (!message.empty() && static_cast<unsigned char>(message.back()) <= ' ') message.pop_back();
  return message;
}

}  // namespace qv
