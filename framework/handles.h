// RAII for the Win32 handles the program owns. Copies are deleted; a handle
// that is borrowed rather than owned is a plain HANDLE/HWND and says so.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace qv {

template <typename T, typename Traits>
class ScopedHandle {
 public:
  ScopedHandle() : h_(Traits::Invalid()) {}
  explicit ScopedHandle(T h) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& o) noexcept : h_(o.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }

  T Get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Invalid(); }
  T* Receive() {
    Reset();
    return &h_;
  }
  T Release() { return std::exchange(h_, Traits::Invalid()); }
  void Reset(T h = Traits::Invalid()) {
    if (h_ != Traits::Invalid()) Traits::Close(h_);
    h_ = h;
  }

 private:
  T h_;
};

struct KernelHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
// Process, thread and other kernel handles whose failure value is null.
struct NullableHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
struct RegKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY h) { ::RegCloseKey(h); }
};
template <typename T>
struct GdiObjectTraits {
  static T Invalid() { return nullptr; }
  static void Close(T h) { ::DeleteObject(h); }
};
struct IconTraits {
  static HICON Invalid() { return nullptr; }
  static void Close(HICON h) { ::DestroyIcon(h); }
};
struct MemoryDCTraits {
  static HDC Invalid() { return nullptr; }
  static void Close(HDC h) { ::DeleteDC(h); }
};
struct WindowTraits {
  static HWND Invalid() { return nullptr; }
  static void Close(HWND h) { ::DestroyWindow(h); }
};
struct GlobalMemoryTraits {
  static HGLOBAL Invalid() { return nullptr; }
  static void Close(HGLOBAL h) { ::GlobalFree(h); }
};

// Memory the system allocated for us with LocalAlloc (security
// descriptors, SID strings, messages).
struct LocalMemoryTraits {
  static HLOCAL Invalid() { return nullptr; }
  static void Close(HLOCAL h) { ::LocalFree(h); }
};

// The Service Control Manager's and its services' handles.
struct ServiceHandleTraits {
  static SC_HANDLE Invalid() { return nullptr; }
  static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};

using UniqueFile = ScopedHandle<HANDLE, KernelHandleTraits>;
using UniqueHandle = ScopedHandle<HANDLE, NullableHandleTraits>;
using UniqueFind = ScopedHandle<HANDLE, FindHandleTraits>;
using UniqueKey = ScopedHandle<HKEY, RegKeyTraits>;
using UniqueGdiObject = ScopedHandle<HGDIOBJ, GdiObjectTraits<HGDIOBJ>>;
using UniqueBitmap = ScopedHandle<HBITMAP, GdiObjectTraits<HBITMAP>>;
using UniqueFont = ScopedHandle<HFONT, GdiObjectTraits<HFONT>>;
using UniquePalette = ScopedHandle<HPALETTE, GdiObjectTraits<HPALETTE>>;
using UniqueIcon = ScopedHandle<HICON, IconTraits>;
using UniqueMemoryDC = ScopedHandle<HDC, MemoryDCTraits>;
using UniqueWindow = ScopedHandle<HWND, WindowTraits>;
using UniqueGlobal = ScopedHandle<HGLOBAL, GlobalMemoryTraits>;
using UniqueLocal = ScopedHandle<HLOCAL, LocalMemoryTraits>;
using UniqueService = ScopedHandle<SC_HANDLE, ServiceHandleTraits>;

// A window's DC (GetDC), released to that window.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;  // not owned; nullptr is the screen
  HDC dc_;
};

// COM for this thread while in scope; uninitialised only if it was
// initialised here.
class ComInit {
 public:
  ComInit() : ok_(SUCCEEDED(::CoInitialize(nullptr))) {}
  ~ComInit() {
    if (ok_) ::CoUninitialize();
  }
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;

 private:
  bool ok_;
};

// One reference to a COM object, released when the holder goes.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the functions that hand out a new reference.
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

// Memory the shell allocated for us (an item-ID list and the like), given
// back with CoTaskMemFree.
template <typename T>
class ShellMemory {
 public:
  ShellMemory() = default;
  explicit ShellMemory(T* p) : p_(p) {}
  ~ShellMemory() { ::CoTaskMemFree(p_); }
  ShellMemory(const ShellMemory&) = delete;
  ShellMemory& operator=(const ShellMemory&) = delete;
  T* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset(T* p = nullptr) {
    ::CoTaskMemFree(p_);
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

// Selects an object into a DC and puts the previous one back.
class SelectObjectScope {
 public:
  SelectObjectScope(HDC dc, HGDIOBJ obj) : dc_(dc), old_(::SelectObject(dc, obj)) {}
  ~SelectObjectScope() { ::SelectObject(dc_, old_); }
  SelectObjectScope(const SelectObjectScope&) = delete;
  SelectObjectScope& operator=(const SelectObjectScope&) = delete;

 private:
  HDC dc_;  // not owned
  HGDIOBJ old_;
};

// A memory DC holding one bitmap for its whole life: the DC's own bitmap
// goes back in before the DC is deleted, so the held one can be deleted
// after it. Without a bitmap it is a plain memory DC.
class BitmapDC {
 public:
  BitmapDC(HDC compatibleWith, HBITMAP bitmap)
      : dc_(::CreateCompatibleDC(compatibleWith)), old_(dc_ && bitmap ? ::SelectObject(dc_.Get(), bitmap) : nullptr) {}
  ~BitmapDC() {
    if (old_) ::SelectObject(dc_.Get(), old_);
  }
  BitmapDC(const BitmapDC&) = delete;
  BitmapDC& operator=(const BitmapDC&) = delete;
  HDC Get() const { return dc_.Get(); }

 private:
  UniqueMemoryDC dc_;
  HGDIOBJ old_;  // the DC's own bitmap, not owned
};

// A window's painting between BeginPaint and its EndPaint.
class PaintScope {
 public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd), dc_(::BeginPaint(hwnd, &ps_)) {}
  ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC Get() const { return dc_; }
  const RECT& Area() const { return ps_.rcPaint; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;  // the system's, released by EndPaint
};

// Keeps the thread's last error across what it lives over: a question
// asked after a failure, or the clean-up after one, must not change what
// the failure reports.
class KeepLastError {
 public:
  KeepLastError() : error_(::GetLastError()) {}
  ~KeepLastError() { ::SetLastError(error_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;
  DWORD Error() const { return error_; }

 private:
  DWORD error_;
};

}  // namespace qv
