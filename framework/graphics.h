// The framework's graphics: colours, the canvas over a device context, the
// graphic base class, the bitmap (a DIB section in a chosen pixel format)
// and the picture container that holds any graphic. Texts and face names
// are UTF-8, drawn with the W functions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/handles.h"
#include "framework/streams.h"

namespace qv {

// $00BBGGRR for plain colours; the top bit set names a system colour.
using TColor = std::int32_t;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
constexpr TColor clWindowFrame = static_cast<TColor>(0x80000006);

// Resolves system colours; a plain colour is returned as it is.
COLORREF ColorToRGB(TColor color);

// One font object per description for the whole program: painting asks for
// the same few fonts again and again.
HFONT SharedFont(const std::string& name, int height, bool bold, BYTE charset);

// The conversion error of assignments between unrelated graphics.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TPixelFormat : std::uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
int BitsOf(TPixelFormat format);  // 0 for pfDevice and pfCustom

class TGraphic;

class TCanvas {
 public:
  struct TBrushData {
    TColor Color = clWhite;
  };
  struct TPenData {
    TColor Color = clBlack;
    int Width = 1;
  };
  struct TFontData {
    std::string Name = "Tahoma";
    int Height = -11;
    TColor Color = clWindowText;
    bool Bold = false;
    BYTE Charset = DEFAULT_CHARSET;
  };

  TCanvas() = default;
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  HDC Handle() const { return dc_; }
  // Binds the canvas to a device context it does not own (nullptr unbinds).
  void SetHandle(HDC dc);

  TBrushData Brush;
  TPenData Pen;
  TFontData Font;

  void FillRect(const RECT& r);
  void Rectangle(const RECT& r);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Draw(int x, int y, TGraphic& graphic);
  void StretchDraw(const RECT& r, TGraphic& graphic);
  void CopyRect(const RECT& dest, const TCanvas& source, const RECT& sourceRect);
  COLORREF Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);
  void TextOut(int x, int y, const std::string& text);
  SIZE TextExtent(const std::string& text);

  // Selects brush, pen and font as they stand now.
  void RequireObjects();

 private:
  void ReleaseObjects();

  HDC dc_ = nullptr;  // not owned
  UniqueGdiObject brush_, pen_;
  HFONT font_ = nullptr;  // shared, not owned
  TBrushData madeBrush_;
  TPenData madePen_;
  TFontData madeFont_;
  HGDIOBJ oldBrush_ = nullptr, oldPen_ = nullptr, oldFont_ = nullptr;
};

class TGraphic {
 public:
  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  virtual std::string ClassName() const = 0;

  std::function<void(TGraphic*)> OnChange;
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual bool Empty() const = 0;
  virtual void SetWidth(int width) = 0;
  virtual void SetHeight(int height) = 0;

  virtual void Draw(TCanvas& canvas, const RECT& r) = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);
  // The graphic's data inside a stored picture; by default its stream form.
  virtual void ReadData(TStream& stream) { LoadFromStream(stream); }
  virtual void WriteData(TStream& stream) { SaveToStream(stream); }

  // Copies from another graphic; the generic way asks the source to assign
  // itself to this one.
  virtual void Assign(TGraphic* source);
  // The generic way knows no conversion.
  virtual void AssignTo(TGraphic* dest);

  // Marks the graphic modified and raises OnChange.
  virtual void Changed(TGraphic* sender);

 private:
  bool transparent_ = false;
  bool modified_ = false;
};

// A picture in a DIB section of its own pixel format, with a canvas on a
// memory device context.
class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  std::string ClassName() const override { return "TBitmap"; }

  HBITMAP Handle() const { return dib_.Get(); }
  TCanvas& Canvas();
  TPixelFormat PixelFormat() const { return format_; }
  void SetPixelFormat(TPixelFormat format);
  bool Monochrome() const { return format_ == TPixelFormat::pf1bit; }
  void SetMonochrome(bool value);
  void SetSize(int width, int height);
  TColor TransparentColor = clDefault;  // clDefault: the bottom-left pixel

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool Empty() const override { return !dib_; }
  void SetWidth(int width) override { SetSize(width, height_); }
  void SetHeight(int height) override { SetSize(width_, height); }

  void Draw(TCanvas& canvas, const RECT& r) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void Assign(TGraphic* source) override;
  // A BITMAP resource of the program (or of another module).
  void LoadFromResourceName(HINSTANCE instance, const wchar_t* name);
  // Stored in a picture with a 32-bit byte count first.
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) override;

  // The colour table of a paletted bitmap (empty otherwise).
  std::vector<RGBQUAD> ColorTable() const { return colorTable_; }
  void SetColorTable(const std::vector<RGBQUAD>& colors);
  // The bits of the DIB section, bottom-up rows of Stride() bytes.
  std::uint8_t* Bits() const { return bits_; }
  int Stride() const;

 private:
  void Rebuild(int width, int height, TPixelFormat format, const std::vector<RGBQUAD>& colors);
  // Unbinds the canvas and deletes the DC that holds the DIB section.
  void ReleaseMemoryDC();

  int width_ = 0, height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  std::vector<RGBQUAD> colorTable_;
  // Destroyed bottom up: the canvas lets go of the DC, the DC of the DIB.
  UniqueBitmap dib_;
  std::uint8_t* bits_ = nullptr;  // belongs to dib_
  std::optional<BitmapDC> memoryDC_;  // made when the canvas is first asked for
  std::unique_ptr<TCanvas> canvas_;
};

// Holds any graphic; knows graphic classes by name for stored forms.
class TPicture {
 public:
  using Factory = std::function<std::unique_ptr<TGraphic>()>;
  static void RegisterClass(const std::string& name, Factory factory);
  // Makes a graphic class known by its class name. TBitmap always is; a
  // program registers the other formats its stored forms name, by a call
  // that also keeps the format's code from being left out by the linker.
  template <typename Graphic>
  static void RegisterClass() {
    RegisterClass(Graphic().ClassName(), [] { return std::unique_ptr<TGraphic>(new Graphic); });
  }
  static std::unique_ptr<TGraphic> CreateGraphic(const std::string& name);

  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  std::function<void(TPicture*)> OnChange;
  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }

  // The stored form: class-name length (one byte), class name, then the
  // graphic's own data. An empty picture stores a zero length.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;

 private:
  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace qv
