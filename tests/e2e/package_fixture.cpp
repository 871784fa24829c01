#include "tests/e2e/package_fixture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv::e2e {

std::string g_setupExe;
std::string g_recorderExe;
std::string g_qvpackExe;

std::string WinePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string w = "Z:" + path;
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
}

Package::Package(const std::string& tag, const std::string& exeName) : dir_(tag), exeName_(exeName) {
  test::MakeFolders(test::FolderOf(Exe()));
  EXPECT_TRUE(::CopyFileW(WidePath(g_setupExe).value().c_str(), WidePath(Exe()).value().c_str(), FALSE)) << g_setupExe;
}

void Package::Script(const std::string& text, const std::string& name) const {
  test::WriteTextFile(dir_ / name, text);
}

void Package::File(const std::string& rel, const std::string& content) const {
  test::WriteTextFile(dir_ / rel, content);
}

void Package::AddRecorder(const std::string& rel) const {
  test::MakeFolders(test::FolderOf(dir_ / rel));
  EXPECT_TRUE(::CopyFileW(WidePath(g_recorderExe).value().c_str(), WidePath(dir_ / rel).value().c_str(), FALSE));
}

std::string Package::CommandLine(const std::string& args) const {
  std::string cmd = "\"" + Exe() + "\"";
  if (!args.empty()) cmd += " " + args;
  return cmd;
}

int Package::Run(const std::string& args, unsigned timeoutMs) const {
  RunningProgram program(CommandLine(args));
  if (!program.Started()) return -2;
  return program.WaitForExit(timeoutMs) ? program.ExitCode() : -1;
}

RunningProgram::RunningProgram(const std::string& commandLine, const std::string& program) {
  std::wstring cmd = Utf8ToWide(commandLine);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // Started from another folder, so nothing depends on the current one.
  wchar_t windows[MAX_PATH];
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring file = Utf8ToWide(program), folder = Utf8ToWide(test::FolderOf(program));
  if (!::CreateProcessW(program.empty() ? nullptr : file.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        program.empty() ? windows : folder.c_str(), &si, &pi)) {
    ADD_FAILURE() << "cannot start " << commandLine;
    return;
  }
  ::CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  id_ = pi.dwProcessId;
}

RunningProgram::~RunningProgram() {
  if (!process_) return;
  if (!WaitForExit(0)) {
    ::TerminateProcess(process_, 99);
    ::WaitForSingleObject(process_, 5000);
  }
  ::CloseHandle(process_);
}

bool RunningProgram::WaitForExit(unsigned timeoutMs) const {
  return process_ && ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

int RunningProgram::ExitCode() const {
  DWORD c = 0;
  ::GetExitCodeProcess(process_, &c);
  return static_cast<int>(c);
}

int RunProgram(const std::string& commandLine, unsigned timeoutMs) {
  RunningProgram program(commandLine);
  if (!program.Started()) return -2;
  return program.WaitForExit(timeoutMs) ? program.ExitCode() : -1;
}

std::string WaitForFile(const std::string& path, unsigned timeoutMs) {
  for (unsigned waited = 0; waited < timeoutMs; waited += 50) {
    if (test::IsFile(path)) return test::ReadTextFile(path);
    ::Sleep(50);
  }
  return {};
}

namespace {

struct WindowSearch {
  unsigned long processId;
  const std::function<bool(void*)>* matches;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND w, LPARAM lp) {
  auto* search = reinterpret_cast<WindowSearch*>(lp);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(w, &owner);
  if (owner == search->processId && ::IsWindowVisible(w) && (*search->matches)(w)) search->found = w;
  return search->found == nullptr;
}

}  // namespace

void* VisibleWindowOf(unsigned long processId, const std::function<bool(void*)>& matches) {
  WindowSearch search{processId, &matches, nullptr};
  ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace qv::e2e

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: e2e_tests qvSetup.exe recorder.exe qvpack.exe\n");
    return 2;
  }
  qv::e2e::g_setupExe = qv::e2e::WinePath(argv[1]);
  qv::e2e::g_recorderExe = qv::e2e::WinePath(argv[2]);
  qv::e2e::g_qvpackExe = qv::e2e::WinePath(argv[3]);
  return RUN_ALL_TESTS();
}
