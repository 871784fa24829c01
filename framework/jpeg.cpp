#include "framework/jpeg.h"

#include <olectl.h>

#include <cstring>

#include "framework/handles.h"
#include "framework/portable/jpeg_frame.h"
#include "framework/portable/stride.h"
#include "framework/portable/little_endian.h"

namespace qv {

namespace {

[[noreturn]] void Fail(const char* why) { throw EJPEGError(std::string("JPEG error: ") + why); }

// The system's picture decoder reads from a stream over global memory.
UniqueGlobal CopyToGlobal(const std::vector<std::uint8_t>& file) {
  UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, file.size()));
  if (!memory) Fail("out of memory");
  void* p = ::GlobalLock(memory.Get());
  if (!p) Fail("out of memory");
  std::memcpy(p, file.data(), file.size());
  ::GlobalUnlock(memory.Get());
  return memory;
}

}  // namespace

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t>& file) {
  if (file.empty()) Fail("no data");
  // Our own look at the header first: the system decoder would take other
  // formats too, and any size.
  const std::optional<JpegFrame> frame = ReadJpegFrame(file);
  if (!frame) Fail("not a JPEG file");
  if (frame->width < 1 || frame->height < 1 || frame->width > kJpegMaxSide || frame->height > kJpegMaxSide)
    Fail("JPEG picture size out of range");

  ComInit com;  // the decoder may be a COM object
  const UniqueGlobal memory = CopyToGlobal(file);
  ComPtr<IStream> stream;  // released before the memory it reads
  if (FAILED(::CreateStreamOnHGlobal(memory.Get(), FALSE, stream.Receive()))) Fail("out of memory");
  ComPtr<IPicture> picture;
  if (FAILED(::OleLoadPicture(stream.Get(), static_cast<LONG>(file.size()), FALSE, IID_IPicture,
                              picture.ReceiveVoid())))
    Fail("the picture cannot be decoded");
  short type = PICTYPE_NONE;
  OLE_HANDLE handle = 0;
  if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(picture->get_Handle(&handle)))
    Fail("the picture cannot be decoded");
  const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));  // the picture's own
  BITMAP info{};
  if (!::GetObjectW(bitmap, sizeof info, &info) || info.bmWidth != frame->width || info.bmHeight != frame->height)
    Fail("the picture cannot be decoded");

  DecodedJpeg out;
  out.width = frame->width;
  out.height = frame->height;
  out.stride = Stride24(out.width);
  out.bgr.resize(static_cast<std::size_t>(out.stride) * static_cast<std::size_t>(out.height));
  // The decoded pixels as they are, in the rows we keep: no scaling, no
  // rendering through a device.
  BITMAPINFO want{};
  want.bmiHeader.biSize = sizeof want.bmiHeader;
  want.bmiHeader.biWidth = out.width;
  want.bmiHeader.biHeight = -out.height;  // top-down
  want.bmiHeader.biPlanes = 1;
  want.bmiHeader.biBitCount = 24;
  want.bmiHeader.biCompression = BI_RGB;
  const UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
  if (!dc || ::GetDIBits(dc.Get(), bitmap, 0, static_cast<UINT>(out.height), out.bgr.data(), &want,
                         DIB_RGB_COLORS) != out.height)
    Fail("the picture cannot be decoded");
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
  // Decode first: a file the decoder rejects leaves the picture as it was.
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
  const std::uint32_t size = LoadLe32(raw);
  if (size > stream.Size() - stream.Position()) throw EStreamError("Stream read error");
  std::vector<std::uint8_t> bytes(size);
  if (size) stream.ReadBuffer(bytes.data(), size);
  LoadFromBytes(std::move(bytes));
}

void TJPEGImage::WriteData(TStream& stream) {
  const auto size = static_cast<std::uint32_t>(file_.size());
  std::uint8_t raw[4];
  StoreLe(raw, size, 4);
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
