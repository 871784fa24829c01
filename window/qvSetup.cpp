// qvSetup: the setup program, and the uninstaller an installation leaves
// (the same program, marked so in its own file). The setup program reads its
// script (sealed into itself with the files, or beside it: named like the
// program or on the command line), settles for whom and for which processor
// it installs and asks for rights or gives them up as that needs, installs
// what the script lists, and ends when the user closes the window or at once
// after a hidden run. The uninstaller takes away what its record names.
// Deployment tools read the exit code and the log.
#include <windows.h>

#include <cstdlib>
#include <memory>

#include "engine/command_line.h"
#include "engine/errors.h"
#include "engine/install_recorder.h"
#include "engine/logging_platform.h"
#include "engine/packaged_platform.h"
#include "engine/scope.h"
#include "engine/script.h"
#include "engine/setup_engine.h"
#include "engine/setup_texts.h"
#include "engine/text.h"
#include "engine/uninstaller.h"
#include "engine/win32/win32_platform.h"
#include "framework/application.h"
#include "framework/dll_safety.h"
#include "framework/jpeg.h"
#include "framework/text_conv.h"
#include "package/package.h"
#include "package/win32/file_bytes.h"
#include "skin/qvInfoDlg.h"
#include "window/Unit1.h"

namespace {

class Program {
 public:
  explicit Program(qv::TApplication& app) : app_(app) {}

  int Main() {
    args_ = qv::SplitCommandLine(qv::WideToUtf8(::GetCommandLineW()));
    if (!args_.empty()) args_.erase(args_.begin());
    if (!args_.empty() && args_[0] == qv::kSweepSwitch) return Sweep(args_);
    options_ = qv::ParseOptions(args_);
    // Our own channel, not the person's argument: passed on to no run.
    if (options_.handBack) args_.erase(args_.begin() + 1);
    app_.Silent = options_.silent;

    std::string bad = options_.badOption;
    if (bad.empty() && options_.logFile) {
      log_ = std::make_unique<qv::FileLog>(options_.logFile->c_str(),
                                           options_.elevatedRestart || options_.limitedRestart);
      if (!log_->Opened()) bad = "/LOG=" + *options_.logFile;
    }
    if (!bad.empty()) {
      Log("bad command line: " + bad);
      Warn(BadOption(bad));
      return qv::kExitBadCommandLine;
    }
    app_.OnException = [this](const std::string& message) { Log("error: " + message); };
    if (options_.elevatedRestart) Log("started again through the elevation prompt: " + qv::JoinCommandLine(args_).value_or("?"));
    if (options_.limitedRestart)
      Log("started again without administrator rights: " + qv::JoinCommandLine(args_).value_or("?"));

    const std::string programFile = qv::ProgramFileName();
    if (!OpenPackage(programFile)) {
      Log("package damaged: " + programFile);
      Warn(qv::texts::Say(qv::texts::Setup::PackageDamaged));
      Log("exit code " + std::to_string(qv::kExitPackageDamaged));
      return qv::kExitPackageDamaged;
    }
    if (IsUninstaller()) return Uninstall(programFile);
    qv::Platform& machine = packaged_ ? static_cast<qv::Platform&>(*packaged_) : system_;
    const qv::RightsDecision rights = DecideRights(machine, programFile);
    bool refused = false;
    if (const std::optional<int> code = qv::ActOnRights(system_, rights, args_, log_.get(), &refused)) {
      if (refused) Warn(RefusalText(rights));
      Log("exit code " + std::to_string(*code));
      return *code;
    }
    if (rights.placement.architecture == qv::Architecture::X64) system_.system.UseNativeView();
    placement_ = rights.placement;
    logging_ = std::make_unique<qv::LoggingPlatform>(machine, log_.get(), report_);
    recorder_ = std::make_unique<qv::InstallRecorder>(*logging_, machine, log_.get());
    recorder_->SetUninstallerWriter(
        [this, programFile](qv::Platform& platform, const std::string& to) { return WriteUninstaller(platform, programFile, to); });
    // A packed file found damaged halfway is undone also without a record.
    if (packaged_) recorder_->KeepJournalIn([this] { return packaged_->MadePrivateFolder(); });
    std::unique_ptr<qv::TForm1> form = MakeWindow();
    if (!form) {
      if (!options_.silent) return Finish(false);
      return RunWithoutWindow(*recorder_, programFile);
    }
    form->FormCreate(MakeEngine(*recorder_, *form, form->State(), programFile), options_.scriptArgs);
    app_.Run();
    engine_->StartChosen();
    return Finish(*form);
  }

