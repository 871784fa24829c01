// Every way a run can end from outside: close requests from other programs
// and the session ending.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>

#include "engine/setup_texts.h"
#include "framework/portable/messages.h"
#include "framework/text_conv.h"
#include "tests/e2e/package_fixture.h"

namespace qv::e2e {
namespace {

constexpr int kManyFiles = 3000;
const std::wstring kWarningTitle = Utf8ToWide(texts::kWarning);
const std::wstring kYes = Utf8ToWide(texts::kYes);
const std::wstring kNo = Utf8ToWide(texts::kNo);
const std::wstring kOk = Utf8ToWide(texts::kOk);
const std::wstring kCancel = Utf8ToWide(texts::kCancel);

bool WaitFor(const std::function<bool()>& ready, unsigned timeoutMs = 20000) {
  for (unsigned waited = 0; waited < timeoutMs; waited += 20, ::Sleep(20))
    if (ready()) return true;
  return ready();
}

int FileCount(const std::string& folder) {
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA((folder + "\\*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do n += !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  while (::FindNextFileA(h, &d));
  ::FindClose(h);
  return n;
}

HWND Button(HWND parent, const std::wstring& caption) {
  return parent ? ::FindWindowExW(parent, nullptr, L"BUTTON", caption.c_str()) : nullptr;
}

// A package that takes a while to copy, and a command that leaves a marker.
struct BusyPackage {
  Package pkg{"ending"};
  explicit BusyPackage(const std::string& install = "Many=many\\,out\n") {
    for (int i = 0; i < kManyFiles; ++i) pkg.File("many\\f" + std::to_string(i) + ".txt", "x");
    pkg.File("files\\a.txt", "a");
    pkg.Script("[GUI]\nTiTle=Ending\n[INSTALL]\n" + install + "[COMMAND]\n1=cmd.exe /c echo x> \"" +
               pkg / "started.txt" + "\",HIDE\n");
  }
  std::string Log() const { return pkg / "run.log"; }
  std::string Args(const std::string& more = "") const { return more + " \"/LOG=" + Log() + "\""; }
  bool Copying() const { return FileCount(pkg / "out") > 0; }
};

TEST(Ending, CloseRequestsDoWhatTheCloseButtonDoes) {
  enum class When { Copying, Prompt };
  enum class Answer { None, Yes, No };
  struct Case {
    const char* what;
    bool silent;
    When when;
    Answer answer;
    int code;
  } cases[] = {
      {"a hidden run closed by taskkill quits between two files", true, When::Copying, Answer::None, 1},
      {"closed while copying, Yes", false, When::Copying, Answer::Yes, 1},
      {"closed while copying, No: the run goes on; closed when finished, it ends", false, When::Copying, Answer::No, 0},
      {"closed at the folder prompt, Yes: nothing is made", false, When::Prompt, Answer::Yes, 1},
  };
  char programFiles[MAX_PATH] = "";
  ::GetEnvironmentVariableA("ProgramFiles", programFiles, MAX_PATH);
  const std::string suggested = std::string(programFiles) + "\\qvEndingPrompt";
  test::RemoveTree(suggested);  // left by an interrupted run
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BusyPackage busy(c.when == When::Prompt ? "qvEndingPrompt=files\\,?\n" : "Many=many\\,out\n");
    RunningProgram program(busy.pkg.CommandLine(busy.Args(c.silent ? "/S" : "")));
    ASSERT_TRUE(program.Started());
    HWND form = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (form = ::FindWindowW(nullptr, L"Ending")) != nullptr; }));
    if (c.when == When::Copying) {
      ASSERT_TRUE(WaitFor([&] { return busy.Copying(); }));
      if (!c.silent) {
        EXPECT_TRUE(Button(form, kCancel)) << "while the run goes on, the button offers to cancel";
      }
    } else {
      ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(form) && Button(form, kOk); }));
    }
    if (c.silent) {
      RunningProgram taskkill("taskkill.exe /PID " + std::to_string(program.Id()));
      EXPECT_TRUE(taskkill.WaitForExit(20000));
    } else {
      ::PostMessageW(form, WM_CLOSE, 0, 0);
    }
    if (c.answer != Answer::None) {
      HWND box = nullptr;
      ASSERT_TRUE(WaitFor([&] { return (box = ::FindWindowW(nullptr, kWarningTitle.c_str())) && ::IsWindowVisible(box); }))
          << "no quit question";
      ::PostMessageW(Button(box, c.answer == Answer::Yes ? kYes : kNo), BM_CLICK, 0, 0);
    }
    if (c.answer == Answer::No) {
      EXPECT_TRUE(WaitFor([&] { return Button(form, kOk) != nullptr; }, 60000));
      EXPECT_FALSE(program.WaitForExit(300)) << "the finished window waits";
      ::PostMessageW(form, WM_CLOSE, 0, 0);
    }
    ASSERT_TRUE(program.WaitForExit(20000)) << "the run did not end";
    EXPECT_EQ(program.ExitCode(), c.code);
    const bool quit = c.code == 1;
    EXPECT_EQ(test::IsFile(busy.pkg / "started.txt"), !quit) << "commands run only when the run was not quit";
    if (c.when == When::Copying) {
      const int copied = FileCount(busy.pkg / "out");
      if (quit) {
        EXPECT_LT(copied, kManyFiles);
      } else {
        EXPECT_EQ(copied, kManyFiles);
      }
    } else {
      EXPECT_FALSE(test::IsFolder(suggested)) << suggested;
    }
    if (c.silent) {
      EXPECT_NE(test::ReadTextFile(busy.Log()).find("close request: the run stops"), std::string::npos);
    }
  }
}

