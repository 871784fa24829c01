// TForm1: the setup window. Borderless, always on top, skinned; its
// creation handler FormCreate runs the whole setup and it gives the engine
// every window operation it needs. Texts either way are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/folders.h"
#include "engine/platform.h"
#include "engine/setup_engine.h"
#include "engine/setup_window.h"
#include "framework/application.h"
#include "framework/controls.h"
#include "framework/stdctrls.h"
#include "skin/QVButton.h"
#include "skin/QVCheckBox.h"
#include "skin/QVLabel.h"
#include "skin/qvBtn.h"
#include "skin/qvForm.h"

namespace qv {

class TForm1 : public TForm, public SetupWindow {
 public:
  // Builds the window as its form resource describes it; FormCreate then runs.
  // `face`: a picture file's bytes (JPEG or BMP) to show instead of the
  // stored face, when it decodes and has the face's size.
  explicit TForm1(TApplication& app, const std::string& face = {});

  // Runs the setup engine, which works through this window and its state.
  void FormCreate(SetupEngine& engine, const std::vector<std::string>& args);
  // Runs a job in the window's place of the setup run (the uninstaller):
  // shutdown held off while it goes, its errors reported as the run's.
  void RunJob(const std::function<void()>& job);
  RunState& State() { return state_; }
  const RunState& State() const { return state_; }
  bool ErrorEnded() const { return errorEnded_; }
  void SetLog(RunLog* log) { log_ = log; }
  // Started with /S: nobody is there to read an error box.
  void SetSilent(bool silent) { silent_ = silent; }
  // The session is ending and the run has stopped: the program must end
  // now, before Windows ends it with no exit code of ours.
  std::function<void()> OnSessionEnd;

  // Design-time children.
  TqvForm* qvForm1 = nullptr;
  TQVButton* QVButton_sys = nullptr;
  // Run-time children, made by BuildControls.
  TLabel* TitleLabel = nullptr;
  TProgressBar* MainBar = nullptr;
  TProgressBar* ThinBar = nullptr;
  TImage* AppIcon = nullptr;
  TQVLabel* QVLabel1 = nullptr;
  TqvBtn* MinButton = nullptr;
  TqvBtn* CloseButton = nullptr;
  TLabel* StatusLabel = nullptr;
  TEdit* PathBox = nullptr;
  TSpeedButton* BrowseButton = nullptr;
  TQVCheckBox* StartBox = nullptr;  // made when the finished window offers it

  // Handlers.
  void OnClick_Button_sys(TObject* sender);
  void OnClick_Min(TObject* sender);
  void QVLabel1MouseEnter(TObject* sender);
  void QVLabel1MouseLeave(TObject* sender);
  void QVLabel1Click(TObject* sender);
  void OnClickAbout(TObject* sender);
  void OnClick_Browse(TObject* sender);
  // Alt+F4, the taskbar's "Close window", or WM_CLOSE from another program.
  void CloseRequested();

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
  std::optional<bool> Confirm(const std::string& question) override;
  void OfferToStart(const std::string& caption) override;
  void ProcessMessages() override;
  void WaitForEvent() override;
  void Terminate() override;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // The steps of BuildControls, in creation order.
  void BuildTitleLabel(const std::string& title);
  int WidenToTitle();
  void BuildProgressBars(int width);
  void BuildAppIcon();
  void BuildLinkLabel(const std::string& linkCaption, const std::string& linkTarget);
  void BuildTitleButtons(int width);
  TqvBtn* NewTitleButton(int left, const wchar_t* glyph);
  void BuildStatusLabel();
  void BuildPathBox();

  bool Installing() const { return running_ && !state_.finished; }
  void StopRun(const std::string& why);
  void SessionEnding();
  void CloseAndEnd();
  // Painting at once costs a trip to the display for every file; forty
  // frames a second look as smooth, so closer updates wait for the next one
  // (or for the event loop).
  Throttle statusPaints_, mainBarPaints_;

  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }
  RunLog* log_ = nullptr;
  bool errorEnded_ = false;
  bool silent_ = false;
  bool running_ = false;  // the engine is carrying out the script
  TApplication& app_;
  RunState state_;
};

}  // namespace qv
