// The browse dialog's status-line fitting: text that fits is left alone,
// and a cut never splits a UTF-8 character.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "browse/browse_rules.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Utf8Starts;
using qv::fuzz::Require;

int SixPerByte(std::string_view s) { return 6 * static_cast<int>(s.size()); }

// Cut from the end: a prefix ending on a character boundary, then "...".
bool CutAtBoundary(std::string_view text, std::string_view result) {
  if (!result.ends_with("...")) return false;
  const std::size_t kept = result.size() - 3;
  if (result.substr(0, kept) != text.substr(0, kept)) return false;
  for (std::size_t start : Utf8Starts(text))
    if (start == kept) return true;
  return false;
}

// Shortened as a path: drive and "\...\" marks in front of a tail of the
// text that starts on a character boundary.
bool PathAtBoundary(std::string_view text, std::string_view result) {
  auto starts = Utf8Starts(text);
  starts.push_back(text.size());
  for (std::size_t k : starts) {
    const std::string_view tail = text.substr(k);
    if (!result.ends_with(tail)) continue;
    const std::string_view front = result.substr(0, result.size() - tail.size());
    bool marks = true;
    for (std::size_t i = 0; i < front.size() && marks; ++i) {
      const bool drive = i < 2 && text.size() >= 2 && text[1] == ':' && front[i] == text[i];
      marks = drive || front[i] == '.' || front[i] == '\\';
    }
    if (marks) return true;
  }
  return false;
}

bool HasBackslashCharacter(std::string_view s) {
  for (std::size_t i : Utf8Starts(s))
    if (s[i] == '\\') return true;
  return false;
}

void CheckStatus(std::string_view text, int width, bool folder) {
  const std::string r = qv::FitStatusText(text, width, SixPerByte, folder);
  if (SixPerByte(text) <= width || text.empty()) {
    Require(r == text, "text that fits was changed");
    return;
  }
  if (folder) {
    Require(PathAtBoundary(text, r), "path shortened inside a character");
    if (SixPerByte(r) > width) Require(!HasBackslashCharacter(r), "too wide while a folder was left to cut");
  } else {
    Require(CutAtBoundary(text, r), "text cut inside a character");
    if (SixPerByte(r) > width) Require(r == "...", "too wide while more could be cut");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The last bytes pick the width and the mode; the rest is the text.
  FuzzedDataProvider in(data, size);
  const int width = in.ConsumeIntegralInRange<int>(-16, 1600);
  const bool folder = in.ConsumeBool();
  const std::string text = in.ConsumeRemainingBytesAsString();
  CheckStatus(text, width, folder);
  return 0;
}
