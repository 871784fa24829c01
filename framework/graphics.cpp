#include "framework/graphics.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "framework/dll_safety.h"
#include "framework/portable/bmp_codec.h"
#include "framework/portable/stride.h"
#include "framework/text_conv.h"
#include "framework/portable/little_endian.h"

namespace qv {

COLORREF ColorToRGB(TColor color) {
  if (color < 0) return ::GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color) & 0xFFFFFF;
}

int BitsOf(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
    default: return 0;
  }
}

HFONT SharedFont(const std::string& name, int height, bool bold, BYTE charset) {
  struct Key {
    std::string name;
    int height;
    bool bold;
    BYTE charset;
    bool operator<(const Key& o) const {
      return std::tie(name, height, bold, charset) < std::tie(o.name, o.height, o.bold, o.charset);
    }
  };
  // Lives as long as the program; the handful of fonts are freed with it.
  static std::map<Key, HFONT> fonts;
  HFONT& f = fonts[Key{name, height, bold, charset}];
  if (!f)
    f = ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, charset, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, Utf8ToWide(name).c_str());
  return f;
}

// ---------------------------------------------------------------- TCanvas

TCanvas::~TCanvas() { ReleaseObjects(); }

void TCanvas::ReleaseObjects() {
  if (dc_) {
    if (oldBrush_) ::SelectObject(dc_, oldBrush_);
    if (oldPen_) ::SelectObject(dc_, oldPen_);
    if (oldFont_) ::SelectObject(dc_, oldFont_);
  }
  oldBrush_ = oldPen_ = oldFont_ = nullptr;
  brush_.Reset();
  pen_.Reset();
  font_ = nullptr;
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == dc_) return;
  ReleaseObjects();
  dc_ = dc;
}

void TCanvas::RequireObjects() {
  if (!dc_) return;
  if (!brush_ || madeBrush_.Color != Brush.Color) {
    UniqueGdiObject b(::CreateSolidBrush(ColorToRGB(Brush.Color)));
    HGDIOBJ old = ::SelectObject(dc_, b.Get());
    if (!oldBrush_) oldBrush_ = old;
    brush_ = std::move(b);
    madeBrush_ = Brush;
  }
  if (!pen_ || madePen_.Color != Pen.Color || madePen_.Width != Pen.Width) {
    UniqueGdiObject p(::CreatePen(PS_SOLID, Pen.Width, ColorToRGB(Pen.Color)));
    HGDIOBJ old = ::SelectObject(dc_, p.Get());
    if (!oldPen_) oldPen_ = old;
    pen_ = std::move(p);
    madePen_ = Pen;
  }
  if (!font_ || madeFont_.Name != Font.Name || madeFont_.Height != Font.Height ||
      madeFont_.Bold != Font.Bold || madeFont_.Charset != Font.Charset) {
    HFONT f = SharedFont(Font.Name, Font.Height, Font.Bold, Font.Charset);
    HGDIOBJ old = ::SelectObject(dc_, f);
    if (!oldFont_) oldFont_ = old;
    font_ = f;
    madeFont_ = Font;
  }
  ::SetTextColor(dc_, ColorToRGB(Font.Color));
}

void TCanvas::FillRect(const RECT& r) {
  RequireObjects();
  ::FillRect(dc_, &r, static_cast<HBRUSH>(brush_.Get()));
}

void TCanvas::Rectangle(const RECT& r) {
  RequireObjects();
  ::Rectangle(dc_, r.left, r.top, r.right, r.bottom);
}

void TCanvas::MoveTo(int x, int y) { ::MoveToEx(dc_, x, y, nullptr); }

void TCanvas::LineTo(int x, int y) {
  RequireObjects();
  ::LineTo(dc_, x, y);
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
  if (graphic.Empty()) return;
  RECT r{x, y, x + graphic.Width(), y + graphic.Height()};
  graphic.Draw(*this, r);
}

void TCanvas::StretchDraw(const RECT& r, TGraphic& graphic) {
  if (!graphic.Empty()) graphic.Draw(*this, r);
}

void TCanvas::CopyRect(const RECT& dest, const TCanvas& source, const RECT& sourceRect) {
  ::StretchBlt(dc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, source.dc_,
               sourceRect.left, sourceRect.top, sourceRect.right - sourceRect.left,
               sourceRect.bottom - sourceRect.top, SRCCOPY);
}