  // Anything that escaped every handler: the run cannot be trusted.
  int Unexpected(const std::string& message) {
    app_.OnException = nullptr;
    app_.HandleException(message);
    Log("error: " + message);
    report_.error = true;
    return Finish(false);
  }

 private:
  // Looks for a package sealed into the program; false when one is there
  // but damaged. The whole package is checked before anything is written.
  // Without one the program runs from its folder, as it always did.
  bool OpenPackage(const std::string& programFile) {
    // Nobody may change the package between its check and its unpacking,
    // so writers are refused; delete access is shared, as the loader shares
    // it, because it changes no byte we read and a handle holding it must
    // not make the program unreadable to itself. A program that cannot read
    // itself is not taken for one without a package: a script planted
    // beside it would run instead of the sealed one.
    if (const std::optional<std::wstring> wide = qv::WidePath(programFile))
      programBytes_ = qv::pack::FileBytes(
          qv::UniqueFile(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!programBytes_) {
      Log("program file not readable (error " + std::to_string(::GetLastError()) + "): " + programFile);
      return false;
    }
    const std::optional<std::uint64_t> start = qv::pack::OverlayStart(*programBytes_);
    // Where the program's own PE ends: a package, a signature or an
    // uninstaller's mark may follow.
    programEnd_ = start.value_or(0);
    const qv::pack::OpenStatus status =
        start ? package_.Open(*programBytes_, programEnd_) : qv::pack::OpenStatus::NoPackage;
    if (status == qv::pack::OpenStatus::NoPackage) {
      std::string mark(sizeof qv::kUninstallerMark - 1, '\0');
      markedUninstaller_ = programEnd_ > 0 && programBytes_->Size() == programEnd_ + mark.size() &&
                           programBytes_->ReadAt(programEnd_, mark.data(), mark.size()) &&
                           mark == qv::kUninstallerMark;
      // An uninstaller moves its own file away at the end: not while we hold it.
      if (markedUninstaller_) programBytes_.reset();
      return true;
    }
    if (status == qv::pack::OpenStatus::Damaged) return false;
    if (!package_.Verify()) return false;
    packaged_ = std::make_unique<qv::PackagedPlatform>(system_, package_, qv::FolderPart(programFile));
    packaged_->SetLog(log_.get());
    // No script named: the packed one, whatever the program is called now.
    packaged_->SetOwnScript(qv::ScriptFileName(programFile, {}));
    if (!packaged_->UnpackScript(qv::ScriptFileName(programFile, options_.scriptArgs))) return false;
    Log("package: " + programFile + ", script " + package_.Script());
    packaged_->RemoveLeftovers();
    return true;
  }

  // For whom and for which processor the script installs, and what that
  // asks of this run's rights; its language and texts. A [SETUP] section the engine cannot read is
  // left to the run, which reports it as it reports any broken script.
  qv::RightsDecision DecideRights(qv::Platform& machine, const std::string& programFile) {
    qv::SetupSection setup;
    try {
      const qv::ScriptReader script(
          qv::ScriptFileName(programFile, options_.scriptArgs),
          [&machine](const std::string& f) { return machine.files.ReadWholeFile(f); },
          [&machine](unsigned codePage, std::string_view bytes) { return machine.system.FromCodePage(codePage, bytes); });
      setup = qv::ReadSetupSection(script);
      // The window is made after this: it speaks the script's language.
      const bool chinese = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_CHINESE;
      const qv::Language language = qv::LanguageFor(setup.language, chinese).value_or(qv::Language::Chinese);
      for (const std::string& name : qv::texts::UseTexts(language, qv::texts::ReadMessages(script)))
        Log("[MESSAGES] " + name + ": the program has no text of that name");
      Log(std::string("language: ") + qv::LanguageName(language));
      if (!setup.face.empty()) {
        const std::string file = qv::ResolvePath(qv::FolderPart(programFile), setup.face);
        face_ = machine.files.ReadWholeFile(file).value_or(std::string());
        Log((face_.empty() ? "face not read: " : "face: ") + file);
      }
    } catch (const qv::EngineError&) {
    }
    return qv::DecideRights(setup, options_, Rights());
  }

  qv::RunRights Rights() {
    return {system_.rights.Elevated(), system_.rights.LimitedAdministrator(), system_.system.Windows64(), system_.rights.LimitedHalf()};
  }

  static std::string RefusalText(const qv::RightsDecision& refused) {
    switch (refused.exitCode) {
      case qv::kExitNeeds64Bit: return qv::texts::Say(qv::texts::Setup::Needs64Bit);
      case qv::kExitNoRights:
        return qv::texts::Say(refused.placement.forWhom == qv::Placement::For::User
                                  ? qv::texts::Setup::RunWithoutAdministrator
                                  : qv::texts::Setup::NeedsAdministrator);
      default: return BadOption(refused.why);
    }
  }

  // The window, or none when it cannot be made (an error, logged).
  std::unique_ptr<qv::TForm1> MakeWindow() {
    std::unique_ptr<qv::TForm1> form;
    try {
      form = std::make_unique<qv::TForm1>(app_, face_);
    } catch (const std::exception& e) {
      // A hidden run needs none: not an error of its own.
      Log(options_.silent ? std::string("no window, and none needed for a hidden run (") + e.what() + ")"
                          : std::string("no window: ") + e.what());
      if (!options_.silent) report_.error = true;
      return nullptr;
    }
    form->SetLog(log_.get());
    form->SetSilent(options_.silent);
    form->OnSessionEnd = [this, f = form.get()] { ::ExitProcess(static_cast<UINT>(Finish(*f))); };
    return form;
  }

  // An installation's uninstaller is marked so in its own file: neither
  // its name nor a script dropped beside it makes a setup program one, or
  // an uninstaller a setup run.
  bool IsUninstaller() const { return !packaged_ && markedUninstaller_; }

  int Uninstall(const std::string& programFile) {
    if (!options_.scriptArgs.empty() || options_.installDir) {
      Log("bad command line: the uninstaller takes /S and /LOG= only");
      Warn(BadOption(options_.installDir ? "/D=" + *options_.installDir : options_.scriptArgs[0]));
      return qv::kExitBadCommandLine;
    }
    // Not from the folder it is about to remove: a working folder is in use.
    ::SetCurrentDirectoryW(qv::Utf8ToWide(system_.system.SystemFolder()).c_str());
    logging_ = std::make_unique<qv::LoggingPlatform>(system_, log_.get(), report_);
    std::unique_ptr<qv::TForm1> form = MakeWindow();
    qv::NoWindow noWindow;
    qv::RunState hiddenState;
    if (!form && !options_.silent) return Finish(false);
    qv::SetupWindow& window = form ? static_cast<qv::SetupWindow&>(*form) : noWindow;
    qv::RunState& state = form ? form->State() : hiddenState;
    state.visible = !options_.silent;
    qv::Uninstaller uninstaller(*logging_, window, state, report_, programFile);
    uninstaller.SetLog(log_.get());
    qv::Uninstaller::Loaded loaded = uninstaller.Read();
    const qv::Product& product = uninstaller.InstalledProduct();
    const qv::RightsDecision rights =
        qv::UninstallRights(product.registrationRoot, product.native64, options_, Rights());
    // One person's installation is trusted, and taken away, by his own
    // unelevated run; any other asks for rights only once its record holds.
    if (loaded == qv::Uninstaller::Loaded::Yes && rights.next != qv::RightsDecision::Next::Unelevate)
      loaded = uninstaller.Load();
    if (loaded != qv::Uninstaller::Loaded::Yes) {
      Warn(qv::texts::Say(loaded == qv::Uninstaller::Loaded::NotTrusted ? qv::texts::Setup::RecordNotTrusted
                                                                        : qv::texts::Setup::RecordDamaged));
      Log("exit code " + std::to_string(qv::kExitRecordDamaged));
      return qv::kExitRecordDamaged;
    }
    bool refused = false;
    if (const std::optional<int> code = qv::ActOnRights(system_, rights, args_, log_.get(), &refused)) {
      if (refused) Warn(RefusalText(rights));
      Log("exit code " + std::to_string(*code));
      return *code;
    }
    uninstaller.SetHandBack(options_.handBack.has_value());
    if (!form) {
      try {
        uninstaller.Run();
      } catch (const std::exception& e) {
        Log(std::string("error: ") + e.what());
        report_.error = true;
      }
      HandBack(uninstaller.HandedBack());
      return Finish(state.userQuit);
    }
    form->RunJob([&] { uninstaller.Run(); });
    app_.Run();
    HandBack(uninstaller.HandedBack());
    return Finish(*form);
  }

  // An uninstaller's copy of itself, started from a private folder when the
  // uninstaller could not move its own file away: once the uninstaller has
  // ended, its file goes, and the folders that stayed for it.
  int Sweep(const std::vector<std::string>& args) {
    if (args.size() < 3 || !OpenPackage(qv::ProgramFileName()) || !IsUninstaller()) return qv::kExitBadCommandLine;
    const std::optional<std::int32_t> number = qv::ParseInt32(args.back());
    if (!number || *number <= 0) return qv::kExitBadCommandLine;
    const qv::UniqueHandle uninstaller(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(*number)));
    // Not for ever: a shown uninstaller waits for its last click. Whatever
    // is still held then is left to the next restart.
    ::WaitForSingleObject(uninstaller.Get(), qv::kSweepWaitMs);
    qv::SweepAfter(system_, args[1], {args.begin() + 2, args.end() - 1});
    return qv::kExitOk;
  }

