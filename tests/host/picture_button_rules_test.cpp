#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "skin/picture_button_rules.h"
#include "tests/host/skin_printers.h"

namespace qv::skin {
namespace {

// ---------------------------------------------------------------------------
// Offset text

TEST(OffsetText, Parse) {
  struct Case {
    const char* text;
    std::optional<Offset> want;
  } cases[] = {
      {"(10, 20, -5, -5)", Offset{10, 20, -5, -5}},
      {"(1,2,3,4)xyz", Offset{1, 2, 3, 4}},
      {"(1,2,3,4))", Offset{1, 2, 3, 4}},
      {"(,,,)", Offset{0, 0, 0, 0}},
      {"(0-7,0,0,0)", Offset{-7, 0, 0, 0}},
      {"(--5,0,0,-0)", Offset{-5, 0, 0, 0}},
      {"( 1 2 ,3,4,5)", Offset{12, 3, 4, 5}},   // spaces between digits too
      {" \t(1,2,3,4)\r\n", Offset{1, 2, 3, 4}},  // blanks trimmed at the ends
      {"(2147483647,-2147483648,0,0)", Offset{INT_MAX, INT_MIN, 0, 0}},
      {"(2147483648,-2147483649,99999999999999999999,-99999999999999999999)",
       Offset{INT_MAX, INT_MIN, INT_MAX, INT_MIN}},
      {"Rect(1,2,3,4)", std::nullopt},
      {"1,2,3,4", std::nullopt},
      {"(1,2,3)", std::nullopt},
      {"(1,2,3,4", std::nullopt},
      {"(7-,0,0,0)", std::nullopt},
      {"(1,2,3,4,5)", std::nullopt},
      {"(+1,2,3,4)", std::nullopt},
      {"(1\t,2,3,4)", std::nullopt},  // only spaces are skipped inside
      {"(1;2;3;4)", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseOffset(c.text), c.want) << c.text;
}

TEST(OffsetText, Format) {
  struct Case {
    Offset o;
    const char* text;
  } cases[] = {
      {{0, 0, 0, 0}, "(0,0,0,0)"},
      {{10, 20, -5, -5}, "(10,20,-5,-5)"},
      {{INT_MIN, INT_MAX, -1, 7}, "(-2147483648,2147483647,-1,7)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatOffset(c.o), c.text);
    EXPECT_EQ(ParseOffset(FormatOffset(c.o)), c.o) << c.text;
  }
}

// ---------------------------------------------------------------------------
// Picture placement

TEST(PicturePlacement, OwnSizeDraws) {
  struct Case {
    DisplayMode mode;
    Rect rect;
    Offset offset;
    int pw, ph;
    std::vector<Point> want;
  } cases[] = {
      {DisplayMode::dmCenter, {0, 0, 15, 17}, {}, 9, 9, {{3, 4}}},
      {DisplayMode::dmCenter, {0, 0, 4, 4}, {}, 9, 9, {{-2, -2}}},  // -5/2 toward zero
      {DisplayMode::dmCenter, {0, 0, 15, 17}, {2, 0, 0, 2}, 9, 9, {{4, 5}}},
      {DisplayMode::dmNormal, {0, 0, 15, 17}, {1, 2, 3, 4}, 9, 9, {{1, 2}}},
      {static_cast<DisplayMode>(9), {5, 6, 15, 17}, {}, 9, 9, {{5, 6}}},
      {DisplayMode::dmTile, {0, 0, 25, 12}, {}, 10, 10,
       {{0, 0}, {10, 0}, {20, 0}, {0, 10}, {10, 10}, {20, 10}}},
      {DisplayMode::dmTile, {0, 0, 25, 12}, {2, 0, 0, 0}, 10, 10,
       {{2, 0}, {12, 0}, {22, 0}, {2, 10}, {12, 10}, {22, 10}}},
      {DisplayMode::dmTile, {0, 0, 20, 10}, {}, 10, 10, {{0, 0}, {10, 0}}},
      {DisplayMode::dmCenter, {0, 0, 15, 17}, {}, 0, 9, {}},
      {DisplayMode::dmTile, {0, 0, 25, 12}, {}, 10, 0, {}},
  };
  for (const auto& c : cases) {
    PicturePlacement p = PlacePicture(c.mode, c.rect, c.offset, c.pw, c.ph, c.rect);
    EXPECT_EQ(p.positions, c.want) << static_cast<int>(c.mode) << " " << c.rect;
    EXPECT_FALSE(p.stretch);
  }
}

TEST(PicturePlacement, StretchTakesTheOffsetRect) {
  PicturePlacement p = PlacePicture(DisplayMode::dmStretch, {0, 0, 25, 12}, {1, 2, 3, 4}, 10, 10,
                                    {0, 0, 25, 12});
  EXPECT_TRUE(p.stretch);
  EXPECT_TRUE(p.positions.empty());
  EXPECT_EQ(p.target, (Rect{1, 2, 28, 16}));
}

TEST(PicturePlacement, HugeOffsetTilesOnlyWhatTheButtonShows) {
  // Tiles start at INT_MIN, which is 2 mod 10: the visible columns are
  // -8, 2, 12 and 22 in a 30-wide button.
  PicturePlacement p = PlacePicture(DisplayMode::dmTile, {0, 0, 30, 20}, {INT_MIN, 0, INT_MAX, 0}, 10,
                                    10, {0, 0, 30, 20});
  std::vector<Point> want = {{-8, 0}, {2, 0}, {12, 0}, {22, 0}, {-8, 10}, {2, 10}, {12, 10}, {22, 10}};
  EXPECT_EQ(p.positions, want);
  EXPECT_EQ(p.target, (Rect{INT_MIN, 0, INT_MAX, 20}));

  struct Case {
    Offset offset;
    Rect clip;
    std::vector<Point> want;
  } cases[] = {
      // rows from -1003 in steps of 10: the first one that shows is -3
      {{0, -1003, 0, 0}, {0, 0, 30, 20},
       {{0, -3}, {10, -3}, {20, -3}, {0, 7}, {10, 7}, {20, 7}, {0, 17}, {10, 17}, {20, 17}}},
      {{}, {5, 5, 15, 15}, {{0, 0}, {10, 0}, {0, 10}, {10, 10}}},
      {{}, {0, 0, 0, 0}, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PlacePicture(DisplayMode::dmTile, {0, 0, 30, 20}, c.offset, 10, 10, c.clip).positions, c.want)
        << c.clip;
}

// ---------------------------------------------------------------------------
// Picture button

TEST(PictureButton, BevelTable) {
  using enum BorderStyle;
  struct Case {
    BorderStyle style;
    Bevel normal, hover, pressed;
  } cases[] = {
      {qbsNone, Bevel::None, Bevel::None, Bevel::None},
      {qbsFlat, Bevel::None, Bevel::Raised, Bevel::Sunken},
      {qbsSingle, Bevel::Raised, Bevel::Raised, Bevel::Sunken},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BevelFor(c.style, MouseState::Normal), c.normal) << static_cast<int>(c.style);
    EXPECT_EQ(BevelFor(c.style, MouseState::Hover), c.hover) << static_cast<int>(c.style);
    EXPECT_EQ(BevelFor(c.style, MouseState::Pressed), c.pressed) << static_cast<int>(c.style);
  }
}

TEST(PictureButton, UpdateLookChoosesIndexAndBevel) {
  using enum BorderStyle;
  using enum MouseState;
  const std::array<int, 3> none{-1, -1, -1}, three{0, 1, 2};
  struct Case {
    BorderStyle style;
    MouseState mouse;
    bool autoSwitch;
    std::array<int, 3> indexes;
    int index;
    Bevel bevel;
    int wantIndex;
    Bevel wantBevel;
    bool changed;
  } cases[] = {
      {qbsSingle, Normal, false, none, -1, Bevel::Raised, -1, Bevel::Raised, false},  // a new button
      {qbsFlat, Hover, false, none, 0, Bevel::None, 0, Bevel::Raised, true},
      {qbsFlat, Normal, false, none, 0, Bevel::Raised, 0, Bevel::None, true},
      {qbsNone, Pressed, false, three, 5, Bevel::None, 5, Bevel::None, false},
      {qbsNone, Normal, true, three, -1, Bevel::None, 0, Bevel::None, true},
      {qbsNone, Hover, true, three, 0, Bevel::None, 1, Bevel::None, true},
      {qbsSingle, Pressed, true, three, 1, Bevel::Raised, 2, Bevel::Sunken, true},
      {qbsSingle, Pressed, true, none, 1, Bevel::Sunken, -1, Bevel::Sunken, true},
      {qbsSingle, Pressed, true, three, 2, Bevel::Sunken, 2, Bevel::Sunken, false},
  };
  for (const auto& c : cases) {
    Look look = UpdateLook(c.style, c.mouse, c.autoSwitch, c.indexes, c.index, c.bevel);
    const int mouse = static_cast<int>(c.mouse);
    EXPECT_EQ(look.pictureIndex, c.wantIndex) << static_cast<int>(c.style) << " " << mouse;
    EXPECT_EQ(look.bevel, c.wantBevel) << static_cast<int>(c.style) << " " << mouse;
    EXPECT_EQ(look.changed, c.changed) << static_cast<int>(c.style) << " " << mouse;
  }
}

TEST(PictureButton, ReleaseInsideIsHover) {
  using enum MouseState;
  struct Case {
    int x, y;
    MouseState state;
  } cases[] = {{0, 0, Hover},    {75, 25, Hover},  {30, 10, Hover}, {76, 10, Normal},
               {-1, 10, Normal}, {10, 26, Normal}, {10, -1, Normal}};
  for (const auto& c : cases) EXPECT_EQ(MouseStateAfterRelease(c.x, c.y, 75, 25), c.state) << c.x << "," << c.y;
}

TEST(PictureButton, AdjustColorSpillsOverflowIntoLaterChannels) {
  struct Case {
    Rgb in;
    int percent;
    Rgb out;
  } cases[] = {
      {{128, 128, 128}, 50, {192, 192, 192}},
      {{128, 128, 128}, -50, {64, 64, 64}},
      {{255, 0, 0}, 50, {255, 127, 127}},
      {{255, 0, 0}, -50, {128, 0, 0}},
      {{223, 223, 223}, 50, {255, 255, 255}},
      {{223, 223, 223}, -50, {112, 112, 112}},
      // green's excess goes back to red and on to blue
      {{0, 255, 0}, 50, {127, 255, 127}},
      // blue's excess goes to red only while green did not overflow
      {{0, 0, 255}, 50, {127, 0, 255}},
      {{200, 200, 0}, 50, {255, 255, 90}},
      {{0, 200, 200}, 50, {45, 255, 255}},  // blue overflows too, but green did first
      {{10, 20, 30}, 0, {10, 20, 30}},
      {{10, 20, 30}, -100, {0, 0, 0}},
      {{10, 20, 30}, -250, {0, 0, 0}},
      {{255, 255, 255}, INT_MAX, {255, 255, 255}},
      {{255, 255, 255}, INT_MIN, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    Rgb got = AdjustColor(c.in, c.percent);
    EXPECT_EQ(got, c.out) << int(c.in.r) << "," << int(c.in.g) << "," << int(c.in.b) << " " << c.percent
                          << " -> " << int(got.r) << "," << int(got.g) << "," << int(got.b);
  }
  EXPECT_EQ((Rgb{223, 223, 223}).Value(), static_cast<std::uint32_t>(kFaceColour));
  EXPECT_EQ((Rgb{255, 0, 0}).Value(), 255u);
  EXPECT_EQ((Rgb{0, 0, 255}).Value(), 0xFF0000u);
}

// Draws the plan's lines as LineTo would (end point left out) into a
// character grid: '.' untouched, F frame, L light, D dark.
std::vector<std::string> Raster(const BevelPlan& plan, int w, int h) {
  std::vector<std::string> grid(static_cast<std::size_t>(h), std::string(static_cast<std::size_t>(w), '.'));
  for (const Segment& s : plan.segments) {
    const char ch = s.pen == Pen::Frame ? 'F' : s.pen == Pen::Light ? 'L' : 'D';
    EXPECT_TRUE(s.from.x == s.to.x || s.from.y == s.to.y) << "only straight lines";
    const int dx = (s.to.x > s.from.x) - (s.to.x < s.from.x);
    const int dy = (s.to.y > s.from.y) - (s.to.y < s.from.y);
    for (Point p = s.from; !(p == s.to); p.x += dx, p.y += dy)
      grid[static_cast<std::size_t>(p.y)][static_cast<std::size_t>(p.x)] = ch;
  }
  return grid;
}

TEST(PictureButton, BevelGeometry) {
  struct Case {
    Rect rect;
    int count;
    bool frame;
    Bevel bevel;
    std::vector<std::string> pixels;
    Rect inner;
  } cases[] = {
      // raised with outline: light top/left, dark bottom/right, the
      // top-right corner dark and the bottom-left light
      {{0, 0, 6, 5}, 1, true, Bevel::Raised,
       {"FFFFFF",
        "FLLLDF",
        "FL..DF",
        "FLDDDF",
        "FFFFFF"},
       {2, 2, 4, 3}},
      // sunken: no outline even with the frame flag, the edge one pixel further out
      {{0, 0, 6, 5}, 1, true, Bevel::Sunken,
       {"DDDDDL",
        "D....L",
        "D....L",
        "D....L",
        "DLLLLL"},
       {1, 1, 5, 4}},
      {{0, 0, 6, 6}, 2, false, Bevel::Raised,
       {"LLLLLD",
        "LLLLDD",
        "LL..DD",
        "LL..DD",
        "LLDDDD",
        "LDDDDD"},
       {2, 2, 4, 4}},
      {{0, 0, 4, 3}, 1, true, Bevel::None,
       {"FFFF",
        "F..F",
        "FFFF"},
       {1, 1, 3, 2}},
      {{0, 0, 4, 3}, 3, false, Bevel::None,
       {"....",
        "....",
        "...."},
       {0, 0, 4, 3}},
  };
  for (const auto& c : cases) {
    BevelPlan plan = PlanBevel(c.rect, c.count, c.frame, c.bevel);
    EXPECT_EQ(Raster(plan, c.rect.right, c.rect.bottom), c.pixels) << c.rect << " bevel " << int(c.bevel);
    EXPECT_EQ(plan.inner, c.inner);
    EXPECT_EQ(plan.frame.has_value(), c.frame && c.bevel != Bevel::Sunken);
  }
}

TEST(PictureButton, NewButtonLook) {
  // 75 x 25, qbsSingle at rest: outline, then a raised edge inside it.
  BevelPlan plan = PlanBevel({0, 0, 75, 25}, 1, true, BevelFor(BorderStyle::qbsSingle, MouseState::Normal));
  ASSERT_TRUE(plan.frame.has_value());
  EXPECT_EQ(*plan.frame, (Rect{0, 0, 75, 25}));
  EXPECT_EQ(plan.inner, (Rect{2, 2, 73, 23}));
  auto grid = Raster(plan, 75, 25);
  EXPECT_EQ(grid[0][74], 'F');
  EXPECT_EQ(grid[24][0], 'F');
  EXPECT_EQ(grid[1][1], 'L');
  EXPECT_EQ(grid[1][72], 'L');
  EXPECT_EQ(grid[1][73], 'D');
  EXPECT_EQ(grid[23][1], 'L');
  EXPECT_EQ(grid[23][2], 'D');
  EXPECT_EQ(grid[12][12], '.');
}

TEST(PictureButton, CaptionCentredAndButtonGrows) {
  struct Case {
    Size control, text;
    Point at;
    Size grown;
  } cases[] = {
      {{75, 25}, {24, 12}, {25, 6}, {75, 25}},
      {{76, 25}, {25, 13}, {25, 6}, {76, 25}},
      {{75, 25}, {80, 10}, {0, 7}, {80, 25}},
      {{75, 25}, {100, 30}, {0, 0}, {100, 30}},
      {{100, 30}, {10, 10}, {45, 10}, {100, 30}},  // never shrinks back
      {{75, 25}, {0, 0}, {37, 12}, {75, 25}},
  };
  for (const auto& c : cases) {
    CaptionPlace p = PlaceButtonCaption(c.control, c.text);
    EXPECT_EQ(p.at, c.at) << c.control.cx << "x" << c.control.cy << " " << c.text.cx;
    EXPECT_EQ(p.control, c.grown) << c.control.cx << "x" << c.control.cy << " " << c.text.cx;
  }
}

}  // namespace
}  // namespace qv::skin
