// TQVBitmap: the skin library's in-memory picture. Whatever it is loaded
// from, it keeps a 24-bit top-down DIB section selected into its own memory
// DC, with a canvas on that DC and a table of scan lines; the pixel work is
// done by the portable kernels over a row view of it.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "framework/graphics.h"
#include "skin/pixel_kernels.h"

namespace qv {

class TQVBitmap : public TGraphic {
 public:
  TQVBitmap();
  ~TQVBitmap() override;
  std::string ClassName() const override { return "TQVBitmap"; }

  // Public fields, set and read directly.
  bool Smooth = false;                    // stretch bilinear (true) or by the platform
  TColor TransparentColor = clNone;       // clNone: the top-left pixel is the key
  TColor FillColor = clNone;              // colour of new pixels after SetSize
  TPixelFormat PixelFormat = TPixelFormat::pf24bit;  // of the framework bitmap last loaded
  bool UsePalette = false;
  std::array<RGBQUAD, 256> ColorTable{};
  TCanvas& Canvas() { return *canvas_; }

  int RowPad() const { return rowPad_; }
  int Stride() const { return stride_; }
  int ImageSize() const { return imageSize_; }
  std::uint8_t* Bits() const { return bits_; }
  std::uint8_t* Row(int y) const { return rows_[static_cast<std::size_t>(y)]; }
  HBITMAP DibHandle() const { return dibHandle_.Get(); }
  HDC MemDC() const { return memDC_ ? memDC_->Get() : nullptr; }
  pix::RowView View() const { return {bits_, width_, height_, stride_}; }
  SIZE KeptSize() const { return keptSize_; }

  // TGraphic
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool Empty() const override { return !dibHandle_; }
  void SetWidth(int width) override { ChangeSize(width, height_); }
  void SetHeight(int height) override { ChangeSize(width_, height); }
  void Assign(TGraphic* source) override;
  void AssignTo(TGraphic* dest) override;
  void Changed(TGraphic* sender) override;
  void Draw(TCanvas& canvas, const RECT& r) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(UINT, HANDLE, HPALETTE) {}
  void SaveToClipboardFormat(UINT&, HANDLE&, HPALETTE&) {}

  virtual void FreeImage();
  virtual void BindImage();
  virtual void MakePalette();
  virtual void LoadFromBitmap(TBitmap& bitmap);
  virtual void LoadFromGraphic(TGraphic& graphic);
  virtual void Clear() { FreeImage(); }
  virtual void FreeKept();
  virtual void SetSize(int width, int height);
  virtual void LoadFromBits(const std::uint8_t* data, std::size_t count, SIZE size);
  virtual void SaveToBitmap(TBitmap& bitmap);
  virtual void ChangeSize(int width, int height);
  virtual void StretchTo(int width, int height);
  virtual void Unload();
  virtual void SmoothStretchDraw(TCanvas& canvas, const RECT& r);
  virtual void PlainStretchDraw(TCanvas& canvas, const RECT& r);
  virtual void Tile(TCanvas& canvas, const RECT& r);
  virtual void DrawTransparent(TCanvas& canvas, const RECT& r);
  virtual void Reload();

  // Pixel effects: in place, no Changed; whoever calls them repaints.
  virtual void Blur(int offset) { pix::Blur(View(), offset); }
  virtual void Contrast(int amount) { pix::Contrast(View(), amount); }
  virtual void Emboss() { pix::Emboss(View()); }
  virtual void Flip(bool horizontal) { pix::Flip(View(), horizontal); }
  virtual void MultiBlur(int n) { pix::MultiBlur(View(), n); }
  virtual void Grayscale() { pix::Grayscale(View()); }
  virtual void Invert() { pix::Invert(View()); }
  virtual void Brightness(int amount) { pix::Brightness(View(), amount); }
  virtual void KeyMask(std::uint32_t keyRRGGBB) { pix::KeyMask(View(), keyRRGGBB); }
  virtual void AdjustRGB(int r, int g, int b) { pix::AdjustRGB(View(), r, g, b); }
  virtual void Tint(int r, int g, int b);
  virtual void Rotate(POINT centre, long double angle) { pix::Rotate(View(), centre.x, centre.y, angle); }
  virtual void Saturation(int amount) { pix::Saturation(View(), amount); }
  virtual void Sharpen(int offset) { pix::Sharpen(View(), offset); }
  virtual void Diffuse(int range) { pix::Diffuse(View(), range, GlobalRandom()); }
  virtual void Wave(bool wrap, long double columnPeriod, long double rowPeriod, long double amplitude) {
    pix::Wave(View(), wrap, columnPeriod, rowPeriod, amplitude);
  }

  void BuildHeader();
  bool HasKept() const { return keptBytes_ > 0 && !keptBits_.empty(); }
  // The cached monochrome mask (white opaque, black transparent), made on
  // first use and kept until the pixel store is released.
  TBitmap* GetMask();

 private:
  void CreateDib();

  std::unique_ptr<TCanvas> canvas_;
  int width_ = 0, height_ = 0, rowPad_ = 0, stride_ = 0, imageSize_ = 0;
  std::unique_ptr<TBitmap> mask_;
  std::uint8_t* bits_ = nullptr;  // belongs to dibHandle_
  UniqueBitmap dibHandle_;
  std::optional<BitmapDC> memDC_;  // holds dibHandle_: declared after it, deleted before it
  std::vector<std::uint8_t> keptBits_;
  std::size_t keptBytes_ = 0;
  SIZE keptSize_{0, 0};
  UniquePalette palette_;  // lives inside one Draw
  bool noChange_ = false;
  BITMAPINFOHEADER headerTemplate_{};
  struct {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
  } bitmapInfo_{};
  bool toBitmap_ = false;
  std::vector<std::uint8_t*> rows_;
};

// Copies image onto the canvas at r where mask is white; black mask pixels
// leave the canvas as it was. Buffered: composed off screen, copied once.
void TransparentBlit(TCanvas& canvas, const RECT& r, TBitmap& image, bool buffered, TBitmap& mask);

}  // namespace qv
