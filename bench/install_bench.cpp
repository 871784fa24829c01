// Install speed: the engine's hidden run over the Win32 platform against a
// bare single-threaded FindFirstFileW/CopyFileW loop on the same trees, in
// the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/setup_engine.h"
#include "engine/win32/win32_platform.h"

namespace {

using qv::bench::Median;
using qv::bench::Now;
using qv::bench::NullWindow;

void WriteFile(const std::string& path, std::size_t size) {
  static std::string block(1 << 20, 'q');
  HANDLE f = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  for (std::size_t left = size; left > 0;) {
    DWORD n = static_cast<DWORD>(std::min(left, block.size())), w = 0;
    ::WriteFile(f, block.data(), n, &w, nullptr);
    left -= n;
  }
  ::CloseHandle(f);
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string n = d.cFileName;
      if (n == "." || n == "..") continue;
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(dir + "\\" + n);
      else
        ::DeleteFileA((dir + "\\" + n).c_str());
    } while (::FindNextFileA(h, &d));
    ::FindClose(h);
  }
  ::RemoveDirectoryA(dir.c_str());
}

// The baseline: what any installer must at least do, one file after another.
void BareCopy(const std::wstring& from, const std::wstring& to) {
  ::CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileW((from + L"\\*.*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring n = d.cFileName;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (n != L"." && n != L"..") BareCopy(from + L"\\" + n, to + L"\\" + n);
    } else {
      ::CopyFileW((from + L"\\" + n).c_str(), (to + L"\\" + n).c_str(), FALSE);
    }
  } while (::FindNextFileW(h, &d));
  ::FindClose(h);
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

int main(int argc, char** argv) {
  // install_bench [rounds] [folder]: the folder defaults to the temp folder.
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char tmp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, tmp);
  const std::string base = (argc > 2 ? std::string(argv[2]) : std::string(tmp)) + "\\qv_bench";
  RemoveTree(base);
  ::CreateDirectoryA(base.c_str(), nullptr);

  // Many small files: creating and closing them is most of the work, and
  // the engine does that on more than one thread. Large ones: the bytes.
  struct Tree {
    const char* name;
    int folders, filesPerFolder;
    std::size_t size;
    double target;
  } trees[] = {{"small", 50, 100, 4096, 0.75}, {"large", 1, 20, 16u << 20, 1.10}};

  qv::Win32Platform platform;
  NullWindow window;
  qv::RunState state;
  state.visible = false;
  qv::FolderValues folders;
  qv::SetupEngine engine(platform, window, state, folders, base + "\\setup.exe");

  std::printf("%-6s %7s %12s %12s %7s %7s %7s\n", "tree", "files", "bare (ms)", "engine (ms)", "ratio", "spread",
              "target");
  int status = 0;
  for (const Tree& t : trees) {
    const std::string src = base + "\\" + t.name;
    ::CreateDirectoryA(src.c_str(), nullptr);
    for (int d = 0; d < t.folders; ++d) {
      const std::string dir = src + "\\dir" + std::to_string(d);
      ::CreateDirectoryA(dir.c_str(), nullptr);
      for (int f = 0; f < t.filesPerFolder; ++f) WriteFile(dir + "\\file" + std::to_string(f) + ".bin", t.size);
    }
    std::vector<double> bare, eng;
    for (int r = 0; r < rounds; ++r) {
      // Alternate the order so neither side always gets a warm cache.
      for (int side = 0; side < 2; ++side) {
        const bool engineFirst = (r % 2) == 1;
        const bool runEngine = (side == 0) == engineFirst;
        const std::string dst = base + "\\out";
        RemoveTree(dst);
        const double t0 = Now();
        if (runEngine)
          engine.InstallEntry(std::string(t.name) + "\\", dst);
        else
          BareCopy(Wide(src), Wide(dst));
        (runEngine ? eng : bare).push_back((Now() - t0) * 1000.0);
      }
    }
    const double b = Median(bare), e = Median(eng);
    // Each round's own ratio, lowest and highest: how much the machine wavered.
    std::vector<double> ratios;
    for (std::size_t i = 0; i < bare.size(); ++i) ratios.push_back(eng[i] / bare[i]);
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("%-6s %7d %12.1f %12.1f %7.3f %3.2f-%3.2f %6.2f\n", t.name, t.folders * t.filesPerFolder, b, e, e / b,
                *low, *high, t.target);
    if (e / b > t.target) status = 1;
    RemoveTree(base + "\\out");
  }
  RemoveTree(base);
  std::printf("targets (engine / bare CopyFileW loop at most the target): %s\n", status ? "missed" : "met");
  return 0;
}
