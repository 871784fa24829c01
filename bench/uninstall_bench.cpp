// Uninstall speed: the uninstaller over the Win32 platform against a bare
// single-threaded DeleteFileW loop over the same files, in the same run; and
// a recorded installation (record lines, flushes, seal) against a plain one,
// fresh and over itself (where a recorded one keeps what it replaces until
// it ends). The trees: a real one (Wine's own 32-bit DLL folder, given on
// the command line) and 5,000 files of 4 KiB in 50 folders, each installed
// before each timed side by the engine with its record.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/install_recorder.h"
#include "engine/logging_platform.h"
#include "engine/setup_engine.h"
#include "engine/uninstaller.h"
#include "engine/win32/win32_platform.h"

namespace {

using qv::bench::Median;
using qv::bench::Now;
using qv::bench::NullWindow;

// Files under a folder, and the folders themselves (deepest last).
void ListTree(const std::string& dir, std::vector<std::string>& files, std::vector<std::string>& folders) {
  folders.push_back(dir);
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::string n = d.cFileName;
    if (n == "." || n == "..") continue;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListTree(dir + "\\" + n, files, folders);
    else
      files.push_back(dir + "\\" + n);
  } while (::FindNextFileA(h, &d));
  ::FindClose(h);
}

void RemoveTree(const std::string& dir) {
  std::vector<std::string> files, folders;
  ListTree(dir, files, folders);
  for (const std::string& f : files) ::DeleteFileA(f.c_str());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) ::RemoveDirectoryA(it->c_str());
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// folders x files of `size` bytes each.
void MakeTree(const std::string& dir, int folders, int files, std::size_t size) {
  const std::string block(size, 'q');
  ::CreateDirectoryA(dir.c_str(), nullptr);
  for (int d = 0; d < folders; ++d) {
    const std::string sub = dir + "\\dir" + std::to_string(d);
    ::CreateDirectoryA(sub.c_str(), nullptr);
    for (int f = 0; f < files; ++f) {
      HANDLE h = ::CreateFileA((sub + "\\file" + std::to_string(f) + ".bin").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
      DWORD w = 0;
      ::WriteFile(h, block.data(), static_cast<DWORD>(block.size()), &w, nullptr);
      ::CloseHandle(h);
    }
  }
}

// The engine's silent install of the tree into `to`, keeping its record.
void InstallWithRecord(qv::Platform& machine, const std::string& program, const std::string& tree,
                       const std::string& to) {
  qv::RunReport report;
  qv::LoggingPlatform logged(machine, nullptr, report);
  qv::InstallRecorder recorder(logged, machine, nullptr);
  recorder.SetUninstallerWriter([&](qv::Platform& p, const std::string& path) { return p.files.CopyOneFile(program, path); });
  NullWindow window;
  qv::RunState state;
  state.visible = false;
  qv::FolderValues folders;
  qv::SetupEngine engine(recorder, window, state, folders, program);
  engine.SetRecordKeeper(&recorder);
  recorder.Start("qvUninstallBench");
  recorder.Open(to, qv::Product{.id = "qvUninstallBench", .name = "qvUninstallBench"});
  engine.InstallEntry(tree + "\\", to);
  recorder.Complete();
  recorder.Finish();
}

// The same without a record: the baseline of a recorded installation.
void InstallPlain(qv::Platform& machine, const std::string& program, const std::string& tree, const std::string& to) {
  NullWindow window;
  qv::RunState state;
  state.visible = false;
  qv::FolderValues folders;
  qv::SetupEngine engine(machine, window, state, folders, program);
  ::CreateDirectoryA(to.c_str(), nullptr);
  engine.InstallEntry(tree + "\\", to);
}

struct Times {
  std::vector<double> bare, uninstall, plain, recorded;
  std::size_t count = 0;
};

// The uninstaller against the bare loop, each round from the same recorded
// installation; the recorded installation against a plain one.
bool MeasureUninstall(qv::Win32Platform& machine, const std::string& self, const std::string& tree,
                      const std::string& out, int rounds, Times& t) {
  for (int r = 0; r < rounds; ++r) {
    for (int side = 0; side < 2; ++side) {
      // Alternate the order so neither side always comes first.
      const bool ours = (side == 0) == (r % 2 == 1);
      RemoveTree(out);
      if (side == 0) {
        const double started = Now();
        InstallPlain(machine, self, tree, out);
        t.plain.push_back((Now() - started) * 1000.0);
        RemoveTree(out);
      }
      // Both sides start from the same installation, so the file system is
      // in the same state (the record's flushes included).
      const double installed = Now();
      InstallWithRecord(machine, self, tree, out);
      t.recorded.push_back((Now() - installed) * 1000.0);
      if (ours) {
        NullWindow window;
        qv::RunState state;
        state.visible = false;
        qv::RunReport report;
        const double t0 = Now();
        qv::Uninstaller uninstaller(machine, window, state, report, out + "\\uninstall.exe");
        if (uninstaller.Read() != qv::Uninstaller::Loaded::Yes || uninstaller.Load() != qv::Uninstaller::Loaded::Yes) {
          std::printf("no record\n");
          return false;
        }
        uninstaller.Run();
        t.uninstall.push_back((Now() - t0) * 1000.0);
        if (report.failures != 0 || ::GetFileAttributesA(out.c_str()) != INVALID_FILE_ATTRIBUTES) {
          std::printf("the uninstall left something (%d failures)\n", report.failures);
          return false;
        }
      } else {
        std::vector<std::string> files, folders;
        ListTree(out, files, folders);
        t.count = files.size();
        std::vector<std::wstring> wide;
        for (const std::string& f : files) wide.push_back(Wide(f));
        const double t0 = Now();
        for (const std::wstring& f : wide) ::DeleteFileW(f.c_str());
        t.bare.push_back((Now() - t0) * 1000.0);
      }
    }
  }
  return true;
}

void PrintUninstall(const char* name, const Times& t, double target, double atLeast) {
  const double b = Median(t.bare), u = Median(t.uninstall);
  std::vector<double> ratios;
  for (std::size_t i = 0; i < t.bare.size() && i < t.uninstall.size(); ++i) ratios.push_back(t.uninstall[i] / t.bare[i]);
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  std::printf("%-6s %7zu %12.1f %16.1f %7.3f %3.2f-%3.2f %6.2f\n", name, t.count, b, u, u / b, *low, *high, target);
  std::printf("target: uninstall at most %.2fx the bare DeleteFileW loop: %s", target, u / b <= target ? "met" : "missed");
  if (atLeast > target) std::printf(" (at least below %.2fx: %s)", atLeast, u / b < atLeast ? "met" : "missed");
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  // uninstall_bench tree [rounds]; a tree of "-" measures the small files only.
  if (argc < 2) {
    std::printf("usage: uninstall_bench tree [rounds]\n");
    return 2;
  }
  const std::string tree = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  char tmp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, tmp);
  const std::string base = std::string(tmp) + "qv_uninstall_bench";
  RemoveTree(base);
  ::CreateDirectoryA(base.c_str(), nullptr);
  const std::string out = base + "\\out";
  char self[MAX_PATH];
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);

  qv::Win32Platform machine;
  std::printf("%-6s %7s %12s %16s %7s %7s %7s\n", "tree", "files", "bare (ms)", "uninstall (ms)", "ratio", "spread",
              "target");
  // 5,000 files of 4 KiB: deleting is most of the work, on more than one thread.
  const std::string small = base + "\\small";
  MakeTree(small, 50, 100, 4096);
  Times smallTimes;
  if (!MeasureUninstall(machine, self, small, out, rounds, smallTimes)) return 1;
  PrintUninstall("small", smallTimes, 0.5, 1.0);
  RemoveTree(small);
  if (tree == "-") {
    RemoveTree(base);
    return 0;
  }
  Times t;
  if (!MeasureUninstall(machine, self, tree, out, rounds, t)) return 1;
  PrintUninstall("tree", t, 1.20, 0);
  std::vector<double> plainAgain, recordedAgain;
  // Over itself: every file replaced; a recorded run keeps each previous
  // content aside until it has ended, for an undo.
  for (int r = 0; r < rounds; ++r) {
    for (int side = 0; side < 2; ++side) {
      const bool recordedSide = (side == 0) == (r % 2 == 0);
      RemoveTree(out);
      if (recordedSide) {
        InstallWithRecord(machine, self, tree, out);
        const double again = Now();
        InstallWithRecord(machine, self, tree, out);
        recordedAgain.push_back((Now() - again) * 1000.0);
      } else {
        InstallPlain(machine, self, tree, out);
        const double again = Now();
        InstallPlain(machine, self, tree, out);
        plainAgain.push_back((Now() - again) * 1000.0);
      }
    }
  }
  RemoveTree(base);
  const std::size_t count = t.count;
  // The record's lines and their seal against the same install without them.
  const double p = Median(t.plain), r = Median(t.recorded);
  std::printf("%7s %12s %16s %7s\n", "files", "plain (ms)", "recorded (ms)", "ratio");
  std::printf("%7zu %12.1f %16.1f %7.3f\n", count, p, r, r / p);
  const double pa = Median(plainAgain), ra = Median(recordedAgain);
  std::printf("%7s %12s %16s %7s   (installed again over itself)\n", "files", "plain (ms)", "recorded (ms)", "ratio");
  std::printf("%7zu %12.1f %16.1f %7.3f\n", count, pa, ra, ra / pa);
  return 0;
}
