#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "engine/setup_texts.h"
#include "framework/application.h"
#include "skin/QVButton.h"
#include "skin/QVLabel.h"
#include "skin/qvBtn.h"
#include "skin/qvForm.h"

namespace qv {
namespace {

// A picture whose every pixel tells where it came from.
std::unique_ptr<TBitmap> Picture(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Canvas().SetPixel(x, y, RGB(x % 256, y % 256, (x / 256) * 64 + 7));
  ::GdiFlush();
  return b;
}

COLORREF SkinAt(TqvForm& s, int x, int y) {
  const std::uint8_t* p = s.Skin().Row(y) + 3 * x;
  return RGB(p[2], p[1], p[0]);
}

struct Rig {
  TForm* form = new TForm(nullptr);
  Rig(int w, int h) {
    form->BorderStyle = TForm::TBorderStyle::bsNone;
    form->SetBounds(60, 60, w, h);
    form->Handle();
  }
  ~Rig() { delete form; }
};

TEST(SkinSurface, ComposesTheSkinFromThePicture) {
  Rig rig(310, 131);
  auto* surface = new TqvForm(rig.form);
  std::unique_ptr<TBitmap> pic = Picture(250, 100);
  surface->Picture().SetGraphic(std::move(pic));
  ASSERT_EQ(surface->Skin().Width(), 310);
  ASSERT_EQ(surface->Skin().Height(), 131);
  struct Case {
    int x, y;   // on the surface
    int sx, sy;  // where the pixel comes from in the picture
  } cases[] = {
      {0, 0, 0, 0},          {124, 49, 124, 49},   // top-left quadrant
      {185, 0, 125, 0},      {309, 130, 249, 99},  // top-right, bottom-right corners
      {0, 81, 0, 50},        {10, 120, 10, 89},    // bottom-left quadrant
      {0, 75, 0, 50},        {309, 76, 249, 51},   // left/right strips at y = 75
      {150, 0, 125, 0},      {175, 130, 125, 99},  // top/bottom strips repeat one block
  };
  for (const auto& c : cases)
    EXPECT_EQ(SkinAt(*surface, c.x, c.y), RGB(c.sx % 256, c.sy % 256, (c.sx / 256) * 64 + 7)) << c.x << "," << c.y;
  // The middle ninth (83,33)-(166,66) is stretched over 60 x 31 at (125, 50).
  const COLORREF mid = SkinAt(*surface, 140, 60);
  EXPECT_GE(GetRValue(mid), 83);
  EXPECT_LT(GetRValue(mid), 166);
  EXPECT_GE(GetGValue(mid), 33);
  EXPECT_LT(GetGValue(mid), 66);
}

TEST(SkinSurface, AtThePicturesOwnSizeTheSkinIsThePicture) {
  Rig rig(250, 100);
  auto* surface = new TqvForm(rig.form);
  surface->Picture().SetGraphic(Picture(250, 100));
  for (int y = 0; y < 100; y += 7)
    for (int x = 0; x < 250; x += 9) ASSERT_EQ(SkinAt(*surface, x, y), RGB(x, y, 7)) << x << "," << y;
}

TEST(SkinSurface, GreyWhileInactiveColourAgainWhenActive) {
  Rig rig(300, 120);
  auto* surface = new TqvForm(rig.form);
  surface->Picture().SetGraphic(Picture(250, 100));
  surface->SetActive(true);
  surface->SetActive(false);
  const COLORREF grey = SkinAt(*surface, 100, 40);
  EXPECT_EQ(GetRValue(grey), GetGValue(grey));
  EXPECT_EQ(GetGValue(grey), GetBValue(grey));
  surface->SetActive(true);
  EXPECT_EQ(SkinAt(*surface, 100, 40), RGB(100, 40, 7));
}

TEST(SkinSurface, HitZonesSetTheCursor) {
  Rig rig(300, 120);
  auto* surface = new TqvForm(rig.form);
  surface->Picture().SetGraphic(Picture(250, 100));
  HWND h = rig.form->Handle();
  using enum skin::Zone;
  struct Case {
    bool sizeable;
    int x, y;
    skin::Zone zone;
    TCursor cursor;
  } cases[] = {{false, 150, 10, Caption, crHandPoint}, {false, 150, 60, None, crDefault},
               {false, 2, 2, Caption, crHandPoint},    {true, 2, 2, TopLeft, crSizeNWSE},
               {true, 298, 60, Right, crSizeWE},       {true, 150, 118, Bottom, crSizeNS}};
  for (const auto& c : cases) {
    surface->SetSizeable(c.sizeable);
    ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(c.x, c.y));
    EXPECT_EQ(surface->HitZone(), c.zone) << c.x << "," << c.y;
    EXPECT_EQ(surface->Cursor, c.cursor) << c.x << "," << c.y;
  }
}

TEST(SkinSurface, LoadingHooksAndDestructionRestoresTheApplicationsHandlers) {
  TApplication& app = TApplication::Instance();
  int before = 0;
  app.OnActivate = [&](TObject*) { ++before; };
  {
    Rig rig(200, 100);
    auto* surface = new TqvForm(rig.form);
    surface->Loaded();
    app.SetActive(false);
    app.SetActive(true);  // the surface's handler chains to the saved one
    EXPECT_EQ(before, 1);
  }
  app.SetActive(false);
  app.SetActive(true);
  EXPECT_EQ(before, 2);
  app.OnActivate = nullptr;
  // Built in code and never loaded: nothing to give back.
  Rig rig(200, 100);
  { new TqvForm(rig.form); }
  EXPECT_FALSE(static_cast<bool>(app.OnActivate));
}

// The surface under a button, as the form paints it.
COLORREF FormPixel(TForm& form, int x, int y) {
  TBitmap shot;
  shot.SetSize(form.Width(), form.Height());
  ::SendMessageW(form.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(shot.Canvas().Handle()), PRF_CLIENT);
  ::GdiFlush();
  return shot.Canvas().Pixel(x, y);
}

TEST(PictureButton, ANewButtonsLook) {
  Rig rig(200, 100);
  auto* b = new TqvBtn(rig.form);
  b->SetBounds(10, 10, 75, 25);
  EXPECT_EQ(b->Width(), 75);
  EXPECT_EQ(b->CurrentBevel(), skin::Bevel::Raised);
  EXPECT_EQ(FormPixel(*rig.form, 10, 10), ::GetSysColor(COLOR_WINDOWFRAME));  // the outline
  EXPECT_EQ(FormPixel(*rig.form, 11, 20), RGB(255, 255, 255));               // light
  EXPECT_EQ(FormPixel(*rig.form, 83, 20), RGB(112, 112, 112));               // dark
  EXPECT_EQ(FormPixel(*rig.form, 40, 20), RGB(223, 223, 223));               // face
  EXPECT_EQ(AdjustColor(0x808080, 50), 0xC0C0C0);
  EXPECT_EQ(AdjustColor(0x0000FF, 50), 0x7F7FFF);
}

// What the shown window holds once every paint it asked for is done.
COLORREF ShownPixel(TForm& form, int x, int y) {
  HWND h = form.Handle();
  if (!::IsWindowVisible(h)) ::ShowWindow(h, SW_SHOWNOACTIVATE);
  for (int i = 0; i < 10 && ::GetUpdateRect(h, nullptr, FALSE); ++i) ::UpdateWindow(h);
  HDC dc = ::GetDC(h);
  const COLORREF c = ::GetPixel(dc, x, y);
  ::ReleaseDC(h, dc);
  return c;
}

TEST(PictureButton, AButtonGrownPastTheFormEdgeStillShowsItsChanges) {
  Rig rig(200, 100);
  auto* b = new TqvBtn(rig.form);
  b->SetBounds(150, 10, 40, 25);
  b->SetCaption("a caption far wider than the room left");
  // (160, 11) lies on the top bevel line, above the caption.
  EXPECT_EQ(ShownPixel(*rig.form, 160, 11), RGB(255, 255, 255));
  ASSERT_GT(b->Left() + b->Width(), 200);
  b->SetBorderStyle(TqvBorderStyle::qbsNone);
  EXPECT_EQ(ShownPixel(*rig.form, 160, 11), RGB(223, 223, 223));
  EXPECT_EQ(ShownPixel(*rig.form, 150, 20), RGB(223, 223, 223));  // the outline went too
  b->SetColor(clRed);
  EXPECT_EQ(ShownPixel(*rig.form, 160, 11), RGB(255, 0, 0));
}

TEST(PictureButton, FlatButtonsFollowTheMouse) {
  Rig rig(200, 100);
  auto* b = new TqvBtn(rig.form);
  b->SetBounds(10, 10, 75, 25);
  b->SetBorderStyle(TqvBorderStyle::qbsFlat);
  int enters = 0, leaves = 0;
  b->OnMouseEnter = [&](TObject*) { ++enters; };
  b->OnMouseLeave = [&](TObject*) { ++leaves; };
  HWND h = rig.form->Handle();
  EXPECT_EQ(b->CurrentBevel(), skin::Bevel::None);
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  EXPECT_EQ(b->CurrentBevel(), skin::Bevel::Raised);
  ::SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  EXPECT_EQ(b->CurrentBevel(), skin::Bevel::Sunken);
  // Released with the pointer outside the button: no bevel.
  POINT outside = rig.form->ClientToScreen(POINT{150, 80});
  ::SetCursorPos(outside.x, outside.y);
  ::SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(150, 80));
  EXPECT_EQ(b->CurrentBevel(), skin::Bevel::None);
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(150, 80));
  EXPECT_EQ(enters, 1);
  EXPECT_EQ(leaves, 1);
}

