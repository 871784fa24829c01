#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "skin/surface_rules.h"
#include "tests/host/skin_printers.h"

namespace qv::skin {

std::ostream& operator<<(std::ostream& os, const BlitOp& op) {
  return os << (op.kind == BlitKind::Copy ? "copy " : "stretch ") << op.src << " -> " << op.dst;
}

namespace {

BlitOp Copy(Rect src, Rect dst) { return {BlitKind::Copy, src, dst}; }

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

// Zones by their numbers: 1-4 corners, 5-8 edges, 9 the drag band.
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
    EXPECT_EQ(hit, (Hit{static_cast<Zone>(c.zone), c.cursor, c.command}))
        << c.x << "," << c.y << " -> " << static_cast<int>(hit.zone);
  }
}

TEST(HitZone, FixedSizeSurfaceOnlyHasTheCaptionBand) {
  struct Case {
    int x, y;
    int zone;
  } cases[] = {{0, 0, 9}, {200, 24, 9}, {24, 24, 9}, {200, 0, 9}, {0, 25, 0},
               {3, 50, 0}, {100, 97, 0}, {200, 100, 0}, {201, 0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(static_cast<int>(HitZone(c.x, c.y, 200, 100, false, false).zone), c.zone) << c.x << "," << c.y;
}

TEST(HitZone, MaximisedWindowHasNoZones) {
  for (bool sizeable : {true, false})
    for (auto [x, y] : {std::pair{0, 0}, std::pair{100, 10}, std::pair{200, 100}, std::pair{2, 50}})
      EXPECT_EQ(HitZone(x, y, 200, 100, sizeable, true), (Hit{Zone::None, crDefault, 0})) << x << "," << y;
}

TEST(HitZone, CaptionBandForDoubleClick) {
  EXPECT_TRUE(InCaptionBand(0, 0, 200));
  EXPECT_TRUE(InCaptionBand(200, 24, 200));
  EXPECT_FALSE(InCaptionBand(201, 0, 200));
  EXPECT_FALSE(InCaptionBand(10, 25, 200));
  EXPECT_FALSE(InCaptionBand(-1, 5, 200));
}

}  // namespace
}  // namespace qv::skin
