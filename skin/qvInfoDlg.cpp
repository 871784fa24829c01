#include "skin/qvInfoDlg.h"

#include <memory>

#include "framework/application.h"
#include "framework/portable/messages.h"
#include "framework/text_conv.h"
#include "skin/message_dialog_rules.h"

namespace qv {

// The dialog takes and answers the platform's own message-box numbers.
static_assert(skin::kMbOk == MB_OK && skin::kMbOkCancel == MB_OKCANCEL &&
              skin::kMbAbortRetryIgnore == MB_ABORTRETRYIGNORE && skin::kMbYesNoCancel == MB_YESNOCANCEL &&
              skin::kMbYesNo == MB_YESNO && skin::kMbRetryCancel == MB_RETRYCANCEL &&
              skin::kMbTypeMask == MB_TYPEMASK);
static_assert(skin::kMbIconHand == MB_ICONHAND && skin::kMbIconQuestion == MB_ICONQUESTION &&
              skin::kMbIconExclamation == MB_ICONEXCLAMATION && skin::kMbIconAsterisk == MB_ICONASTERISK &&
              skin::kMbUserIcon == MB_USERICON && skin::kMbIconMask == MB_ICONMASK);
static_assert(skin::kIdOk == IDOK && skin::kIdCancel == IDCANCEL && skin::kIdAbort == IDABORT &&
              skin::kIdRetry == IDRETRY && skin::kIdIgnore == IDIGNORE && skin::kIdYes == IDYES &&
              skin::kIdNo == IDNO);

namespace {

skin::Size SizeOf(const TControl& c) { return skin::Size{c.Width(), c.Height()}; }

void Place(TControl& c, const skin::Rect& r) { c.SetBounds(r.left, r.top, r.Width(), r.Height()); }

// Where the dialog's artwork is.
HINSTANCE ProgramInstance() { return ::GetModuleHandleW(nullptr); }

}  // namespace

TqvInfoDlg& InfoDlg() {
  static TqvInfoDlg dialog;
  return dialog;
}

int TqvInfoDlg::MsgBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  Text = text;
  Caption = caption;
  Style = style;
  return ShowDialog();
}

int TqvInfoDlg::ShowDialog() {
  // Everything the steps make belongs to the form and goes with it.
  std::unique_ptr<TForm> form = CreateDialogForm();
  CreateSurface();
  CreateIconImage();
  CreateTitleLabel();
  CreateTextLabel();
  const skin::DialogButtons set = CreateButtons();
  CreateCloseButton(set.closeResult);
  FitToText(set.buttons[3].visible);
  FocusFirstButton(set);
  ResultCode = skin::kIdNoAnswer;
  CloseOnlyByHand(form->Handle());
  form->ShowModal();
  ForgetControls();
  form.reset();
  return ResultCode;
}

std::unique_ptr<TForm> TqvInfoDlg::CreateDialogForm() {
  auto form = std::make_unique<TForm>(nullptr);
  DialogForm = form.get();
  form->BorderStyle = TForm::TBorderStyle::bsNone;
  form->SetBounds(0, 0, DialogWidth, DialogHeight);
  TFont font;
  font.SetSize(9);
  form->SetFont(font);
  form->SetColor(skin::kFaceColour);
  form->OnResize = [this](TObject*) { DialogResize(); };
  // Alt+F4 answers as the close box does.
  form->OnClose = [this](TObject*) {
    if (CloseButton) ResultCode = CloseButton->Tag;
  };
  form->SetCaption(Caption);  // not shown (no caption bar), but names the window
  return form;
}

void TqvInfoDlg::CreateSurface() {
  Surface = new TqvForm(DialogForm);
  auto picture = std::make_unique<TBitmap>();
  picture->LoadFromResourceName(ProgramInstance(), L"bkMessageBox");
  Surface->Picture().SetGraphic(std::move(picture));
  Surface->SetSizeable(false);
  Surface->Loaded();
}

void TqvInfoDlg::CreateIconImage() {
  const skin::DialogIcon icon = skin::ChooseDialogIcon(Style, UserIcon != nullptr);
  IconImage = new TImage(DialogForm);
  IconImage->SetParent(DialogForm);
  IconImage->Transparent = true;
  IconImage->Center = true;
  iconColumnWidth_ = icon.columnWidth;
  if (icon.kind == skin::DialogIconKind::Resource) {
    auto bitmap = std::make_unique<TBitmap>();
    // Through to_string: to_wstring would bring in the C runtime's wide printf.
    const std::wstring name = Utf8ToWide("QVINFODLGICON" + std::to_string(icon.code));
    try {
      bitmap->LoadFromResourceName(ProgramInstance(), name.c_str());
      IconImage->Picture().SetGraphic(std::move(bitmap));
    } catch (const std::exception&) {
      // Codes without artwork keep an empty icon area.
    }
  } else if (icon.kind == skin::DialogIconKind::User) {
    auto userIcon = std::make_unique<TIcon>();
    userIcon->SetHandle(UserIcon);
    IconImage->Picture().SetGraphic(std::move(userIcon));
  }
}

