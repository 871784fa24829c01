// The encoder half of lzma_block.h, in the writer's library alone.
#include <lzma.h>

#include <algorithm>
#include <cstdint>

#include "package/lzma_block.h"

namespace qv::pack::lzma {

bool Compress(const unsigned char* in, std::size_t size, unsigned dictLog, std::vector<unsigned char>& out) {
  if (dictLog < kMinDictLog || dictLog > kMaxDictLog) return false;
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) return false;
  // A dictionary beyond the input finds nothing more, only costs memory.
  options.dict_size = std::uint32_t(std::min<std::size_t>(std::size_t(1) << dictLog,
                                                           std::max<std::size_t>(size, LZMA_DICT_SIZE_MIN)));
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&s, filters) != LZMA_OK) {
    lzma_end(&s);
    return false;
  }
  const std::size_t start = out.size();
  s.next_in = in;
  s.avail_in = size;
  lzma_ret r = LZMA_OK;
  std::size_t used = start;
  while (r == LZMA_OK) {
    // Room for most inputs at once, more as it runs out.
    if (used == out.size()) out.resize(used + std::max<std::size_t>(size / 4, std::size_t(64) << 10));
    s.next_out = out.data() + used;
    s.avail_out = out.size() - used;
    r = lzma_code(&s, LZMA_FINISH);
    used = out.size() - s.avail_out;
  }
  lzma_end(&s);
  out.resize(r == LZMA_STREAM_END ? used : start);
  return r == LZMA_STREAM_END;
}

}  // namespace qv::pack::lzma
