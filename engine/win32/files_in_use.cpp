#include "engine/win32/files_in_use.h"

#include <windows.h>
#include <restartmanager.h>

#include <vector>

#include "framework/dll_safety.h"
#include "framework/handles.h"
#include "framework/text_conv.h"

namespace qv {

// The programs that hold a file, as the system's Restart Manager names them
// (none where it cannot tell).
std::string HoldersOf(const std::wstring& path) {
  // Looked up, not imported: a DLL that is no known one would be looked for
  // beside the program first.
  using Start = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
  using Register = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
  using List = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
  using End = DWORD(WINAPI*)(DWORD);
  const auto start = SystemFunction<Start>(L"rstrtmgr.dll", "RmStartSession");
  const auto add = SystemFunction<Register>(L"rstrtmgr.dll", "RmRegisterResources");
  const auto list = SystemFunction<List>(L"rstrtmgr.dll", "RmGetList");
  const auto end = SystemFunction<End>(L"rstrtmgr.dll", "RmEndSession");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (!start || !add || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) return {};
  std::string names;
  LPCWSTR file = path.c_str();
  UINT needed = 0, count = 0;
  DWORD reasons = 0;
  std::vector<RM_PROCESS_INFO> found;
  if (add(session, 1, &file, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
      list(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0) {
    found.resize(needed);
    count = needed;
    if (list(session, &needed, &count, found.data(), &reasons) != ERROR_SUCCESS) count = 0;
  }
  end(session);
  const KeepLastError kept;
  for (UINT i = 0; i < count && i < found.size(); ++i)
    names += (names.empty() ? "" : ", ") + WideToUtf8(found[i].strAppName) + " (process " +
             std::to_string(found[i].Process.dwProcessId) + ")";
  return names;
}

namespace {

using RmStart = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmRegister = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using RmList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using RmEnd = DWORD(WINAPI*)(DWORD);
using RmShutdownCall = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
using RmRestartCall = DWORD(WINAPI*)(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK);

}  // namespace

bool RestartSession::Open() {
  if (open_) return true;
  const auto start = SystemFunction<RmStart>(L"rstrtmgr.dll", "RmStartSession");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (!start || start(&session, 0, key) != ERROR_SUCCESS) return false;
  session_ = session;
  open_ = true;
  return true;
}

RestartSession::~RestartSession() {
  if (!open_) return;
  if (const auto end = SystemFunction<RmEnd>(L"rstrtmgr.dll", "RmEndSession")) end(session_);
}

std::vector<RunningProgram> RestartSession::Holding(const std::vector<std::string>& files) {
  const KeepLastError kept;
  const auto add = SystemFunction<RmRegister>(L"rstrtmgr.dll", "RmRegisterResources");
  const auto list = SystemFunction<RmList>(L"rstrtmgr.dll", "RmGetList");
  if (!add || !list || files.empty() || !Open()) return {};
  std::vector<std::wstring> wide;
  for (const std::string& f : files) wide.push_back(Utf8ToWide(f));
  std::vector<LPCWSTR> names;
  for (const std::wstring& w : wide) names.push_back(w.c_str());
  if (add(session_, static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0, nullptr) != ERROR_SUCCESS) return {};
  UINT needed = 0, count = 0;
  DWORD reasons = 0;
  std::vector<RM_PROCESS_INFO> found;
  // The list can grow between the two calls: asked again then.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD r = list(session_, &needed, &count, found.empty() ? nullptr : found.data(), &reasons);
    if (r == ERROR_SUCCESS) break;
    if (r != ERROR_MORE_DATA) return {};
    found.resize(needed);
    count = needed;
  }
  std::vector<RunningProgram> programs;
  for (UINT i = 0; i < count && i < found.size(); ++i)
    programs.push_back({WideToUtf8(found[i].strAppName), found[i].Process.dwProcessId, found[i].bRestartable != FALSE});
  return programs;
}

bool RestartSession::Close() {
  const auto shutdown = SystemFunction<RmShutdownCall>(L"rstrtmgr.dll", "RmShutdown");
  if (!open_ || !shutdown) return false;
  closed_ = true;
  // Asked, not forced: a program with unsaved work may refuse.
  return shutdown(session_, 0, nullptr) == ERROR_SUCCESS;
}

void RestartSession::Restart() {
  const auto restart = SystemFunction<RmRestartCall>(L"rstrtmgr.dll", "RmRestart");
  if (!open_ || !closed_ || !restart) return;
  closed_ = false;
  restart(session_, 0, nullptr);
}

namespace {

// A refusal that came from a running program holding the file. Windows
// refuses to replace a running program's own file as access denied, and
// Wine any file another program opened unshared. The Restart Manager is
// asked by the file's system name.
bool HeldElsewhere(const std::wstring& path, const std::wstring& systemName, DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  // Asking only to delete, shared with everybody: only a holder refuses that.
  const UniqueFile probe(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!probe) return ::GetLastError() == ERROR_SHARING_VIOLATION;
  return !HoldersOf(systemName).empty();
}

}  // namespace

bool FilesInUse::NoteIfHeld(const std::wstring& path, const std::wstring& named) {
  const DWORD error = ::GetLastError();
  if (!HeldElsewhere(path, named, error)) {
    ::SetLastError(error);
    return false;
  }
  heldBy_ = HoldersOf(named);
  ::SetLastError(ERROR_SHARING_VIOLATION);
  return true;
}

std::optional<std::string> FilesInUse::WaitingFor(const Path& file) const {
  if (waiting_.empty()) return std::nullopt;
  const auto it = waiting_.find(file.Key());
  if (it == waiting_.end()) return std::nullopt;
  return it->second;
}

}  // namespace qv