TEST(PictureButton, ATransparentPictureShowsTheFaceThroughItsKeyColour) {
  // A 9 x 9 picture centred in 15 x 17 lands at (3, 4): its bottom-left
  // pixel is at (3, 12) of the button, (13, 22) of the form.
  const COLORREF face = RGB(255, 0, 0);
  struct Case {
    TPixelFormat format;
    COLORREF white, black;  // where the picture is white, and black
  } cases[] = {{TPixelFormat::pf1bit, face, RGB(0, 0, 0)},          // monochrome: white is the key
               {TPixelFormat::pf24bit, RGB(255, 255, 255), face}};  // else the bottom-left pixel's colour
  for (const auto& c : cases) {
    Rig rig(200, 100);
    auto* b = new TqvBtn(rig.form);
    b->SetBounds(10, 10, 15, 17);
    b->SetBorderStyle(TqvBorderStyle::qbsNone);
    b->SetColor(clRed);
    auto pic = std::make_unique<TBitmap>();
    pic->SetPixelFormat(c.format);
    pic->SetSize(9, 9);
    pic->Canvas().Brush.Color = clWhite;
    pic->Canvas().FillRect(RECT{0, 0, 9, 9});
    for (int i = 0; i < 9; ++i) pic->Canvas().SetPixel(i, 8, clBlack);  // the bottom row, corner included
    ::GdiFlush();
    TPictureListItem& item = b->PictureList().Add();
    item.SetTransparent(true);
    item.Picture().SetGraphic(std::move(pic));
    b->SetPictureIndex(0);
    EXPECT_EQ(FormPixel(*rig.form, 17, 16), c.white) << BitsOf(c.format);
    EXPECT_EQ(FormPixel(*rig.form, 17, 22), c.black) << BitsOf(c.format);
    EXPECT_EQ(FormPixel(*rig.form, 11, 11), face) << BitsOf(c.format);  // beside the picture
  }
}

