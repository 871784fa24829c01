// What the Windows benchmarks share: a window nobody sees, a clock, a median.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

#include "engine/setup_window.h"

namespace qv::bench {

// The engine's hidden run, which still pumps.
class NullWindow : public NoWindow {
 public:
  void ProcessMessages() override {
    MSG m;
    while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&m);
  }
};

inline double Now() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace qv::bench