COLORREF TCanvas::Pixel(int x, int y) const { return ::GetPixel(dc_, x, y); }

void TCanvas::SetPixel(int x, int y, TColor color) { ::SetPixel(dc_, x, y, ColorToRGB(color)); }

void TCanvas::TextOut(int x, int y, const std::string& text) {
  RequireObjects();
  const std::wstring w = Utf8ToWide(text);
  ::TextOutW(dc_, x, y, w.c_str(), static_cast<int>(w.size()));
}

SIZE TCanvas::TextExtent(const std::string& text) {
  RequireObjects();
  const std::wstring w = Utf8ToWide(text);
  SIZE s{0, 0};
  ::GetTextExtentPoint32W(dc_, w.c_str(), static_cast<int>(w.size()), &s);
  return s;
}

// --------------------------------------------------------------- TGraphic

void TGraphic::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Changed(this);
}

void TGraphic::Changed(TGraphic*) {
  modified_ = true;
  if (OnChange) OnChange(this);
}

void TGraphic::Assign(TGraphic* source) {
  if (!source) throw EConvertError("Cannot assign nothing to a " + ClassName());
  source->AssignTo(this);
}

void TGraphic::AssignTo(TGraphic* dest) {
  throw EConvertError("Cannot assign a " + ClassName() + " to a " +
                      (dest ? dest->ClassName() : std::string("nil")));
}

void TGraphic::LoadFromFile(const std::string& path) {
  TFileStream s(path, TFileStream::Mode::Read);
  LoadFromStream(s);
}

void TGraphic::SaveToFile(const std::string& path) {
  TFileStream s(path, TFileStream::Mode::Create);
  SaveToStream(s);
}

// ---------------------------------------------------------------- TBitmap

