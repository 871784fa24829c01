#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <utility>
#include <vector>

#include "framework/application.h"
#include "framework/controls.h"
#include "framework/portable/messages.h"
#include "skin/QVButton.h"
#include "skin/QVLabel.h"
#include "skin/skin_types.h"

namespace qv {
namespace {

struct Rig {
  TForm* form = new TForm(nullptr);
  Rig() {
    form->BorderStyle = TForm::TBorderStyle::bsNone;
    form->SetBounds(50, 50, 200, 100);
    form->SetColor(clWhite);
    form->Handle();
  }
  ~Rig() { delete form; }
};

// Renders an owner-drawn button the way the system paints it.
struct ButtonShot {
  TBitmap bitmap;
  explicit ButtonShot(TQVButton& b) {
    bitmap.SetSize(b.Width(), b.Height());
    ::SendMessageW(b.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(bitmap.Canvas().Handle()), PRF_CLIENT);
    ::GdiFlush();
  }
  COLORREF At(int x, int y) { return bitmap.Canvas().Pixel(x, y); }
};

TEST(QVButton, PaintsItsOwnFaceColour) {
  Rig rig;
  auto* b = new TQVButton(rig.form);
  b->SetParent(rig.form);
  b->SetBounds(10, 10, 75, 25);
  EXPECT_EQ(b->Color(), skin::kFaceColour);
  EXPECT_FALSE(b->Active());
  b->SetColor(0x0000C000);
  ButtonShot shot(*b);
  EXPECT_EQ(shot.At(10, 4), RGB(0, 0xC0, 0));   // the face, away from the caption
  EXPECT_NE(shot.At(0, 0), RGB(0, 0xC0, 0));    // the platform's frame
}

TEST(QVButton, ActiveButtonsGetAnOutline) {
  Rig rig;
  auto* b = new TQVButton(rig.form);
  b->SetParent(rig.form);
  b->SetBounds(10, 10, 75, 25);
  b->SetButtonStyle(true);
  EXPECT_TRUE(b->Active());
  ButtonShot active(*b);
  EXPECT_EQ(active.At(0, 12), ::GetSysColor(COLOR_WINDOWFRAME));
  b->SetButtonStyle(false);
  ButtonShot plain(*b);
  EXPECT_NE(plain.At(1, 12), active.At(1, 12));  // the frame moved one pixel out
}

TEST(QVButton, CaptionIsDrawnAtItsPlaceInTheFontColour) {
  Rig rig;
  auto* b = new TQVButton(rig.form);
  b->SetParent(rig.form);
  b->SetBounds(10, 10, 75, 25);
  TFont f = b->Font();
  f.Color = clRed;
  b->SetFont(f);
  b->SetCaption(texts::kOk);
  ButtonShot shot(*b);
  // Some caption pixels are red, and all of them lie in the middle of the face.
  int red = 0;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 75; ++x)
      if (shot.At(x, y) == RGB(255, 0, 0)) {
        ++red;
        EXPECT_GE(x, 20);
        EXPECT_LE(x, 55);
      }
  EXPECT_GT(red, 10);
}

constexpr COLORREF kGreen = RGB(0, 0xC0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);

// A 75 x 25 button with a green face and a red caption 确定.
TQVButton& GreenButton(Rig& rig, int left = 10) {
  auto* b = new TQVButton(rig.form);
  b->SetParent(rig.form);
  b->SetBounds(left, 10, 75, 25);
  b->SetColor(0x0000C000);
  TFont f = b->Font();
  f.Color = clRed;
  b->SetFont(f);
  b->SetCaption(texts::kOk);
  return *b;
}

using Pixels = std::set<std::pair<int, int>>;

Pixels PixelsOf(ButtonShot& shot, COLORREF colour) {
  Pixels at;
  for (int y = 0; y < shot.bitmap.Height(); ++y)
    for (int x = 0; x < shot.bitmap.Width(); ++x)
      if (shot.At(x, y) == colour) at.insert({x, y});
  return at;
}

TEST(QVButton, PressedFaceHasAShadowOutlineAndTheCaptionStays) {
  Rig rig;
  TQVButton& b = GreenButton(rig);
  ButtonShot up(b);
  ::SendMessageW(b.Handle(), BM_SETSTATE, TRUE, 0);
  ButtonShot down(b);
  const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
  struct {
    int x, y;
    COLORREF want;
  } pixels[] = {
      {0, 0, shadow}, {74, 0, shadow}, {0, 24, shadow}, {74, 24, shadow}, {37, 0, shadow}, {0, 12, shadow},
      {1, 1, kGreen}, {73, 23, kGreen}, {1, 12, kGreen}, {37, 1, kGreen},
  };
  for (const auto& p : pixels) EXPECT_EQ(down.At(p.x, p.y), p.want) << p.x << "," << p.y;
  EXPECT_NE(up.At(1, 1), kGreen);  // up, the platform's frame stands there
  const Pixels caption = PixelsOf(up, kRed);
  EXPECT_GT(caption.size(), 10u);
  EXPECT_EQ(PixelsOf(down, kRed), caption);
}

TEST(QVButton, DisabledCaptionIsEtched) {
  Rig rig;
  TQVButton& b = GreenButton(rig);
  ButtonShot enabled(b);
  const Pixels glyph = PixelsOf(enabled, kRed);
  ASSERT_GT(glyph.size(), 10u);
  b.SetEnabled(false);
  ButtonShot disabled(b);
  // The shadow where the caption is, the highlight where only its copy one
  // pixel down and right is, the face everywhere else inside the frame.
  int wrong = 0;
  for (int y = 3; y < 22; ++y)
    for (int x = 3; x < 72; ++x) {
      const COLORREF want = glyph.count({x, y})           ? ::GetSysColor(COLOR_BTNSHADOW)
                            : glyph.count({x - 1, y - 1}) ? ::GetSysColor(COLOR_BTNHIGHLIGHT)
                                                          : kGreen;
      if (disabled.At(x, y) != want && ++wrong <= 5) ADD_FAILURE() << "at " << x << "," << y;
    }
  EXPECT_EQ(wrong, 0);
}

TEST(QVButton, OutlineAndFocusRectangleFollowActiveAndFocus) {
  Rig rig;
  rig.form->Show();
  TQVButton& other = GreenButton(rig, 100);
  TQVButton& b = GreenButton(rig);
  const COLORREF dot = kGreen ^ 0x00FFFFFF;  // the focus rectangle inverts the face
  struct Case {
    const char* what;
    bool focused, active, outline, dotted;
  } cases[] = {
      {"neither", false, false, false, false},
      {"active", false, true, true, false},
      {"focused", true, false, true, false},
      {"both", true, true, true, true},
  };
  for (const auto& c : cases) {
    ::SetFocus(c.focused ? b.Handle() : other.Handle());
    ASSERT_EQ(::GetFocus(), c.focused ? b.Handle() : other.Handle()) << c.what;
    b.SetButtonStyle(c.active);
    ButtonShot shot(b);
    EXPECT_EQ(shot.At(0, 12) == ::GetSysColor(COLOR_WINDOWFRAME), c.outline) << c.what;
    EXPECT_EQ(shot.At(74, 0) == ::GetSysColor(COLOR_WINDOWFRAME), c.outline) << c.what;
    // The rectangle 4 pixels inside the edge: every other pixel inverted.
    int dots = 0, ring = 0;
    for (int x = 4; x < 71; ++x)
      for (int y : {4, 20}) {
        ++ring;
        dots += shot.At(x, y) == dot;
        EXPECT_TRUE(shot.At(x, y) == dot || shot.At(x, y) == kGreen) << c.what << " " << x << "," << y;
      }
    for (int y = 5; y < 20; ++y)
      for (int x : {4, 70}) {
        ++ring;
        dots += shot.At(x, y) == dot;
      }
    if (c.dotted)
      EXPECT_NEAR(dots, ring / 2, 2) << c.what;
    else
      EXPECT_EQ(dots, 0) << c.what;
    EXPECT_EQ(shot.At(5, 5), kGreen) << c.what;
  }
}

TEST(QVLabel, EnterThenLeaveAreRaisedOnceEach) {
  Rig rig;
  auto* label = new TQVLabel(rig.form);
  label->SetParent(rig.form);
  label->SetBounds(20, 20, 60, 16);
  label->SetAutoSize(false);
  std::vector<std::string> log;
  label->OnMouseEnter = [&](TObject* s) { log.push_back(s == label ? "enter" : "enter?"); };
  label->OnMouseLeave = [&](TObject* s) { log.push_back(s == label ? "leave" : "leave?"); };
  HWND h = rig.form->Handle();
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(30, 25));
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(40, 25));
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(150, 80));
  EXPECT_EQ(log, (std::vector<std::string>{"enter", "leave"}));
}

}  // namespace
}  // namespace qv
