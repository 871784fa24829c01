#include "window/Unit1.h"

#include <algorithm>

#include <shellapi.h>

#include "browse/BrowseDir.h"
#include "engine/setup_texts.h"
#include "engine/text.h"
#include "framework/portable/messages.h"
#include "framework/text_conv.h"
#include "skin/qvInfoDlg.h"
#include "skin/skin_types.h"

namespace qv {

namespace {

constexpr TColor kFace = skin::kFaceColour;
constexpr int kMinWindowWidthExtra = 250;

TFont WindowFont() {
  TFont f;  // 宋体, 12 pixels, GB2312, window-text colour
  f.Height = -12;
  f.Color = clWindowText;
  f.Charset = GB2312_CHARSET;
  return f;
}

}  // namespace

namespace {

// A picture file of the face's size, or none.
std::unique_ptr<TGraphic> FacePicture(const std::string& file, int width, int height) {
  if (file.empty()) return nullptr;
  std::unique_ptr<TGraphic> g = file.rfind("BM", 0) == 0 ? TPicture::CreateGraphic("TBitmap")
                                                          : TPicture::CreateGraphic("TJPEGImage");
  try {
    TMemoryStream bytes(std::vector<std::uint8_t>(file.begin(), file.end()));
    if (g) g->LoadFromStream(bytes);
  } catch (const std::exception&) {
    return nullptr;
  }
  if (!g || g->Width() != width || g->Height() != height) return nullptr;
  return g;
}

}  // namespace

TForm1::TForm1(TApplication& app, const std::string& face) : TForm(nullptr), app_(app) {
  Name = "Form1";
  BorderStyle = TBorderStyle::bsNone;
  StayOnTop = true;
  SetBounds(418, 478, 372, 131);
  SetColor(kFace);
  SetFont(WindowFont());
  SetCaption(texts::Say(texts::Setup::DefaultTitle));

  qvForm1 = new TqvForm(this);
  qvForm1->Name = "qvForm1";
  // The face: the stored picture property from the program's resources.
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  if (HRSRC res = ::FindResourceW(inst, L"FORM1_PICTURE", MAKEINTRESOURCEW(10))) {  // RT_RCDATA
    const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(inst, res)));
    TMemoryStream stored(std::vector<std::uint8_t>(bytes, bytes + ::SizeofResource(inst, res)));
    qvForm1->Picture().ReadData(stored);
  }
  // A package's own face, where it is one: the skin is cut from it.
  if (std::unique_ptr<TGraphic> own = FacePicture(face, qvForm1->Picture().Width(), qvForm1->Picture().Height()))
    qvForm1->Picture().SetGraphic(std::move(own));
  qvForm1->SetSizeable(false);

  QVButton_sys = new TQVButton(this);
  QVButton_sys->Name = "QVButton_sys";
  QVButton_sys->SetParent(this);
  QVButton_sys->SetBounds(148, 94, 75, 25);
  QVButton_sys->SetCaption(texts::Say(texts::Dialog::Cancel));
  QVButton_sys->SetColor(kFace);
  QVButton_sys->OnClick = [this](TObject* s) { OnClick_Button_sys(s); };
  qvForm1->Loaded();
  Handle();
  app_.MainForm = Handle();
}

void TForm1::FormCreate(SetupEngine& engine, const std::vector<std::string>& args) {
  RunJob([&] { engine.Run(args); });
}

void TForm1::RunJob(const std::function<void()>& job) {
  // While files are copied, a log-off or shutdown waits, and says why.
  const bool blocking = ::ShutdownBlockReasonCreate(Handle(), Utf8ToWide(texts::Say(texts::Setup::NotFinished)).c_str()) != FALSE;
  running_ = true;
  try {
    job();
  } catch (const std::exception& e) {
    errorEnded_ = true;
    Log(std::string("error: ") + e.what());
    // A silent or hidden run tells its exit code and log only: a box would
    // wait for a click nobody can make. An error before the script says
    // Visible=0 finds the window's default, shown.
    const bool hidden = silent_ || !state_.visible;
    if (!hidden) app_.ShowException(e);
    if (hidden) app_.Terminate();
  }
  running_ = false;
  if (app_.Terminated()) Hide();
  if (blocking) ::ShutdownBlockReasonDestroy(Handle());
}

