// The branch filter: whatever the bytes and wherever the calls split them,
// decoding gives back what was encoded.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/branch_filter.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;

// Runs the filter over `bytes` in calls of about `step` bytes, handing the
// bytes each call leaves back to the next, as the reader and writer do.
std::vector<unsigned char> Filtered(std::vector<unsigned char> bytes, std::uint64_t position, std::size_t step,
                                    bool encode) {
  std::vector<unsigned char> out;
  std::vector<unsigned char> held;
  for (std::size_t at = 0; at < bytes.size() || !held.empty();) {
    const std::size_t n = std::min(step, bytes.size() - at);
    held.insert(held.end(), bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + n));
    at += n;
    const bool last = at == bytes.size();
    const std::size_t ready = qv::pack::FilterBranches(held.data(), held.size(), position, encode, last);
    Require(last ? ready == held.size() : ready + 4 >= held.size(), "more than four bytes left over");
    out.insert(out.end(), held.begin(), held.begin() + std::ptrdiff_t(ready));
    held.erase(held.begin(), held.begin() + std::ptrdiff_t(ready));
    position += ready;
    if (last) break;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::size_t encodeStep = 1 + data[0] % 64, decodeStep = 1 + data[1] % 64;
  const std::uint64_t position = std::uint64_t(data[2]) << 24 | std::uint64_t(data[3]) << 40 | data[4];
  const std::vector<unsigned char> original(data + 5, data + size);
  const std::vector<unsigned char> encoded = Filtered(original, position, encodeStep, true);
  Require(encoded.size() == original.size(), "encoding changed the length");
  Require(Filtered(encoded, position, decodeStep, false) == original, "decoding did not give back the bytes");
  // The same bytes in one call give the same result as in pieces.
  std::vector<unsigned char> whole = original;
  qv::pack::FilterBranches(whole.data(), whole.size(), position, true, true);
  Require(whole == encoded, "pieces encode differently from the whole");
  return 0;
}
