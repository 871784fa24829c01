// The picture list's offset text: whatever parses writes back to the same
// offset, and that text is stable.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "skin/picture_button_rules.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;
namespace skin = qv::skin;

void CheckOffset(std::string_view text) {
  const std::optional<skin::Offset> o = skin::ParseOffset(text);
  if (!o) return;
  const std::string written = skin::FormatOffset(*o);
  Require(skin::ParseOffset(written) == o, "a parsed offset does not read back");
  Require(skin::FormatOffset(*skin::ParseOffset(written)) == written, "offset text is not stable");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckOffset(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
