// A block packed as one raw LZMA2 stream (liblzma; no .xz container and no
// filter of liblzma's: the writer applies its own branch filter first). The
// dictionary is 2^dictLog bytes on both sides, so the reader knows the
// memory a block takes before unpacking it. Portable. The decoder lives in
// the reader's library; Compress in the writer's (lzma_block_writer.cpp),
// so the setup program never links the encoder.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace qv::pack::lzma {

// Dictionary sizes either side accepts: 4 KiB (liblzma's least) to 1 GiB.
inline constexpr unsigned kMinDictLog = 12;
inline constexpr unsigned kMaxDictLog = 30;

// Appends one LZMA2 stream of in[0, size) to `out`, ending with the end
// marker: preset 9 extreme, the dictionary no larger than 2^dictLog (nor
// than the input needs). False, `out` as it was, when dictLog is out of
// range or liblzma fails (out of memory: about 11 times the dictionary).
bool Compress(const unsigned char* in, std::size_t size, unsigned dictLog, std::vector<unsigned char>& out);

// Whether the first n bytes of a block can begin a stream Compress wrote:
// the first chunk resets the dictionary and, when it is an LZMA chunk,
// gives valid properties (lc + lp <= 4, pb <= 4) and a range coder that
// starts with a zero byte. The chunk's header must be among the n bytes
// (six for an LZMA chunk, three for a stored one); a lone end marker (an
// empty stream) passes. Decodes nothing.
bool HeaderFits(const unsigned char* p, std::size_t n, unsigned dictLog);

// Unpacks one stream at a time, in whatever pieces the caller has at hand.
class Decoder {
 public:
  enum class Status { More, Ended, Damaged };
  // The caller's buffers; Step moves `pos` on in both.
  struct In {
    const unsigned char* data = nullptr;
    std::size_t size = 0, pos = 0;
    bool last = false;  // data[pos, size) runs to the stream's end
  };
  struct Out {
    unsigned char* data = nullptr;
    std::size_t size = 0, pos = 0;
  };

  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Ready for a new stream with a 2^dictLog-byte dictionary, kept from the
  // last stream when it is the same size. False when dictLog is out of
  // range or memory is short; Step then gives Damaged.
  bool Start(unsigned dictLog);

  // Unpacks what it can. More: give more input or more room (the end
  // marker is read with no room left). Ended: the end marker was read and
  // it closes the input marked last. Damaged (for good, until Start):
  // bytes no encoder writes, a stream that ends before or after the last
  // input does. Reads only data[pos, size).
  Status Step(In& in, Out& out);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

}  // namespace qv::pack::lzma