// The shell's folder browser of a program, once it is up.
HWND BrowserOf(unsigned long processId) {
  return static_cast<HWND>(VisibleWindowOf(processId, [](void* w) {
    wchar_t cls[16] = L"";
    ::GetClassNameW(static_cast<HWND>(w), cls, 16);
    return std::wstring(cls) == L"#32770";
  }));
}

// A control's text: GetWindowText gives only the creation text of another
// program's control.
std::wstring TextOf(HWND control) {
  wchar_t text[MAX_PATH] = L"";
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(control, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        &copied);
  return text;
}

TEST(Ending, OnlyThePersonAnswersAnOpenQuestion) {
  enum class Open { Question, Browser };
  // taskkill without /F posts WM_CLOSE to every window of the program.
  enum class Request { Taskkill, QuitMessage, OwnClose };
  struct Case {
    const char* what;
    Open open;
    Request request;
    bool quits;  // the run ends without another close
    const char* logged;
    const char* notLogged;
  } cases[] = {
      {"taskkill while asked to quit: the person's Yes ends the run", Open::Question, Request::Taskkill, true,
       "close request: waits for the person's answer", "user: chose to go on"},
      {"taskkill while browsing: the person's choice is taken", Open::Browser, Request::Taskkill, false,
       "close request: waits for the person's answer", nullptr},
      {"a quit message while asked to quit: the run stops, nobody chose", Open::Question, Request::QuitMessage, true,
       "quit message: the run stops", "user: chose to go on"},
      {"Alt+F4 on the question is the person's No", Open::Question, Request::OwnClose, false,
       "user: chose to go on", nullptr},
  };
  char programFiles[MAX_PATH] = "";
  ::GetEnvironmentVariableA("ProgramFiles", programFiles, MAX_PATH);
  const std::string suggested = std::string(programFiles) + "\\qvEndingAsk";
  test::RemoveTree(suggested);  // left by an interrupted run
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Package pkg("asked");
    pkg.File("files\\a.txt", "a");
    pkg.Script("[GUI]\nTiTle=Ending\n[INSTALL]\nqvEndingAsk=files\\,?\n");
    const std::string log = pkg / "run.log";
    RunningProgram program(pkg.CommandLine("\"/LOG=" + log + "\""));
    ASSERT_TRUE(program.Started());
    HWND form = nullptr, pathBox = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      form = ::FindWindowW(nullptr, L"Ending");
      pathBox = form ? ::FindWindowExW(form, nullptr, L"EDIT", nullptr) : nullptr;
      return pathBox && ::IsWindowVisible(pathBox);
    }));
    const std::wstring suggestedText = TextOf(pathBox);
    HWND open = nullptr, tree = nullptr;
    auto question = [&] { return (open = ::FindWindowW(nullptr, kWarningTitle.c_str())) && ::IsWindowVisible(open); };
    if (c.open == Open::Question) {
      ::PostMessageW(form, WM_CLOSE, 0, 0);
      ASSERT_TRUE(WaitFor(question)) << "no quit question";
    } else {
      // The browse button stands right of the path box.
      RECT r;
      ::GetWindowRect(pathBox, &r);
      POINT at{r.right + 13, (r.top + r.bottom) / 2};
      ::ScreenToClient(form, &at);
      ::PostMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
      ::PostMessageW(form, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
      ASSERT_TRUE(WaitFor([&] { return (open = BrowserOf(program.Id())) != nullptr; })) << "no folder browser";
      // The person starts at the top of the tree.
      tree = ::FindWindowExW(open, nullptr, WC_TREEVIEWW, nullptr);
      ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    }
    if (c.request == Request::Taskkill) {
      RunningProgram taskkill("taskkill.exe /PID " + std::to_string(program.Id()));
      ASSERT_TRUE(taskkill.WaitForExit(20000));
      // Posted after the close requests, so handled after them: the person answers.
      if (c.open == Open::Question) {
        ::PostMessageW(Button(open, kYes), BM_CLICK, 0, 0);
      } else {
        // A dialog's WM_CLOSE posts its Cancel on: two rounds of the person's
        // keys in the tree make sure that has come and gone.
        auto selected = [&] { return ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0); };
        for (int round = 0; round < 2; ++round) {
          const LRESULT before = selected();
          ::PostMessageW(tree, WM_KEYDOWN, VK_DOWN, 0);
          ASSERT_TRUE(WaitFor([&] { return ::IsWindow(tree) && selected() != before; })) << "the browser was closed";
        }
        ::PostMessageW(::GetDlgItem(open, IDOK), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return TextOf(pathBox) != suggestedText; })) << "the choice was lost";
      }
    } else if (c.request == Request::QuitMessage) {
      ::PostMessageW(open, WM_QUIT, 0, 0);
    } else {
      ::PostMessageW(open, WM_SYSCOMMAND, SC_CLOSE, 0);
      EXPECT_TRUE(WaitFor([&] { return !::IsWindow(open); })) << "the person's own close did not answer";
    }
    if (!c.quits) {
      // Still asking for a folder: quit it.
      ::PostMessageW(form, WM_CLOSE, 0, 0);
      ASSERT_TRUE(WaitFor(question)) << "no quit question";
      ::PostMessageW(Button(open, kYes), BM_CLICK, 0, 0);
    }
    ASSERT_TRUE(program.WaitForExit(20000)) << "the run did not end";
    EXPECT_EQ(program.ExitCode(), 1);
    EXPECT_FALSE(test::IsFolder(suggested)) << "a refused installation made its folder";
    const std::string text = test::ReadTextFile(log);
    EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    if (c.notLogged) {
      EXPECT_EQ(text.find(c.notLogged), std::string::npos) << text;
    }
  }
}

