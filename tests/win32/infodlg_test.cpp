// The message dialog driven the way a user drives it: a timer fires inside
// the dialog's modal loop, looks at the dialog and presses keys or clicks.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "application.h"
#include "qvInfoDlg.h"
#include "text_conv.h"

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
  const int r = InfoDlg().MsgBox(text, "\xBE\xAF\xB8\xE6", style);  // 警告
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

TEST(InfoDlg, StyleZeroHasOneOkButton) {
  int width = 0, height = 0;
  const int r = ShowWith("one line", 0, [&](TqvInfoDlg& dlg) {
    EXPECT_EQ(CaptionOf(dlg.Buttons[0]), "\xC8\xB7\xB6\xA8");  // 确定
    for (int k = 1; k < 4; ++k) EXPECT_FALSE(dlg.Buttons[static_cast<std::size_t>(k)]->Visible());
    width = dlg.DialogForm->Width();
    height = dlg.DialogForm->Height();
    TQVButton& ok = *dlg.Buttons[0];
    EXPECT_EQ(ok.Left() + ok.Width(), width - 20);
    EXPECT_EQ(ok.Top(), height - 40);
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
         EXPECT_EQ(CaptionOf(dlg.Buttons[1]), "\xCA\xC7");  // 是, on the left
         EXPECT_EQ(CaptionOf(dlg.Buttons[0]), "\xB7\xF1");  // 否
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
  for (auto& c : cases) EXPECT_EQ(ShowWith("\xB0\xB2\xD7\xB0?", 52, c.action), c.result);
}

TEST(InfoDlg, AbortRetryIgnoreWithTheThirdButtonAsDefault) {
  const int r = ShowWith("x", 514, [](TqvInfoDlg& dlg) {
    EXPECT_EQ(CaptionOf(dlg.Buttons[2]), "\xD6\xD5\xD6\xB9");  // 终止
    EXPECT_EQ(CaptionOf(dlg.Buttons[1]), "\xD6\xD8\xCA\xD4");  // 重试
    EXPECT_EQ(CaptionOf(dlg.Buttons[0]), "\xBA\xF6\xC2\xD4");  // 忽略
    EXPECT_EQ(::GetFocus(), dlg.Buttons[2]->Handle());
    Key(dlg, VK_RETURN);
  });
  EXPECT_EQ(r, 3);
}

TEST(InfoDlg, SizesFollowTheText) {
  int oneLine = 0, threeLines = 0, width = 0, textWidth = 0, titleWidth = 0, iconWidth = -1;
  ShowWith("x", 48, [&](TqvInfoDlg& dlg) {
    oneLine = dlg.DialogForm->Height() - 100;
    ClickAt(dlg, *dlg.CloseButton);
  });
  ShowWith("first\r\rthird", 48, [&](TqvInfoDlg& dlg) {
    threeLines = dlg.DialogForm->Height() - 100;
    width = dlg.DialogForm->Width();
    textWidth = dlg.TextLabel->Width();
    titleWidth = dlg.TitleLabel->Width();
    iconWidth = dlg.IconImage->Width();
    EXPECT_EQ(dlg.IconImage->Left(), 5);
    EXPECT_EQ(dlg.IconImage->Top(), 30);
    EXPECT_EQ(dlg.IconImage->Top() + dlg.IconImage->Height(), dlg.DialogForm->Height() - 40);
    ClickAt(dlg, *dlg.CloseButton);
  });
  EXPECT_GT(oneLine, 0);
  EXPECT_EQ(threeLines, 3 * oneLine);
  EXPECT_EQ(iconWidth, 70);
  EXPECT_EQ(width, std::max(textWidth + 70 + 20, titleWidth + 250));
  // No icon: the icon area has no width.
  ShowWith("x", 0, [&](TqvInfoDlg& dlg) {
    iconWidth = dlg.IconImage->Width();
    ClickAt(dlg, *dlg.CloseButton);
  });
  EXPECT_EQ(iconWidth, 0);
}

}  // namespace
}  // namespace qv