  // The uninstaller: the setup program as it was before anything was
  // put behind it (a package, a signature), and the uninstaller's mark.
  bool WriteUninstaller(qv::Platform& platform, const std::string& programFile, const std::string& to) {
    if (!programBytes_ || programEnd_ == 0) return false;
    const std::optional<qv::FileStamp> stamp = system_.files.Stamp(programFile);
    return platform.files.WriteFileFrom(to, qv::kAttrArchive, stamp ? stamp->modified : 0, [this](qv::pack::ByteSink& out) {
      std::vector<char> buffer(1 << 16);
      for (std::uint64_t at = 0; at < programEnd_;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), programEnd_ - at));
        if (!programBytes_->ReadAt(at, buffer.data(), n) || !out.Write(buffer.data(), n)) return false;
        at += n;
      }
      return out.Write(qv::kUninstallerMark, sizeof qv::kUninstallerMark - 1);
    });
  }

  // The setup engine, built and set up here alone, working through a
  // window (the setup window, or none) and its state.
  qv::SetupEngine& MakeEngine(qv::Platform& platform, qv::SetupWindow& window, qv::RunState& state,
                              const std::string& programFile) {
    engine_ = std::make_unique<qv::SetupEngine>(platform, window, state, folders_, programFile);
    engine_->SetLog(log_.get());
    engine_->SetOptions(options_.silent, options_.installDir);
    engine_->AllowDowngrade(options_.allowDowngrade);
    engine_->SetCloseApplications(options_.closeApplications);
    if (packaged_ && packaged_->IsUpdate()) engine_->SetUpdate(packaged_.get());
    engine_->SetRecordKeeper(recorder_.get());
    engine_->SetPlacement(placement_);
    engine_->SetReport(&report_);
    engine_->SetHandBack(options_.handBack.has_value());
    return *engine_;
  }

  int RunWithoutWindow(qv::Platform& platform, const std::string& programFile) {
    qv::NoWindow window;
    qv::RunState state;
    qv::SetupEngine& engine = MakeEngine(platform, window, state, programFile);
    try {
      engine.Run(options_.scriptArgs);
    } catch (const std::exception& e) {
      Log(std::string("error: ") + e.what());
      report_.error = true;
    }
    report_.scriptFound = engine.ScriptFound();
    HandBack(engine.HandedBack());
    engine_.reset();  // its window and state end here
    return Finish(state.userQuit);
  }

  int Finish(qv::TForm1& form) {
    if (engine_) {
      report_.scriptFound = engine_->ScriptFound();
      HandBack(engine_->HandedBack());
    }
    report_.error = report_.error || form.ErrorEnded();
    return Finish(form.State().userQuit);
  }

  int Finish(bool userQuit) {
    if (recorder_) recorder_->Finish();
    if (packaged_) packaged_->Finish();
    report_.error = report_.error || app_.Failed();
    const int code = qv::ExitCodeOf(report_, userQuit);
    Log("exit code " + std::to_string(code));
    return code;
  }

  // ASUSER commands of this elevated run, to the run that started it.
  void HandBack(const std::vector<qv::HandedCommand>& commands) {
    if (commands.empty() || !options_.handBack) return;
    if (!qv::HandBack(*options_.handBack, commands))
      Log("not handed back (error " + std::to_string(::GetLastError()) + "): " + std::to_string(commands.size()) +
          " commands to start as the person");
  }

  static std::string BadOption(const std::string& option) {
    return qv::Fill(qv::texts::Say(qv::texts::Setup::BadOption), {{"OPTION", option}});
  }

  // A warning for the person, where one is there to read it.
  void Warn(const std::string& text) {
    if (options_.silent) return;
    app_.Guard([&] {
      qv::InfoDlg().MsgBox(text, qv::texts::Say(qv::texts::Setup::Warning), qv::skin::kMbOk | qv::skin::kMbIconExclamation);
    });
  }

  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }

  qv::TApplication& app_;
  std::vector<std::string> args_;  // the command line's, without the program
  qv::CommandLineOptions options_;
  std::unique_ptr<qv::FileLog> log_;
  qv::RunReport report_;
  // In this order: each needs the ones before it.
  qv::Win32Platform system_;
  std::unique_ptr<qv::pack::ByteSource> programBytes_;
  qv::pack::Reader package_;
  std::unique_ptr<qv::PackagedPlatform> packaged_;
  std::uint64_t programEnd_ = 0;  // where the program's own PE ends
  bool markedUninstaller_ = false;
  std::unique_ptr<qv::LoggingPlatform> logging_;
  std::unique_ptr<qv::InstallRecorder> recorder_;
  qv::FolderValues folders_;
  qv::Placement placement_;
  std::string face_;  // the script's own face picture, when it has one
  std::unique_ptr<qv::SetupEngine> engine_;  // after the recorder it keeps the record with
};

}  // namespace

// The C++ runtime's default terminate handler prints the escaped exception's
// demangled type to stderr, which a windowed program does not have; its
// demangler alone is a tenth of the program. Ours ends the same way without
// the message. WinMain catches everything, so this is for a throw from a
// destructor or a noexcept function.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  qv::RestrictDllSearch();
  // The formats stored pictures may name: the window's face is a JPEG.
  qv::TPicture::RegisterClass<qv::TJPEGImage>();
  qv::TPicture::RegisterClass<qv::TIcon>();
  qv::TApplication app;
  app.Icon = ::LoadIconW(instance, L"MAINICON");
  qv::InfoDlg();  // the shared message dialog lives from here to the end
  Program program(app);
  // Nothing thrown leaves the program: it becomes an error and exit code 4.
  try {
    return program.Main();
  } catch (const std::exception& e) {
    return program.Unexpected(e.what());
  } catch (...) {
    return program.Unexpected("Unexpected error");
  }
}
