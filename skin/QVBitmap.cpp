#include "skin/QVBitmap.h"

#include <cstring>

namespace qv {

namespace {

// $00BBGGRR (GDI) to $00RRGGBB (the kernels' key form).
std::uint32_t ToRRGGBB(COLORREF c) {
  return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
         GetBValue(c);
}

int RectWidth(const RECT& r) { return r.right - r.left; }
int RectHeight(const RECT& r) { return r.bottom - r.top; }

}  // namespace

TQVBitmap::TQVBitmap() : canvas_(std::make_unique<TCanvas>()) {}

TQVBitmap::~TQVBitmap() {
  if (HasKept()) FreeKept();
  FreeImage();
}

void TQVBitmap::Changed(TGraphic* sender) {
  if (!noChange_) TGraphic::Changed(sender);
}

void TQVBitmap::BuildHeader() {
  headerTemplate_ = {};
  headerTemplate_.biSize = sizeof(BITMAPINFOHEADER);
  headerTemplate_.biWidth = width_;
  headerTemplate_.biHeight = -height_;  // top-down
  headerTemplate_.biPlanes = 1;
  headerTemplate_.biBitCount = 24;
  headerTemplate_.biCompression = BI_RGB;
}

void TQVBitmap::CreateDib() {
  BuildHeader();
  bitmapInfo_.bmiHeader = headerTemplate_;
  void* p = nullptr;
  dibHandle_.Reset(
      ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS, &p, nullptr, 0));
  bits_ = dibHandle_ ? static_cast<std::uint8_t*>(p) : nullptr;
}

void TQVBitmap::FreeImage() {
  canvas_->SetHandle(nullptr);
  memDC_.reset();
  dibHandle_.Reset();
  rows_.clear();
  mask_.reset();
  bits_ = nullptr;
  width_ = height_ = imageSize_ = 0;
}

void TQVBitmap::BindImage() {
  rows_.assign(static_cast<std::size_t>(std::max(height_, 0)), nullptr);
  rowPad_ = width_ % 4;
  stride_ = Stride24(width_);
  imageSize_ = stride_ * height_;
  for (int y = 0; y < height_ && bits_; ++y) rows_[static_cast<std::size_t>(y)] = bits_ + y * stride_;
  {
    const WindowDC screen(nullptr);
    memDC_.emplace(screen.Get(), dibHandle_.Get());
  }
  if (!dibHandle_) FreeImage();
  canvas_->SetHandle(MemDC());
  Changed(this);
}

void TQVBitmap::SetSize(int width, int height) {
  FreeImage();
  if (width <= 0 || height <= 0) return;
  width_ = width;
  height_ = height;
  CreateDib();
  BindImage();
  if (FillColor != clNone && dibHandle_) {
    canvas_->Brush.Color = FillColor;
    canvas_->FillRect(RECT{0, 0, width_, height_});
  }
}

void TQVBitmap::ChangeSize(int width, int height) {
  if (width != width_ || height != height_) SetSize(width, height);
}

void TQVBitmap::LoadFromBitmap(TBitmap& bitmap) {
  FreeImage();
  width_ = bitmap.Width();
  height_ = bitmap.Height();
  imageSize_ = height_ * Stride24(width_);
  CreateDib();
  if (dibHandle_) {
    const WindowDC screen(nullptr);
    ::GdiFlush();
    ::GetDIBits(screen.Get(), bitmap.Handle(), 0, static_cast<UINT>(height_), bits_,
                reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS);
  }
  BindImage();
  PixelFormat = bitmap.PixelFormat();
  // Only the entries a paletted source has are written (two for a
  // monochrome one); the rest of the table and, for a source without a
  // table, all of it stay as they were.
  ::GetDIBColorTable(bitmap.Canvas().Handle(), 0, 256, ColorTable.data());
}

void TQVBitmap::LoadFromGraphic(TGraphic& graphic) {
  TBitmap temp;
  if (graphic.ClassName() == "TIcon") {
    temp.SetSize(graphic.Width(), graphic.Height());
    temp.Canvas().Draw(0, 0, graphic);
  } else {
    temp.Assign(&graphic);
  }
  LoadFromBitmap(temp);
}

void TQVBitmap::Assign(TGraphic* source) {
  auto* bitmap = dynamic_cast<TBitmap*>(source);
  if (bitmap && !bitmap->Empty()) {
    PixelFormat = bitmap->PixelFormat();
    LoadFromBitmap(*bitmap);
  } else if (!source || bitmap) {
    FreeImage();
    Changed(this);
  } else if (dynamic_cast<TQVBitmap*>(source)) {
    TGraphic::Assign(source);
  } else {
    LoadFromGraphic(*source);
  }
}

