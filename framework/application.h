// The application object: the event loop, its end, the title shown in the
// taskbar and error boxes, and the one place exceptions are reported.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "framework/classes.h"

namespace qv {

// Offered to the top-level window of a key message for Tab, Enter and
// Escape before the focused control sees it; a form that uses the key
// answers 1. A registered message, so no other window mistakes it.
UINT DialogKeyMessage();

class TApplication : public TObject {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  static TApplication& Instance();  // the one that lives in WinMain

  std::string Title;        // UTF-8
  HWND MainForm = nullptr;  // not owned: the main window destroys itself
  HICON Icon = nullptr;     // not owned: a shared resource icon

  // Activation of the application as a whole (another program's window
  // becoming active deactivates it).
  TNotifyEvent OnActivate, OnDeactivate;
  bool Active() const { return active_; }
  // Forms report WM_ACTIVATEAPP here; each change is announced once.
  void SetActive(bool active);

  // Handles every pending message and returns.
  void ProcessMessages();
  // Waits for one message and handles it.
  void HandleMessage();
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
  // The plain message: an OK box under the application title, modal to the
  // active form (the main form when none is active).
  void ShowMessage(const std::string& text);
  // Runs a handler and reports what it throws, so that nothing thrown
  // crosses a Win32 callback.
  void Guard(const std::function<void()>& handler) noexcept;
  // What a handler threw: told to OnException, shown in the error box
  // unless the program runs silently, and remembered.
  void HandleException(const std::string& message) noexcept;
  std::function<void(const std::string& message)> OnException;
  bool Silent = false;  // nobody is there to click an error box
  bool Failed() const { return failed_; }

 private:
  bool HandleOne(MSG& msg);
  static bool OfferDialogKey(const MSG& msg);
  bool terminated_ = false;
  bool quitPosted_ = false;
  bool active_ = false;
  bool failed_ = false;
};

}  // namespace qv
