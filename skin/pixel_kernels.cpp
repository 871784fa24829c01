#include "skin/pixel_kernels.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qv::pix {
namespace {

// The grey tables and the rotation must round exactly as 80-bit extended
// arithmetic does (tG[100] = 58, not 59), so long double has to be that type.
static_assert(LDBL_MANT_DIG == 64, "these kernels need x87 extended long double");

using Table = std::array<std::uint8_t, 256>;

std::uint8_t Clamp8(std::int64_t v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// 64-bit so that y + offset cannot overflow for any int offset.
int ClampIndex(std::int64_t v, int hi) { return static_cast<int>(v > hi ? hi : (v < 0 ? 0 : v)); }

// Every channel byte v of every pixel becomes t[v].
inline void ApplyTable(const RowView& v, const Table& t) {
  const int n = 3 * v.width;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int i = 0; i < n; ++i) p[i] = t[p[i]];
  }
}

inline void ApplyTables(const RowView& v, const Table& tb, const Table& tg, const Table& tr) {
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int x = 0; x < v.width; ++x, p += 3) {
      p[0] = tb[p[0]];
      p[1] = tg[p[1]];
      p[2] = tr[p[2]];
    }
  }
}

Table OffsetTable(int amount) {
  Table t;
  for (int i = 0; i < 256; ++i) t[i] = Clamp8(std::int64_t{i} + amount);
  return t;
}

// Byte offsets of column x + offset, clamped to the row, for every x.
std::vector<int> ColumnOffsets(int width, std::int64_t offset) {
  std::vector<int> cols(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) cols[x] = 3 * ClampIndex(x + offset, width - 1);
  return cols;
}

void CopyPixels(const RowView& v, const std::vector<std::uint8_t>& from) {
  for (int y = 0; y < v.height; ++y)
    std::memcpy(v.Row(y), from.data() + static_cast<std::size_t>(y) * v.stride, 3 * static_cast<std::size_t>(v.width));
}

// Round half to even under the default rounding mode. Shifts are clamped so
// a huge amplitude cannot overflow the integer; NaN counts as no shift.
std::int64_t RoundShift(long double v) {
  constexpr long double kLimit = 9007199254740992.0L;  // 2^53, far beyond any picture
  if (std::isnan(v)) return 0;
  return std::llrint(std::clamp(v, -kLimit, kLimit));
}

// Built by the compiler, so the extended-precision products do not depend on
// the x87 precision setting the program happens to run with.
struct GreyTables {
  Table r, g, b;
};
constexpr GreyTables kGrey = [] {
  GreyTables t{};
  for (int i = 0; i < 256; ++i) {
    const long double x = i;
    t.r[i] = static_cast<std::uint8_t>(x * 0.3L);
    t.g[i] = static_cast<std::uint8_t>(x * 0.59L);
    t.b[i] = static_cast<std::uint8_t>(x * 0.11L);
  }
  return t;
}();
static_assert(kGrey.g[100] == 58 && kGrey.g[200] == 117 && kGrey.r[255] == 76 && kGrey.b[255] == 28);

}  // namespace

void Grayscale(const RowView& v) {
  if (v.Empty()) return;
  const Table &tr = kGrey.r, &tg = kGrey.g, &tb = kGrey.b;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int x = 0; x < v.width; ++x, p += 3) {
      const auto grey = static_cast<std::uint8_t>(tb[p[0]] + tg[p[1]] + tr[p[2]]);
      p[0] = p[1] = p[2] = grey;
    }
  }
}

void KeyMask(const RowView& v, std::uint32_t keyRRGGBB) {
  if (v.Empty()) return;
  const std::uint8_t kb = keyRRGGBB & 0xFF, kg = (keyRRGGBB >> 8) & 0xFF, kr = (keyRRGGBB >> 16) & 0xFF;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int x = 0; x < v.width; ++x, p += 3) {
      const std::uint8_t out = (p[0] == kb && p[1] == kg && p[2] == kr) ? 0 : 255;
      p[0] = p[1] = p[2] = out;
    }
  }
}

