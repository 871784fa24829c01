// TqvForm's rules, portable: how the skin is composed from one picture and
// which zone of the surface the mouse is in. The surface only carries out
// what these answer.
#pragma once

#include <cstdint>
#include <vector>

#include "skin_types.h"

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
inline constexpr int crDefault = 0;
inline constexpr int crSizeNESW = -6;
inline constexpr int crSizeNS = -7;
inline constexpr int crSizeNWSE = -8;
inline constexpr int crSizeWE = -9;
inline constexpr int crHandPoint = -21;

// WM_SYSCOMMAND codes: SC_SIZE plus the WMSZ_ edge sizes by that edge,
// SC_MOVE plus HTCAPTION moves as by the caption.
inline constexpr unsigned kScSize = 0xF000;
inline constexpr unsigned kScMove = 0xF010;
inline constexpr unsigned kHtCaption = 2;
inline constexpr unsigned kWmszLeft = 1;
inline constexpr unsigned kWmszRight = 2;
inline constexpr unsigned kWmszTop = 3;
inline constexpr unsigned kWmszTopLeft = 4;
inline constexpr unsigned kWmszTopRight = 5;
inline constexpr unsigned kWmszBottom = 6;
inline constexpr unsigned kWmszBottomLeft = 7;
inline constexpr unsigned kWmszBottomRight = 8;
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
