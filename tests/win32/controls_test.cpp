#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/controls.h"
#include "framework/jpeg.h"
#include "framework/stdctrls.h"

namespace qv {
namespace {

// A windowless box that paints itself in one colour and logs its events.
class Box : public TGraphicControl {
 public:
  Box(TComponent* owner, TColor fill, std::vector<std::string>* log, std::string name)
      : TGraphicControl(owner), fill_(fill), log_(log) {
    Name = std::move(name);
  }
  ~Box() override {
    if (log_) log_->push_back("free " + Name);
  }
  void MouseEnter() override { log_->push_back("enter " + Name); }
  void MouseLeave() override { log_->push_back("leave " + Name); }
  void Click() override {
    log_->push_back("click " + Name);
    TGraphicControl::Click();
  }
  void SetFill(TColor fill) {
    fill_ = fill;
    Invalidate();
  }
  void MouseDown(TMouseButton, TShiftState, int x, int y) override {
    log_->push_back("down " + Name + " " + std::to_string(x) + "," + std::to_string(y));
  }
  void MouseUp(TMouseButton, TShiftState, int x, int y) override {
    log_->push_back("up " + Name + " " + std::to_string(x) + "," + std::to_string(y));
  }

 protected:
  void Paint() override {
    Canvas().Brush.Color = fill_;
    Canvas().FillRect(ClientRect());
  }

