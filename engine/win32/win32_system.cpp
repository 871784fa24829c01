#include "engine/win32/win32_system.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "engine/platform.h"
#include "framework/handles.h"
#include "framework/portable/hex.h"
#include "framework/registry.h"
#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv {

namespace {

template <typename Query>
std::string FolderQuery(Query query) {
  wchar_t buf[MAX_PATH + 1];
  const UINT n = query(buf, static_cast<UINT>(std::size(buf)));
  return (n == 0 || n >= std::size(buf)) ? std::string() : WideToUtf8({buf, n});
}

// The system's folder for an id, as it names it whether it is there yet or
// not; empty when it has none.
std::string ShellFolder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
  const ShellMemory<wchar_t> owned(path);  // given back even on failure
  return SUCCEEDED(hr) && path ? WideToUtf8(path) : std::string();
}

// The system cuts an expansion longer than about 32K units short without
// saying so (Wine at 32,764): one this long is not trusted.
constexpr std::size_t kTrustedExpansion = 30000;

// The system's expansion; the text as it is when that fails.
std::wstring SystemExpansion(const std::wstring& text) {
  DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  // A second try for a variable that grew in between.
  for (int attempt = 0; size > 0 && attempt < 2; ++attempt) {
    std::wstring expanded(size, L'\0');
    const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), size);
    if (n > 0 && n <= size) {
      expanded.resize(n - 1);  // without its terminating zero
      return expanded;
    }
    size = n;
  }
  return text;
}

std::wstring Expansion(const std::wstring& text) {
  if (text.find(L'%') == std::wstring::npos) return text;
  std::wstring whole = SystemExpansion(text);
  if (whole.size() < kTrustedExpansion) return whole;
  // Longer: in two parts, cut nearest the middle where no %NAME% is open.
  // The system takes each such pair as one, known or not, so the parts
  // expand as the whole would. A last % without its pair opens nothing.
  const std::size_t middle = text.size() / 2;
  const std::size_t last = text.rfind(L'%');
  const bool unpaired = std::count(text.begin(), text.end(), L'%') % 2 != 0;
  std::size_t cut = 0;
  bool open = false;
  for (std::size_t i = 0; i < text.size(); open ^= text[i] == L'%', ++i) {
    const auto distance = [middle](std::size_t at) { return at > middle ? at - middle : middle - at; };
    if ((!open || (unpaired && i > last)) && i > 0 && (cut == 0 || distance(i) < distance(cut))) cut = i;
  }
  if (cut == 0) return whole;  // a single %NAME%: no shorter part to take
  return Expansion(text.substr(0, cut)) + Expansion(text.substr(cut));
}

}  // namespace

std::string Win32System::WindowsFolder() {
  return FolderQuery([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
}

std::string Win32System::SystemFolder() {
  return FolderQuery([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
}

std::string Win32System::TempPath() {
  return FolderQuery([](wchar_t* b, UINT n) { return static_cast<UINT>(::GetTempPathW(n, b)); });
}

bool Win32System::Windows64() {
  // x86 emulation on ARM64 is the 32-bit layer too.
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

void Win32System::UseNativeView() {
  if (Windows64()) view_.Use(Utf8ToWide(SystemFolder()), Utf8ToWide(WindowsFolder()));
}

std::string Win32System::KnownFolderPath(KnownFolder which) {
  const bool windows64 = Windows64();
  std::string path;
  switch (which) {
    case KnownFolder::LocalAppData: path = ShellFolder(FOLDERID_LocalAppData); break;
    case KnownFolder::AppData: path = ShellFolder(FOLDERID_RoamingAppData); break;
    case KnownFolder::UserPrograms:
      path = ShellFolder(FOLDERID_UserProgramFiles);
      // Older systems name no such folder; where it is on newer ones.
      if (path.empty()) {
        path = KnownFolderPath(KnownFolder::LocalAppData);
        if (!path.empty()) path += "\\Programs";
      }
      break;
    case KnownFolder::Profile: path = ShellFolder(FOLDERID_Profile); break;
    case KnownFolder::StartMenuPrograms: path = ShellFolder(FOLDERID_Programs); break;
    case KnownFolder::Desktop: path = ShellFolder(FOLDERID_Desktop); break;
    case KnownFolder::Startup: path = ShellFolder(FOLDERID_Startup); break;
    case KnownFolder::CommonAppData: path = ShellFolder(FOLDERID_ProgramData); break;
    case KnownFolder::CommonStartMenuPrograms: path = ShellFolder(FOLDERID_CommonPrograms); break;
    case KnownFolder::CommonDesktop: path = ShellFolder(FOLDERID_PublicDesktop); break;
    case KnownFolder::CommonStartup: path = ShellFolder(FOLDERID_CommonStartup); break;
    case KnownFolder::Fonts: path = ShellFolder(FOLDERID_Fonts); break;
    case KnownFolder::CommonFiles:
      path = ShellFolder(windows64 ? FOLDERID_ProgramFilesCommonX86 : FOLDERID_ProgramFilesCommon);
      break;
    case KnownFolder::ProgramFilesNative:
    case KnownFolder::CommonFilesNative: {
      const bool programs = which == KnownFolder::ProgramFilesNative;
      if (!windows64) {
        path = ShellFolder(programs ? FOLDERID_ProgramFiles : FOLDERID_ProgramFilesCommon);
        break;
      }
      // The shell names only the x86 folders to a 32-bit program. The
      // system's record in the 64-bit view names the others: nobody but
      // administrators may change it, while anybody may give himself
      // environment variables of these names. Those only when it cannot
      // be read.
      TRegistry reg = OpenRoot(kHKLM, KEY_QUERY_VALUE, KEY_WOW64_64KEY);
      if (reg.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false))
        path = reg.ReadText(programs ? "ProgramFilesDir" : "CommonFilesDir").value_or("");
      if (path.empty()) {
        wchar_t buf[MAX_PATH + 1];
        const DWORD n = ::GetEnvironmentVariableW(programs ? L"ProgramW6432" : L"CommonProgramW6432", buf,
                                                  static_cast<DWORD>(std::size(buf)));
        if (n > 0 && n < std::size(buf)) path = WideToUtf8({buf, n});
      }
      break;
    }
  }
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

std::string Win32System::Today() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  std::string date = "00000000";
  PutDigits(date, 0, t.wYear, 4);
  PutDigits(date, 4, t.wMonth, 2);
  PutDigits(date, 6, t.wDay, 2);
  return date;
}

std::string Win32System::ExpandEnvironment(const std::string& text) { return WideToUtf8(Expansion(Utf8ToWide(text))); }

std::string Win32System::FromCodePage(unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), n);
  return WideToUtf8(wide);
}

void Win32System::Pause(unsigned milliseconds) { ::Sleep(milliseconds); }

std::uint32_t Win32System::Ticks() { return ::GetTickCount(); }

Platform::Error Win32System::LastError() {
  Error e;
  e.code = ::GetLastError();
  e.message = SystemMessage(e.code);
  if (e.code == ERROR_SHARING_VIOLATION && !inUse_.HeldBy().empty()) e.message += " Held by " + inUse_.HeldBy() + ".";
  return e;
}

}  // namespace qv
