#include "package/lzma_block.h"

#include <lzma.h>

#include <cstdint>

namespace qv::pack::lzma {

namespace {

bool DictLogFits(unsigned dictLog) { return dictLog >= kMinDictLog && dictLog <= kMaxDictLog; }

}  // namespace

bool HeaderFits(const unsigned char* p, std::size_t n, unsigned dictLog) {
  if (!DictLogFits(dictLog) || n == 0) return false;
  const unsigned control = p[0];
  if (control == 0x00) return true;  // the end marker: an empty stream
  if (control == 0x01) return n >= 3;  // stored, dictionary reset
  // An LZMA chunk: E0..FF alone reset the dictionary and bring properties,
  // both of which a stream's first chunk must do.
  if (control < 0xE0 || n < 6) return false;
  const unsigned props = p[5];
  if (props >= 9 * 5 * 5) return false;
  const unsigned lc = props % 9, lp = props / 9 % 5;
  if (lc + lp > 4) return false;
  // The range coder's first byte is always zero.
  return n == 6 || p[6] == 0x00;
}

struct Decoder::Stream {
  lzma_stream s = LZMA_STREAM_INIT;
  bool ready = false;  // started and neither ended nor damaged
  Status done = Status::Damaged;  // what Step gives once not ready
  ~Stream() { lzma_end(&s); }
};

Decoder::Decoder() : stream_(std::make_unique<Stream>()) {}
Decoder::~Decoder() = default;

bool Decoder::Start(unsigned dictLog) {
  Stream& st = *stream_;
  st.ready = false;
  st.done = Status::Damaged;
  if (!DictLogFits(dictLog)) return false;
  // Only the dictionary's size counts here: the stream brings lc, lp, pb.
  lzma_options_lzma options{};
  options.dict_size = std::uint32_t(1) << dictLog;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  // Started again on the same stream, liblzma keeps a dictionary of the
  // same size rather than allocating it anew.
  if (lzma_raw_decoder(&st.s, filters) != LZMA_OK) return false;
  st.ready = true;
  return true;
}

Decoder::Status Decoder::Step(In& in, Out& out) {
  Stream& st = *stream_;
  if (!st.ready) return st.done;
  st.s.next_in = in.data + in.pos;
  st.s.avail_in = in.size - in.pos;
  st.s.next_out = out.data + out.pos;
  st.s.avail_out = out.size - out.pos;
  const lzma_ret r = lzma_code(&st.s, LZMA_RUN);
  in.pos = in.size - st.s.avail_in;
  out.pos = out.size - st.s.avail_out;
  Status status = Status::More;
  if (r == LZMA_STREAM_END) {
    // The end marker must close the last input given, nothing after it.
    status = in.last && in.pos == in.size ? Status::Ended : Status::Damaged;
  } else if (r != LZMA_OK && r != LZMA_BUF_ERROR) {
    status = Status::Damaged;
  } else if (in.last && in.pos == in.size && out.pos < out.size) {
    // Room left and all the input read, yet no end marker: cut short.
    status = Status::Damaged;
  }
  if (status != Status::More) {
    st.ready = false;
    st.done = status;
  }
  return status;
}

}  // namespace qv::pack::lzma