LRESULT TForm1::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      CloseRequested();
      return 0;
    case WM_QUERYENDSESSION:
      if (!Installing()) return TRUE;
      Log("session end held off: the installation is not finished");
      return FALSE;
    case WM_ENDSESSION:
      if (wp) SessionEnding();
      return 0;
  }
  return TForm::WndProc(msg, wp, lp);
}

void TForm1::StopRun(const std::string& why) {
  Log(why);
  state_.finished = true;
  state_.userQuit = true;
  CloseAndEnd();
}

void TForm1::CloseRequested() {
  // A question or the folder browser is already up and will be answered.
  if (!::IsWindowEnabled(Handle())) {
    Log("close request: waits for the person's answer");
    return;
  }
  if (silent_ || !state_.visible) {
    // Nobody can be asked: a hidden run quits between two files.
    if (Installing()) StopRun("close request: the run stops");
    else CloseAndEnd();
    return;
  }
  OnClick_Button_sys(CloseButton);
}

void TForm1::SessionEnding() {
  if (Installing()) StopRun("session ending: the run stops");
  if (OnSessionEnd) OnSessionEnd();
  else CloseAndEnd();
}

void TForm1::BuildControls(const std::string& title, const std::string& linkCaption, const std::string& linkTarget) {
  // Creation order is z-order and tab order: the steps keep it.
  SetCaption(title);
  app_.Title = title;
  BuildTitleLabel(title);
  const int width = WidenToTitle();
  BuildProgressBars(width);
  BuildAppIcon();
  BuildLinkLabel(linkCaption, linkTarget);
  BuildTitleButtons(width);
  BuildStatusLabel();
  BuildPathBox();
  QVButton_sys->SetLeft((width - QVButton_sys->Width()) / 2);
}

void TForm1::BuildTitleLabel(const std::string& title) {
  TitleLabel = new TLabel(this);
  TitleLabel->SetParent(this);
  TitleLabel->SetTop(7);
  TitleLabel->SetTransparent(true);
  TitleLabel->Cursor = crHandPoint;
  TFont tf = Font();
  tf.Color = clWhite;
  tf.SetSize(11);
  tf.Bold = true;
  TitleLabel->SetFont(tf);
  TitleLabel->SetCaption(title);
  TitleLabel->OnMouseDown = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
    qvForm1->DragMouseDown(s, b, sh, x, y);
  };
}

int TForm1::WidenToTitle() {
  const int width = TitleLabel->Width() + kMinWindowWidthExtra;
  SetBounds(left_, top_, width, 131);
  TitleLabel->SetLeft((width - TitleLabel->Width()) / 2);
  return width;
}

void TForm1::BuildProgressBars(int width) {
  MainBar = new TProgressBar(this);
  MainBar->Smooth = true;
  MainBar->Step = 1;
  MainBar->SetBounds(20, 65, width - 40, 18);
  MainBar->Anchors = akLeft | akTop | akRight;
  MainBar->SetParent(this);

  ThinBar = new TProgressBar(this);
  ThinBar->Smooth = true;
  ThinBar->Step = 1;
  ThinBar->SetBounds(20, MainBar->Top() + MainBar->Height() - 1, MainBar->Width(), 3);
  ThinBar->Anchors = akLeft | akTop | akRight;
  ThinBar->SetParent(this);
}

void TForm1::BuildAppIcon() {
  AppIcon = new TImage(this);
  AppIcon->SetParent(this);
  AppIcon->AutoSize = true;
  AppIcon->SetBounds(19, 31, AppIcon->Width(), AppIcon->Height());
  AppIcon->Cursor = crHandPoint;
  if (app_.Icon) {
    auto icon = std::make_unique<TIcon>();
    icon->SetHandle(app_.Icon);
    AppIcon->Picture().SetGraphic(std::move(icon));
  }
  AppIcon->OnClick = [this](TObject* s) { OnClickAbout(s); };
}

void TForm1::BuildLinkLabel(const std::string& linkCaption, const std::string& linkTarget) {
  QVLabel1 = new TQVLabel(this);
  QVLabel1->SetParent(this);
  QVLabel1->SetTop(106);
  QVLabel1->SetTransparent(true);
  TFont lf = Font();
  lf.Color = clBlue;
  QVLabel1->SetFont(lf);
  QVLabel1->SetCaption(linkCaption);
  // Its right edge lines up with the progress bars'.
  QVLabel1->SetLeft(MainBar->Left() + MainBar->Width() - QVLabel1->Width());
  QVLabel1->Cursor = crHandPoint;
  QVLabel1->SetHint(Fill(texts::Say(texts::Setup::VisitSite), {{"URL", linkTarget}}));
  QVLabel1->SetShowHint(true);
  QVLabel1->OnMouseEnter = [this](TObject* s) { QVLabel1MouseEnter(s); };
  QVLabel1->OnMouseLeave = [this](TObject* s) { QVLabel1MouseLeave(s); };
  QVLabel1->OnClick = [this](TObject* s) { QVLabel1Click(s); };
}

