// The widget layer: components that own what they create, controls with
// bounds, alignment, anchors, fonts and mouse notifications, windowless
// graphic controls painted by their parent in z-order (double-buffered),
// windowed controls over real Win32 windows, and forms.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/graphics.h"

namespace qv {

class TControl;
class TWinControl;
class TForm;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = unsigned;  // MK_* bits of the mouse message
using TMouseEvent = std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

using TCursor = int;
constexpr TCursor crDefault = 0, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6, crSizeNS = -7,
                  crSizeNWSE = -8, crSizeWE = -9, crDrag = -12, crHandPoint = -21;
// The system cursor for a framework cursor number.
HCURSOR CursorHandle(TCursor cursor);

enum class TAlign { alNone, alClient };
enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = unsigned;

enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7 };

// A font description; controls with ParentFont follow their parent's.
struct TFont {
  std::string Name = "宋体";
  int Height = -12;
  TColor Color = clWindowText;
  bool Bold = false;
  BYTE Charset = GB2312_CHARSET;

  bool operator==(const TFont&) const = default;
  // Points at 96 dots per inch, as the framework counts them.
  void SetSize(int points) { Height = -MulDiv(points, 96, 72); }
  void ApplyTo(TCanvas& canvas) const;
  UniqueFont Create() const;
};

// Owns the components created with it as owner and frees them with itself.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  // Frees every owned component now.
  void DestroyComponents();
  std::string Name;
  int Tag = 0;

 private:
  TComponent* owner_;
  std::vector<TComponent*> owned_;  // freed last-made first
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  RECT BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }
  RECT ClientRect() const { return {0, 0, width_, height_}; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  TAnchors Anchors = akLeft | akTop;

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);

  TCursor Cursor = crDefault;
  TColor Color() const { return color_; }
  virtual void SetColor(TColor color);
  const TFont& Font() const;
  void SetFont(const TFont& font);
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);

  const std::string& Caption() const { return text_; }
  void SetCaption(const std::string& text);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value);

  TNotifyEvent OnClick, OnDblClick, OnResize;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  virtual void Invalidate();
  void Update();
  // Invalidates the control's area whatever is pending (it moved or grew).
  void InvalidateArea();
  void Repaint();
  POINT ClientToScreen(POINT p) const;
  POINT ScreenToClient(POINT p) const;
  // The form this control sits on, or nullptr.
  TForm* ParentForm() const;

  // Mouse input, routed by the parent for graphic controls and by the
  // window for windowed ones. Each raises the matching On... notification.
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void Click();
  virtual void DblClick();
  // The framework's notices that the pointer entered or left the control.
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  // The control's text changed.
  virtual void TextChanged() { Invalidate(); }
  virtual void FontChanged() { Invalidate(); }
  virtual void Resize() {
    if (OnResize) OnResize(this);
  }

  // Called when every property of a control built in code is set.
  virtual void Loaded() {}

 protected:
  friend class TWinControl;
  // Graphic controls paint onto their parent; windowed ones have their own.
  virtual bool Windowed() const { return false; }
  virtual void ParentFontChanged();
  virtual void BoundsChanged() {}

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  // Anchor distances to the parent's right and bottom, kept when placed.
  int anchorRight_ = 0, anchorBottom_ = 0;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  TColor color_ = clBtnFace;
  TFont font_;
  bool parentFont_ = true;
  std::string text_;
  std::string hint_;
  bool showHint_ = false;
  bool invalidPending_ = false;  // invalidated and not yet painted
};

