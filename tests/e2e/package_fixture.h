// A real package in a temporary folder: setup.exe (our program under test),
// its setup script and files, and a way to run it and wait.
#pragma once

#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

namespace qv::e2e {

// Paths of the programs under test, from the command line.
extern std::string g_setupExe;
extern std::string g_recorderExe;
extern std::string g_qvpackExe;

// A Unix path as Wine sees it (through drive Z:); Windows paths unchanged.
std::string WinePath(const std::string& path);

// A started program that does not outlive the test that started it.
class RunningProgram {
 public:
  // `program`: the program's file, for a command line that names it
  // otherwise; it then starts in the program's folder.
  explicit RunningProgram(const std::string& commandLine, const std::string& program = "");
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Started() const { return process_ != nullptr; }
  unsigned long Id() const { return id_; }
  // True when the program ended within the time.
  bool WaitForExit(unsigned timeoutMs) const;
  int ExitCode() const;

 private:
  void* process_ = nullptr;
  unsigned long id_ = 0;
};

class Package {
 public:
  explicit Package(const std::string& tag, const std::string& exeName = "setup.exe");

  const std::string& Dir() const { return dir_.Path(); }
  std::string operator/(const std::string& rel) const { return dir_ / rel; }
  std::string Exe() const { return dir_ / exeName_; }

  void Script(const std::string& text, const std::string& name = "setup.ini") const;
  void File(const std::string& rel, const std::string& content = "x") const;
  void AddRecorder(const std::string& rel = "recorder.exe") const;

  // Runs the program with arguments; gives its exit code, or -1 when it did
  // not end within the time (it is then killed).
  int Run(const std::string& args = "", unsigned timeoutMs = 30000) const;
  // The quoted program and its arguments, for RunningProgram.
  std::string CommandLine(const std::string& args = "") const;

 private:
  test::TempDir dir_;
  std::string exeName_;
};

// Runs a command line to its end: its exit code, -1 when it did not end in
// time (it is then killed), -2 when it did not start.
int RunProgram(const std::string& commandLine, unsigned timeoutMs = 60000);

// A visible top-level window of a process that `matches` takes; null when
// there is none. (HWND as a pointer: windows.h stays out of this header.)
void* VisibleWindowOf(unsigned long processId, const std::function<bool(void* window)>& matches);

// Waits for a file that a started program writes; gives its content.
std::string WaitForFile(const std::string& path, unsigned timeoutMs = 15000);

}  // namespace qv::e2e