// Looks at the message box a call puts up, from inside its modal loop,
// then answers it.
struct BoxWatch {
  static inline std::function<void(HWND)> look;
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = ::GetActiveWindow();
    wchar_t cls[16] = L"";
    ::GetClassNameW(box, cls, 16);
    if (std::wstring(cls) != L"#32770" || !look) return;
    ::KillTimer(nullptr, id);
    look(box);
    look = nullptr;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
};

std::wstring TextOf(HWND w) {
  wchar_t buf[256] = L"";
  ::GetWindowTextW(w, buf, 256);
  return buf;
}

TEST(PictureButton, AMalformedOffsetIsRefusedWithAPlainMessageOverTheActiveForm) {
  TApplication& app = TApplication::Instance();
  Rig rig(200, 100);
  HWND form = rig.form->Handle();
  ::ShowWindow(form, SW_SHOW);  // and active
  ASSERT_EQ(::GetActiveWindow(), form);
  const std::string savedTitle = app.Title;
  app.Title = texts::kDefaultTitle;  // 安装程序
  auto* b = new TqvBtn(rig.form);
  TPictureListItem& item = b->PictureList().Add();
  bool seen = false;
  BoxWatch::look = [&](HWND box) {
    seen = true;
    EXPECT_EQ(::GetWindow(box, GW_OWNER), form);
    EXPECT_FALSE(::IsWindowEnabled(form));  // modal to it
    EXPECT_EQ(TextOf(box), L"\x5B89\x88C5\x7A0B\x5E8F");
    std::wstring text;
    for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) text += TextOf(c);
    EXPECT_NE(text.find(L"Rect(X1,Y1,X2,Y2) format erro!"), std::wstring::npos);
  };
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 30, BoxWatch::OnTimer);
  item.SetOffset("Rect(1,2,3,4)");
  ::KillTimer(nullptr, timer);
  BoxWatch::look = nullptr;
  app.Title = savedTitle;
  EXPECT_TRUE(seen);
  EXPECT_TRUE(::IsWindowEnabled(form));
  EXPECT_EQ(item.Offset(), "(0,0,0,0)");
}

