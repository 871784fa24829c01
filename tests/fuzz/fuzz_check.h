// What every fuzz target shares: a failed property stops the run with a
// message, so libFuzzer keeps the input as a crash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace qv::fuzz {

inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

inline std::string AsText(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline bool IsGbkLead(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x81 && u <= 0xFE;
}

// Where characters start when the bytes are read as GBK from the front.
inline std::vector<std::size_t> GbkStarts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i) {
    starts.push_back(i);
    if (IsGbkLead(s[i]) && i + 1 < s.size()) ++i;
  }
  return starts;
}

}  // namespace qv::fuzz
