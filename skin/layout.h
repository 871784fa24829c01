// The skin controls' and dialogs' arithmetic, portable: where the skin
// blocks go, which zone the mouse is in, the offset text, where a picture
// or a caption is drawn, the bevel lines, the message dialog's geometry and
// the browse dialog's status-text fitting. The Win32 controls only execute
// what these functions answer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::layout {

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// Right and bottom are exclusive, as in GDI.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Every side moved inwards by d (outwards for a negative d).
Rect Inflate(const Rect& r, int d);

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
// Hit zones of the skinned surface

inline constexpr int crDefault = 0;
inline constexpr int crSizeNESW = -6;
inline constexpr int crSizeNS = -7;
inline constexpr int crSizeNWSE = -8;
inline constexpr int crSizeWE = -9;
inline constexpr int crHandPoint = -21;

inline constexpr unsigned kScMoveCaption = 0xF012;  // SC_MOVE + HTCAPTION
inline constexpr int kCaptionBand = 24;             // last row of the drag band

struct Hit {
  int zone = 0;          // 0..9
  int cursor = crDefault;
  unsigned command = 0;  // WM_SYSCOMMAND wParam on a left press, 0 for none
  friend bool operator==(const Hit&, const Hit&) = default;
};

Hit HitZone(int x, int y, int width, int height, bool sizeable, bool maximised);

// The band a double-click toggles maximised in (bounds inclusive).
bool InCaptionBand(int x, int y, int width);

// ---------------------------------------------------------------------------
// Picture-list entry: offset text and placement

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

// mouseState: 0 normal, 1 hover, 2 pressed.
Bevel BevelFor(BorderStyle style, int mouseState);

// Mouse state after a left release at (x, y) in client coordinates.
int MouseStateAfterRelease(int x, int y, int width, int height);

struct Look {
  int pictureIndex = -1;
  Bevel bevel = Bevel::None;
  bool changed = false;  // repaint needed
};

// switchIndexes: leave, enter, down (the options' indexes for states 0, 1, 2).
Look UpdateLook(BorderStyle style, int mouseState, bool autoSwitch,
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

// ---------------------------------------------------------------------------
// Colour push button

inline constexpr unsigned kOdsSelected = 0x0001;
inline constexpr unsigned kOdsDisabled = 0x0004;
inline constexpr unsigned kOdsFocus = 0x0010;

struct PushButtonPlan {
  std::optional<Rect> outline;  // dark outline (active or focused), clWindowFrame
  Rect edge;                    // pressed: clBtnShadow Rectangle; else DrawFrameControl
  bool pressed = false;
  unsigned frameFlags = 0;      // DFCS_* for DrawFrameControl(DFC_BUTTON)
  std::optional<Rect> face;     // pressed: the face fill; unset: fill what DrawFrameControl leaves
  Point caption;
  std::optional<Point> highlight;  // disabled: clBtnHighlight copy, drawn first
  std::optional<Rect> focus;       // DrawFocusRect, when active and focused
};

// itemState: the draw-item record's ODS_* bits; enabled: the control's own flag.
PushButtonPlan PlanPushButton(Size client, Size caption, bool active, unsigned itemState,
                              bool enabled);

// ---------------------------------------------------------------------------
// Skinned message dialog

inline constexpr int kDialogInitialWidth = 500;
inline constexpr int kDialogInitialHeight = 250;
inline constexpr int kDialogIconColumn = 70;
inline constexpr int kDialogButtonWidth = 60;
inline constexpr int kDialogButtonHeight = 25;

int DialogButtonSetOf(std::uint32_t style);  // bits 0-3
int DialogIconCodeOf(std::uint32_t style);   // bits 4-7
int DialogDefaultOf(std::uint32_t style);    // bits 8-9

struct DialogButton {
  bool visible = false;
  std::string caption;  // GBK bytes
  int result = 0;
};

// Index 0 is the rightmost button.
struct DialogButtons {
  std::array<DialogButton, 4> buttons;
  int closeResult = 0;  // the close button answers what button 0 would
};

DialogButtons DialogButtonSet(std::uint32_t style, const std::array<std::string, 4>& customCaptions);

enum class DialogIconKind { None, Resource, User };

struct DialogIcon {
  DialogIconKind kind = DialogIconKind::None;
  int code = 0;         // Resource: "qvInfoDlgIcon" + code; only 1..4 exist
  int columnWidth = 0;  // 70 with any icon area, 0 without
};

DialogIcon ChooseDialogIcon(std::uint32_t style, bool hasUserIcon);

// Button indexes in creation (= tab) order for default button d.
std::array<int, 4> DialogCreationOrder(int defaultButton);
// The button that gets the focus first, -1 when none is visible.
int DialogFocusButton(int defaultButton, const std::array<bool, 4>& visible);

// The dialog's final size for the measured text and title label sizes.
Size FitDialog(Size text, Size title, int iconColumnWidth, bool button3Visible);
int DialogMinWidth(Size title);

struct DialogArrangement {
  Rect title;
  Rect text;
  Rect iconArea;
  std::array<Rect, 4> buttons;  // index 0 rightmost; hidden ones keep their place
  Rect closeButton;
};

// Where everything stands in a dialog of the given size; the resize handler
// places every control from it.
DialogArrangement ArrangeDialog(Size dialog, Size text, Size title, int iconColumnWidth);

// ---------------------------------------------------------------------------
// Folder browse status line

// The text as it fits `width` pixels (too wide: measure(text) > width).
// namesFolder: the text names an existing folder, so it is shortened as a
// path ("\...\"); otherwise it is cut from the end with "...". GBK
// double-byte characters are never split.
std::string FitStatusText(std::string_view text, int width,
                          const std::function<int(std::string_view)>& measure,
                          bool namesFolder);

}  // namespace qv::layout