void Invert(const RowView& v) {
  if (v.Empty()) return;
  const int n = 3 * v.width;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
  }
}

void Brightness(const RowView& v, int amount) {
  if (v.Empty()) return;
  // 32-bit unsigned products and a logical shift, as documented; amounts
  // whose products overflow simply wrap.
  const auto a = static_cast<std::uint32_t>(amount);
  const std::uint32_t magnitude = amount > 0 ? a : 0u - a;
  Table t;
  for (std::uint32_t i = 0; i < 256; ++i) {
    if (amount > 0)
      t[i] = Clamp8(std::int64_t{i} + ((magnitude * (255 - i)) >> 8));
    else
      t[i] = Clamp8(std::int64_t{i} - ((magnitude * i) >> 8));
  }
  ApplyTable(v, t);
}

void Contrast(const RowView& v, int amount) {
  if (v.Empty()) return;
  Table t;
  for (int i = 0; i < 256; ++i) {
    const std::int64_t d = std::int64_t{std::abs(128 - i)} * amount / 256;  // truncates toward zero
    t[i] = Clamp8(i <= 126 ? i - d : i + d);
  }
  ApplyTable(v, t);
}

void AdjustRGB(const RowView& v, int r, int g, int b) {
  if (v.Empty()) return;
  ApplyTables(v, OffsetTable(b), OffsetTable(g), OffsetTable(r));
}

void Tint(const RowView& v, int r, int g, int b, std::optional<std::uint32_t> spareRRGGBB) {
  if (v.Empty()) return;
  const Table tb = OffsetTable(b - 192), tg = OffsetTable(g - 192), tr = OffsetTable(r - 192);
  if (!spareRRGGBB) {
    ApplyTables(v, tb, tg, tr);
    return;
  }
  const std::uint32_t spare = *spareRRGGBB & 0xFFFFFF;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int x = 0; x < v.width; ++x, p += 3) {
      if ((std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]) == spare) continue;
      p[0] = tb[p[0]];
      p[1] = tg[p[1]];
      p[2] = tr[p[2]];
    }
  }
}

void Saturation(const RowView& v, int amount) {
  if (v.Empty()) return;
  Table third;
  std::array<int, 256> scaled;
  const auto a = static_cast<std::uint32_t>(amount);
  for (std::uint32_t i = 0; i < 256; ++i) {
    third[i] = static_cast<std::uint8_t>(i / 3);
    scaled[i] = static_cast<int>(((i * a) >> 8) & 0xFFFF);  // 32-bit, logical shift
  }
  // The new value depends only on the pixel's grey and the old value: one
  // table row per grey (64 KiB) turns the pixel loop into lookups.
  std::vector<Table> byGrey(256);
  for (int grey = 0; grey < 256; ++grey)
    for (int i = 0; i < 256; ++i) byGrey[grey][i] = Clamp8(grey + scaled[i] - scaled[grey]);
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (std::uint8_t* end = p + 3 * v.width; p != end; p += 3) {
      const Table& t = byGrey[third[p[0]] + third[p[1]] + third[p[2]]];
      p[0] = t[p[0]];
      p[1] = t[p[1]];
      p[2] = t[p[2]];
    }
  }
}

// The neighbourhood filters read their samples from the picture itself, so
// rows above and pixels to the left have already been filtered.

