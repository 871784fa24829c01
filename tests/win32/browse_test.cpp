// The shell's folder browser opened for real and driven from its callback.
#include <gtest/gtest.h>
#include <windows.h>

#include "browse/BrowseDir.h"
#include "framework/application.h"
#include "framework/text_conv.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

TEST(BrowseDir, SelectionSetterAddsTheBackslashOfExistingFolders) {
  test::TempDir dir("sel");
  test::WriteTextFile(dir / "file.txt", "x");
  TBrowseDirectoryDlg dlg(nullptr);
  const std::string folder = dir.Path().substr(0, dir.Path().size() - 1);
  struct Case {
    std::string in, out;
  } cases[] = {{folder, folder + "\\"}, {dir / "file.txt", dir / "file.txt"},
               {dir / "missing", dir / "missing"}, {"", ""}};
  for (const auto& c : cases) {
    dlg.SetSelection(c.in);
    EXPECT_EQ(dlg.Selection(), c.out);
  }
  dlg.SetOptions(Flag(bfIncludeURLs));
  EXPECT_EQ(dlg.Options(), Flag(bfIncludeFiles) | Flag(bfEditBox) | Flag(bfIncludeURLs) | Flag(bfNewDialogStyle) |
                               Flag(bfUseNewUI));
  EXPECT_EQ(dlg.Version(), "TBrowseDirectoryDlg v1.0");
}

TEST(BrowseDir, ConfirmingAPreselectedFolder) {
  test::TempDir dir("browse");
  test::MakeFolders(dir / "Pick Me");
  TBrowseDirectoryDlg dlg(nullptr);
  dlg.Title = "请选择";
  dlg.SetSelection(dir / "Pick Me");
  dlg.SetStatusText("status line text");
  std::string shownStatus, shownTitle;
  RECT where{};
  dlg.OnCreate = [&](TObject*) {
    HWND w = dlg.Window();
    char buf[256] = "";
    ::GetDlgItemTextA(w, 14147, buf, sizeof buf);
    shownStatus = buf;
    ::GetWindowRect(w, &where);
    ::PostMessageW(w, WM_COMMAND, IDOK, 0);
  };
  ASSERT_TRUE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), dir / "Pick Me");
  EXPECT_EQ(dlg.Window(), nullptr);
  EXPECT_EQ(shownStatus, "status line text");
  // The shell writes the path over the display name, and an icon is known.
  EXPECT_EQ(dlg.DisplayName(), dir / "Pick Me");
  EXPECT_GE(dlg.ImageIndex(), 0);
  // Centred on the screen.
  const int cx = ::GetSystemMetrics(SM_CXSCREEN), w = where.right - where.left;
  EXPECT_EQ(where.left, (cx - w) / 2);
}

TEST(BrowseDir, CancellingGivesNothing) {
  TBrowseDirectoryDlg dlg(nullptr);
  dlg.SetSelection("C:\\");
  dlg.OnCreate = [&](TObject*) { ::PostMessageW(dlg.Window(), WM_COMMAND, IDCANCEL, 0); };
  EXPECT_FALSE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), "");
}

TEST(BrowseDir, TheBrowseWindowBelongsToItsOwnerOrElseTheMainForm) {
  TForm main(nullptr);
  main.Handle();
  TForm other(nullptr);
  TComponent plain(nullptr);
  TApplication::Instance().MainForm = main.Handle();
  struct Case {
    const char* what;
    TComponent* owner;
    HWND window;
  } cases[] = {{"no owner", nullptr, main.Handle()},
               {"a form", &other, other.Handle()},
               {"a component without a window", &plain, main.Handle()}};
  for (const auto& c : cases) {
    TBrowseDirectoryDlg* dlg = new TBrowseDirectoryDlg(c.owner);
    HWND owner = nullptr;
    dlg->OnCreate = [&](TObject*) {
      owner = ::GetWindow(dlg->Window(), GW_OWNER);
      ::PostMessageW(dlg->Window(), WM_COMMAND, IDCANCEL, 0);
    };
    dlg->Execute();
    EXPECT_EQ(owner, c.window) << c.what;
    if (!c.owner) delete dlg;  // an owner frees its own
  }
  TApplication::Instance().MainForm = nullptr;
}

TEST(BrowseDir, SelectionChangesReachTheStatusLine) {
  test::TempDir dir("status");
  test::MakeFolders(dir / "a");
  TBrowseDirectoryDlg dlg(nullptr);
  dlg.ShowSelectionInStatus = true;
  std::vector<std::string> seen;
  dlg.OnSelChanged = [&](TObject*, const std::string& path, LPCITEMIDLIST item) {
    EXPECT_NE(item, nullptr);
    seen.push_back(path);
  };
  dlg.OnCreate = [&](TObject*) {
    dlg.SetSelection(dir / "a");  // acts on the open window
    ::PostMessageW(dlg.Window(), WM_COMMAND, IDOK, 0);
  };
  ASSERT_TRUE(dlg.Execute());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), dir / "a");
  EXPECT_EQ(dlg.StatusText(), dir / "a");
}

TEST(BrowseDir, AFolderNamedOutsideTheCodePagesIsPreselectedShownAndChosen) {
  test::TempDir dir("wide");
  // ☃ is in neither code page 936 nor 1252, and Ω and 说明 are not in 1252.
  const std::string name = "Ωmega ☃ 说明";
  const std::wstring wideName = L"Ωmega ☃ 说明";
  struct Folder {
    std::wstring path;
    ~Folder() { ::RemoveDirectoryW(path.c_str()); }  // the test folder's own cleanup cannot name it
  } made{Utf8ToWide(dir.Path()) + wideName};
  ASSERT_TRUE(::CreateDirectoryW(made.path.c_str(), nullptr));

  TBrowseDirectoryDlg dlg(nullptr);
  dlg.ShowSelectionInStatus = true;
  dlg.SetSelection(dir / name);
  EXPECT_EQ(dlg.Selection(), dir / name + "\\");  // known as an existing folder
  dlg.SetCaption("选择 ☃");
  std::wstring status, caption;
  dlg.OnCreate = [&](TObject*) {
    wchar_t buf[512] = L"";
    ::GetDlgItemTextW(dlg.Window(), 14147, buf, 512);
    status = buf;
    ::GetWindowTextW(dlg.Window(), buf, 512);
    caption = buf;
    ::PostMessageW(dlg.Window(), WM_COMMAND, IDOK, 0);
  };
  ASSERT_TRUE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), dir / name);
  EXPECT_EQ(dlg.DisplayName(), dir / name);
  EXPECT_EQ(caption, L"选择 ☃");
  EXPECT_EQ(status, made.path);  // the selected folder, as the status line shows it
}

}  // namespace
}  // namespace qv