namespace {

std::vector<RGBQUAD> DefaultColors(int bits) {
  std::vector<RGBQUAD> c;
  if (bits == 1) {
    c = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  } else if (bits == 4) {
    static const BYTE vga[16][3] = {{0, 0, 0},     {0, 0, 128},   {0, 128, 0},   {0, 128, 128},
                                    {128, 0, 0},   {128, 0, 128}, {128, 128, 0}, {192, 192, 192},
                                    {128, 128, 128}, {0, 0, 255}, {0, 255, 0},   {0, 255, 255},
                                    {255, 0, 0},   {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
    for (const auto& v : vga) c.push_back({v[2], v[1], v[0], 0});  // vga[] is r,g,b
  } else if (bits == 8) {
    // A colour cube; the rest of the table stays black.
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          c.push_back({static_cast<BYTE>(b * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(r * 51), 0});
    c.resize(256, RGBQUAD{0, 0, 0, 0});
  }
  return c;
}

TPixelFormat FormatOfBits(int bits) {
  switch (bits) {
    case 1: return TPixelFormat::pf1bit;
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    case 16: return TPixelFormat::pf16bit;
    case 24: return TPixelFormat::pf24bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pfCustom;
  }
}

struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() = default;

void TBitmap::ReleaseMemoryDC() {
  if (canvas_) canvas_->SetHandle(nullptr);
  memoryDC_.reset();
}

int TBitmap::Stride() const {
  return BmpImage::StrideFor(width_, BitsOf(format_) ? BitsOf(format_) : 24);
}

TCanvas& TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>();
  if (dib_ && !memoryDC_) memoryDC_.emplace(nullptr, dib_.Get());
  canvas_->SetHandle(memoryDC_ ? memoryDC_->Get() : nullptr);
  return *canvas_;
}

void TBitmap::Rebuild(int width, int height, TPixelFormat format, const std::vector<RGBQUAD>& colors) {
  // The old picture goes onto the new surface, converted by the platform.
  ReleaseMemoryDC();
  const UniqueBitmap oldDib = std::move(dib_);
  bits_ = nullptr;

  if (format == TPixelFormat::pfDevice || format == TPixelFormat::pfCustom) format = TPixelFormat::pf24bit;
  format_ = format;
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  const int bits = BitsOf(format);
  colorTable_ = bits <= 8 ? (colors.empty() ? DefaultColors(bits) : colors) : std::vector<RGBQUAD>();
  if (width_ == 0 || height_ == 0) {
    width_ = height_ = 0;
    return;
  }

  DibInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width_;
  info.header.biHeight = height_;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biCompression = BI_RGB;
  info.header.biClrUsed = static_cast<DWORD>(colorTable_.size());
  std::copy(colorTable_.begin(), colorTable_.end(), info.colors);
  void* p = nullptr;
  dib_.Reset(::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &p, nullptr, 0));
  if (!dib_) {
    width_ = height_ = 0;
    throw std::runtime_error("Out of system resources");
  }
  bits_ = static_cast<std::uint8_t*>(p);
  std::memset(bits_, 0, static_cast<std::size_t>(Stride()) * static_cast<std::size_t>(height_));
  if (oldDib) {
    TCanvas& c = Canvas();
    const BitmapDC src(nullptr, oldDib.Get());
    ::BitBlt(c.Handle(), 0, 0, width_, height_, src.Get(), 0, 0, SRCCOPY);
  }
}

void TBitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  Rebuild(width, height, format_, colorTable_);
  Changed(this);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  Rebuild(width_, height_, format, {});
  Changed(this);
}

void TBitmap::SetMonochrome(bool value) {
  if (value != Monochrome()) SetPixelFormat(value ? TPixelFormat::pf1bit : TPixelFormat::pf24bit);
}

void TBitmap::SetColorTable(const std::vector<RGBQUAD>& colors) {
  if (BitsOf(format_) > 8 || colors.empty()) return;
  const std::size_t n = std::min(colors.size(), colorTable_.size());
  std::copy(colors.begin(), colors.begin() + static_cast<std::ptrdiff_t>(n), colorTable_.begin());
  if (dib_) ::SetDIBColorTable(Canvas().Handle(), 0, static_cast<UINT>(n), colorTable_.data());
}

void TBitmap::Draw(TCanvas& canvas, const RECT& r) {
  if (!dib_) return;
  TCanvas& own = Canvas();
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (Transparent()) {
    COLORREF key = ColorToRGB(TransparentColor);
    // By default the bottom-left pixel is the key; a monochrome picture's is white.
    if (TransparentColor == clDefault) key = Monochrome() ? RGB(255, 255, 255) : own.Pixel(0, height_ - 1);
    using TransparentBltFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);
    static const auto blit = SystemFunction<TransparentBltFn>(L"msimg32.dll", "TransparentBlt");
    if (blit) blit(canvas.Handle(), r.left, r.top, w, h, own.Handle(), 0, 0, width_, height_, key);
    return;
  }
  ::SetStretchBltMode(canvas.Handle(), COLORONCOLOR);
  ::StretchBlt(canvas.Handle(), r.left, r.top, w, h, own.Handle(), 0, 0, width_, height_, SRCCOPY);
}

void TBitmap::LoadFromStream(TStream& stream) {
  const std::vector<std::uint8_t> file = stream.ReadRest();
  BmpImage image = DecodeBmp(file);
  // 16- and 32-bit pictures with their own channel masks become 24-bit here.
  if ((image.bitCount == 16 || image.bitCount == 32) && image.redMask) {
    const int stride = Stride24(image.width);
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * image.height);
    ToTopDown24(image, rows.data(), stride);
    image = FromTopDown24(rows.data(), image.width, image.height, stride);
  }
  std::vector<RGBQUAD> colors;
  for (const auto& c : image.colors) colors.push_back({c[0], c[1], c[2], 0});
  Rebuild(0, 0, FormatOfBits(image.bitCount), {});
  Rebuild(image.width, image.height, FormatOfBits(image.bitCount), colors);
  const std::size_t bytes = std::min(image.bits.size(), static_cast<std::size_t>(Stride()) * height_);
  std::memcpy(bits_, image.bits.data(), bytes);
  ::GdiFlush();
  Changed(this);
}

void TBitmap::SaveToStream(TStream& stream) {
  BmpImage image;
  image.width = width_;
  image.height = height_;
  image.bitCount = BitsOf(format_);
  for (const auto& c : colorTable_) image.colors.push_back({c.rgbBlue, c.rgbGreen, c.rgbRed, 0});
  if (dib_) {
    ::GdiFlush();
    image.bits.assign(bits_, bits_ + static_cast<std::size_t>(Stride()) * height_);
  }
  const std::vector<std::uint8_t> file = EncodeBmp(image);
  stream.Write(file.data(), file.size());
}