void Blur(const RowView& v, int offset) {
  if (v.Empty()) return;
  const std::vector<int> rightCols = ColumnOffsets(v.width, offset);
  const std::vector<int> leftCols = ColumnOffsets(v.width, -std::int64_t{offset});
  // Plain pointers: a byte store may alias anything, so indexing through
  // the vectors would reload their data pointers for every pixel.
  const int* right = rightCols.data();
  const int* left = leftCols.data();
  const int hi = v.height - 1;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    const std::uint8_t* a = v.Row(ClampIndex(std::int64_t{y} + offset, hi));
    const std::uint8_t* b = v.Row(ClampIndex(std::int64_t{y} - offset, hi));
    for (int x = 0; x < v.width; ++x, p += 3) {
      const std::uint8_t *aa = a + right[x], *ba = b + right[x], *ab = a + left[x], *bb = b + left[x];
      const int s0 = aa[0] + ba[0] + ab[0] + bb[0];
      const int s1 = aa[1] + ba[1] + ab[1] + bb[1];
      const int s2 = aa[2] + ba[2] + ab[2] + bb[2];
      p[0] = static_cast<std::uint8_t>(s0 >> 2);
      p[1] = static_cast<std::uint8_t>(s1 >> 2);
      p[2] = static_cast<std::uint8_t>(s2 >> 2);
    }
  }
}

void MultiBlur(const RowView& v, int n) {
  for (int a = n; a >= 1; --a) Blur(v, a);
}

namespace {

// (256 C - 16 S) div 128 = (16 C - S) div 8; clamping before the shift
// gives the same as Clamp8 after the division, without branches.
inline int SharpenValue(int centre16MinusSum) { return std::min(std::max(centre16MinusSum, 0), 2047) >> 3; }

// One pixel of Sharpen from its nine samples (u/m/d rows; l/c/r columns).
inline void SharpenPixel(std::uint8_t* p, const std::uint8_t* ul, const std::uint8_t* uc, const std::uint8_t* ur,
                         const std::uint8_t* ml, const std::uint8_t* mr, const std::uint8_t* dl, const std::uint8_t* dc,
                         const std::uint8_t* dr) {
  int k[3];
#pragma GCC unroll 3
  for (int ch = 0; ch < 3; ++ch)
    k[ch] = 16 * p[ch] - (ul[ch] + uc[ch] + ur[ch] + ml[ch] + mr[ch] + dl[ch] + dc[ch] + dr[ch]);
#pragma GCC unroll 3
  for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<std::uint8_t>(SharpenValue(k[ch]));
}

// Sharpen(1) of the pixels 1 .. W-2 of a row whose upper and lower
// neighbours are other rows. Those do not change meanwhile, so their column
// sums slide along and each step reads only the right-hand column; the left
// pixel (already new) is carried from the step before.
void SharpenInnerByOne(std::uint8_t* p, const std::uint8_t* up, const std::uint8_t* down, int width) {
  int vl[3], vc[3], ml[3];
#pragma GCC unroll 3
  for (int ch = 0; ch < 3; ++ch) {
    vl[ch] = up[ch] + down[ch];
    vc[ch] = up[3 + ch] + down[3 + ch];
    ml[ch] = p[ch];
  }
  for (int i = 3, end = 3 * (width - 1); i < end; i += 3) {
#pragma GCC unroll 3
    for (int ch = 0; ch < 3; ++ch) {
      const int vr = up[i + 3 + ch] + down[i + 3 + ch];
      ml[ch] = SharpenValue(16 * p[i + ch] - (vl[ch] + vc[ch] + vr + ml[ch] + p[i + 3 + ch]));
      p[i + ch] = static_cast<std::uint8_t>(ml[ch]);
      vl[ch] = vc[ch];
      vc[ch] = vr;
    }
  }
}

}  // namespace

void Sharpen(const RowView& v, int offset) {
  if (v.Empty()) return;
  const int width = v.width, hi = v.height - 1;
  const std::vector<int> right = ColumnOffsets(width, offset), left = ColumnOffsets(width, -std::int64_t{offset});
  for (int y = 0; y <= hi; ++y) {
    std::uint8_t* p = v.Row(y);
    const std::uint8_t* up = v.Row(ClampIndex(std::int64_t{y} - offset, hi));
    const std::uint8_t* down = v.Row(ClampIndex(std::int64_t{y} + offset, hi));
    auto pixel = [&](int x) {
      const int l = left[x], c = 3 * x, r = right[x];
      SharpenPixel(p + c, up + l, up + c, up + r, p + l, p + r, down + l, down + c, down + r);
    };
    if ((offset == 1 || offset == -1) && up != p && down != p && width >= 3) {
      pixel(0);
      SharpenInnerByOne(p, up, down, width);
      pixel(width - 1);
    } else {
      for (int x = 0; x < width; ++x) pixel(x);
    }
  }
}

