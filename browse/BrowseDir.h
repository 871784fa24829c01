// TBrowseDirectoryDlg: a component over the shell's folder browser. The
// user picks a folder (or another shell item) and Selection gives its path.
// Its texts are UTF-8 and reach the shell through the W functions, so a
// folder of any name can be shown, preselected and chosen.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <string>

#include "browse/browse_rules.h"
#include "framework/controls.h"
#include "framework/handles.h"

namespace qv {

class TBrowseDirectoryDlg : public TComponent {
 public:
  using TBDSelChangedEvent = std::function<void(TObject* sender, const std::string& newSel, LPCITEMIDLIST newSelPIDL)>;
  using TBDValidateFailedEvent = std::function<void(TObject* sender, const std::string& path, bool& cancel)>;

  explicit TBrowseDirectoryDlg(TComponent* owner) : TComponent(owner) {}

  std::string Version() const { return "TBrowseDirectoryDlg v1.0"; }
  const std::string& Selection() const { return selection_; }
  void SetSelection(const std::string& value);
  std::string Title;
  TRootID Root = TRootID::idDesktop;
  TBrowseFlags Options() const { return options_; }
  void SetOptions(TBrowseFlags value);
  bool Center = true;
  const std::string& StatusText() const { return statusText_; }
  void SetStatusText(const std::string& value);
  bool FitStatusText() const { return fitStatusText_; }
  void SetFitStatusText(bool value);
  bool EnableOKButton() const { return enableOKButton_; }
  void SetEnableOKButton(bool value);
  int ImageIndex() const { return imageIndex_; }
  std::string Caption() const;
  void SetCaption(const std::string& value);
  bool ShowSelectionInStatus = false;
  const std::string& DisplayName() const { return displayName_; }
  HWND Window() const { return window_; }

  TBDSelChangedEvent OnSelChanged;
  TNotifyEvent OnCreate;
  TBDValidateFailedEvent OnValidateFailed;

  virtual bool Execute();

  // The status text as the status line shows it (shortened to its width).
  std::string FittedStatusText() const;

 protected:
  virtual void DoInitialized(HWND window);
  virtual void DoSelChanged(HWND window, LPCITEMIDLIST item);
  virtual void DoValidateFailed(const std::string& path, bool& cancel);

 private:
  static int CALLBACK Callback(HWND window, UINT msg, LPARAM lp, LPARAM data);
  void ApplySelection();
  void ShowStatusText();
  HWND OwnerWindow() const;
  int ShowBrowseWindow(wchar_t* name);
  std::string TakeChosenItem(wchar_t* name, int shellImage);

  std::string selection_;
  TBrowseFlags options_ = 0;
  std::string statusText_;
  bool fitStatusText_ = true;
  bool enableOKButton_ = true;
  int imageIndex_ = -1;
  std::string caption_;
  std::string displayName_;
  ShellMemory<ITEMIDLIST> selectionList_;
  HWND window_ = nullptr;  // the browse window while it is open
};

// A folder that exists (drive roots by the logical-drive mask), asked with
// critical-error boxes off.
bool BrowseFolderExists(const std::string& path);

}  // namespace qv