TEST(PictureButton, CurrentPictureMakesTheFirstEntry) {
  Rig rig(200, 100);
  auto* b = new TqvBtn(rig.form);
  EXPECT_EQ(b->PictureIndex(), -1);
  TPicture& p = b->CurrentPicture();
  EXPECT_EQ(b->PictureList().Count(), 1);
  EXPECT_EQ(b->PictureIndex(), 0);
  EXPECT_TRUE(b->PictureList().Items(0).Transparent());
  EXPECT_EQ(b->PictureList().Items(0).DispMode(), TDisplayMode::dmCenter);
  EXPECT_EQ(&p, &b->PictureList().Items(0).Picture());
  EXPECT_THROW(b->PictureList().Items(3), std::out_of_range);
}

TEST(PictureButton, AutoSwitchShowsTheEntryForTheMouseState) {
  Rig rig(200, 100);
  auto* b = new TqvBtn(rig.form);
  b->SetBounds(10, 10, 40, 20);
  for (int i = 0; i < 3; ++i) b->PictureList().Add();
  b->PictureOpt().SetIndex(skin::MouseState::Normal, 0);
  b->PictureOpt().SetIndex(skin::MouseState::Hover, 1);
  b->PictureOpt().SetIndex(skin::MouseState::Pressed, 2);
  b->PictureOpt().SetAutoSwitch(true);
  EXPECT_EQ(b->PictureIndex(), 0);
  b->SetPictureIndex(2);  // ignored while switching by itself
  EXPECT_EQ(b->PictureIndex(), 0);
  HWND h = rig.form->Handle();
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(20, 15));
  EXPECT_EQ(b->PictureIndex(), 1);
  ::SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 15));
  EXPECT_EQ(b->PictureIndex(), 2);
  b->PictureOpt().SetAutoSwitch(false);
  EXPECT_EQ(b->PictureIndex(), 2);  // keeps the entry last shown
}

}  // namespace
}  // namespace qv
