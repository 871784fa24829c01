// The skin bitmap's pixel work, portable: every kernel takes a row view of
// 24-bit pixels (bytes blue, green, red; row 0 at the top; rows `stride`
// bytes apart, the padding after each row never touched), so a DIB section
// and a test buffer are the same to it.
#pragma once

#include <cstdint>
#include <optional>

#include "framework/portable/random.h"
#include "framework/portable/stride.h"

namespace qv::pix {

struct RowView {
  std::uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;

  std::uint8_t* Row(int y) const { return bits + static_cast<std::ptrdiff_t>(y) * stride; }
  bool Empty() const { return !bits || width <= 0 || height <= 0; }
};

// Colour tables and per-pixel colour effects.
void Grayscale(const RowView& v);
void KeyMask(const RowView& v, std::uint32_t keyRRGGBB);  // key to black, all else white
void Invert(const RowView& v);
void Brightness(const RowView& v, int amount);
void Contrast(const RowView& v, int amount);
void AdjustRGB(const RowView& v, int r, int g, int b);
// spare: pixels of this colour ($00RRGGBB) keep their value.
void Tint(const RowView& v, int r, int g, int b, std::optional<std::uint32_t> spareRRGGBB);
void Saturation(const RowView& v, int amount);

// Neighbourhood filters, in place, reading neighbours from the same memory.
void Blur(const RowView& v, int offset);
void MultiBlur(const RowView& v, int n);
void Sharpen(const RowView& v, int offset);
void Emboss(const RowView& v);
void Diffuse(const RowView& v, int range, TRandom& random);

// Geometric transforms; Rotate and Wave work from a copy.
void Flip(const RowView& v, bool horizontal);
// A negative centre coordinate stands for the middle; angle in degrees,
// positive turns clockwise on screen.
void Rotate(const RowView& v, int centreX, int centreY, long double angle);
void Wave(const RowView& v, bool wrap, long double columnPeriod, long double rowPeriod,
          long double amplitude);

// Bilinear resampling of src into dst (of the target size), 15-bit fixed
// point; nothing for a target under one pixel.
void SmoothStretch(const RowView& src, const RowView& dst);

}  // namespace qv::pix