void Emboss(const RowView& v) {
  // The last rows' neighbour is pixel (1, H-1): a picture one pixel wide or
  // high has none, so it is left as it is.
  if (v.Empty() || v.width < 2 || v.height < 2) return;
  const int w = v.width, h = v.height;
  std::uint8_t corner[3];
  std::memcpy(corner, v.Row(h - 1) + 3, 3);  // taken before row H-1 changes
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = v.Row(y);
    const std::uint8_t* below = y <= h - 3 ? v.Row(y + 1) : nullptr;
    for (int x = 0; x < w; ++x, p += 3) {
      const std::uint8_t* n = below ? below + 3 * std::min(x + 1, w - 1) : corner;
      for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<std::uint8_t>((p[ch] + (255 - n[ch])) >> 1);
    }
  }
}

void Diffuse(const RowView& v, int range, TRandom& random) {
  if (v.Empty()) return;
  // A negative range moves nothing, like 0; the draws still happen.
  const auto n = static_cast<std::uint32_t>(std::max(range, 0));
  const int hiX = v.width - 1, hiY = v.height - 1;
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* p = v.Row(y);
    for (int x = 0; x < v.width; ++x, p += 3) {
      const std::int64_t c = random.Next(n);
      const std::int64_t d = random.Next(static_cast<std::uint32_t>(2 * c));
      const std::int64_t e = random.Next(static_cast<std::uint32_t>(2 * c));
      const std::uint8_t* s = v.Row(ClampIndex(y + c - e, hiY)) + 3 * ClampIndex(x + c - d, hiX);
      p[0] = s[0];
      p[1] = s[1];
      p[2] = s[2];
    }
  }
}

void Flip(const RowView& v, bool horizontal) {
  if (v.Empty()) return;
  if (horizontal) {
    for (int y = 0; y < v.height; ++y) {
      std::uint8_t* row = v.Row(y);
      for (int x = 0, m = v.width - 1; x < m; ++x, --m) std::swap_ranges(row + 3 * x, row + 3 * x + 3, row + 3 * m);
    }
    return;
  }
  // Only the pixel bytes move: padding belongs to its row and stays.
  const std::size_t n = 3 * static_cast<std::size_t>(v.width);
  for (int y = 0, m = v.height - 1; y < m; ++y, --m) std::swap_ranges(v.Row(y), v.Row(y) + n, v.Row(m));
}

void Rotate(const RowView& v, int centreX, int centreY, long double angle) {
  if (v.Empty() || !std::isfinite(angle)) return;
  const std::int64_t cx = centreX < 0 ? v.width / 2 : centreX;
  const std::int64_t cy = centreY < 0 ? v.height / 2 : centreY;
  const std::uint8_t* fill = v.Row(0);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(v.stride) * v.height);
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* q = out.data() + static_cast<std::size_t>(y) * v.stride;
    for (int x = 0; x < v.width; ++x) std::memcpy(q + 3 * x, fill, 3);
  }

  const long double pi = 3.141592653589793238462643383279502884L;
  const long double theta = -angle * pi / 180.0L;
  // Sine and cosine rounded to double, then multiplied in extended
  // precision: the rounding the rotation is defined with.
  const double s = static_cast<double>(std::sin(theta));
  const double k = static_cast<double>(std::cos(theta));
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* q = out.data() + static_cast<std::size_t>(y) * v.stride;
    const std::int64_t dy = 2 * (y - cy) + 1;
    for (int x = 0; x < v.width; ++x, q += 3) {
      const std::int64_t dx = 2 * (x - cx) + 1;
      const long double u = static_cast<long double>(dx) * k - static_cast<long double>(dy) * s;
      const long double w = static_cast<long double>(dx) * s + static_cast<long double>(dy) * k;
      const std::int64_t sx = cx + (std::llrint(u) - 1) / 2;
      const std::int64_t sy = cy + (std::llrint(w) - 1) / 2;
      if (sx >= 0 && sx < v.width && sy >= 0 && sy < v.height) std::memcpy(q, v.Row(static_cast<int>(sy)) + 3 * sx, 3);
    }
  }
  CopyPixels(v, out);
}

