// The application object: the event loop, its end, the title shown in the
// taskbar and error boxes, and the one place exceptions are reported.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace qv {

class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  static TApplication& Instance();  // the one that lives in WinMain

  std::string Title;     // GBK
  HWND MainForm = nullptr;  // not owned: the main window destroys itself
  HICON Icon = nullptr;     // not owned: a shared resource icon

  // Handles every pending message and returns.
  void ProcessMessages();
  // Sleeps until a message arrives.
  void WaitForEvent();
  // Shows the main window unless the run has already ended, then handles
  // messages until Terminate.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // The standard error box: the error text under the application title.
  void ShowException(const std::exception& e);
  void ShowException(const std::string& message);
  // Runs a handler and reports what it throws, so that nothing thrown
  // crosses a Win32 callback.
  void Guard(const std::function<void()>& handler) noexcept;

 private:
  bool HandleOne(MSG& msg);
  bool terminated_ = false;
  bool quitPosted_ = false;
};

}  // namespace qv
