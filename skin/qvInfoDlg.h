// TqvInfoDlg: the skinned message box. MsgBox takes a text, a caption and a
// message-box style word and answers the platform's button codes, showing
// them in a borderless skinned window with our icons and colour buttons.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/controls.h"
#include "framework/portable/messages.h"
#include "framework/stdctrls.h"
#include "skin/QVButton.h"
#include "skin/message_dialog_rules.h"
#include "skin/qvForm.h"

namespace qv {

class TqvInfoDlg : public TObject {
 public:
  HICON UserIcon = nullptr;  // not owned; shown for icon codes 0 and 8-15
  int DialogWidth = skin::kDialogInitialWidth;
  int DialogHeight = skin::kDialogInitialHeight;
  int ResultCode = 0;
  std::array<std::string, 4> CustomCaptions;  // button sets 6-15, at most 4 Chinese or 8 Latin characters each
  std::uint32_t Style = 0;
  std::string Caption = texts::Say(texts::Dialog::Caption);
  std::string Text;

  // Shows the dialog modally; returns the pressed button's code, or
  // skin::kIdNoAnswer when a quit message ended it first.
  int MsgBox(const std::string& text, const std::string& caption, std::uint32_t style);

  // The controls of the dialog while MsgBox runs (nullptr otherwise); tests
  // and callers that drive the dialog look here.
  TForm* DialogForm = nullptr;
  TqvForm* Surface = nullptr;
  TLabel* TitleLabel = nullptr;
  TLabel* TextLabel = nullptr;
  TImage* IconImage = nullptr;
  TSpeedButton* CloseButton = nullptr;
  std::array<TQVButton*, 4> Buttons{};  // index 0 rightmost

 private:
  // Builds the dialog step by step, shows it modally and frees it.
  int ShowDialog();
  std::unique_ptr<TForm> CreateDialogForm();
  void CreateSurface();
  void CreateIconImage();
  void CreateTitleLabel();
  void CreateTextLabel();
  skin::DialogButtons CreateButtons();  // what each button shows and answers
  void CreateCloseButton(int result);
  void FitToText(bool button3Visible);
  void FocusFirstButton(const skin::DialogButtons& set);
  void ForgetControls();
  void DialogResize();
  void ButtonClick(TObject* sender);

  int iconColumnWidth_ = 0;  // the icon area's width in the current dialog
};

// The one shared dialog, alive for the whole program.
TqvInfoDlg& InfoDlg();

}  // namespace qv
