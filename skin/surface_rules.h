// TqvForm's rules, portable: how the skin is composed from one picture and
// which zone of the surface the mouse is in. The surface only carries out
// what these answer.
#pragma once

#include <cstdint>
#include <vector>

#include "skin/skin_types.h"

namespace qv::skin {

// ---------------------------------------------------------------------------
// Skin composition

inline constexpr int kSkinStrip = 25;  // edge strip step, whatever the picture

enum class BlitKind { Copy, Stretch };

// Copy: src and dst have the same size. Stretch: no smoothing.
struct BlitOp {
  BlitKind kind = BlitKind::Copy;
  Rect src;
  Rect dst;
  friend bool operator==(const BlitOp&, const BlitOp&) = default;
};

// clear: empty the skin and do nothing else. Otherwise size the skin to
// width x height and run ops in order (later ones cover earlier ones).
struct SkinPlan {
  bool clear = false;
  int width = 0;
  int height = 0;
  std::vector<BlitOp> ops;
};

// Every src lies inside the picture and every dst inside the surface;
// blocks that would come out empty are left out.
SkinPlan PlanSkin(int pictureWidth, int pictureHeight, int width, int height);

// ---------------------------------------------------------------------------
// Hit zones

// The framework's cursor numbers.
inline constexpr int crDefault = 0, crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9,
                     crHandPoint = -21;

// WM_SYSCOMMAND codes: SC_SIZE plus a WMSZ_ edge sizes the window by that
// edge, SC_MOVE plus HTCAPTION moves it as by its caption.
inline constexpr unsigned kScSize = 0xF000, kScMove = 0xF010, kHtCaption = 2;
inline constexpr unsigned kWmszLeft = 1, kWmszRight = 2, kWmszTop = 3, kWmszTopLeft = 4, kWmszTopRight = 5,
                          kWmszBottom = 6, kWmszBottomLeft = 7, kWmszBottomRight = 8;
inline constexpr unsigned kScMoveCaption = kScMove + kHtCaption;

inline constexpr int kCaptionBand = 24;  // last row of the drag band
// How far in from the window's edge a corner (edge) zone reaches, inclusive.
inline constexpr int kCornerZone = 24;
inline constexpr int kEdgeZone = 3;

// 0-9 as TqvForm::HitZone gives them: 1-4 the corners, 5-8 the edges, 9 the
// drag band.
enum class Zone : std::uint8_t {
  None, TopLeft, TopRight, BottomLeft, BottomRight, Left, Right, Top, Bottom, Caption
};

struct Hit {
  Zone zone = Zone::None;
  int cursor = crDefault;
  unsigned command = 0;  // WM_SYSCOMMAND wParam on a left press, 0 for none
  friend bool operator==(const Hit&, const Hit&) = default;
};

Hit HitZone(int x, int y, int width, int height, bool sizeable, bool maximised);

// The band a double-click toggles maximised in (bounds inclusive).
bool InCaptionBand(int x, int y, int width);

}  // namespace qv::skin
