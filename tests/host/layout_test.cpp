#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "layout.h"

namespace qv::layout {

// Printers for failure messages; found by argument lookup, so not in the
// unnamed namespace.
std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}
std::ostream& operator<<(std::ostream& os, const Point& p) {
  return os << "(" << p.x << "," << p.y << ")";
}
std::ostream& operator<<(std::ostream& os, const BlitOp& op) {
  return os << (op.kind == BlitKind::Copy ? "copy " : "stretch ") << op.src << " -> " << op.dst;
}

namespace {

BlitOp Copy(Rect src, Rect dst) { return {BlitKind::Copy, src, dst}; }
BlitOp Stretch(Rect src, Rect dst) { return {BlitKind::Stretch, src, dst}; }

// ---------------------------------------------------------------------------
// Skin composition

TEST(SkinPlan, PictureSizedSurfaceIsJustTheFourCorners) {
  SkinPlan plan = PlanSkin(250, 100, 250, 100);
  EXPECT_FALSE(plan.clear);
  EXPECT_EQ(plan.width, 250);
  EXPECT_EQ(plan.height, 100);
  std::vector<BlitOp> want = {
      Copy({0, 0, 125, 50}, {0, 0, 125, 50}),
      Copy({0, 50, 125, 100}, {0, 50, 125, 100}),
      Copy({125, 0, 250, 50}, {125, 0, 250, 50}),
      Copy({125, 50, 250, 100}, {125, 50, 250, 100}),
  };
  EXPECT_EQ(plan.ops, want);
}

TEST(SkinPlan, LargerSurfaceStretchesCentreAndRepeatsStrips) {
  // hw 125, hh 50; far corners start at x 185 and y 81, where the last
  // strips are cut.
  SkinPlan plan = PlanSkin(250, 100, 310, 131);
  std::vector<BlitOp> want = {
      Stretch({83, 33, 166, 66}, {125, 50, 185, 81}),
      Copy({0, 0, 125, 50}, {0, 0, 125, 50}),
      Copy({0, 50, 125, 100}, {0, 81, 125, 131}),
      Copy({125, 0, 250, 50}, {185, 0, 310, 50}),
      Copy({125, 50, 250, 100}, {185, 81, 310, 131}),
      // left and right strips at y 50 and 75
      Copy({0, 50, 125, 75}, {0, 50, 125, 75}),
      Copy({125, 50, 250, 75}, {185, 50, 310, 75}),
      Copy({0, 50, 125, 56}, {0, 75, 125, 81}),
      Copy({125, 50, 250, 56}, {185, 75, 310, 81}),
      // top and bottom strips at x 125, 150 and 175
      Copy({125, 0, 150, 50}, {125, 0, 150, 50}),
      Copy({125, 50, 150, 100}, {125, 81, 150, 131}),
      Copy({125, 0, 150, 50}, {150, 0, 175, 50}),
      Copy({125, 50, 150, 100}, {150, 81, 175, 131}),
      Copy({125, 0, 135, 50}, {175, 0, 185, 50}),
      Copy({125, 50, 135, 100}, {175, 81, 185, 131}),
  };
  for (std::size_t i = 0; i < std::min(plan.ops.size(), want.size()); ++i)
    EXPECT_EQ(plan.ops[i], want[i]) << "op " << i;
  EXPECT_EQ(plan.ops.size(), want.size());
}

TEST(SkinPlan, NarrowerSurfaceHasNoTopStripsAndRightCornersWin) {
  SkinPlan flat = PlanSkin(250, 100, 200, 100);
  std::vector<BlitOp> want = {
      Copy({0, 0, 125, 50}, {0, 0, 125, 50}),
      Copy({0, 50, 125, 100}, {0, 50, 125, 100}),
      Copy({125, 0, 250, 50}, {75, 0, 200, 50}),
      Copy({125, 50, 250, 100}, {75, 50, 200, 100}),
  };
  EXPECT_EQ(flat.ops, want);

  // Taller too: the side strips fill the middle band between the corners.
  SkinPlan tall = PlanSkin(250, 100, 200, 150);
  std::vector<BlitOp> wantTall = {
      Copy({0, 0, 125, 50}, {0, 0, 125, 50}),
      Copy({0, 50, 125, 100}, {0, 100, 125, 150}),
      Copy({125, 0, 250, 50}, {75, 0, 200, 50}),
      Copy({125, 50, 250, 100}, {75, 100, 200, 150}),
      Copy({0, 50, 125, 75}, {0, 50, 125, 75}),
      Copy({125, 50, 250, 75}, {75, 50, 200, 75}),
      Copy({0, 50, 125, 75}, {0, 75, 125, 100}),
      Copy({125, 50, 250, 75}, {75, 75, 200, 100}),
  };
  EXPECT_EQ(tall.ops, wantTall);
}

TEST(SkinPlan, EmptyPictureClearsAndFlatPictureDrawsNothing) {
  for (int pw : {0, -3}) {
    SkinPlan plan = PlanSkin(pw, 100, 300, 200);
    EXPECT_TRUE(plan.clear) << pw;
    EXPECT_TRUE(plan.ops.empty()) << pw;
  }
  SkinPlan flat = PlanSkin(40, 0, 300, 200);
  EXPECT_FALSE(flat.clear);
  EXPECT_EQ(flat.width, 300);
  EXPECT_TRUE(flat.ops.empty());
}

TEST(SkinPlan, OddPictureOnItsOwnSizeShowsItUnchanged) {
  // The far corners are moved back inside the picture instead of reading
  // one column/row past it, so every pixel lands where it came from.
  for (auto [pw, ph] : {std::pair{251, 101}, std::pair{5, 3}, std::pair{1, 1}, std::pair{250, 99}}) {
    SkinPlan plan = PlanSkin(pw, ph, pw, ph);
    ASSERT_FALSE(plan.ops.empty());
    for (const BlitOp& op : plan.ops) {
      EXPECT_EQ(op.kind, BlitKind::Copy);
      EXPECT_EQ(op.src, op.dst) << pw << "x" << ph;
    }
  }
  SkinPlan odd = PlanSkin(251, 101, 251, 101);
  EXPECT_EQ(odd.ops[3], Copy({125, 50, 251, 101}, {125, 50, 251, 101}));
}

// Sizes where the corners reach past odd pictures, strips run longer than
// small pictures, and the surface is smaller than a corner.
TEST(SkinPlan, NeverReadsOutsideAndCoversTheSurface) {
  const int pictures[] = {1, 2, 3, 5, 24, 25, 26, 49, 51, 100, 251};
  const int surfaces[] = {0, 1, 7, 60, 131};
  for (int pw : pictures)
    for (int ph : pictures)
      for (int w : surfaces)
        for (int h : surfaces) {
          SkinPlan plan = PlanSkin(pw, ph, w, h);
          std::vector<char> covered(static_cast<std::size_t>(w * h), 0);
          for (const BlitOp& op : plan.ops) {
            SCOPED_TRACE(::testing::Message() << pw << "x" << ph << " on " << w << "x" << h << ": " << op);
            ASSERT_FALSE(op.src.Empty());
            ASSERT_FALSE(op.dst.Empty());
            ASSERT_GE(op.src.left, 0);
            ASSERT_GE(op.src.top, 0);
            ASSERT_LE(op.src.right, pw);
            ASSERT_LE(op.src.bottom, ph);
            ASSERT_GE(op.dst.left, 0);
            ASSERT_GE(op.dst.top, 0);
            ASSERT_LE(op.dst.right, w);
            ASSERT_LE(op.dst.bottom, h);
            if (op.kind == BlitKind::Copy) {
              ASSERT_EQ(op.src.Width(), op.dst.Width());
              ASSERT_EQ(op.src.Height(), op.dst.Height());
            }
            for (int y = op.dst.top; y < op.dst.bottom; ++y)
              for (int x = op.dst.left; x < op.dst.right; ++x) covered[static_cast<std::size_t>(y * w + x)] = 1;
          }
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
              ASSERT_TRUE(covered[static_cast<std::size_t>(y * w + x)])
                  << pw << "x" << ph << " on " << w << "x" << h << " misses " << x << "," << y;
        }
}

TEST(SkinPlan, ShortPictureRepeatsItsStripWithinEachStep) {
  // 20 x 10 picture: hw 10, hh 5; strips are 10 rows of picture, twice
  // plus a 5-row piece per 25-row step, so no row of the edge is skipped.
  SkinPlan plan = PlanSkin(20, 10, 40, 50);
  std::vector<Rect> leftStrips;
  for (const BlitOp& op : plan.ops)
    if (op.dst.left == 0 && op.dst.top >= 5 && op.dst.bottom <= 45) leftStrips.push_back(op.dst);
  std::vector<Rect> want = {{0, 5, 10, 15}, {0, 15, 10, 25}, {0, 25, 10, 30},
                            {0, 30, 10, 40}, {0, 40, 10, 45}};
  EXPECT_EQ(leftStrips, want);
}

// ---------------------------------------------------------------------------
// Hit zones

TEST(HitZone, SizeableSurfaceZonesWithInclusiveBounds) {
  struct Case {
    int x, y;
    int zone, cursor;
    unsigned command;
  } cases[] = {
      {0, 0, 1, crSizeNWSE, 0xF004},    {24, 24, 1, crSizeNWSE, 0xF004},
      {2, 2, 1, crSizeNWSE, 0xF004},    // the corner wins over edges 5 and 7
      {176, 0, 2, crSizeNESW, 0xF005},  {200, 24, 2, crSizeNESW, 0xF005},
      {0, 76, 3, crSizeNESW, 0xF007},   {24, 100, 3, crSizeNESW, 0xF007},
      {176, 76, 4, crSizeNWSE, 0xF008}, {200, 100, 4, crSizeNWSE, 0xF008},
      {0, 25, 5, crSizeWE, 0xF001},     {3, 50, 5, crSizeWE, 0xF001},
      {197, 50, 6, crSizeWE, 0xF002},   {200, 75, 6, crSizeWE, 0xF002},
      {100, 0, 7, crSizeNS, 0xF003},    {25, 3, 7, crSizeNS, 0xF003},
      {100, 97, 8, crSizeNS, 0xF006},   {100, 100, 8, crSizeNS, 0xF006},
      {100, 4, 9, crHandPoint, 0xF012}, {175, 24, 9, crHandPoint, 0xF012},
      {25, 10, 9, crHandPoint, 0xF012},
      {4, 50, 0, crDefault, 0},         {196, 50, 0, crDefault, 0},
      {100, 25, 0, crDefault, 0},       {100, 96, 0, crDefault, 0},
      {-1, 10, 0, crDefault, 0},        {201, 10, 0, crDefault, 0},
      {100, 101, 0, crDefault, 0},      {100, -1, 0, crDefault, 0},
  };
  for (const auto& c : cases) {
    Hit hit = HitZone(c.x, c.y, 200, 100, true, false);
    EXPECT_EQ(hit, (Hit{c.zone, c.cursor, c.command})) << c.x << "," << c.y << " -> " << hit.zone;
  }
}

TEST(HitZone, FixedSizeSurfaceOnlyHasTheCaptionBand) {
  struct Case {
    int x, y;
    int zone;
  } cases[] = {{0, 0, 9}, {200, 24, 9}, {24, 24, 9}, {200, 0, 9}, {0, 25, 0},
               {3, 50, 0}, {100, 97, 0}, {200, 100, 0}, {201, 0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(HitZone(c.x, c.y, 200, 100, false, false).zone, c.zone) << c.x << "," << c.y;
}

TEST(HitZone, MaximisedWindowHasNoZones) {
  for (bool sizeable : {true, false})
    for (auto [x, y] : {std::pair{0, 0}, std::pair{100, 10}, std::pair{200, 100}, std::pair{2, 50}})
      EXPECT_EQ(HitZone(x, y, 200, 100, sizeable, true), (Hit{0, crDefault, 0})) << x << "," << y;
}

TEST(HitZone, CaptionBandForDoubleClick) {
  EXPECT_TRUE(InCaptionBand(0, 0, 200));
  EXPECT_TRUE(InCaptionBand(200, 24, 200));
  EXPECT_FALSE(InCaptionBand(201, 0, 200));
  EXPECT_FALSE(InCaptionBand(10, 25, 200));
  EXPECT_FALSE(InCaptionBand(-1, 5, 200));
}

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
    EXPECT_EQ(BevelFor(c.style, 0), c.normal) << static_cast<int>(c.style);
    EXPECT_EQ(BevelFor(c.style, 1), c.hover) << static_cast<int>(c.style);
    EXPECT_EQ(BevelFor(c.style, 2), c.pressed) << static_cast<int>(c.style);
  }
}

TEST(PictureButton, UpdateLookChoosesIndexAndBevel) {
  using enum BorderStyle;
  const std::array<int, 3> none{-1, -1, -1}, three{0, 1, 2};
  struct Case {
    BorderStyle style;
    int mouse;
    bool autoSwitch;
    std::array<int, 3> indexes;
    int index;
    Bevel bevel;
    int wantIndex;
    Bevel wantBevel;
    bool changed;
  } cases[] = {
      {qbsSingle, 0, false, none, -1, Bevel::Raised, -1, Bevel::Raised, false},  // a new button
      {qbsFlat, 1, false, none, 0, Bevel::None, 0, Bevel::Raised, true},
      {qbsFlat, 0, false, none, 0, Bevel::Raised, 0, Bevel::None, true},
      {qbsNone, 2, false, three, 5, Bevel::None, 5, Bevel::None, false},
      {qbsNone, 0, true, three, -1, Bevel::None, 0, Bevel::None, true},
      {qbsNone, 1, true, three, 0, Bevel::None, 1, Bevel::None, true},
      {qbsSingle, 2, true, three, 1, Bevel::Raised, 2, Bevel::Sunken, true},
      {qbsSingle, 2, true, none, 1, Bevel::Sunken, -1, Bevel::Sunken, true},
      {qbsSingle, 2, true, three, 2, Bevel::Sunken, 2, Bevel::Sunken, false},
  };
  for (const auto& c : cases) {
    Look look = UpdateLook(c.style, c.mouse, c.autoSwitch, c.indexes, c.index, c.bevel);
    EXPECT_EQ(look.pictureIndex, c.wantIndex) << static_cast<int>(c.style) << " " << c.mouse;
    EXPECT_EQ(look.bevel, c.wantBevel) << static_cast<int>(c.style) << " " << c.mouse;
    EXPECT_EQ(look.changed, c.changed) << static_cast<int>(c.style) << " " << c.mouse;
  }
}

TEST(PictureButton, ReleaseInsideIsHover) {
  struct Case {
    int x, y, state;
  } cases[] = {{0, 0, 1}, {75, 25, 1}, {30, 10, 1}, {76, 10, 0}, {-1, 10, 0}, {10, 26, 0}, {10, -1, 0}};
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
  EXPECT_EQ((Rgb{223, 223, 223}).Value(), 14671839u);
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
  BevelPlan plan = PlanBevel({0, 0, 75, 25}, 1, true, BevelFor(BorderStyle::qbsSingle, 0));
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

// ---------------------------------------------------------------------------
// Colour push button

TEST(PushButton, CaptionPlaceAndDisabledCopy) {
  struct Case {
    Size client, caption;
    bool enabled;
    Point at;
    std::optional<Point> highlight;
  } cases[] = {
      {{75, 25}, {24, 12}, true, {25, 6}, std::nullopt},
      {{75, 25}, {24, 12}, false, {25, 6}, Point{26, 7}},
      // halves taken apart: 38 - 12, not (76 - 25) / 2
      {{76, 25}, {25, 13}, true, {26, 6}, std::nullopt},
      {{75, 25}, {101, 31}, true, {-13, -3}, std::nullopt},
  };
  for (const auto& c : cases) {
    for (unsigned state : {0u, kOdsSelected}) {  // a press does not move it
      PushButtonPlan p = PlanPushButton(c.client, c.caption, false, state, c.enabled);
      EXPECT_EQ(p.caption, c.at) << c.client.cx << " " << c.caption.cx << " state " << state;
      EXPECT_EQ(p.highlight, c.highlight) << c.client.cx << " " << c.caption.cx;
    }
  }
}

TEST(PushButton, OutlinesFrameAndFocus) {
  struct Case {
    bool active;
    unsigned state;
    std::optional<Rect> outline;
    Rect edge;
    std::optional<Rect> face;
    unsigned flags;
    std::optional<Rect> focus;
  } cases[] = {
      {false, 0, std::nullopt, {0, 0, 75, 25}, std::nullopt, 0x2010, std::nullopt},
      {true, 0, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, std::nullopt, 0x2010, std::nullopt},
      {false, kOdsFocus, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, std::nullopt, 0x2010, std::nullopt},
      {true, kOdsFocus, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, std::nullopt, 0x2010, Rect{4, 4, 71, 21}},
      {true, kOdsFocus | kOdsSelected, Rect{0, 0, 75, 25}, {1, 1, 74, 24}, Rect{2, 2, 73, 23}, 0x2210,
       Rect{4, 4, 71, 21}},
      {false, kOdsSelected, std::nullopt, {0, 0, 75, 25}, Rect{1, 1, 74, 24}, 0x2210, std::nullopt},
      {false, kOdsDisabled, std::nullopt, {0, 0, 75, 25}, std::nullopt, 0x2110, std::nullopt},
  };
  for (const auto& c : cases) {
    PushButtonPlan p = PlanPushButton({75, 25}, {24, 12}, c.active, c.state, true);
    EXPECT_EQ(p.outline, c.outline) << c.active << " " << c.state;
    EXPECT_EQ(p.edge, c.edge) << c.active << " " << c.state;
    EXPECT_EQ(p.pressed, (c.state & kOdsSelected) != 0);
    EXPECT_EQ(p.face, c.face) << c.active << " " << c.state;
    EXPECT_EQ(p.frameFlags, c.flags) << c.active << " " << c.state;
    EXPECT_EQ(p.focus, c.focus) << c.active << " " << c.state;
  }
}

// ---------------------------------------------------------------------------
// Message dialog

constexpr char kOk[] = "\xC8\xB7\xB6\xA8";      // 确定
constexpr char kCancel[] = "\xC8\xA1\xCF\xFB";  // 取消
constexpr char kAbort[] = "\xD6\xD5\xD6\xB9";   // 终止
constexpr char kRetry[] = "\xD6\xD8\xCA\xD4";   // 重试
constexpr char kIgnore[] = "\xBA\xF6\xC2\xD4";  // 忽略
constexpr char kYes[] = "\xCA\xC7";             // 是
constexpr char kNo[] = "\xB7\xF1";              // 否

TEST(MessageDialog, StandardButtonSets) {
  struct Want {
    const char* caption;  // nullptr: hidden
    int result;
  };
  struct Case {
    std::uint32_t style;
    Want b3, b2, b1, b0;
    int close;
  } cases[] = {
      {0, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {kOk, 1}, 1},
      {1, {nullptr, 0}, {nullptr, 0}, {kOk, 1}, {kCancel, 2}, 2},
      {2, {nullptr, 0}, {kAbort, 3}, {kRetry, 4}, {kIgnore, 5}, 5},
      {3, {nullptr, 0}, {kYes, 6}, {kNo, 7}, {kCancel, 2}, 2},
      {4, {nullptr, 0}, {nullptr, 0}, {kYes, 6}, {kNo, 7}, 7},
      {5, {nullptr, 0}, {nullptr, 0}, {kRetry, 4}, {kCancel, 2}, 2},
      {52, {nullptr, 0}, {nullptr, 0}, {kYes, 6}, {kNo, 7}, 7},
      {514, {nullptr, 0}, {kAbort, 3}, {kRetry, 4}, {kIgnore, 5}, 5},
      {0xFFFF0000u | 48, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {kOk, 1}, 1},
  };
  const std::array<std::string, 4> custom{"w", "x", "y", "z"};  // unused by these sets
  for (const auto& c : cases) {
    DialogButtons set = DialogButtonSet(c.style, custom);
    const Want wants[4] = {c.b0, c.b1, c.b2, c.b3};
    for (std::size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(set.buttons[k].visible, wants[k].caption != nullptr) << c.style << " button " << k;
      if (wants[k].caption) {
        EXPECT_EQ(set.buttons[k].caption, wants[k].caption) << c.style << " button " << k;
        EXPECT_EQ(set.buttons[k].result, wants[k].result) << c.style << " button " << k;
      }
    }
    EXPECT_EQ(set.closeResult, c.close) << c.style;
  }
}

TEST(MessageDialog, CustomButtonSets) {
  for (std::uint32_t style : {6u, 9u, 15u}) {
    DialogButtons set = DialogButtonSet(style, {"Go", "", "\xCD\xA3", ""});
    EXPECT_TRUE(set.buttons[0].visible);
    EXPECT_FALSE(set.buttons[1].visible);
    EXPECT_TRUE(set.buttons[2].visible);
    EXPECT_FALSE(set.buttons[3].visible);
    EXPECT_EQ(set.buttons[2].caption, "\xCD\xA3");
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(set.buttons[k].result, static_cast<int>(k));
    EXPECT_EQ(set.closeResult, 0);
  }
  DialogButtons none = DialogButtonSet(6, {});
  for (const auto& b : none.buttons) EXPECT_FALSE(b.visible);
  EXPECT_EQ(none.closeResult, 0);
}

TEST(MessageDialog, StyleFieldsCreationOrderAndFocus) {
  struct Case {
    std::uint32_t style;
    int set, icon, def;
    std::array<int, 4> order;
    int focus;
  } cases[] = {
      {0, 0, 0, 0, {0, 3, 2, 1}, 0},
      {52, 4, 3, 0, {0, 3, 2, 1}, 0},       // focus on 否
      {514, 2, 0, 2, {2, 1, 0, 3}, 2},      // focus on 终止
      {0x100 | 4, 4, 0, 1, {1, 0, 3, 2}, 1},  // 是
      {0x300, 0, 0, 3, {3, 2, 1, 0}, 0},    // default hidden: the next visible one
      {0x301, 1, 0, 3, {3, 2, 1, 0}, 1},
      {0x200 | 128 | 3, 3, 8, 2, {2, 1, 0, 3}, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DialogButtonSetOf(c.style), c.set) << c.style;
    EXPECT_EQ(DialogIconCodeOf(c.style), c.icon) << c.style;
    EXPECT_EQ(DialogDefaultOf(c.style), c.def) << c.style;
    EXPECT_EQ(DialogCreationOrder(c.def), c.order) << c.style;
    DialogButtons set = DialogButtonSet(c.style, {});
    std::array<bool, 4> visible{};
    for (std::size_t k = 0; k < 4; ++k) visible[k] = set.buttons[k].visible;
    EXPECT_EQ(DialogFocusButton(c.def, visible), c.focus) << c.style;
  }
  EXPECT_EQ(DialogFocusButton(0, {false, false, false, false}), -1);
}

TEST(MessageDialog, IconChoice) {
  struct Case {
    std::uint32_t style;
    bool userIcon;
    DialogIconKind kind;
    int code, width;
  } cases[] = {
      {16, false, DialogIconKind::Resource, 1, 70},
      {32, true, DialogIconKind::Resource, 2, 70},
      {48, false, DialogIconKind::Resource, 3, 70},
      {64, false, DialogIconKind::Resource, 4, 70},
      {80, false, DialogIconKind::Resource, 5, 70},  // no such bitmap: empty but full width
      {112, false, DialogIconKind::Resource, 7, 70},
      {128, true, DialogIconKind::User, 0, 70},
      {128, false, DialogIconKind::None, 0, 0},
      {0, true, DialogIconKind::User, 0, 70},  // the user icon stays set
      {0, false, DialogIconKind::None, 0, 0},
      {0xF0, true, DialogIconKind::User, 0, 70},
  };
  for (const auto& c : cases) {
    DialogIcon icon = ChooseDialogIcon(c.style, c.userIcon);
    EXPECT_EQ(icon.kind, c.kind) << c.style;
    EXPECT_EQ(icon.code, c.code) << c.style;
    EXPECT_EQ(icon.columnWidth, c.width) << c.style;
  }
}

TEST(MessageDialog, FittedSize) {
  struct Case {
    Size text, title;
    int icon;
    bool button3;
    Size want;
  } cases[] = {
      {{100, 12}, {30, 15}, 70, false, {280, 112}},  // the minimum width wins
      {{200, 12}, {30, 15}, 70, false, {290, 112}},
      {{100, 36}, {30, 15}, 70, false, {280, 136}},  // three lines of 12
      {{300, 12}, {30, 15}, 0, false, {320, 112}},
      {{100, 12}, {10, 15}, 0, false, {260, 112}},
      {{100, 12}, {10, 15}, 0, true, {300, 112}},
      {{100, 12}, {80, 15}, 0, true, {330, 112}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FitDialog(c.text, c.title, c.icon, c.button3), c.want) << c.text.cx << " " << c.title.cx;
  EXPECT_EQ(DialogMinWidth({30, 15}), 280);
}

TEST(MessageDialog, ArrangementOfTheWorkedSizes) {
  struct Case {
    Size dialog, text;
    int icon;
    Rect textRect;
  } cases[] = {
      {{280, 112}, {100, 12}, 70, {90, 45, 190, 57}},  // centred
      {{290, 112}, {200, 12}, 70, {70, 45, 270, 57}},  // beside the icon area
      {{280, 136}, {100, 36}, 70, {90, 45, 190, 81}},
      {{320, 112}, {300, 12}, 0, {10, 45, 310, 57}},
      {{260, 112}, {250, 12}, 0, {5, 45, 255, 57}},
  };
  for (const auto& c : cases) {
    DialogArrangement a = ArrangeDialog(c.dialog, c.text, {30, 15}, c.icon);
    EXPECT_EQ(a.text, c.textRect) << c.dialog.cx;
    const int w = c.dialog.cx, h = c.dialog.cy;
    EXPECT_EQ(a.title, (Rect{(w - 30) / 2, 8, (w - 30) / 2 + 30, 23}));
    EXPECT_EQ(a.iconArea, (Rect{5, 30, 5 + c.icon, h - 40}));
    EXPECT_EQ(a.closeButton, (Rect{w - 22, 8, w - 10, 20}));
    for (std::size_t k = 0; k < 4; ++k) {
      // right edge 20 + 65k from the dialog's, 40 above its bottom
      EXPECT_EQ(a.buttons[k].right, w - 20 - 65 * static_cast<int>(k));
      EXPECT_EQ(a.buttons[k].Width(), 60);
      EXPECT_EQ(a.buttons[k].top, h - 40);
      EXPECT_EQ(a.buttons[k].Height(), 25);
    }
    EXPECT_EQ(a.buttons[1].right + 5, a.buttons[0].left);
  }
  DialogArrangement a = ArrangeDialog({280, 112}, {100, 12}, {30, 15}, 70);
  EXPECT_EQ(a.buttons[0], (Rect{200, 72, 260, 97}));
  EXPECT_EQ(a.buttons[3], (Rect{5, 72, 65, 97}));
  EXPECT_EQ(a.title.left, 125);
}

// ---------------------------------------------------------------------------
// Status-text fitting

int SixPerByte(std::string_view s) { return 6 * static_cast<int>(s.size()); }

// Capital letters are wide, as in a real font, so a cut path can get wider.
int WideCapitals(std::string_view s) {
  int w = 0;
  for (char c : s) w += (c >= 'A' && c <= 'Z') ? 30 : 6;
  return w;
}

TEST(StatusText, FolderShortenedAsPath) {
  struct Case {
    const char* text;
    int width;
    std::function<int(std::string_view)> measure;
    const char* want;
  } cases[] = {
      {"C:\\A\\B\\C\\", 150, WideCapitals, "C:\\A\\B\\C\\"},
      {"C:\\A\\B\\C\\", 149, WideCapitals, "C:\\...\\B\\C\\"},
      {"C:\\A\\B\\C\\", 137, WideCapitals, "C:\\...\\C\\"},
      {"C:\\A\\B\\C\\", 101, WideCapitals, "C:\\...\\"},
      {"C:\\A\\B\\C\\", 65, WideCapitals, "...\\"},
      {"C:\\A\\B\\C\\", 23, WideCapitals, ""},
      {"C:\\Program Files\\App\\Data\\", 155, SixPerByte, "C:\\...\\App\\Data\\"},
      {"C:\\Program Files\\App\\Data\\", 95, SixPerByte, "C:\\...\\Data\\"},
      {"C:\\A\\B", 35, SixPerByte, "...\\B"},  // no trailing backslash: B is the name
      {"\\AB\\C\\", 35, SixPerByte, "\\...\\"},
      {"\\AB\\C\\", 29, SixPerByte, "...\\"},
      {"C:\\", 10, SixPerByte, ""},          // a lone root backslash goes, then the drive
      {"C:\\", 12, SixPerByte, "C:"},
      {"Data", 10, SixPerByte, "Data"},      // nothing to shorten
  };
  for (const auto& c : cases)
    EXPECT_EQ(FitStatusText(c.text, c.width, c.measure, true), c.want) << c.text << " in " << c.width;
}

TEST(StatusText, OtherTextCutFromTheEnd) {
  struct Case {
    const char* text;
    int width;
    const char* want;
  } cases[] = {
      {"abcdefgh", 48, "abcdefgh"},
      {"abcdefgh", 47, "abcd..."},
      {"abcdefgh", 30, "ab..."},
      {"abcdefgh", 10, "..."},
      {"", 0, ""},
      {"", -5, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FitStatusText(c.text, c.width, SixPerByte, false), c.want) << c.width;
}

// True when s ends in the middle of a double-byte character.
bool EndsInsideCharacter(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u >= 0x81 && u <= 0xFE) {
      if (i + 1 == s.size()) return true;
      i += 2;
    } else {
      ++i;
    }
  }
  return false;
}

TEST(StatusText, NeverSplitsAGbkCharacter) {
  // 中 D6 D0, 文 CE C4, 誠 D5 5C (its trail byte is a backslash's).
  struct Case {
    const char* text;
    int width;
    bool folder;
    const char* want;
  } cases[] = {
      {"ab\xD6\xD0\xCE\xC4xy", 41, false, "ab..."},             // not "ab\xD6..."
      {"ab\xD6\xD0\xCE\xC4xy", 42, false, "ab\xD6\xD0..."},
      {"ab\xD6", 12, false, "..."},                             // a lone lead byte at the end
      {"C:\\\xD6\xD0\xCE\xC4\\\xD5\x5C\\", 53, true, "C:\\...\\"},  // not "C:\\...\\\\"
      {"C:\\\xD6\xD0\xCE\xC4\\\xD5\x5C\\", 65, true, "C:\\...\\\xD5\x5C\\"},
      {"C:\\A\\\xD5\x5C", 41, true, "...\\\xD5\x5C"},          // the name is the whole character
  };
  for (const auto& c : cases) {
    std::vector<std::string> measured;
    auto measure = [&](std::string_view s) {
      measured.emplace_back(s);
      return SixPerByte(s);
    };
    EXPECT_EQ(FitStatusText(c.text, c.width, measure, c.folder), c.want) << c.text << " in " << c.width;
    for (const std::string& s : measured) {
      const std::string body = s.size() >= 3 && s.ends_with("...") ? s.substr(0, s.size() - 3) : s;
      if (!std::string_view(c.text).ends_with("\xD6")) {
        EXPECT_FALSE(EndsInsideCharacter(body)) << "measured a split character: " << s;
      }
    }
  }
}

}  // namespace
}  // namespace qv::layout