TEST(Ending, ASessionEndWaitsForTheInstallation) {
  BusyPackage busy;
  RunningProgram program(busy.pkg.CommandLine(busy.Args("/S")));
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(WaitFor([&] { return busy.Copying(); }));
  // Wine's log-off: every window is asked, and ours says not yet.
  RunningProgram wineboot("wineboot.exe --end-session");
  ASSERT_TRUE(wineboot.WaitForExit(30000));
  EXPECT_NE(wineboot.ExitCode(), 0) << "the session end was not refused";
  ASSERT_TRUE(program.WaitForExit(60000));
  EXPECT_EQ(program.ExitCode(), 0);
  EXPECT_EQ(FileCount(busy.pkg / "out"), kManyFiles);
  EXPECT_NE(test::ReadTextFile(busy.Log()).find("session end held off"), std::string::npos);
}

TEST(Ending, ASessionThatEndsAnywayStopsTheRun) {
  struct Case {
    const char* what;
    bool finished;  // ended after the installation, waiting for its click
    LRESULT query;  // the answer to "may the session end?"
    int code;
  } cases[] = {
      {"while copying", false, FALSE, 1},
      {"once finished", true, TRUE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BusyPackage busy;
    RunningProgram program(busy.pkg.CommandLine(busy.Args()));
    ASSERT_TRUE(program.Started());
    HWND form = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (form = ::FindWindowW(nullptr, L"Ending")) != nullptr; }));
    if (c.finished) {
      ASSERT_TRUE(WaitFor([&] { return Button(form, kOk) != nullptr; }, 60000));
    } else {
      ASSERT_TRUE(WaitFor([&] { return busy.Copying(); }));
    }
    DWORD_PTR answer = 99;
    ::SendMessageTimeoutW(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(c.query));
    // Windows ends the session whatever the answer, as a forced log-off does.
    ::SendMessageTimeoutW(form, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
    ASSERT_TRUE(program.WaitForExit(10000)) << "the program outlived its session";
    EXPECT_EQ(program.ExitCode(), c.code);
    const std::string log = test::ReadTextFile(busy.Log());
    if (!c.finished) {
      EXPECT_LT(FileCount(busy.pkg / "out"), kManyFiles);
      EXPECT_NE(log.find("session ending: the run stops"), std::string::npos) << log;
    }
    EXPECT_NE(log.find("exit code " + std::to_string(c.code)), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace qv::e2e
