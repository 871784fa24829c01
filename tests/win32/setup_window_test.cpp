#include <gtest/gtest.h>
#include <windows.h>

#include "engine/setup_texts.h"
#include "framework/application.h"
#include "framework/portable/messages.h"
#include "window/Unit1.h"

namespace qv {
namespace {

TEST(SetupWindow, RunTimeControlsFollowTheTitleWidth) {
  TForm1 form(TApplication::Instance());
  EXPECT_EQ(form.Width(), 372);
  EXPECT_EQ(form.Height(), 131);
  EXPECT_EQ(form.Left(), 418);
  EXPECT_EQ(form.QVButton_sys->Left(), 148);
  form.BuildControls("Example Setup", "Maker", "https://example.org/");
  const int tw = form.TitleLabel->Width(), W = tw + 250;
  // With a 60-pixel title this is the 310-wide window of the worked example.
  struct Case {
    const char* what;
    TControl* c;
    int left, top, right;
  } cases[] = {
      {"title", form.TitleLabel, 125, 7, 125 + tw},
      {"main bar", form.MainBar, 20, 65, W - 20},
      {"thin bar", form.ThinBar, 20, 82, W - 20},
      {"minimise", form.MinButton, W - 42, 5, W - 27},
      {"close", form.CloseButton, W - 22, 5, W - 7},
      {"OK/cancel", form.QVButton_sys, (W - 75) / 2, 94, (W - 75) / 2 + 75},
      {"link", form.QVLabel1, W - 20 - form.QVLabel1->Width(), 106, W - 20},
      {"path box", form.PathBox, 20, 65, W - 40},
      {"browse", form.BrowseButton, W - 37, 65, W - 17},
      {"icon", form.AppIcon, 19, 31, 19 + form.AppIcon->Width()},
      {"status", form.StatusLabel, 63, 43, 63 + form.StatusLabel->Width()},
  };
  EXPECT_EQ(form.Width(), W);
  EXPECT_EQ(form.Height(), 131);
  for (const auto& c : cases) {
    EXPECT_EQ(c.c->Left(), c.left) << c.what;
    EXPECT_EQ(c.c->Top(), c.top) << c.what;
    EXPECT_EQ(c.c->Left() + c.c->Width(), c.right) << c.what;
  }
  EXPECT_EQ(form.BrowseButton->Height(), form.PathBox->Height());
  EXPECT_FALSE(form.PathBox->Visible());
  EXPECT_FALSE(form.BrowseButton->Visible());
  EXPECT_EQ(form.QVLabel1->Hint(), std::string(texts::kVisitSite) + "https://example.org/");
}

// Every status line fits the window in both languages, the longest texts
// included, in the narrowest window: the one with the default title.
TEST(SetupWindow, EveryStatusLineFitsInEachLanguage) {
  using texts::Setup;
  struct Restore {
    ~Restore() { texts::UseTexts(Language::Chinese, {}); }
  } chineseAgain;
  for (const Language language : {Language::Chinese, Language::English}) {
    texts::UseTexts(language, {});
    TForm1 form(TApplication::Instance());
    form.BuildControls(texts::Say(Setup::DefaultTitle), "qvSetup", "https://example.org/");
    const std::string lines[] = {
        texts::Say(Setup::Register),   texts::Say(Setup::Execute),
        texts::Say(Setup::Shortcuts),  texts::Say(Setup::AddToPath),
        texts::Say(Setup::Undoing),    texts::Say(Setup::Finished),
        texts::Say(Setup::FinishedRestart), texts::Say(Setup::Unregister),
        texts::Say(Setup::Uninstalled),
        Fill(texts::Say(Setup::Prompt), {{"ENTRY", "Example"}}),
        Fill(texts::Say(Setup::Removing), {{"FILE", "example.dll"}}),
        Fill(texts::Say(Setup::Decompressing), {{"FILE", "example.dll"}}),
    };
    for (const std::string& line : lines) {
      form.StatusLabel->SetCaption(line);
      EXPECT_LE(form.StatusLabel->Left() + form.StatusLabel->Width(), form.Width() - 7)
          << LanguageName(language) << ": " << line;
    }
    // Button captions, in the window's font, inside a 75-pixel button.
    for (const texts::Dialog d : {texts::Dialog::Ok, texts::Dialog::Cancel, texts::Dialog::Yes, texts::Dialog::No,
                                  texts::Dialog::Abort, texts::Dialog::Retry, texts::Dialog::Ignore}) {
      form.StatusLabel->SetCaption(texts::Say(d));
      EXPECT_LE(form.StatusLabel->Width(), form.QVButton_sys->Width() - 10) << texts::Say(d);
    }
  }
}

TEST(SetupWindow, TheLinkTurnsRedUnderThePointer) {
  TForm1 form(TApplication::Instance());
  form.BuildControls("T", "link", "");
  HWND h = form.Handle();
  TQVLabel& link = *form.QVLabel1;
  EXPECT_EQ(link.Font().Color, clBlue);
  const int x = link.Left() + 2, y = link.Top() + 2;
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
  EXPECT_EQ(link.Font().Color, clRed);
  ::SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(5, 60));
  EXPECT_EQ(link.Font().Color, clBlue);
}

TEST(SetupWindow, AnEmptyTitleIsOneBlankWide) {
  TForm1 form(TApplication::Instance());
  form.BuildControls("", "", "");
  EXPECT_GT(form.TitleLabel->Width(), 0);
  EXPECT_EQ(form.Width(), form.TitleLabel->Width() + 250);
  EXPECT_EQ(form.QVLabel1->Left() + form.QVLabel1->Width(), form.Width() - 20);
}

}  // namespace
}  // namespace qv
