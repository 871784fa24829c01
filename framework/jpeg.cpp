#include "jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jpeglib.h>
}

#include "stride.h"

namespace qv {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  err->pub.format_message(info, err->message);
  std::longjmp(err->jump, 1);
}

extern "C" void OnJpegMessage(j_common_ptr, int) {}  // warnings stay quiet

// Plain C-style decoding: no object with a destructor lives across the
// setjmp, so the long jump out of libjpeg skips nothing.
bool DecodeInto(const std::uint8_t* data, std::size_t size, DecodedJpeg* out, char* message) {
  jpeg_decompress_struct info;
  ErrorManager err;
  info.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegError;
  err.pub.emit_message = OnJpegMessage;
  err.message[0] = 0;
  if (setjmp(err.jump)) {
    std::strncpy(message, err.message, JMSG_LENGTH_MAX);
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  if (info.output_width > 32768 || info.output_height > 32768) {
    std::strncpy(message, "JPEG picture too large", JMSG_LENGTH_MAX);
    jpeg_destroy_decompress(&info);
    return false;
  }
  out->width = static_cast<int>(info.output_width);
  out->height = static_cast<int>(info.output_height);
  out->stride = Stride24(out->width);
  out->bgr.resize(static_cast<std::size_t>(out->stride) * static_cast<std::size_t>(out->height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out->bgr.data() + static_cast<std::size_t>(info.output_scanline) * out->stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t>& file) {
  DecodedJpeg out;
  char message[JMSG_LENGTH_MAX] = "";
  if (file.empty() || !DecodeInto(file.data(), file.size(), &out, message))
    throw EJPEGError(std::string("JPEG error: ") + (message[0] ? message : "no data"));
  return out;
}

TBitmap& TJPEGImage::Bitmap() const {
  if (!decoded_) {
    auto b = std::make_unique<TBitmap>();
    if (!file_.empty()) {
      const DecodedJpeg d = DecodeJpeg(file_);
      b->SetPixelFormat(TPixelFormat::pf24bit);
      b->SetSize(d.width, d.height);
      // The bitmap's rows run bottom-up.
      for (int y = 0; y < d.height; ++y)
        std::memcpy(b->Bits() + static_cast<std::size_t>(d.height - 1 - y) * b->Stride(),
                    d.bgr.data() + static_cast<std::size_t>(y) * d.stride, static_cast<std::size_t>(d.width) * 3);
    }
    decoded_ = std::move(b);
  }
  return *decoded_;
}

int TJPEGImage::Width() const { return file_.empty() ? 0 : Bitmap().Width(); }
int TJPEGImage::Height() const { return file_.empty() ? 0 : Bitmap().Height(); }

void TJPEGImage::Draw(TCanvas& canvas, const RECT& r) {
  if (!file_.empty()) Bitmap().Draw(canvas, r);
}

void TJPEGImage::LoadFromBytes(std::vector<std::uint8_t> bytes) {
  // Decode first: a file libjpeg rejects leaves the picture as it was.
  std::vector<std::uint8_t> previous = std::move(file_);
  file_ = std::move(bytes);
  decoded_.reset();
  try {
    Bitmap();
  } catch (...) {
    file_ = std::move(previous);
    decoded_.reset();
    throw;
  }
  Changed(this);
}

void TJPEGImage::LoadFromStream(TStream& stream) { LoadFromBytes(stream.ReadRest()); }

void TJPEGImage::SaveToStream(TStream& stream) { stream.Write(file_.data(), file_.size()); }

void TJPEGImage::ReadData(TStream& stream) {
  std::uint8_t raw[4];
  stream.ReadBuffer(raw, 4);
  const std::uint32_t size = raw[0] | (raw[1] << 8) | (raw[2] << 16) | (static_cast<std::uint32_t>(raw[3]) << 24);
  if (size > stream.Size() - stream.Position()) throw EStreamError("Stream read error");
  std::vector<std::uint8_t> bytes(size);
  if (size) stream.ReadBuffer(bytes.data(), size);
  LoadFromBytes(std::move(bytes));
}

void TJPEGImage::WriteData(TStream& stream) {
  const auto size = static_cast<std::uint32_t>(file_.size());
  const std::uint8_t raw[4] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                               static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
  stream.Write(raw, 4);
  stream.Write(file_.data(), file_.size());
}

void TJPEGImage::AssignTo(TGraphic* dest) {
  if (auto* b = dynamic_cast<TBitmap*>(dest)) {
    b->Assign(&Bitmap());
    return;
  }
  TGraphic::AssignTo(dest);
}

}  // namespace qv
