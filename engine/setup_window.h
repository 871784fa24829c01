// What the engine may do to the setup window, and the state the two share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

// The window's face picture (a script may bring its own of this size).
inline constexpr int kFaceWidth = 250;
inline constexpr int kFaceHeight = 100;

// Fields of the setup window that its handlers and the running engine share.
struct RunState {
  bool visible = true;
  bool finished = false;      // the run is over, or the user confirmed quitting
  bool awaitingPath = false;  // a path prompt waits for the user
  std::string entryName;      // the INSTALL entry being processed
  std::string entryLabel;     // its name as the window shows it
  std::string linkCaption;
  std::string linkTarget;
  bool userQuit = false;  // the user answered Yes to quitting
  std::string quitQuestion;  // asked before quitting a run; empty: the installer's
  // The finished window offers to start the program, and the person keeps
  // it chosen: it starts once the window closes.
  bool startAfter = false;
};

// While the run works, window events are handled and progress is painted
// at most this often: each is a round trip to the window system (tens of
// microseconds under Wine), and 25 ms is still quicker than a person notices.
constexpr std::uint32_t kPumpIntervalMs = 25;

// Says yes at most once an interval (and the first time it is asked).
class Throttle {
 public:
  explicit constexpr Throttle(std::uint32_t intervalMs = kPumpIntervalMs) : interval_(intervalMs) {}
  bool Due(std::uint32_t now) {
    if (started_ && now - last_ < interval_) return false;
    Mark(now);
    return true;
  }
  // It happened now, whether it was due or not.
  void Mark(std::uint32_t now) {
    started_ = true;
    last_ = now;
  }

 private:
  std::uint32_t interval_;
  std::uint32_t last_ = 0;
  bool started_ = false;
};

// A plain-text record of the run, one line per action, written as it goes.
class RunLog {
 public:
  virtual ~RunLog() = default;
  virtual void Line(const std::string& text) = 0;
};

class SetupWindow {
 public:
  virtual ~SetupWindow() = default;

  virtual void BuildControls(const std::string& title, const std::string& linkCaption,
                             const std::string& linkTarget) = 0;
  virtual void ApplyVisible(bool visible) = 0;

  virtual void SetStatusText(const std::string& text) = 0;
  virtual void RepaintStatus() = 0;
  virtual void UpdateStatus() = 0;
  virtual void SetStatusRed() = 0;

  virtual void SetMainMax(int max) = 0;
  virtual void SetMainPosition(int position) = 0;
  virtual void StepMain() = 0;
  virtual void UpdateMain() = 0;
  virtual void SetThinMax(int max) = 0;
  virtual void SetThinPosition(int position) = 0;

  virtual void ShowProgressBars(bool show) = 0;
  virtual void ShowPathBox(bool show) = 0;  // the path box and its browse button
  virtual void SetPathText(const std::string& text) = 0;
  virtual std::string PathText() = 0;
  virtual void SetButtonCaption(const std::string& caption) = 0;
  // Asks a question with Yes and No; true for Yes, none when the program
  // is told to quit before anybody answered.
  virtual std::optional<bool> Confirm(const std::string& question) = 0;
  // The finished window's check box, in place of the progress bars, ticked:
  // it keeps RunState::startAfter.
  virtual void OfferToStart(const std::string& caption) = 0;

  // Handles what is pending and returns at once.
  virtual void ProcessMessages() = 0;
  // Sleeps until the next window event arrives (so a waiting prompt costs
  // no processor time).
  virtual void WaitForEvent() = 0;
  virtual void Terminate() = 0;
};

// Shows nothing and is never asked anything: a silent run where no window
// can be made.
class NoWindow : public SetupWindow {
 public:
  void BuildControls(const std::string&, const std::string&, const std::string&) override {}
  void ApplyVisible(bool) override {}
  void SetStatusText(const std::string&) override {}
  void RepaintStatus() override {}
  void UpdateStatus() override {}
  void SetStatusRed() override {}
  void SetMainMax(int) override {}
  void SetMainPosition(int) override {}
  void StepMain() override {}
  void UpdateMain() override {}
  void SetThinMax(int) override {}
  void SetThinPosition(int) override {}
  void ShowProgressBars(bool) override {}
  void ShowPathBox(bool) override {}
  void SetPathText(const std::string&) override {}
  std::string PathText() override { return {}; }
  void SetButtonCaption(const std::string&) override {}
  std::optional<bool> Confirm(const std::string&) override { return true; }
  void OfferToStart(const std::string&) override {}
  void ProcessMessages() override {}
  void WaitForEvent() override {}
  void Terminate() override {}
};

}  // namespace qv
