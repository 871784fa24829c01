#include "engine/win32/win32_shell.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <userenv.h>

#include "engine/command_line.h"
#include "engine/entries.h"
#include "engine/text.h"
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

// The show code goes to the program's first window.
STARTUPINFOW Showing(int showCode) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCode);
  return startup;
}

}  // namespace

std::optional<Win32Shell::Prepared> Win32Shell::Prepare(const std::string& commandLine,
                                                        const std::string& workingFolder) {
  const std::string resolved = ResolveProgram(commandLine);
  // The command line itself stays as written: the program reads its own
  // name from it.
  const std::optional<std::wstring> program = ProgramApart(SplitProgram(resolved).program);
  // The folder goes by its name, never through Sysnative: the program
  // looks for it in its own view, and a 64-bit one has no such folder.
  const std::optional<std::wstring> folder =
      workingFolder.empty() ? std::optional<std::wstring>(std::wstring()) : FolderToStartIn(workingFolder);
  if (!program || !folder) return std::nullopt;
  return Prepared{Utf8ToWide(resolved), *program, *folder};
}

bool Win32Shell::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  // As the classic launcher does: the call returns once the program waits
  // for input, or after half a minute.
  std::optional<Prepared> p = Prepare(commandLine, workingFolder);
  if (!p) return false;
  STARTUPINFOW startup = Showing(showCode);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(p->program.empty() ? nullptr : p->program.c_str(), p->command.data(), nullptr, nullptr, FALSE,
                        0, nullptr, p->folder.empty() ? nullptr : p->folder.c_str(), &startup, &started))
    return false;
  const UniqueHandle process(started.hProcess), thread(started.hThread);
  ::WaitForInputIdle(process.Get(), 30000);
  return true;
}

namespace {

// The hold on a started program: its handle, closed at the end (the
// program runs on).
class Win32Started : public StartedProgram {
 public:
  explicit Win32Started(HANDLE process) : process_(process) {}
  // A wait that fails ends too: there is nothing more to wait for.
  bool Wait(unsigned milliseconds) override {
    return ::WaitForSingleObject(process_.Get(), milliseconds) != WAIT_TIMEOUT;
  }
  std::uint32_t ExitCode() override {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

 private:
  UniqueHandle process_;
};

// An environment block made for a token, freed at the end.
struct Environment {
  void* block = nullptr;
  explicit Environment(HANDLE token) {
    if (!::CreateEnvironmentBlock(&block, token, FALSE)) block = nullptr;
  }
  ~Environment() {
    if (block) ::DestroyEnvironmentBlock(block);
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
};

}  // namespace

std::unique_ptr<StartedProgram> Win32Shell::Launch(const std::string& commandLine, int showCode,
                                                   const std::string& workingFolder, StartAs as) {
  std::optional<Prepared> p = Prepare(commandLine, workingFolder);
  if (!p) return nullptr;
  STARTUPINFOW startup = Showing(showCode);
  PROCESS_INFORMATION started{};
  const wchar_t* program = p->program.empty() ? nullptr : p->program.c_str();
  const wchar_t* folder = p->folder.empty() ? nullptr : p->folder.c_str();
  if (as == StartAs::Run) {
    if (!::CreateProcessW(program, p->command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &started))
      return nullptr;
  } else {
    const UniqueHandle token = access::PersonToken();
    if (!token) return nullptr;
    // The person's own environment (TEMP, the profile), not this run's.
    const Environment environment(token.Get());
    const DWORD flags = environment.block ? CREATE_UNICODE_ENVIRONMENT : 0;
    // As in RunAsLimitedHalf: the first needs a right an administrator
    // rarely has, the second the right to impersonate.
    if (!::CreateProcessAsUserW(token.Get(), program, p->command.data(), nullptr, nullptr, FALSE, flags,
                                environment.block, folder, &startup, &started) &&
        !::CreateProcessWithTokenW(token.Get(), 0, program, p->command.data(), flags, environment.block, folder,
                                   &startup, &started))
      return nullptr;
  }
  ::CloseHandle(started.hThread);
  return std::make_unique<Win32Started>(started.hProcess);
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

namespace {

// More than any script's commands: a run that hands back more is not ours.
constexpr std::size_t kHandBackLimit = 1 << 20;

// Reads what is in the pipe now, without waiting; false once it holds too much.
bool Drain(HANDLE pipe, std::string& into) {
  DWORD ready = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &ready, nullptr) && ready > 0) {
    char buffer[4096];
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer, static_cast<DWORD>(std::min<DWORD>(ready, sizeof buffer)), &got, nullptr) || got == 0)
      break;
    into.append(buffer, got);
    if (into.size() > kHandBackLimit) return false;
  }
  return true;
}

