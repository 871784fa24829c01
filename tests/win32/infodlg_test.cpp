// The message dialog driven the way a user drives it: a timer fires inside
// the dialog's modal loop, looks at the dialog and presses keys or clicks.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <vector>

#include "engine/setup_texts.h"
#include "framework/application.h"
#include "framework/handles.h"
#include "framework/portable/messages.h"
#include "framework/text_conv.h"
#include "skin/message_dialog_rules.h"
#include "skin/qvInfoDlg.h"

namespace qv {
namespace {

std::function<void(TqvInfoDlg&)> g_action;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  TqvInfoDlg& dlg = InfoDlg();
  if (!dlg.DialogForm || !::IsWindowVisible(dlg.DialogForm->Handle())) return;
  ::KillTimer(nullptr, id);
  auto action = std::move(g_action);
  g_action = nullptr;
  if (action) action(dlg);
}

// A dialog nobody answered is closed after a while, so a failing test ends.
void CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  if (InfoDlg().DialogForm) {
    ADD_FAILURE() << "the dialog was still open";
    InfoDlg().DialogForm->ModalResult = mrCancel;
  }
}

// Shows the dialog and lets `action` play the user once it is up.
int ShowWith(const std::string& text, std::uint32_t style, std::function<void(TqvInfoDlg&)> action) {
  g_action = std::move(action);
  InfoDlg().ResultCode = -1;
  ::SetTimer(nullptr, 0, 30, OnTimer);
  const UINT_PTR dog = ::SetTimer(nullptr, 0, 5000, Watchdog);
  const int r = InfoDlg().MsgBox(text, texts::kWarning, style);
  ::KillTimer(nullptr, dog);
  return r;
}

void Key(TqvInfoDlg& dlg, WPARAM vk) {
  HWND focus = ::GetFocus();
  ::PostMessageW(focus ? focus : dlg.DialogForm->Handle(), WM_KEYDOWN, vk, 0);
}

void ClickAt(TqvInfoDlg& dlg, TControl& c) {
  int x = c.Left() + c.Width() / 2, y = c.Top() + c.Height() / 2;
  HWND h = dlg.DialogForm->Handle();
  if (auto* w = dynamic_cast<TWinControl*>(&c)) {  // a window of its own takes its own clicks
    h = w->Handle();
    x = c.Width() / 2;
    y = c.Height() / 2;
  }
  ::PostMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
  ::PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  ::PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::string CaptionOf(TQVButton* b) { return b->Caption(); }

skin::Size SizeOf(const TControl& c) { return {c.Width(), c.Height()}; }
skin::Rect BoundsOf(const TControl& c) { return {c.Left(), c.Top(), c.Left() + c.Width(), c.Top() + c.Height()}; }

// Where the dialog's rules (held to a sound layout by the host tests) place
// everything, for the labels as the dialog measured them.
skin::DialogArrangement Arranged(const TqvInfoDlg& dlg) {
  return skin::ArrangeDialog(SizeOf(*dlg.DialogForm), SizeOf(*dlg.TextLabel), SizeOf(*dlg.TitleLabel),
                             dlg.IconImage->Width());
}

// What the dialog shows on the screen, its child windows included.
struct ScreenShot {
  TBitmap bitmap;
  explicit ScreenShot(TForm& form) {
    HWND h = form.Handle();
    ::RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    bitmap.SetSize(form.Width(), form.Height());
    HDC dc = ::GetDC(h);
    ::BitBlt(bitmap.Canvas().Handle(), 0, 0, form.Width(), form.Height(), dc, 0, 0, SRCCOPY);
    ::ReleaseDC(h, dc);
    ::GdiFlush();
  }
  COLORREF At(int x, int y) { return bitmap.Canvas().Pixel(x, y); }
  // The smallest rectangle holding every pixel of the colour (empty: none).
  RECT BoxOf(COLORREF colour, const RECT& within) {
    RECT box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = within.top; y < within.bottom; ++y)
      for (int x = within.left; x < within.right; ++x)
        if (At(x, y) == colour) {
          box = RECT{std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x + 1),
                     std::max<LONG>(box.bottom, y + 1)};
        }
    return box.left == INT_MAX ? RECT{} : box;
  }
};