void TBitmap::LoadFromResourceName(HINSTANCE instance, const wchar_t* name) {
  HRSRC res = ::FindResourceW(instance, name, MAKEINTRESOURCEW(2));  // RT_BITMAP
  HGLOBAL mem = res ? ::LoadResource(instance, res) : nullptr;
  const auto* dib = mem ? static_cast<const std::uint8_t*>(::LockResource(mem)) : nullptr;
  if (!dib) throw EStreamError("Bitmap resource not found");
  // A bitmap resource is a BMP file without its file header.
  const DWORD size = ::SizeofResource(instance, res);
  std::vector<std::uint8_t> file(14 + size);
  file[0] = 'B';
  file[1] = 'M';
  const std::uint32_t total = static_cast<std::uint32_t>(file.size());
  StoreLe(&file[2], total, 4);
  const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(dib);
  std::uint32_t colors = info->biClrUsed;
  if (!colors && info->biBitCount <= 8) colors = 1u << info->biBitCount;
  const std::uint32_t masks = info->biCompression == BI_BITFIELDS && info->biSize == 40 ? 12 : 0;
  const std::uint32_t offset = 14 + info->biSize + masks + 4 * colors;
  StoreLe(&file[10], offset, 4);
  std::memcpy(&file[14], dib, size);
  TMemoryStream m(std::move(file));
  LoadFromStream(m);
}

void TBitmap::ReadData(TStream& stream) {
  std::uint32_t size = 0;
  stream.ReadBuffer(&size, 4);
  std::vector<std::uint8_t> file(size);
  if (size) stream.ReadBuffer(file.data(), size);
  TMemoryStream m(std::move(file));
  LoadFromStream(m);
}

void TBitmap::WriteData(TStream& stream) {
  TMemoryStream m;
  SaveToStream(m);
  const auto size = static_cast<std::uint32_t>(m.Size());
  stream.Write(&size, 4);
  stream.Write(m.Bytes().data(), m.Bytes().size());
}

void TBitmap::Assign(TGraphic* source) {
  auto* b = dynamic_cast<TBitmap*>(source);
  if (!b) {
    TGraphic::Assign(source);
    return;
  }
  Rebuild(0, 0, b->format_, {});
  Rebuild(b->width_, b->height_, b->format_, b->colorTable_);
  if (b->dib_) {
    ::GdiFlush();
    std::memcpy(bits_, b->bits_, static_cast<std::size_t>(Stride()) * height_);
  }
  SetTransparent(b->Transparent());
  TransparentColor = b->TransparentColor;
  Changed(this);
}

// --------------------------------------------------------------- TPicture

namespace {
std::map<std::string, TPicture::Factory>& Registry() {
  static std::map<std::string, TPicture::Factory> registry{
      {"TBitmap", [] { return std::unique_ptr<TGraphic>(new TBitmap); }}};
  return registry;
}
}  // namespace

void TPicture::RegisterClass(const std::string& name, Factory factory) { Registry()[name] = std::move(factory); }

std::unique_ptr<TGraphic> TPicture::CreateGraphic(const std::string& name) {
  auto it = Registry().find(name);
  if (it == Registry().end()) return nullptr;
  return it->second();
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->OnChange = [this](TGraphic*) {
      if (OnChange) OnChange(this);
    };
  if (OnChange) OnChange(this);
}

void TPicture::ReadData(TStream& stream) {
  std::uint8_t length = 0;
  stream.ReadBuffer(&length, 1);
  if (length == 0) {
    SetGraphic(nullptr);
    return;
  }
  std::string name(length, '\0');
  stream.ReadBuffer(name.data(), length);
  std::unique_ptr<TGraphic> g = CreateGraphic(name);
  if (!g) throw EStreamError("Unknown picture class " + name);
  g->ReadData(stream);
  SetGraphic(std::move(g));
}

void TPicture::WriteData(TStream& stream) const {
  if (!graphic_) {
    const std::uint8_t zero = 0;
    stream.Write(&zero, 1);
    return;
  }
  const std::string name = graphic_->ClassName();
  const auto length = static_cast<std::uint8_t>(name.size());
  stream.Write(&length, 1);
  stream.Write(name.data(), name.size());
  graphic_->WriteData(stream);
}

}  // namespace qv
