// Where the setup program's own bytes end: the end of its last PE section.
// Everything after that is overlay (our package, then perhaps a signature).
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "framework/portable/little_endian.h"
#include "package/package.h"

namespace qv::pack {

std::optional<std::uint64_t> OverlayStart(ByteSource& file) {
  const std::uint64_t size = file.Size();
  unsigned char dos[64];
  if (size < sizeof dos || !file.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return {};
  const std::uint64_t pe = LoadLe32(dos + 0x3C);
  unsigned char coff[24];  // "PE\0\0" and the COFF file header
  if (pe > size || size - pe < sizeof coff || !file.ReadAt(pe, coff, sizeof coff)) return {};
  if (coff[0] != 'P' || coff[1] != 'E' || coff[2] != 0 || coff[3] != 0) return {};
  const std::uint64_t sections = LoadLe16(coff + 4 + 2);
  const std::uint64_t optionalSize = LoadLe16(coff + 4 + 16);
  const std::uint64_t table = pe + sizeof coff + optionalSize;  // all small: no overflow
  const std::uint64_t tableEnd = table + 40 * sections;
  if (tableEnd > size) return {};
  std::vector<unsigned char> headers(40 * sections);
  if (!headers.empty() && !file.ReadAt(table, headers.data(), headers.size())) return {};
  std::uint64_t end = tableEnd;
  for (std::uint64_t i = 0; i < sections; ++i) {
    const unsigned char* s = headers.data() + 40 * i;
    const std::uint64_t rawSize = LoadLe32(s + 16), rawPointer = LoadLe32(s + 20);
    if (rawSize != 0) end = std::max(end, rawPointer + rawSize);
  }
  return end;
}

}  // namespace qv::pack
