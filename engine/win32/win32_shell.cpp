#include "engine/win32/win32_shell.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "engine/command_line.h"
#include "engine/entries.h"
#include "engine/setup_engine.h"
#include "engine/win32/access.h"
#include "framework/handles.h"
#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv {

std::string Win32Shell::ResolveProgram(const std::string& commandLine) {
  // A bare name would be looked for beside the installer first, where
  // anybody may have dropped a program of that name: the system folders
  // come first. A program found nowhere there keeps the launcher's search.
  const ProgramToken t = SplitProgram(commandLine);
  if (!IsBareProgramName(t.program)) return commandLine;
  const std::wstring program = Utf8ToWide(t.program);
  for (const std::string& folder : {system_.SystemFolder(), system_.WindowsFolder()}) {
    const std::optional<std::wstring> searched = view_.Of(folder);
    wchar_t found[MAX_PATH + 1];
    const DWORD n = searched ? ::SearchPathW(searched->c_str(), program.c_str(), L".exe",
                                             static_cast<DWORD>(std::size(found)), found, nullptr)
                             : 0;
    if (n > 0 && n < std::size(found)) return "\"" + WideToUtf8(view_.SystemName({found, n})) + "\"" + t.rest;
  }
  return commandLine;
}

// The program of a command line whose name the system would not read from
// it: the command line yields at most MAX_PATH units of it. Named apart, it
// may be longer in the \\?\ form, which Windows takes; Wine takes only a
// short name there, so the short form where the volume keeps one. In the
// native view, one in the system folder is named apart by its way there.
// Empty for a name that fits and goes where it says.
std::optional<std::wstring> Win32Shell::ProgramApart(const std::string& program) const {
  const std::wstring named = Utf8ToWide(program);
  if (named.size() < MAX_PATH && view_.Native(named) == named) return std::wstring();
  std::optional<std::wstring> wide = view_.Of(program);
  if (!wide) return std::nullopt;
  // The command line's own rule: a name without an extension is a program
  // with .exe.
  const std::size_t name = wide->find_last_of(L'\\') + 1;
  if (::GetFileAttributesW(wide->c_str()) == INVALID_FILE_ATTRIBUTES && wide->find(L'.', name) == std::wstring::npos)
    *wide += L".exe";
  return HasLongPrefix(*wide) ? ShortForm(*wide) : *wide;
}

namespace {

// A process starts in a folder of at most MAX_PATH - 2 units, and never in
// a \\?\ one: a longer folder is given by its short form.
std::optional<std::wstring> FolderToStartIn(const std::string& folder) {
  std::wstring wide = Utf8ToWide(folder);
  if (wide.size() < MAX_PATH - 1 && !HasLongPrefix(wide)) return wide;
  const std::optional<std::wstring> full = WidePath(folder);
  if (!full) return std::nullopt;
  wide = WithoutPrefix(ShortForm(*full));
  if (wide.size() < MAX_PATH - 1) return wide;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return std::nullopt;
}

}  // namespace

bool Win32Shell::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  // As the classic launcher does: the show code goes to the program's first
  // window, and the call returns once the program waits for input, or after
  // half a minute.
  const std::string resolved = ResolveProgram(commandLine);
  std::wstring command = Utf8ToWide(resolved);
  // The command line itself stays as written: the program reads its own
  // name from it.
  const std::optional<std::wstring> program = ProgramApart(SplitProgram(resolved).program);
  // The folder goes by its name, never through Sysnative: the program
  // looks for it in its own view, and a 64-bit one has no such folder.
  const std::optional<std::wstring> folder =
      workingFolder.empty() ? std::optional<std::wstring>(std::wstring()) : FolderToStartIn(workingFolder);
  if (!program || !folder) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCode);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program->empty() ? nullptr : program->c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, folder->empty() ? nullptr : folder->c_str(), &startup, &started))
    return false;
  const UniqueHandle process(started.hProcess), thread(started.hThread);
  ::WaitForInputIdle(process.Get(), 30000);
  return true;
}