void TForm1::BuildTitleButtons(int width) {
  MinButton = NewTitleButton(width - 42, L"dlgMin");
  MinButton->OnClick = [this](TObject* s) { OnClick_Min(s); };
  CloseButton = NewTitleButton(width - 22, L"dlgClose");
  CloseButton->OnClick = [this](TObject* s) { OnClick_Button_sys(s); };
}

TqvBtn* TForm1::NewTitleButton(int left, const wchar_t* glyph) {
  auto* b = new TqvBtn(this);
  b->SetBounds(left, 5, 15, 17);
  b->Anchors = akTop | akRight;
  b->SetBorderStyle(TqvBorderStyle::qbsNone);
  b->SetTransparent(true);
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->LoadFromResourceName(::GetModuleHandleW(nullptr), glyph);
  b->CurrentPicture().SetGraphic(std::move(bitmap));
  return b;
}

void TForm1::BuildStatusLabel() {
  StatusLabel = new TLabel(this);
  StatusLabel->SetParent(this);
  StatusLabel->SetBounds(63, 43, StatusLabel->Width(), StatusLabel->Height());
  StatusLabel->SetTransparent(true);
}

// The path box and its browse button lie over the progress bars, hidden
// until a folder is asked for.
void TForm1::BuildPathBox() {
  PathBox = new TEdit(this);
  PathBox->SetBounds(MainBar->Left(), MainBar->Top(), MainBar->Width() - 20, PathBox->Height());
  PathBox->SetVisible(false);
  PathBox->SetParent(this);

  BrowseButton = new TSpeedButton(this);
  BrowseButton->SetParent(this);
  BrowseButton->SetBounds(PathBox->Left() + PathBox->Width() + 3, PathBox->Top(), 20, PathBox->Height());
  BrowseButton->SetVisible(false);
  BrowseButton->Flat = true;
  BrowseButton->SetCaption("...");
  BrowseButton->OnClick = [this](TObject* s) { OnClick_Browse(s); };
}

void TForm1::ApplyVisible(bool visible) {
  if (visible) {
    Show();
    ::UpdateWindow(Handle());
  } else {
    Hide();
    // Nothing of a hidden run's window can ever be seen.
    ::SetWindowRgn(Handle(), ::CreateRectRgn(0, 0, 0, 0), TRUE);
  }
}

void TForm1::SetStatusText(const std::string& text) { StatusLabel->SetCaption(text); }
void TForm1::RepaintStatus() { StatusLabel->Repaint(); }

void TForm1::UpdateStatus() {
  if (statusPaints_.Due(::GetTickCount())) StatusLabel->Update();
}
void TForm1::SetStatusRed() {
  TFont f = StatusLabel->Font();
  f.Color = clRed;
  StatusLabel->SetFont(f);
}
void TForm1::SetMainMax(int max) { MainBar->SetMax(max); }
void TForm1::SetMainPosition(int position) { MainBar->SetPosition(position); }
void TForm1::StepMain() { MainBar->StepIt(); }
void TForm1::UpdateMain() {
  if (MainBar->HandleAllocated() && mainBarPaints_.Due(::GetTickCount())) ::UpdateWindow(MainBar->Handle());
}
void TForm1::SetThinMax(int max) { ThinBar->SetMax(max); }
void TForm1::SetThinPosition(int position) { ThinBar->SetPosition(position); }
void TForm1::ShowProgressBars(bool show) {
  MainBar->SetVisible(show);
  ThinBar->SetVisible(show);
}
void TForm1::ShowPathBox(bool show) {
  PathBox->SetVisible(show);
  BrowseButton->SetVisible(show);
}
void TForm1::SetPathText(const std::string& text) { PathBox->SetText(text); }
std::string TForm1::PathText() { return PathBox->Text(); }
void TForm1::SetButtonCaption(const std::string& caption) { QVButton_sys->SetCaption(caption); }
std::optional<bool> TForm1::Confirm(const std::string& question) {
  const int answer = InfoDlg().MsgBox(question, Caption(), skin::kMbYesNo | skin::kMbIconQuestion);
  if (answer == skin::kIdNoAnswer) return std::nullopt;
  return answer == skin::kIdYes;
}

