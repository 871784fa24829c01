#include <gtest/gtest.h>
#include <windows.h>

#include "QVButton.h"
#include "QVLabel.h"
#include "application.h"
#include "controls.h"

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

TEST(QVButton, CaptionPlacement) {
  EXPECT_EQ(TQVButton::CaptionOrigin(75, 25, SIZE{24, 12}).x, 25);
  EXPECT_EQ(TQVButton::CaptionOrigin(75, 25, SIZE{24, 12}).y, 6);
  EXPECT_EQ(TQVButton::CaptionOrigin(75, 25, SIZE{25, 13}).x, 25);  // 37 - 12
  EXPECT_EQ(TQVButton::CaptionOrigin(75, 25, SIZE{25, 13}).y, 6);
}

TEST(QVButton, PaintsItsOwnFaceColour) {
  Rig rig;
  auto* b = new TQVButton(rig.form);
  b->SetParent(rig.form);
  b->SetBounds(10, 10, 75, 25);
  EXPECT_EQ(b->Color(), 0x00DFDFDF);
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
  b->SetCaption("\xC8\xB7\xB6\xA8");  // 确定
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