void Wave(const RowView& v, bool wrap, long double columnPeriod, long double rowPeriod, long double amplitude) {
  if (v.Empty() || rowPeriod == 0 || columnPeriod == 0) return;
  const int w = v.width, h = v.height;
  std::vector<std::int64_t> shiftX(static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y) shiftX[y] = RoundShift(amplitude * std::sin(static_cast<long double>(y) / rowPeriod));
  std::vector<std::uint8_t> out(static_cast<std::size_t>(v.stride) * h, 0);

  for (int x = 0; x < w; ++x) {
    const std::int64_t shiftY = RoundShift(amplitude * std::sin(static_cast<long double>(x) / columnPeriod));
    std::int64_t f = shiftY;
    if (wrap) {
      if (f < 0)
        f = (h - 1) - (-f) % h;
      else if (f >= h)
        f = h == 1 ? 0 : f % (h - 1);  // one row high: the only row is the start
    }
    for (int y = 0; y < h; ++y) {
      std::int64_t sx = x + shiftX[y], sy;
      if (wrap) {
        sy = (f + y) % h;
        if (sx < 0)
          sx = (w - 1) - (-sx) % w;
        else if (sx >= w)
          sx %= w;
      } else {
        sy = y + shiftY;
        if (sx < 0 || sx >= w || sy < 0 || sy >= h) continue;  // stays black
      }
      std::memcpy(out.data() + static_cast<std::size_t>(y) * v.stride + 3 * x, v.Row(static_cast<int>(sy)) + 3 * sx, 3);
    }
  }
  CopyPixels(v, out);
}

void SmoothStretch(const RowView& src, const RowView& dst) {
  if (src.Empty() || dst.Empty()) return;
  const std::int64_t stepX = (std::int64_t{src.width} - 1) * 32768 / dst.width;
  const std::int64_t stepY = (std::int64_t{src.height} - 1) * 32768 / dst.height;
  // For a source one pixel wide the right-hand weight is 0; still read
  // inside the row.
  const int right = src.width > 1 ? 3 : 0;
  std::int64_t fy = 0;
  for (int y = 0; y < dst.height; ++y, fy += stepY) {
    const int sy = static_cast<int>(fy >> 15);
    const int wy = static_cast<int>(fy & 0x7FFF), iwy = 0x8000 - wy;
    const std::uint8_t* upper = src.Row(sy);
    const std::uint8_t* lower = sy + 1 <= src.height - 1 ? src.Row(sy + 1) : upper;
    std::uint8_t* q = dst.Row(y);
    std::int64_t fx = 0;
    for (int x = 0; x < dst.width; ++x, fx += stepX, q += 3) {
      const int sx = static_cast<int>(fx >> 15);
      const int wx = static_cast<int>(fx & 0x7FFF);
      const int t1 = (wx * iwy) >> 15, t2 = (wx * wy) >> 15;
      const int w00 = iwy - t1, w01 = t1, w10 = wy - t2, w11 = t2;
      const std::uint8_t* u = upper + 3 * sx;
      const std::uint8_t* l = lower + 3 * sx;
      for (int ch = 0; ch < 3; ++ch)
        q[ch] =
            static_cast<std::uint8_t>((u[ch] * w00 + u[ch + right] * w01 + l[ch] * w10 + l[ch + right] * w11) >> 15);
    }
  }
}

}  // namespace qv::pix
