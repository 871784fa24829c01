#include "win32_platform.h"

#include <windows.h>

#include <cstdio>

#include "handles.h"
#include "entries.h"
#include "registry.h"

namespace qv {

namespace {

// Folder queries give an empty string rather than a half-filled buffer when
// the path does not fit.
template <typename Query>
std::string FolderQuery(Query query) {
  char buf[MAX_PATH + 1];
  const UINT n = query(buf, static_cast<UINT>(sizeof buf));
  return (n == 0 || n >= sizeof buf) ? std::string() : std::string(buf, n);
}

HKEY RootKey(std::uint32_t root) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root)); }

class Win32Find : public FindHandle {
 public:
  explicit Win32Find(HANDLE h) : h_(h) {}
  bool Next(FindEntry& e) override {
    WIN32_FIND_DATAA d;
    if (!::FindNextFileA(h_.Get(), &d)) return false;
    e = {d.cFileName, d.dwFileAttributes};
    return true;
  }

 private:
  UniqueFind h_;
};

}  // namespace

std::string Win32Platform::WindowsFolder() {
  return FolderQuery([](char* b, UINT n) { return ::GetWindowsDirectoryA(b, n); });
}

std::string Win32Platform::SystemFolder() {
  return FolderQuery([](char* b, UINT n) { return ::GetSystemDirectoryA(b, n); });
}

std::string Win32Platform::TempPath() {
  return FolderQuery([](char* b, UINT n) { return static_cast<UINT>(::GetTempPathA(n, b)); });
}

RegistryText Win32Platform::ReadRegistryText(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) {
  // Reading needs no more than read access; asking for more fails for a
  // standard user under HKLM and would lose the value.
  TRegistry reg(KEY_READ);
  reg.SetRootKey(RootKey(root));
  if (!reg.OpenKey(subkey, false)) return {RegistryText::Status::KeyNotOpened, {}};
  const std::optional<DWORD> type = reg.DataType(name);
  if (!type) return {RegistryText::Status::Absent, {}};
  if (*type != REG_SZ && *type != REG_EXPAND_SZ) return {RegistryText::Status::NotText, {}};
  std::optional<std::string> text = reg.ReadText(name);
  return {RegistryText::Status::Text, text.value_or(std::string())};
}

RegWrite Win32Platform::WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                                           const std::string& name, RegType type,
                                           const std::vector<std::uint8_t>& data) {
  TRegistry reg(KEY_ALL_ACCESS);
  reg.SetRootKey(RootKey(root));
  if (!reg.OpenKey(subkey, true)) return RegWrite::KeyNotOpened;
  return reg.WriteData(name, static_cast<DWORD>(type), data) ? RegWrite::Written
                                                              : RegWrite::WriteFailed;
}

std::uint32_t Win32Platform::Attributes(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

bool Win32Platform::MakeFolder(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

std::unique_ptr<FindHandle> Win32Platform::FindFirst(const std::string& pattern, FindEntry& first) {
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA(pattern.c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  first = {d.cFileName, d.dwFileAttributes};
  return std::make_unique<Win32Find>(h);
}

namespace {

// Removes what a failed copy may have left, keeping the error to report.
bool FailAndRemove(const std::string& partial) {
  const DWORD error = ::GetLastError();
  ::SetFileAttributesA(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(partial.c_str());
  ::SetLastError(error);
  return false;
}

}  // namespace

bool Win32Platform::CopyOneFile(const std::string& from, const std::string& to) {
  // A copy that fails halfway (disk full, read error) must not leave half a
  // file. A new file is removed again; an existing one is replaced only by a
  // complete copy made under a temporary name beside it and put in place in
  // one step, so the old file stays as it was. Attributes and times come
  // from CopyFileA either way.
  if (::GetFileAttributesA(to.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (::CopyFileA(from.c_str(), to.c_str(), TRUE)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CopyReplacing(from, to);
    return FailAndRemove(to);
  }
  return CopyReplacing(from, to);
}

bool Win32Platform::CopyReplacing(const std::string& from, const std::string& to) {
  static unsigned serial = 0;
  const std::string stem = to + ".~qv" + std::to_string(::GetCurrentProcessId()) + "_";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = stem + std::to_string(serial++);
    if (!::CopyFileA(from.c_str(), temp.c_str(), TRUE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // somebody else's name
      return FailAndRemove(temp);
    }
    if (!::MoveFileExA(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return FailAndRemove(temp);
    return true;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return false;
}

std::optional<std::string> Win32Platform::ReadWholeFile(const std::string& path) {
  UniqueFile f(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return std::nullopt;
  LARGE_INTEGER size;
  // A setup script is text of a few kilobytes; refuse anything absurd.
  if (!::GetFileSizeEx(f.Get(), &size) || size.QuadPart > (64 << 20)) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() && !::ReadFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
    return std::nullopt;
  bytes.resize(got);
  return bytes;
}

std::string Win32Platform::ResolveProgram(const std::string& commandLine) {
  // A bare name would be looked for beside the installer first, where
  // anybody may have dropped a program of that name: the system folders
  // come first. A program found nowhere there keeps the launcher's search.
  const ProgramToken t = SplitProgram(commandLine);
  if (!IsBareProgramName(t.program)) return commandLine;
  for (const std::string& folder : {SystemFolder(), WindowsFolder()}) {
    char found[MAX_PATH + 1];
    const DWORD n = ::SearchPathA(folder.c_str(), t.program.c_str(), ".exe", sizeof found, found, nullptr);
    if (n > 0 && n < sizeof found) return "\"" + std::string(found, n) + "\"" + t.rest;
  }
  return commandLine;
}

bool Win32Platform::StartProgram(const std::string& commandLine, int showCode) {
  return ::WinExec(ResolveProgram(commandLine).c_str(), static_cast<UINT>(showCode)) > 31;
}

void Win32Platform::Pause(unsigned milliseconds) { ::Sleep(milliseconds); }

std::uint32_t Win32Platform::Ticks() { return ::GetTickCount(); }

Platform::Error Win32Platform::LastError() {
  Error e;
  e.code = ::GetLastError();
  char* text = nullptr;
  if (::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, e.code, 0, reinterpret_cast<char*>(&text), 0, nullptr) && text) {
    e.message = text;
    ::LocalFree(text);
    while (!e.message.empty() && static_cast<unsigned char>(e.message.back()) <= ' ') e.message.pop_back();
  }
  return e;
}

FileLog::FileLog(const std::string& path)
    : file_(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr)) {}

void FileLog::Line(const std::string& text) {
  if (!file_) return;
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u ", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  // Straight to the file, unbuffered: a run that dies still leaves its lines.
  const std::string line = stamp + text + "\r\n";
  DWORD written = 0;
  ::WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string ProgramFileName() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace qv
