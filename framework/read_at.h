// Reads n bytes at an offset of an open file, without moving its position,
// so several readers may share one handle. False when the file ends first.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace qv {

inline bool ReadFileAt(HANDLE file, std::uint64_t offset, void* buffer, std::size_t n) {
  char* p = static_cast<char*>(buffer);
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(file, p, ask, &got, &at) || got == 0) return false;
    p += got;
    n -= got;
    offset += got;
  }
  return true;
}

}  // namespace qv