// A solid icon of one colour, opaque all over.
HICON SolidIcon(int width, int height, COLORREF colour) {
  HDC screen = ::GetDC(nullptr);
  UniqueGdiObject picture(::CreateCompatibleBitmap(screen, width, height));
  ::ReleaseDC(nullptr, screen);
  const std::vector<BYTE> zeros(static_cast<std::size_t>((width + 15) / 16 * 2 * height), 0);
  UniqueGdiObject mask(::CreateBitmap(width, height, 1, 1, zeros.data()));
  {
    UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
    SelectObjectScope sel(dc.Get(), picture.Get());
    UniqueGdiObject brush(::CreateSolidBrush(colour));
    const RECT all{0, 0, width, height};
    ::FillRect(dc.Get(), &all, static_cast<HBRUSH>(brush.Get()));
  }
  ICONINFO info{TRUE, 0, 0, static_cast<HBITMAP>(mask.Get()), static_cast<HBITMAP>(picture.Get())};
  return ::CreateIconIndirect(&info);
}

TEST(InfoDlg, StyleZeroHasOneOkButton) {
  const int r = ShowWith("one line", 0, [&](TqvInfoDlg& dlg) {
    EXPECT_EQ(CaptionOf(dlg.Buttons[0]), texts::kOk);
    for (int k = 1; k < 4; ++k) EXPECT_FALSE(dlg.Buttons[static_cast<std::size_t>(k)]->Visible());
    TQVButton& ok = *dlg.Buttons[0];
    EXPECT_EQ(BoundsOf(ok), Arranged(dlg).buttons[0]);
    EXPECT_EQ(::GetFocus(), ok.Handle());
    ::PostMessageW(ok.Handle(), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(InfoDlg().DialogForm, nullptr);  // freed when the call returns
  EXPECT_EQ(InfoDlg().TextLabel, nullptr);
  EXPECT_EQ(ShowWith("one line", 0, [](TqvInfoDlg& dlg) { ClickAt(dlg, *dlg.CloseButton); }), 1);
}

TEST(InfoDlg, YesNoStartsOnNo) {
  struct Case {
    std::function<void(TqvInfoDlg&)> action;
    int result;
  } cases[] = {
      {[](TqvInfoDlg& dlg) {
         EXPECT_EQ(CaptionOf(dlg.Buttons[1]), texts::kYes);  // on the left
         EXPECT_EQ(CaptionOf(dlg.Buttons[0]), texts::kNo);
         EXPECT_LT(dlg.Buttons[1]->Left(), dlg.Buttons[0]->Left());
         EXPECT_EQ(::GetFocus(), dlg.Buttons[0]->Handle());
         Key(dlg, VK_RETURN);
       },
       7},
      {[](TqvInfoDlg& dlg) { ClickAt(dlg, *dlg.Buttons[1]); }, 6},
      {[](TqvInfoDlg& dlg) { ClickAt(dlg, *dlg.CloseButton); }, 7},
      {[](TqvInfoDlg& dlg) {
         dlg.DialogForm->DialogKey(VK_TAB);  // from 否 on to 是, then Enter
         EXPECT_EQ(::GetFocus(), dlg.Buttons[1]->Handle());
         Key(dlg, VK_RETURN);
       },
       6},
  };
  for (auto& c : cases) EXPECT_EQ(ShowWith("安装?", 52, c.action), c.result);
}

TEST(InfoDlg, AbortRetryIgnoreWithTheThirdButtonAsDefault) {
  const int r = ShowWith("x", 514, [](TqvInfoDlg& dlg) {
    EXPECT_EQ(CaptionOf(dlg.Buttons[2]), texts::kAbort);
    EXPECT_EQ(CaptionOf(dlg.Buttons[1]), texts::kRetry);
    EXPECT_EQ(CaptionOf(dlg.Buttons[0]), texts::kIgnore);
    EXPECT_EQ(::GetFocus(), dlg.Buttons[2]->Handle());
    Key(dlg, VK_RETURN);
  });
  EXPECT_EQ(r, 3);
}

TEST(InfoDlg, SizesFollowTheText) {
  int oneLine = 0, threeLines = 0, iconWidth = -1;
  ShowWith("x", 48, [&](TqvInfoDlg& dlg) {
    oneLine = dlg.DialogForm->Height() - 100;
    ClickAt(dlg, *dlg.CloseButton);
  });
  ShowWith("first\r\rthird", 48, [&](TqvInfoDlg& dlg) {
    threeLines = dlg.DialogForm->Height() - 100;
    iconWidth = dlg.IconImage->Width();
    // The size and places the rules give for what the dialog measured.
    EXPECT_EQ(SizeOf(*dlg.DialogForm),
              skin::FitDialog(SizeOf(*dlg.TextLabel), SizeOf(*dlg.TitleLabel), iconWidth, false));
    const skin::DialogArrangement a = Arranged(dlg);
    EXPECT_EQ(BoundsOf(*dlg.IconImage), a.iconArea);
    EXPECT_EQ(BoundsOf(*dlg.TextLabel), a.text);
    EXPECT_EQ(BoundsOf(*dlg.TitleLabel), a.title);
    ClickAt(dlg, *dlg.CloseButton);
  });
  EXPECT_GT(oneLine, 0);
  EXPECT_EQ(threeLines, 3 * oneLine);
  EXPECT_GT(iconWidth, 0);
  // No icon: the icon area has no width.
  ShowWith("x", 0, [&](TqvInfoDlg& dlg) {
    iconWidth = dlg.IconImage->Width();
    ClickAt(dlg, *dlg.CloseButton);
  });
  EXPECT_EQ(iconWidth, 0);
}

TEST(InfoDlg, CustomCaptionsStandOnTheirButtons) {
  const std::array<std::string, 4> captions{"A", "", "继续安装", ""};
  InfoDlg().CustomCaptions = captions;
  const int r = ShowWith("custom", 6, [&](TqvInfoDlg& dlg) {
    ScreenShot shot(*dlg.DialogForm);
    for (std::size_t k = 0; k < 4; ++k) {
      // A hidden button keeps its place.
      const int left = dlg.Buttons[k]->Left(), top = dlg.Buttons[k]->Top();
      if (captions[k].empty()) {
        const RECT ink = shot.BoxOf(RGB(0, 0, 0), RECT{left, top, left + 60, top + 25});
        EXPECT_TRUE(::IsRectEmpty(&ink)) << "hidden button " << k;
        continue;
      }
      // Inside its focus ring the button looks like one drawn on its own.
      TQVButton alone(dlg.DialogForm);
      alone.SetParent(dlg.DialogForm);
      alone.SetVisible(false);
      alone.SetBounds(0, 0, 60, 25);
      alone.SetCaption(captions[k]);
      TBitmap own;
      own.SetSize(60, 25);
      ::SendMessageW(alone.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own.Canvas().Handle()), PRF_CLIENT);
      ::GdiFlush();
      int wrong = 0;
      for (int y = 5; y < 20; ++y)
        for (int x = 5; x < 55; ++x)
          if (shot.At(left + x, top + y) != own.Canvas().Pixel(x, y) && ++wrong <= 3)
            ADD_FAILURE() << "button " << k << " at " << x << "," << y;
      EXPECT_EQ(wrong, 0) << "button " << k;
    }
    ClickAt(dlg, *dlg.Buttons[2]);
  });
  InfoDlg().CustomCaptions = {};
  EXPECT_EQ(r, 2);
}

TEST(InfoDlg, UserIconIsCentredInTheIconArea) {
  constexpr COLORREF kMagenta = RGB(255, 0, 255);
  HICON icon = SolidIcon(20, 12, kMagenta);
  ASSERT_NE(icon, nullptr);
  struct Reset {
    HICON icon;
    ~Reset() {
      InfoDlg().UserIcon = nullptr;
      ::DestroyIcon(icon);
    }
  } reset{icon};
  InfoDlg().UserIcon = icon;
  struct Case {
    std::uint32_t style;
    bool shown;
  } cases[] = {
      {128, true},
      {0, true},    // the icon stays set for later calls
      {16, false},  // our own error icon instead
  };
  for (const auto& c : cases) {
    RECT box{}, want{};
    int magenta = 0;
    ShowWith("about", c.style, [&](TqvInfoDlg& dlg) {
      ScreenShot shot(*dlg.DialogForm);
      const int W = dlg.DialogForm->Width(), H = dlg.DialogForm->Height();
      box = shot.BoxOf(kMagenta, RECT{0, 0, W, H});
      for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x) magenta += shot.At(x, y) == kMagenta;
      const TControl& area = *dlg.IconImage;
      const int left = area.Left() + (area.Width() - 20) / 2, top = area.Top() + (area.Height() - 12) / 2;
      want = RECT{left, top, left + 20, top + 12};
      ClickAt(dlg, *dlg.CloseButton);
    });
    if (c.shown) {
      EXPECT_TRUE(::EqualRect(&box, &want)) << c.style << ": " << box.left << "," << box.top << " "
                                            << box.right << "," << box.bottom;
      EXPECT_EQ(magenta, 20 * 12) << c.style;
    } else {
      EXPECT_TRUE(::IsRectEmpty(&box)) << c.style;
    }
  }
}

}  // namespace
}  // namespace qv