void TForm1::OfferToStart(const std::string& caption) {
  ShowProgressBars(false);
  StartBox = new TQVCheckBox(this);
  StartBox->SetParent(this);
  StartBox->SetCaption(caption);
  StartBox->SetLeft(MainBar->Left());
  StartBox->FitToCaption();
  // Where the bars were, and never past their right edge.
  StartBox->SetBounds(MainBar->Left(), MainBar->Top() + (MainBar->Height() - StartBox->Height()) / 2,
                      std::min(StartBox->Width(), MainBar->Width()), StartBox->Height());
  StartBox->SetChecked(true);
  StartBox->Cursor = crHandPoint;
  StartBox->OnChange = [this](bool checked) {
    state_.startAfter = checked;
    Log(checked ? "user: start after setup" : "user: do not start after setup");
  };
}

void TForm1::ProcessMessages() {
  app_.ProcessMessages();
  // Told to quit by something other than our own handlers: stop as a
  // close request would, instead of running on with no event loop.
  if (app_.Terminated() && !state_.finished) {
    Log("quit message: the run stops");
    state_.finished = true;
    state_.userQuit = true;
  }
}
void TForm1::WaitForEvent() { app_.WaitForEvent(); }
void TForm1::Terminate() { app_.Terminate(); }

void TForm1::CloseAndEnd() {
  // A run still going shows its last steps (an undo) until it returns.
  if (!running_) Hide();
  app_.Terminate();
}

void TForm1::OnClick_Button_sys(TObject* sender) {
  if (state_.awaitingPath && sender == QVButton_sys) {
    if (!Trim(PathBox->Text()).empty()) {
      state_.awaitingPath = false;
      Log("user: confirmed the install folder " + Trim(PathBox->Text()));
    } else {
      Log("user: confirmed an empty install folder; asked again");
      InfoDlg().MsgBox(texts::Say(texts::Setup::EmptyPath), texts::Say(texts::Setup::Warning), skin::kMbOk | skin::kMbIconExclamation);
    }
    return;
  }
  if (state_.finished) {
    Log("user: closed the finished window");
    CloseAndEnd();
    return;
  }
  const std::uint32_t question = skin::kMbYesNo | skin::kMbIconExclamation;
  const std::string asked = state_.quitQuestion.empty() ? texts::Say(texts::Setup::QuitQuestion) : state_.quitQuestion;
  const int answer = InfoDlg().MsgBox(asked, texts::Say(texts::Setup::Warning), question);
  if (answer == skin::kIdYes) {
    Log("user: quit before the end");
    state_.finished = true;
    state_.userQuit = true;
    CloseAndEnd();
  } else if (answer != skin::kIdNoAnswer) {
    Log("user: chose to go on");
  }
  // No answer: a quit message ended the question, and ProcessMessages
  // stops the run.
}

void TForm1::OnClick_Min(TObject*) { ::ShowWindow(Handle(), SW_MINIMIZE); }

void TForm1::QVLabel1MouseEnter(TObject*) {
  TFont f = QVLabel1->Font();
  f.Color = clRed;
  QVLabel1->SetFont(f);
}

void TForm1::QVLabel1MouseLeave(TObject*) {
  TFont f = QVLabel1->Font();
  f.Color = clBlue;
  QVLabel1->SetFont(f);
}

void TForm1::QVLabel1Click(TObject*) {
  // A target the shell cannot open does nothing visible.
  if (!state_.linkTarget.empty())
    ::ShellExecuteW(Handle(), nullptr, Utf8ToWide(state_.linkTarget).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TForm1::OnClickAbout(TObject*) {
  InfoDlg().UserIcon = app_.Icon;
  InfoDlg().MsgBox(texts::Say(texts::Setup::AboutText), texts::Say(texts::Setup::AboutCaption), skin::kMbUserIcon);
}

void TForm1::OnClick_Browse(TObject*) {
  TBrowseDirectoryDlg dialog(this);
  dialog.Title = texts::Say(texts::Setup::BrowseTitle);
  if (dialog.Execute()) PathBox->SetText(dialog.Selection());
}

}  // namespace qv
