#include "browse/BrowseDir.h"

#include <shellapi.h>

#include <optional>

#include "browse/browse_rules.h"
#include "framework/application.h"
#include "framework/text_conv.h"

namespace qv {

namespace shell {
static_assert(kCsidlDesktop == CSIDL_DESKTOP && kCsidlInternet == CSIDL_INTERNET && kCsidlPrograms == CSIDL_PROGRAMS &&
              kCsidlControls == CSIDL_CONTROLS && kCsidlPrinters == CSIDL_PRINTERS && kCsidlPersonal == CSIDL_PERSONAL &&
              kCsidlFavorites == CSIDL_FAVORITES && kCsidlStartup == CSIDL_STARTUP && kCsidlRecent == CSIDL_RECENT &&
              kCsidlSendTo == CSIDL_SENDTO && kCsidlBitBucket == CSIDL_BITBUCKET && kCsidlStartMenu == CSIDL_STARTMENU &&
              kCsidlDesktopDirectory == CSIDL_DESKTOPDIRECTORY && kCsidlDrives == CSIDL_DRIVES &&
              kCsidlNetwork == CSIDL_NETWORK && kCsidlNetHood == CSIDL_NETHOOD && kCsidlFonts == CSIDL_FONTS &&
              kCsidlTemplates == CSIDL_TEMPLATES && kCsidlCommonStartMenu == CSIDL_COMMON_STARTMENU &&
              kCsidlCommonPrograms == CSIDL_COMMON_PROGRAMS && kCsidlCommonStartup == CSIDL_COMMON_STARTUP &&
              kCsidlCommonDesktopDirectory == CSIDL_COMMON_DESKTOPDIRECTORY && kCsidlAppData == CSIDL_APPDATA &&
              kCsidlPrintHood == CSIDL_PRINTHOOD);
static_assert(kBifReturnOnlyFsDirs == BIF_RETURNONLYFSDIRS && kBifDontGoBelowDomain == BIF_DONTGOBELOWDOMAIN &&
              kBifStatusText == BIF_STATUSTEXT && kBifReturnFsAncestors == BIF_RETURNFSANCESTORS &&
              kBifEditBox == BIF_EDITBOX && kBifValidate == BIF_VALIDATE && kBifNewDialogStyle == BIF_NEWDIALOGSTYLE &&
              kBifBrowseIncludeUrls == BIF_BROWSEINCLUDEURLS && kBifBrowseForComputer == BIF_BROWSEFORCOMPUTER &&
              kBifBrowseForPrinter == BIF_BROWSEFORPRINTER && kBifBrowseIncludeFiles == BIF_BROWSEINCLUDEFILES &&
              kBifShareable == BIF_SHAREABLE && kBifUseNewUi == BIF_USENEWUI);
}  // namespace shell

namespace {

constexpr int kStatusLineId = 14147;

// Critical-error boxes ("no disk in drive A:") stay away while asking.
class QuietErrors {
 public:
  QuietErrors() : old_(::SetErrorMode(SEM_FAILCRITICALERRORS)) {}
  ~QuietErrors() { ::SetErrorMode(old_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  UINT old_;
};

std::string PathOf(LPCITEMIDLIST item) {
  wchar_t buf[MAX_PATH + 1] = L"";
  if (!item || !::SHGetPathFromIDListW(item, buf)) return {};
  buf[MAX_PATH] = 0;
  return WideToUtf8(buf);
}

bool NtFamily() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  return ::GetVersionExW(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

LPITEMIDLIST SpecialFolderList(HWND owner, int folder) {
  LPITEMIDLIST list = nullptr;
  ::SHGetSpecialFolderLocation(owner, folder, &list);
  return list;
}

// The item's file-system path, written over the display name in the buffer.
// A computer without one goes by two backslashes and its display name; any
// other item without one has no path, as its display name is no place to
// install to.
std::optional<std::string> ItemPath(LPCITEMIDLIST item, wchar_t* name, bool computer) {
  const std::string computerName = "\\\\" + WideToUtf8(name);
  if (::SHGetPathFromIDListW(item, name)) return WideToUtf8(name);
  if (computer) return computerName;
  return std::nullopt;
}

int SystemImageIndex(const std::string& path) {
  SHFILEINFOW info{};
  ::SHGetFileInfoW(Utf8ToWide(path).c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX);
  return info.iIcon;
}

}  // namespace

bool BrowseFolderExists(const std::string& path) {
  QuietErrors quiet;
  if (path.size() == 3 && path[1] == ':' && path[2] == '\\') {
    const char letter = static_cast<char>(path[0] & ~0x20);
    if (letter < 'A' || letter > 'Z') return false;
    return (::GetLogicalDrives() >> (letter - 'A')) & 1;
  }
  std::string p = path;
  if (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.empty()) return false;
  WIN32_FIND_DATAW d;
  const UniqueFind search(::FindFirstFileW(Utf8ToWide(p).c_str(), &d));
  return search && (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HWND TBrowseDirectoryDlg::OwnerWindow() const {
  if (auto* w = dynamic_cast<TWinControl*>(Owner())) return w->Handle();
  // Without a window of its own owner (or without any owner) it still
  // belongs to the program: modal to its main form, when there is one.
  return TApplication::Instance().MainForm;
}

void TBrowseDirectoryDlg::SetSelection(const std::string& value) {
  if (value == selection_) return;
  selection_ = value;
  if (!selection_.empty() && selection_.back() != '\\' && BrowseFolderExists(selection_)) selection_ += '\\';
  if (selection_.empty()) selectionList_.Reset();
  if (ShowSelectionInStatus) SetStatusText(selection_);
  if (window_) ApplySelection();
}

void TBrowseDirectoryDlg::SetOptions(TBrowseFlags value) {
  if (value == options_) return;
  options_ = ImpliedOptions(value);
}

void TBrowseDirectoryDlg::SetStatusText(const std::string& value) {
  if (value == statusText_) return;
  statusText_ = value;
  if (window_) ShowStatusText();
}

void TBrowseDirectoryDlg::SetFitStatusText(bool value) {
  if (value == fitStatusText_) return;
  fitStatusText_ = value;
  if (window_) ShowStatusText();
}

void TBrowseDirectoryDlg::SetEnableOKButton(bool value) {
  enableOKButton_ = value;
  if (window_) ::SendMessageW(window_, BFFM_ENABLEOK, 0, value);
}

std::string TBrowseDirectoryDlg::Caption() const {
  if (!window_) return caption_;
  wchar_t buf[257] = L"";
  ::GetWindowTextW(window_, buf, 257);
  return WideToUtf8(buf);
}

void TBrowseDirectoryDlg::SetCaption(const std::string& value) {
  caption_ = value;
  if (window_) ::SetWindowTextW(window_, Utf8ToWide(caption_).c_str());
}

std::string TBrowseDirectoryDlg::FittedStatusText() const {
  HWND status = window_ ? ::GetDlgItem(window_, kStatusLineId) : nullptr;
  if (!fitStatusText_ || !status || statusText_.empty()) return statusText_;
  RECT r;
  ::GetClientRect(status, &r);
  const WindowDC statusDC(status);
  const HDC dc = statusDC.Get();
  const SelectObjectScope font(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(status, WM_GETFONT, 0, 0)));
  auto measure = [dc](std::string_view text) {
    const std::wstring wide = Utf8ToWide(text);
    SIZE s{0, 0};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &s);
    return static_cast<int>(s.cx);
  };
  const std::string fitted = qv::FitStatusText(statusText_, r.right - r.left, measure,
                                               BrowseFolderExists(statusText_));
  return fitted;
}

void TBrowseDirectoryDlg::ShowStatusText() {
  const std::wstring text = Utf8ToWide(FittedStatusText());
  ::SendMessageW(window_, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void TBrowseDirectoryDlg::ApplySelection() {
  if (selection_.empty() && selectionList_) {
    selection_ = PathOf(selectionList_.Get());
    ::SendMessageW(window_, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(selectionList_.Get()));
    return;
  }
  std::wstring wide = Utf8ToWide(selection_);
  if (wide.size() > MAX_PATH) wide.resize(MAX_PATH);
  // Nothing between here and Release can throw.
  IShellFolder* desktop = nullptr;
  if (FAILED(::SHGetDesktopFolder(&desktop)) || !desktop) return;
  LPITEMIDLIST parsed = nullptr;
  ULONG eaten = 0;
  const bool ok = SUCCEEDED(desktop->ParseDisplayName(window_, nullptr, wide.data(), &eaten, &parsed, nullptr)) && parsed;
  desktop->Release();
  if (ok) selectionList_.Reset(parsed);
  if (selection_.rfind("\\\\", 0) == 0) {
    if (ok) ::SendMessageW(window_, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(selectionList_.Get()));
    return;
  }
  const std::wstring path = Utf8ToWide(NormalisedSelection(selection_));
  ::SendMessageW(window_, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
}

void TBrowseDirectoryDlg::DoInitialized(HWND window) {
  window_ = window;
  // Another program's close request is not the person cancelling.
  CloseOnlyByHand(window);
  if (Center) {
    RECT r;
    ::GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    ::SetWindowPos(window, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::SendMessageW(window, BFFM_ENABLEOK, 0, enableOKButton_);
  if (!statusText_.empty()) ShowStatusText();
  if (!selection_.empty() || selectionList_) ApplySelection();
  if (!caption_.empty()) ::SetWindowTextW(window, Utf8ToWide(caption_).c_str());
  if (OnCreate) OnCreate(this);
}

void TBrowseDirectoryDlg::DoSelChanged(HWND, LPCITEMIDLIST item) {
  if (!ShowSelectionInStatus && !OnSelChanged) return;
  const std::string path = PathOf(item);
  if (ShowSelectionInStatus) SetStatusText(path);
  if (OnSelChanged) OnSelChanged(this, path, item);
}

void TBrowseDirectoryDlg::DoValidateFailed(const std::string& path, bool& cancel) {
  if (OnValidateFailed) OnValidateFailed(this, path, cancel);
}

int CALLBACK TBrowseDirectoryDlg::Callback(HWND window, UINT msg, LPARAM lp, LPARAM data) {
  auto* self = reinterpret_cast<TBrowseDirectoryDlg*>(data);
  if (!self) return 0;
  int result = 0;
  TApplication::Instance().Guard([&] {
    switch (msg) {
      case BFFM_INITIALIZED:
        self->DoInitialized(window);
        break;
      case BFFM_SELCHANGED:
        self->DoSelChanged(window, reinterpret_cast<LPCITEMIDLIST>(lp));
        break;
      case BFFM_VALIDATEFAILEDW: {
        bool cancel = false;
        self->DoValidateFailed(WideToUtf8(reinterpret_cast<const wchar_t*>(lp)), cancel);
        result = cancel ? 0 : 1;
        break;
      }
    }
  });
  return result;
}

bool TBrowseDirectoryDlg::Execute() {
  displayName_.clear();
  const ShellMemory<wchar_t> name(static_cast<wchar_t*>(::CoTaskMemAlloc(MAX_PATH * sizeof(wchar_t))));
  std::optional<std::string> path;  // set when an item was confirmed
  if (name) {
    const ComInit com;
    const int shellImage = ShowBrowseWindow(name.Get());
    if (selectionList_) path = TakeChosenItem(name.Get(), shellImage);
  } else {
    selectionList_.Reset();  // nothing is shown without a name buffer
  }
  window_ = nullptr;
  selection_ = path.value_or(std::string());
  return path.has_value();
}

// Shows the browse window modally and keeps the confirmed item's list (none
// after a cancel); gives the image index the shell reported for the item.
int TBrowseDirectoryDlg::ShowBrowseWindow(wchar_t* name) {
  name[0] = 0;
  const HWND owner = OwnerWindow();
  const ShellMemory<ITEMIDLIST> root(SpecialFolderList(owner, SpecialFolderId(Root, NtFamily())));
  const std::wstring title = Utf8ToWide(Title);
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.pidlRoot = root.Get();
  bi.pszDisplayName = name;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BrowseInfoFlags(options_, !statusText_.empty() || ShowSelectionInStatus);
  bi.lpfn = &TBrowseDirectoryDlg::Callback;
  bi.lParam = reinterpret_cast<LPARAM>(this);
  bi.iImage = -1;
  const QuietErrors quiet;
  selectionList_.Reset(::SHBrowseForFolderW(&bi));
  return bi.iImage;
}

// The confirmed item's path (empty when it has none), icon and display name.
std::string TBrowseDirectoryDlg::TakeChosenItem(wchar_t* name, int shellImage) {
  const std::optional<std::string> path = ItemPath(selectionList_.Get(), name, (options_ & Flag(bfComputers)) != 0);
  imageIndex_ = path && shellImage == -1 ? SystemImageIndex(*path) : shellImage;
  displayName_ = WideToUtf8(name);  // the path, when there is one: it was written over the name
  return path.value_or(std::string());
}

}  // namespace qv