 private:
  TColor fill_;
  std::vector<std::string>* log_;
};

struct FormRig {
  TApplication& app = TApplication::Instance();
  TForm* form;
  std::vector<std::string> log;
  FormRig() {
    form = new TForm(nullptr);
    form->BorderStyle = TForm::TBorderStyle::bsNone;
    form->SetBounds(100, 100, 200, 100);
    form->SetColor(clWhite);
    form->Handle();
  }
  ~FormRig() { delete form; }
  // What WM_PAINT would show, rendered into a 24-bit bitmap.
  COLORREF PixelAt(int x, int y) {
    TBitmap shot;
    shot.SetSize(form->Width(), form->Height());
    ::SendMessageW(form->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(shot.Canvas().Handle()), PRF_CLIENT);
    ::GdiFlush();
    return shot.Canvas().Pixel(x, y);
  }
  void Mouse(UINT msg, int x, int y, WPARAM keys = 0) {
    ::SendMessageW(form->Handle(), msg, keys, MAKELPARAM(x, y));
  }
  // What the window shows after the paints it has asked for: the form is
  // shown and its pending WM_PAINT handled.
  COLORREF ShownPixel(int x, int y) {
    HWND h = form->Handle();
    if (!::IsWindowVisible(h)) ::ShowWindow(h, SW_SHOWNOACTIVATE);
    ::UpdateWindow(h);
    HDC dc = ::GetDC(h);
    const COLORREF c = ::GetPixel(dc, x, y);
    ::ReleaseDC(h, dc);
    return c;
  }
};

TEST(Controls, CreationMessagesReachTheObjectWithItsHandle) {
  struct Probe : TForm {
    Probe() : TForm(nullptr) {}
    std::vector<UINT> seen;
    HWND handleAtCreate = nullptr;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
      seen.push_back(msg);
      if (msg == WM_CREATE) handleAtCreate = hwnd_;
      return TForm::WndProc(msg, wp, lp);
    }
  } probe;
  probe.SetBounds(100, 100, 200, 100);
  const HWND h = probe.Handle();
  const auto first = [&](UINT msg) { return std::find(probe.seen.begin(), probe.seen.end(), msg); };
  ASSERT_NE(first(WM_CREATE), probe.seen.end());
  EXPECT_EQ(probe.seen.front(), static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(probe.handleAtCreate, h);
}

TEST(Controls, GraphicChildrenPaintInZOrderAndClipToThemselves) {
  FormRig rig;
  auto* below = new Box(rig.form, clRed, &rig.log, "below");
  below->SetParent(rig.form);
  below->SetBounds(10, 10, 50, 30);
  auto* above = new Box(rig.form, clBlue, &rig.log, "above");
  above->SetParent(rig.form);
  above->SetBounds(40, 20, 50, 30);
  EXPECT_EQ(rig.PixelAt(15, 15), RGB(255, 0, 0));
  EXPECT_EQ(rig.PixelAt(45, 25), RGB(0, 0, 255));  // overlap: the later one is on top
  EXPECT_EQ(rig.PixelAt(95, 25), RGB(255, 255, 255));
  above->Hide();
  EXPECT_EQ(rig.PixelAt(45, 25), RGB(255, 0, 0));
}

TEST(Controls, MouseIsRoutedToTheGraphicChildUnderIt) {
  FormRig rig;
  auto* a = new Box(rig.form, clRed, &rig.log, "a");
  a->SetParent(rig.form);
  a->SetBounds(10, 10, 40, 40);
  auto* b = new Box(rig.form, clBlue, &rig.log, "b");
  b->SetParent(rig.form);
  b->SetBounds(100, 10, 40, 40);

  rig.Mouse(WM_MOUSEMOVE, 20, 20);
  rig.Mouse(WM_LBUTTONDOWN, 20, 20, MK_LBUTTON);
  rig.Mouse(WM_LBUTTONUP, 21, 22);
  // Pressed on a, released on b: captured by a, no click.
  rig.Mouse(WM_LBUTTONDOWN, 15, 15, MK_LBUTTON);
  rig.Mouse(WM_MOUSEMOVE, 110, 20, MK_LBUTTON);
  rig.Mouse(WM_LBUTTONUP, 110, 20);
  rig.Mouse(WM_MOUSEMOVE, 150, 80);
  const std::vector<std::string> want = {"enter a",      "down a 10,10",  "click a",      "up a 11,12",
                                         "down a 5,5",   "leave a",       "enter b",      "up a 100,10",
                                         "leave b"};
  EXPECT_EQ(rig.log, want);
}

TEST(Controls, EveryChangeIsPaintedAlsoWhereAControlReachesPastItsParent) {
  struct Case {
    const char* where;
    RECT bounds;  // left, top, width, height in a 200 x 100 form
    POINT probe;
  } cases[] = {{"inside", {10, 10, 40, 30}, {30, 20}},
               {"past the right edge", {180, 10, 40, 30}, {195, 20}},
               {"past the bottom edge", {10, 90, 40, 30}, {20, 95}},
               {"past both", {190, 95, 40, 30}, {199, 99}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    FormRig rig;
    auto* box = new Box(rig.form, clRed, &rig.log, "box");
    box->SetParent(rig.form);
    box->SetBounds(c.bounds.left, c.bounds.top, c.bounds.right, c.bounds.bottom);
    EXPECT_EQ(rig.ShownPixel(c.probe.x, c.probe.y), RGB(255, 0, 0));
    // Each later change asks for a paint of its own and gets it.
    const TColor fills[] = {clBlue, 0x00FF00, clBlack};
    for (TColor fill : fills) {
      box->SetFill(fill);
      EXPECT_EQ(rig.ShownPixel(c.probe.x, c.probe.y), ColorToRGB(fill));
    }
  }
}

TEST(Controls, AClickNeedsTheReleaseOnTheControlToItsLastPixel) {
  struct Case {
    int x, y;  // release point; the box covers (10,10)-(49,49)
    bool click;
  } cases[] = {{49, 49, true}, {50, 30, false}, {30, 50, false}, {50, 50, false},
               {10, 10, true}, {9, 30, false},  {30, 9, false},  {49, 10, true}};
  for (const auto& c : cases) {
    FormRig rig;
    auto* box = new Box(rig.form, clRed, &rig.log, "box");
    box->SetParent(rig.form);
    box->SetBounds(10, 10, 40, 40);
    rig.Mouse(WM_MOUSEMOVE, 30, 30);
    rig.Mouse(WM_LBUTTONDOWN, 30, 30, MK_LBUTTON);
    rig.Mouse(WM_MOUSEMOVE, c.x, c.y, MK_LBUTTON);
    rig.Mouse(WM_LBUTTONUP, c.x, c.y);
    const bool clicked = std::find(rig.log.begin(), rig.log.end(), "click box") != rig.log.end();
    EXPECT_EQ(clicked, c.click) << c.x << "," << c.y;
  }
}

TEST(Controls, OwnersFreeWhatTheyOwn) {
  std::vector<std::string> log;
  {
    TForm form(nullptr);
    auto* box = new Box(&form, clRed, &log, "x");
    box->SetParent(&form);
    new Box(&form, clRed, &log, "y");
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free y", "free x"}));
}

TEST(Controls, AlignAndAnchorsFollowTheParent) {
  FormRig rig;
  auto* client = new Box(rig.form, clRed, &rig.log, "client");
  client->SetParent(rig.form);
  client->SetAlign(TAlign::alClient);
  auto* right = new Box(rig.form, clBlue, &rig.log, "right");
  right->SetParent(rig.form);
  right->SetBounds(150, 5, 15, 17);
  right->Anchors = akTop | akRight;
  auto* stretch = new Box(rig.form, clBlue, &rig.log, "stretch");
  stretch->SetParent(rig.form);
  stretch->SetBounds(20, 65, 160, 18);
  stretch->Anchors = akLeft | akTop | akRight;
  rig.form->SetBounds(100, 100, 260, 120);
  EXPECT_EQ(client->Width(), 260);
  EXPECT_EQ(client->Height(), 120);
  EXPECT_EQ(right->Left(), 210);
  EXPECT_EQ(stretch->Width(), 220);
  EXPECT_EQ(stretch->Left(), 20);
}

TEST(Controls, LabelsMeasureTheirCaption) {
  FormRig rig;
  auto* label = new TLabel(rig.form);
  label->SetParent(rig.form);
  label->SetCaption("");
  const int blank = label->Width();
  EXPECT_GT(blank, 0);  // an empty caption is as wide as one blank
  label->SetCaption("     ");
  EXPECT_EQ(label->Width(), 5 * blank);
  label->SetCaption("one\r\ntwo");
  const int twoLines = label->Height();
  label->SetCaption("one");
  EXPECT_GT(twoLines, label->Height());
  label->SetAutoSize(false);
  label->SetCaption("a much longer caption than before");
  EXPECT_EQ(label->Height(), twoLines / 2);
}

TEST(Controls, ButtonsClickAndDialogKeys) {
  FormRig rig;
  auto* ok = new TButton(rig.form);
  ok->SetParent(rig.form);
  ok->Default = true;
  ok->ModalResult = mrOk;
  auto* cancel = new TButton(rig.form);
  cancel->SetParent(rig.form);
  cancel->Cancel = true;
  cancel->ModalResult = mrCancel;
  cancel->SetLeft(80);
  int clicks = 0;
  ok->OnClick = [&](TObject* s) {
    EXPECT_EQ(s, ok);
    ++clicks;
  };
  ::SendMessageW(ok->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(rig.form->ModalResult, mrOk);
  rig.form->ModalResult = mrNone;
  EXPECT_TRUE(rig.form->DialogKey(VK_ESCAPE));
  EXPECT_EQ(rig.form->ModalResult, mrCancel);
  EXPECT_TRUE(rig.form->DialogKey(VK_RETURN));
  EXPECT_EQ(clicks, 2);
}

TEST(Controls, ShowModalEndsWithTheClickedButtonsResult) {
  TForm form(nullptr);
  form.BorderStyle = TForm::TBorderStyle::bsDialog;
  form.SetBounds(200, 200, 200, 100);
  auto* no = new TButton(&form);
  no->SetParent(&form);
  no->ModalResult = mrNo;
  form.Handle();
  // The click arrives while the modal loop runs.
  ::PostMessageW(no->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form.ShowModal(), mrNo);
  EXPECT_FALSE(::IsWindowVisible(form.Handle()));
}

TEST(Controls, ProgressBarSteps) {
  FormRig rig;
  auto* bar = new TProgressBar(rig.form);
  bar->SetParent(rig.form);
  bar->Smooth = true;
  bar->Step = 1;
  bar->SetMax(3);
  bar->StepIt();
  bar->StepIt();
  EXPECT_EQ(bar->Position(), 2);
  EXPECT_EQ(::SendMessageW(bar->Handle(), PBM_GETPOS, 0, 0), 2);
  bar->SetPosition(10);
  EXPECT_EQ(bar->Position(), 3);
}

TEST(Controls, EditTextRoundTripsUtf8) {
  FormRig rig;
  auto* edit = new TEdit(rig.form);
  edit->SetParent(rig.form);
  EXPECT_EQ(edit->Height(), 25);
  const std::string path = "C:\\程序\\Ωmega☃";  // ☃: in neither code page 936 nor 1252
  edit->SetText(path);
  EXPECT_EQ(edit->Text(), path);
  wchar_t shown[32] = L"";
  ::GetWindowTextW(edit->Handle(), shown, 32);
  EXPECT_STREQ(shown, L"C:\\程序\\Ωmega☃");
  ::SetWindowTextW(edit->Handle(), L"D:\\x☃");
  EXPECT_EQ(edit->Text(), "D:\\x☃");
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qv::TApplication app;  // the one application object the framework expects
  // As the program does: the setup window reads its face as a stored JPEG.
  qv::TPicture::RegisterClass<qv::TJPEGImage>();
  qv::TPicture::RegisterClass<qv::TIcon>();
  return RUN_ALL_TESTS();
}