void TqvInfoDlg::CreateTitleLabel() {
  TitleLabel = new TLabel(DialogForm);
  TitleLabel->SetParent(DialogForm);
  TitleLabel->Cursor = crHandPoint;
  TitleLabel->SetTransparent(true);
  TFont titleFont = DialogForm->Font();
  titleFont.Color = clWhite;
  titleFont.SetSize(11);
  titleFont.Bold = true;
  TitleLabel->SetFont(titleFont);
  TitleLabel->SetCaption(Caption);
  // Dragging the caption moves the dialog.
  TqvForm* surface = Surface;
  TitleLabel->OnMouseDown = [surface](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
    surface->DragMouseDown(s, b, sh, x, y);
  };
}

void TqvInfoDlg::CreateTextLabel() {
  TextLabel = new TLabel(DialogForm);
  TextLabel->SetParent(DialogForm);
  TextLabel->SetTransparent(true);
  TextLabel->SetCaption(Text);
}

skin::DialogButtons TqvInfoDlg::CreateButtons() {
  // Creation order is tab order: the default button first.
  for (int k : skin::DialogCreationOrder(skin::DialogDefaultOf(Style))) {
    auto* button = new TQVButton(DialogForm);
    button->SetParent(DialogForm);
    button->OnClick = [this](TObject* s) { ButtonClick(s); };
    Buttons[static_cast<std::size_t>(k)] = button;
  }
  const skin::DialogButtons set = skin::DialogButtonSet(Style, CustomCaptions);
  for (std::size_t k = 0; k < 4; ++k) {
    Buttons[k]->SetCaption(set.buttons[k].caption);
    Buttons[k]->Tag = set.buttons[k].result;
    Buttons[k]->SetVisible(set.buttons[k].visible);
  }
  return set;
}

void TqvInfoDlg::CreateCloseButton(int result) {
  CloseButton = new TSpeedButton(DialogForm);
  CloseButton->SetParent(DialogForm);
  CloseButton->Glyph().LoadFromResourceName(ProgramInstance(), L"dlgClose");
  CloseButton->Flat = true;
  CloseButton->Transparent = true;
  CloseButton->SetHint(texts::Say(texts::Dialog::Close));
  CloseButton->SetShowHint(true);
  CloseButton->Tag = result;
  CloseButton->OnClick = [this](TObject* s) { ButtonClick(s); };
}

void TqvInfoDlg::FitToText(bool button3Visible) {
  // Everything is placed by DialogResize, from the fitted size on.
  const skin::Size fitted =
      skin::FitDialog(SizeOf(*TextLabel), SizeOf(*TitleLabel), iconColumnWidth_, button3Visible);
  DialogForm->MinWidth = skin::DialogMinWidth(SizeOf(*TitleLabel));
  DialogForm->SetBounds((::GetSystemMetrics(SM_CXSCREEN) - fitted.cx) / 2,
                        (::GetSystemMetrics(SM_CYSCREEN) - fitted.cy) / 2, fitted.cx, fitted.cy);
  DialogResize();
}

void TqvInfoDlg::FocusFirstButton(const skin::DialogButtons& set) {
  std::array<bool, 4> visible{};
  for (std::size_t k = 0; k < 4; ++k) visible[k] = set.buttons[k].visible;
  const int focus = skin::DialogFocusButton(skin::DialogDefaultOf(Style), visible);
  if (focus >= 0) DialogForm->ActiveControl = Buttons[static_cast<std::size_t>(focus)];
}

void TqvInfoDlg::ForgetControls() {
  DialogForm = nullptr;
  Surface = nullptr;
  TitleLabel = TextLabel = nullptr;
  IconImage = nullptr;
  CloseButton = nullptr;
  Buttons = {};
}

void TqvInfoDlg::DialogResize() {
  // The form is sized before its controls exist; the close button comes last.
  if (!DialogForm || !CloseButton) return;
  const skin::DialogArrangement a = skin::ArrangeDialog(SizeOf(*DialogForm), SizeOf(*TextLabel),
                                                        SizeOf(*TitleLabel), iconColumnWidth_);
  DialogForm->MinWidth = skin::DialogMinWidth(SizeOf(*TitleLabel));
  Place(*TitleLabel, a.title);
  Place(*TextLabel, a.text);
  Place(*IconImage, a.iconArea);
  for (std::size_t k = 0; k < 4; ++k) Place(*Buttons[k], a.buttons[k]);
  Place(*CloseButton, a.closeButton);
}

void TqvInfoDlg::ButtonClick(TObject* sender) {
  if (auto* c = dynamic_cast<TControl*>(sender)) ResultCode = c->Tag;
  if (DialogForm) DialogForm->ModalResult = mrOk;
}

}  // namespace qv