class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner) : TControl(owner) {}
  // The canvas being painted on, in this control's coordinates; valid only
  // inside Paint.
  TCanvas& Canvas() { return *paintCanvas_; }

 protected:
  friend class TWinControl;
  virtual void Paint() {}
  TCanvas* paintCanvas_ = nullptr;  // not owned: the parent's paint canvas
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  HWND Handle();  // made on first use
  bool HandleAllocated() const { return hwnd_ != nullptr; }
  const std::vector<TControl*>& Controls() const { return controls_; }
  int ClientWidth() const { return width_; }
  int ClientHeight() const { return height_; }

  void SetBounds(int left, int top, int width, int height) override;
  void SetVisible(bool visible) override;
  void SetEnabled(bool enabled) override;
  void Invalidate() override;
  void TextChanged() override;
  bool Focused() const;
  void SetFocus();
  // The graphic control under a client point (topmost first), or nullptr.
  TControl* ControlAt(POINT p) const;

  // What a push button is to its form's Enter and Escape keys: Enter
  // presses the focused button or else the default one, Escape the cancel
  // one. Controls that are no push button have no such part.
  struct TDialogButton {
    bool isDefault = false;
    bool isCancel = false;
  };
  virtual std::optional<TDialogButton> DialogButton() const { return std::nullopt; }
  // The form marks its active button: the focused one, or the default one
  // while no other button has the focus.
  virtual void SetButtonStyle(bool /*isActive*/) {}

 protected:
  friend class TControl;
  bool Windowed() const override { return true; }
  struct CreateParamsData {
    const wchar_t* className = nullptr;  // nullptr: our own window class
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    std::wstring text;
  };
  virtual void CreateParams(CreateParamsData& params);
  virtual void CreateHandle();
  virtual void DestroyHandle();
  // After the window exists: give it the control's state.
  virtual void HandleCreated() {}
  // One switch for the messages of this window, from WM_NCCREATE on;
  // unhandled ones go on to DefaultHandler.
  virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefaultHandler(UINT msg, WPARAM wp, LPARAM lp);
  // CN ("control notification") handlers: WM_COMMAND, WM_DRAWITEM and
  // WM_CTLCOLOR... reflected by the parent to the child control they
  // concern; true (or a brush) when the child took it.
  virtual bool CNCommand(WORD) { return false; }
  virtual bool CNDrawItem(DRAWITEMSTRUCT&) { return false; }
  virtual HBRUSH CNCtlColor(HDC) { return nullptr; }
  // Paints the background and the graphic children.
  virtual void PaintWindow(HDC dc, const RECT& update);
  virtual void PaintBackground(TCanvas& canvas, const RECT& r);
  void AlignControls();
  void ParentFontChanged() override;

  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);
  void TrackMouse(TControl* over);
  void UpdateHints();

  HWND hwnd_ = nullptr;  // destroyed in DestroyHandle
  WNDPROC standardProc_ = nullptr;  // the class's own procedure for subclassed standard controls
  std::vector<TControl*> controls_;  // z-order, bottom first; not owned
  TControl* captured_ = nullptr;     // graphic child holding the mouse
  TControl* mouseOver_ = nullptr;    // graphic child under the pointer
  bool trackingLeave_ = false;
  bool pointerInside_ = false;
  UniqueWindow tooltip_;  // one per parent of hinted controls
  UniqueFont standardFont_;  // the font given to a standard control

 private:
  // The class procedure of our own windows: binds the object at WM_NCCREATE.
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // The procedure of standard controls, subclassed after creation.
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // Hands a message to the window's object, or to the default procedure.
  static LRESULT Deliver(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void AttachHandle(HWND hwnd);
  void SubclassStandardControl(HWND hwnd);
  // WM_PAINT of our own windows, through an off-screen buffer.
  void PaintBuffered();
  // WM_SETCURSOR: the cursor of the graphic child under the pointer, else
  // the control's own; true when set.
  bool ChooseCursor(HWND over, WORD hitTest);
  // WM_COMMAND, WM_DRAWITEM and WM_CTLCOLOR... to the CN handler of the
  // child they concern; nullopt when it did not take them.
  std::optional<LRESULT> ReflectToChild(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT MouseMessage(UINT msg, WPARAM wp, LPARAM lp);
  void SetPosOnWindow();
};

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  enum class TBorderStyle { bsNone, bsSingle, bsDialog };
  TBorderStyle BorderStyle = TBorderStyle::bsSingle;
  bool StayOnTop = false;
  int MinWidth = 0;  // constraint on the window width
  HICON Icon = nullptr;  // not owned

  bool Active() const { return active_; }
  TWindowState WindowState() const;
  void SetWindowState(TWindowState state);
  void SetClientSize(int width, int height);

  TNotifyEvent OnCreate, OnActivate, OnDeactivate, OnClose;
  int ModalResult = mrNone;
  TWinControl* ActiveControl = nullptr;  // takes the focus when the form shows
  int ShowModal();
  // Enter, Escape and Tab as dialogs take them; true when used.
  bool DialogKey(WPARAM key);
  // Marks the focused button, or the default one, as the active button.
  void UpdateButtonStyles();
  void Close();
  void Release();  // destroyed once its messages are handled

 protected:
  void CreateParams(CreateParamsData& params) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
  // Tab and Shift+Tab: the next (or previous) visible, enabled tab stop.
  bool FocusNextTabStop(bool back);
  // Enter (or Escape): the button it presses, if that one is enabled.
  bool PressDialogButton(bool enter);
  bool active_ = false;
  bool modal_ = false;
  TWindowState windowState_ = TWindowState::wsNormal;
};

// A question only the person answers: taskkill and other programs post
// WM_CLOSE to every window of ours, and such a close is dropped. The
// person's own close (close box, Alt+F4, window menu) arrives as
// WM_SYSCOMMAND SC_CLOSE and its WM_CLOSE passes. Lasts as long as the window.
void CloseOnlyByHand(HWND window);


}  // namespace qv