bool Win32Shell::StartWatcher(const std::string& commandLine) {
  HANDLE self = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self, SYNCHRONIZE,
                         TRUE, 0))
    return false;
  const UniqueHandle handed(self);
  // That one handle is inherited, none of the others an elevated run holds.
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> list(size);
  const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  struct ListEnd {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~ListEnd() { ::DeleteProcThreadAttributeList(list); }
  } listEnd{attributes};
  if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &self, sizeof self, nullptr,
                                   nullptr))
    return false;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.lpAttributeList = attributes;
  // Named apart: no search for the program, wherever the command line
  // leaves a blank.
  const std::optional<std::wstring> program = view_.Of(SplitProgram(commandLine).program);
  std::wstring command =
      Utf8ToWide(commandLine + " " + std::to_string(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(self))));
  // Not in a folder it is to remove: a working folder is in use.
  const std::wstring folder = Utf8ToWide(system_.SystemFolder());
  PROCESS_INFORMATION started{};
  if (!program || !::CreateProcessW(program->c_str(), command.data(), nullptr, nullptr, TRUE,
                                    EXTENDED_STARTUPINFO_PRESENT, nullptr, folder.empty() ? nullptr : folder.c_str(),
                                    &startup.StartupInfo, &started))
    return false;
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

std::optional<int> Win32Shell::RunElevated(const std::vector<std::string>& args) {
  const std::optional<std::string> line = JoinCommandLine(args);
  if (!line) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  // The shell takes no \\?\ name: a longer one by its short form.
  const std::string self = ProgramFileName();
  std::wstring program = Utf8ToWide(self);
  if (program.size() >= MAX_PATH) {
    const std::optional<std::wstring> full = WidePath(self);
    if (!full) return std::nullopt;
    program = WithoutPrefix(ShortForm(*full));
  }
  std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  const std::wstring parameters = Utf8ToWide(*line);
  const ComInit com;  // the shell may hand the start to its extensions
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  // Declined at the prompt, it fails with ERROR_CANCELLED.
  if (!::ShellExecuteExW(&info)) return std::nullopt;
  const UniqueHandle process(info.hProcess);
  if (!process) {
    ::SetLastError(ERROR_INVALID_HANDLE);  // started some other way, nothing to wait for
    return std::nullopt;
  }
  DWORD code = 0;
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &code))
    return std::nullopt;
  return static_cast<int>(code);
}

std::optional<int> Win32Shell::RunAsLimitedHalf(const std::vector<std::string>& args) {
  const std::optional<std::string> line = JoinCommandLine(args);
  const std::optional<std::wstring> program = WidePath(ProgramFileName());
  if (!line || !program) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  const UniqueHandle token = access::LimitedHalfToken();
  if (!token) {
    ::SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
    return std::nullopt;
  }
  std::wstring commandLine = L"\"" + WithoutPrefix(*program) + L"\" " + Utf8ToWide(*line);
  std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // The first needs a right an administrator rarely has; the second the
  // right to impersonate, which he has.
  if (!::CreateProcessAsUserW(token.Get(), program->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &started) &&
      !::CreateProcessWithTokenW(token.Get(), 0, program->c_str(), commandLine.data(), 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &started))
    return std::nullopt;
  const UniqueHandle process(started.hProcess), thread(started.hThread);
  DWORD code = 0;
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &code))
    return std::nullopt;
  return static_cast<int>(code);
}

void Win32Shell::Announce(Change change, const std::string& folder) {
  // Nothing to answer: the error of the call before stays to be reported.
  const KeepLastError kept;
  switch (change) {
    // Both start the shell's delivery and return at once: a hung shell
    // cannot hold the run.
    case Change::Associations:
      ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, nullptr, nullptr);
      break;
    case Change::Folder:
      // By the name the shell knows, never through Sysnative.
      if (!folder.empty())
        ::SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, Utf8ToWide(folder).c_str(), nullptr);
      break;
    case Change::Environment: {
      // A hung window is skipped at once; any other gets five seconds. The
      // time is each window's, so a few slow ones add up, but none can
      // stop the run.
      DWORD_PTR result = 0;
      ::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                            SMTO_ABORTIFHUNG | SMTO_NORMAL, 5000, &result);
      break;
    }
  }
}

}  // namespace qv
