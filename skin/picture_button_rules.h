// TqvBtn's rules, portable: the picture list's offset text and where an
// entry is drawn, and the picture button's bevel, look, colours and
// caption place. The button only carries out what these answer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "skin/skin_types.h"

namespace qv::skin {

// ---------------------------------------------------------------------------
// Picture list entry: offset text and placement

struct Offset {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
  friend bool operator==(const Offset&, const Offset&) = default;
};

inline constexpr char kOffsetFormatError[] = "Rect(X1,Y1,X2,Y2) format erro!";

// "(X1,Y1,X2,Y2)"; nullopt when the text is malformed. Numbers past the
// 32-bit range saturate at INT_MAX / INT_MIN.
std::optional<Offset> ParseOffset(std::string_view text);
std::string FormatOffset(const Offset& o);

enum class DisplayMode : std::uint8_t { dmNormal = 0, dmCenter = 1, dmTile = 2, dmStretch = 3 };

struct PicturePlacement {
  Rect target;                   // the rect after the offset
  bool stretch = false;          // stretch-draw into target
  std::vector<Point> positions;  // own-size draws, in drawing order
};

// Nothing to draw (no positions, no stretch) for an empty picture. Tiles
// wholly outside clip are left out (the canvas would clip them anyway).
PicturePlacement PlacePicture(DisplayMode mode, const Rect& rect, const Offset& offset,
                              int pictureWidth, int pictureHeight, const Rect& clip);

// ---------------------------------------------------------------------------
// Picture button

enum class BorderStyle : std::uint8_t { qbsNone = 0, qbsFlat = 1, qbsSingle = 2 };
enum class Bevel : std::uint8_t { None = 0, Sunken = 1, Raised = 2 };
// Normal: the pointer is away.
enum class MouseState : std::uint8_t { Normal = 0, Hover = 1, Pressed = 2 };

Bevel BevelFor(BorderStyle style, MouseState state);

// Mouse state after a left release at (x, y) in client coordinates.
MouseState MouseStateAfterRelease(int x, int y, int width, int height);

struct Look {
  int pictureIndex = -1;
  Bevel bevel = Bevel::None;
  bool changed = false;  // repaint needed
};

// switchIndexes: leave, enter, down (the options' indexes for Normal, Hover
// and Pressed).
Look UpdateLook(BorderStyle style, MouseState state, bool autoSwitch,
                const std::array<int, 3>& switchIndexes, int pictureIndex, Bevel bevel);

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  std::uint32_t Value() const { return r + g * 256u + b * 65536u; }  // $00BBGGRR
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

Rgb AdjustColor(Rgb colour, int percent);

enum class Pen { Light, Dark, Frame };

// A line from `from` to `to`, the end point not drawn (LineTo).
struct Segment {
  Point from;
  Point to;
  Pen pen = Pen::Light;
  friend bool operator==(const Segment&, const Segment&) = default;
};

struct BevelPlan {
  std::optional<Rect> frame;      // 1-pixel clWindowFrame frame (FrameRect)
  std::vector<Segment> segments;  // frame lines (same pixels as frame) then bevel lines
  Rect inner;                     // what is left; filled when the caller's Fill is set
};

BevelPlan PlanBevel(const Rect& rect, int count, bool frame, Bevel bevel);

struct CaptionPlace {
  Point at;      // where the text goes
  Size control;  // the control's size after growing to the text
};

CaptionPlace PlaceButtonCaption(Size control, Size text);

}  // namespace qv::skin
