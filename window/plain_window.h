// A plain Win32 setup window: standard controls in place of the skin. It
// gives the engine every window operation, so whole runs work while the
// skinned window is being built.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "application.h"
#include "folders.h"
#include "handles.h"
#include "platform.h"
#include "setup_engine.h"
#include "setup_window.h"

namespace qv {

class PlainSetupForm : public SetupWindow {
 public:
  PlainSetupForm(TApplication& app, Platform& platform, std::string programFile);
  ~PlainSetupForm() override;

  // Creates the window; its creation runs the whole setup.
  void Create(const std::vector<std::string>& args);
  HWND Handle() const { return hwnd_; }
  const RunState& State() const { return state_; }

  // SetupWindow
  void BuildControls(const std::string& title, const std::string& linkCaption,
                     const std::string& linkTarget) override;
  void ApplyVisible(bool visible) override;
  void SetStatusText(const std::string& text) override;
  void RepaintStatus() override;
  void UpdateStatus() override;
  void SetStatusRed() override;
  void SetMainMax(int max) override;
  void SetMainPosition(int position) override;
  void StepMain() override;
  void UpdateMain() override;
  void SetThinMax(int max) override;
  void SetThinPosition(int position) override;
  void ShowProgressBars(bool show) override;
  void ShowPathBox(bool show) override;
  void SetPathText(const std::string& text) override;
  std::string PathText() override;
  void SetButtonCaption(const std::string& caption) override;
  void ProcessMessages() override;
  void WaitForEvent() override;
  void Terminate() override;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void FormCreate(const std::vector<std::string>& args);
  void OnClickButtonSys(bool fromButton);
  HWND Child(const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y, int w, int h,
             int id);

  TApplication& app_;
  Platform& platform_;
  RunState state_;
  FolderValues folders_;
  SetupEngine engine_;

  HWND hwnd_ = nullptr;  // destroys itself with WM_CLOSE / the process end
  HWND status_ = nullptr, mainBar_ = nullptr, thinBar_ = nullptr;
  HWND pathBox_ = nullptr, button_ = nullptr;  // children: destroyed with hwnd_
  UniqueGdiObject font_;
  bool statusRed_ = false;
};

}  // namespace qv