// "show<TAB>working folder<TAB>command line" lines.
std::vector<HandedCommand> HandedLines(const std::string& text) {
  std::vector<HandedCommand> commands;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // cut short: not a whole line
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t tab = line.find('\t');
    const std::size_t second = tab == std::string::npos ? tab : line.find('\t', tab + 1);
    if (second == std::string::npos || second + 1 >= line.size()) continue;
    if (const std::optional<std::int32_t> show = ParseInt32(line.substr(0, tab)))
      commands.push_back({line.substr(second + 1), *show, line.substr(tab + 1, second - tab - 1)});
  }
  return commands;
}

}  // namespace

bool HandBack(const std::string& channel, const std::vector<HandedCommand>& commands) {
  if (commands.empty()) return true;
  // "<process>.<handle>": the pipe's writing end in the run that started us.
  const std::size_t dot = channel.find('.');
  if (dot == std::string::npos) return false;
  const std::int32_t pid = ParseInt32(channel.substr(0, dot)).value_or(0);
  const std::int32_t number = ParseInt32(channel.substr(dot + 1)).value_or(0);
  if (pid <= 0 || number <= 0) return false;
  const UniqueHandle starter(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(pid)));
  HANDLE raw = nullptr;
  if (!starter || !::DuplicateHandle(starter.Get(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(number)),
                                     ::GetCurrentProcess(), &raw, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return false;
  const UniqueHandle pipe(raw);
  // Only a pipe: nothing else of that process is written to.
  if (::GetFileType(pipe.Get()) != FILE_TYPE_PIPE) return false;
  std::string text;
  for (const HandedCommand& c : commands)
    if ((c.commandLine + c.workingFolder).find_first_of("\r\n") == std::string::npos &&
        c.workingFolder.find('\t') == std::string::npos)
      text += std::to_string(c.showCode) + "\t" + c.workingFolder + "\t" + c.commandLine + "\n";
  DWORD written = 0;
  return text.size() <= kHandBackLimit &&
         ::WriteFile(pipe.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::optional<int> Win32Shell::RunElevated(const std::vector<std::string>& given) {
  // A pipe whose writing end the elevated run takes from us: the commands
  // it hands back come through nothing any other account can reach.
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  std::vector<std::string> args = given;
  if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16)) readEnd = writeEnd = nullptr;
  const UniqueHandle reading(readEnd), writing(writeEnd);
  if (writing && !args.empty() && args[0] == kElevatedSwitch)
    args.insert(args.begin() + 1, kHandBackSwitch + std::to_string(::GetCurrentProcessId()) + "." +
                                      std::to_string(reinterpret_cast<ULONG_PTR>(writeEnd)));
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
  std::string handed;
  bool fits = true;
  DWORD waited = WAIT_TIMEOUT;
  // Read while it runs: a full pipe would hold it up.
  while (waited == WAIT_TIMEOUT) {
    waited = ::WaitForSingleObject(process.Get(), reading ? 100 : INFINITE);
    if (reading && !Drain(reading.Get(), handed)) {
      fits = false;
      handed.clear();
    }
  }
  if (waited != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &code)) return std::nullopt;
  if (fits) handedBack_ = HandedLines(handed);
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