void TQVBitmap::AssignTo(TGraphic* dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    bitmap->SetPixelFormat(PixelFormat);
    SaveToBitmap(*bitmap);
    bitmap->SetTransparent(Transparent());
    bitmap->TransparentColor = TransparentColor;
    return;
  }
  auto* other = dynamic_cast<TQVBitmap*>(dest);
  if (!other) {
    TGraphic::AssignTo(dest);
    return;
  }
  if (Empty()) {
    other->FreeImage();
  } else {
    other->noChange_ = true;
    other->UsePalette = UsePalette;
    other->SetSize(width_, height_);
    if (other->bits_) std::memcpy(other->bits_, bits_, static_cast<std::size_t>(imageSize_));
    other->SetTransparent(Transparent());
    other->Smooth = Smooth;
    other->TransparentColor = TransparentColor;
    other->PixelFormat = PixelFormat;
    other->ColorTable = ColorTable;
    other->noChange_ = false;
  }
  other->Changed(other);
}

void TQVBitmap::SaveToBitmap(TBitmap& bitmap) {
  bitmap.SetPixelFormat(PixelFormat);
  bitmap.SetSize(width_, height_);
  bitmap.SetColorTable(std::vector<RGBQUAD>(ColorTable.begin(), ColorTable.end()));
  toBitmap_ = true;
  bitmap.Canvas().Draw(0, 0, *this);
  toBitmap_ = false;
  ::GdiFlush();
}

void TQVBitmap::LoadFromStream(TStream& stream) {
  TBitmap temp;
  temp.LoadFromStream(stream);
  LoadFromBitmap(temp);
}

void TQVBitmap::SaveToStream(TStream& stream) {
  TBitmap temp;
  SaveToBitmap(temp);
  temp.SaveToStream(stream);
}

void TQVBitmap::MakePalette() {
  if (palette_ || *reinterpret_cast<const std::uint32_t*>(&ColorTable[0]) == 0) return;
  struct {
    WORD version;
    WORD count;
    PALETTEENTRY entries[256];
  } lp{0x300, 256, {}};
  for (int i = 0; i < 256; ++i)
    lp.entries[i] = {ColorTable[static_cast<std::size_t>(i)].rgbRed, ColorTable[static_cast<std::size_t>(i)].rgbGreen,
                     ColorTable[static_cast<std::size_t>(i)].rgbBlue, 0};
  palette_.Reset(::CreatePalette(reinterpret_cast<LOGPALETTE*>(&lp)));
}

void TQVBitmap::Draw(TCanvas& canvas, const RECT& r) {
  if (Empty()) return;  // nothing to read from
  HPALETTE oldPalette = nullptr;
  const bool palettised = ::GetDeviceCaps(MemDC(), BITSPIXEL) <= 8 && UsePalette;
  if (palettised) {
    MakePalette();
    oldPalette = ::SelectPalette(canvas.Handle(), palette_.Get(), TRUE);
    ::RealizePalette(canvas.Handle());
  }
  if (width_ == RectWidth(r) && height_ == RectHeight(r)) {
    if (Transparent() && !toBitmap_)
      DrawTransparent(canvas, r);
    else
      ::BitBlt(canvas.Handle(), r.left, r.top, RectWidth(r), RectHeight(r), MemDC(), 0, 0, SRCCOPY);
  } else if (Smooth) {
    SmoothStretchDraw(canvas, r);
  } else {
    PlainStretchDraw(canvas, r);
  }
  if (palettised) {
    ::SelectPalette(canvas.Handle(), oldPalette, TRUE);
    palette_.Reset();
  }
}

void TQVBitmap::PlainStretchDraw(TCanvas& canvas, const RECT& r) {
  if (Empty()) return;
  if (!Transparent()) {
    ::SetStretchBltMode(canvas.Handle(), COLORONCOLOR);
    ::StretchBlt(canvas.Handle(), r.left, r.top, RectWidth(r), RectHeight(r), MemDC(), 0, 0, width_, height_,
                 SRCCOPY);
    return;
  }
  TQVBitmap temp;
  temp.SetSize(RectWidth(r), RectHeight(r));
  if (temp.Empty()) return;
  ::StretchBlt(temp.MemDC(), 0, 0, temp.width_, temp.height_, MemDC(), 0, 0, width_, height_, SRCCOPY);
  temp.DrawTransparent(canvas, r);
}

void TQVBitmap::SmoothStretchDraw(TCanvas& canvas, const RECT& r) {
  if (Empty() || RectWidth(r) < 1 || RectHeight(r) < 1) return;
  TQVBitmap temp;
  temp.SetSize(RectWidth(r), RectHeight(r));
  if (temp.Empty()) return;
  ::GdiFlush();
  pix::SmoothStretch(View(), temp.View());
  if (Transparent())
    temp.DrawTransparent(canvas, r);
  else
    canvas.Draw(r.left, r.top, temp);
}

