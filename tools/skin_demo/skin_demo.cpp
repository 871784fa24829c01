// Builds a small skinned form with the library's controls and saves what
// it shows as a BMP: skin_demo.exe out.bmp
#include <windows.h>
#include <shellapi.h>

#include "framework/application.h"
#include "framework/text_conv.h"
#include "skin/QVButton.h"
#include "skin/QVLabel.h"
#include "skin/qvBtn.h"
#include "skin/qvForm.h"

using namespace qv;

// The form's client area and its windowed children, as they paint.
static void Snapshot(TForm& form, TBitmap& out) {
  out.SetSize(form.Width(), form.Height());
  HDC dc = out.Canvas().Handle();
  ::SendMessageW(form.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  for (TControl* c : form.Controls()) {
    auto* w = dynamic_cast<TWinControl*>(c);
    if (!w || !c->Visible()) continue;
    TBitmap child;
    child.SetSize(c->Width(), c->Height());
    ::SendMessageW(w->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(child.Canvas().Handle()), PRF_CLIENT);
    ::BitBlt(dc, c->Left(), c->Top(), c->Width(), c->Height(), child.Canvas().Handle(), 0, 0, SRCCOPY);
  }
  ::GdiFlush();
}

// The file named on the command line, read wide so that any name works.
static std::string OutputPath() {
  int n = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  std::string path = argv && n > 1 ? WideToUtf8(argv[1]) : "skin_demo.bmp";
  ::LocalFree(argv);
  return path;
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int) {
  TApplication app;
  TForm form(nullptr);
  form.BorderStyle = TForm::TBorderStyle::bsNone;
  form.SetBounds(100, 100, 320, 140);

  auto* surface = new TqvForm(&form);
  auto skin = std::make_unique<TBitmap>();
  skin->LoadFromResourceName(inst, L"bkMessageBox");
  surface->Picture().SetGraphic(std::move(skin));
  surface->Loaded();

  auto* title = new TQVLabel(&form);
  title->SetParent(&form);
  TFont white = form.Font();
  white.Color = clWhite;
  white.Bold = true;
  title->SetFont(white);
  title->SetTransparent(true);
  title->SetCaption("qvSetup 皮肤");
  title->SetLeft((320 - title->Width()) / 2);
  title->SetTop(6);

  auto* link = new TQVLabel(&form);
  link->SetParent(&form);
  TFont blue = form.Font();
  blue.Color = clBlue;
  link->SetFont(blue);
  link->SetTransparent(true);
  link->SetCaption("https://qvsetup.example.org/");
  link->SetBounds(20, 110, link->Width(), link->Height());

  auto* close = new TqvBtn(&form);
  close->SetBounds(320 - 22, 5, 15, 17);
  close->SetBorderStyle(TqvBorderStyle::qbsNone);
  close->SetTransparent(true);
  auto glyph = std::make_unique<TBitmap>();
  glyph->LoadFromResourceName(inst, L"dlgClose");
  close->CurrentPicture().SetGraphic(std::move(glyph));

  auto* flat = new TqvBtn(&form);
  flat->SetBounds(20, 50, 90, 25);
  flat->SetCaption("皮肤按钮");

  auto* push = new TQVButton(&form);
  push->SetParent(&form);
  push->SetBounds(130, 50, 75, 25);
  push->SetCaption("确定");

  form.Show();
  app.ProcessMessages();
  TBitmap shot;
  Snapshot(form, shot);
  shot.SaveToFile(OutputPath());
  return 0;
}