TBitmap* TQVBitmap::GetMask() {
  if (!mask_) {
    auto mask = std::make_unique<TBitmap>();
    TQVBitmap copy;
    AssignTo(&copy);
    std::uint32_t key;
    if (TransparentColor != clNone) {
      key = ToRRGGBB(ColorToRGB(TransparentColor));
    } else {
      const std::uint8_t* p = copy.Empty() ? nullptr : copy.Row(0);
      key = p ? (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[0] : 0;
    }
    copy.KeyMask(key);
    mask->Assign(&copy);
    mask->SetMonochrome(true);
    mask_ = std::move(mask);
  }
  return mask_.get();
}

void TQVBitmap::DrawTransparent(TCanvas& canvas, const RECT& r) {
  if (Empty()) return;
  TBitmap temp;
  temp.SetPixelFormat(TPixelFormat::pf24bit);
  temp.SetSize(width_, height_);
  const RECT all{0, 0, width_, height_};
  temp.Canvas().CopyRect(all, *canvas_, all);
  TransparentBlit(canvas, r, temp, true, *GetMask());
}

void TransparentBlit(TCanvas& canvas, const RECT& r, TBitmap& image, bool buffered, TBitmap& mask) {
  HDC dc = canvas.Handle();
  const COLORREF oldBack = ::SetBkColor(dc, RGB(255, 255, 255));
  const COLORREF oldText = ::SetTextColor(dc, RGB(0, 0, 0));
  const int w = r.right - r.left, h = r.bottom - r.top;
  TBitmap buffer;
  HDC target = dc;
  int tx = r.left, ty = r.top;
  if (buffered) {
    buffer.SetSize(w, h);
    buffer.Canvas().CopyRect(RECT{0, 0, w, h}, canvas, r);
    target = buffer.Canvas().Handle();
    ::SetBkColor(target, RGB(255, 255, 255));
    ::SetTextColor(target, RGB(0, 0, 0));
    tx = ty = 0;
  }
  // Our bitmaps stay selected into their own canvases, so those are the
  // sources: a bitmap cannot be selected into a second context.
  HDC img = image.Canvas().Handle();
  HDC msk = mask.Canvas().Handle();
  ::BitBlt(target, tx, ty, w, h, img, 0, 0, SRCINVERT);
  ::BitBlt(target, tx, ty, w, h, msk, 0, 0, 0x00220326);  // target AND NOT mask
  ::BitBlt(target, tx, ty, w, h, img, 0, 0, SRCINVERT);
  if (buffered) canvas.CopyRect(r, buffer.Canvas(), RECT{0, 0, w, h});
  ::SetBkColor(dc, oldBack);
  ::SetTextColor(dc, oldText);
}

void TQVBitmap::Tile(TCanvas& canvas, const RECT& r) {
  if (Empty()) return;
  for (int y = 0; y < r.bottom; y += height_)
    for (int x = 0; x < r.right; x += width_) canvas.Draw(x - r.left, y - r.top, *this);
}

void TQVBitmap::StretchTo(int width, int height) {
  if (width == width_ && height == height_) return;
  TQVBitmap temp;
  AssignTo(&temp);
  SetSize(width, height);
  if (!Empty()) canvas_->StretchDraw(RECT{0, 0, width, height}, temp);
}

void TQVBitmap::Unload() {
  if (HasKept()) FreeKept();
  ::GdiFlush();
  keptBytes_ = static_cast<std::size_t>(imageSize_);
  keptSize_ = SIZE{width_, height_};
  keptBits_.assign(bits_, bits_ + keptBytes_);
  FreeImage();
}

void TQVBitmap::FreeKept() {
  keptBits_.clear();
  keptBits_.shrink_to_fit();
  keptBytes_ = 0;
  keptSize_ = SIZE{0, 0};
}

void TQVBitmap::Reload() {
  if (!keptBits_.empty() && keptBytes_ != 0) {
    LoadFromBits(keptBits_.data(), keptBytes_, keptSize_);
    FreeKept();
  }
}

void TQVBitmap::LoadFromBits(const std::uint8_t* data, std::size_t count, SIZE size) {
  FreeImage();
  width_ = size.cx;
  height_ = size.cy;
  imageSize_ = static_cast<int>(count);
  // Rows shorter than the picture needs would be read past their end.
  if (width_ <= 0 || height_ <= 0 ||
      count < static_cast<std::size_t>(Stride24(width_)) * static_cast<std::size_t>(height_)) {
    FreeImage();
    return;
  }
  CreateDib();
  if (dibHandle_) {
    const WindowDC screen(nullptr);
    const UniqueBitmap ddb(::CreateDIBitmap(screen.Get(), &headerTemplate_, CBM_INIT, data,
                                            reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS));
    if (ddb)
      ::GetDIBits(screen.Get(), ddb.Get(), 0, static_cast<UINT>(height_), bits_,
                  reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS);
  }
  BindImage();
}

void TQVBitmap::Tint(int r, int g, int b) {
  std::optional<std::uint32_t> spare;
  if (TransparentColor != clNone) spare = ToRRGGBB(ColorToRGB(TransparentColor));
  pix::Tint(View(), r, g, b, spare);
}

}  // namespace qv
