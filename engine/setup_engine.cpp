#include "engine/setup_engine.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "engine/entries.h"
#include "engine/errors.h"
#include "engine/file_version.h"
#include "engine/path_list.h"
#include "engine/script.h"
#include "engine/services.h"
#include "engine/setup_texts.h"
#include "engine/shortcuts.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/messages.h"

namespace qv {

namespace {

// Whether a text still names %INSTALLDIR% (any case, blanks inside).
bool NamesInstallFolder(const std::string& text) {
  for (std::size_t open = text.find('%'); open != std::string::npos;) {
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) return false;
    if (UpperCase(Trim(text.substr(open + 1, close - open - 1))) == "INSTALLDIR") return true;
    open = close;
  }
  return false;
}

// The sections that are ours take a folder macro only where it has a
// value: left as written it would land in a PATH, a shortcut or the
// registration as text. (The original sections keep it as written.)
void RequireValues(const FolderValues& folders, const std::string& section, const std::string& key,
                   const std::string& value) {
  const std::string name = UnsetMacro(folders, value);
  if (name.empty()) return;
  throw EngineError("[" + section + "] " + key + " uses %" + name + "%, which has no value" +
                    (name == "INSTALLDIR" ? ": only a \"?\" INSTALL entry sets it, and in a hidden run only with /D= or /S"
                                          : ""));
}

// The installation folder that gives the record's folder (the [UNINSTALL]
// Folder as written) the registered `location`: none when that folder does
// not follow from the installation folder.
std::optional<std::string> InstallFolderFor(FolderValues folders, const std::string& recordFolder,
                                            const std::string& location) {
  folders.install = "|";  // no path holds it
  std::string expanded = recordFolder;
  ExpandMacros(folders, expanded);
  expanded = Trim(expanded);
  if (expanded.empty() || expanded[0] != '|' || expanded.find('|', 1) != std::string::npos) return std::nullopt;
  const std::string rest = WithoutBackslash(expanded.substr(1));
  const std::string at = WithoutBackslash(location);
  if (rest.size() >= at.size() || !SameFileName(at.substr(at.size() - rest.size()), rest)) return std::nullopt;
  return at.substr(0, at.size() - rest.size());
}

bool AsksForFolder(const ScriptReader& script, const std::vector<std::string>& entries) {
  for (const std::string& e : entries)
    if (Trim(ParseInstallLine(script.ReadString("INSTALL", e, "")).destination) == "?") return true;
  return false;
}

}  // namespace

std::string ScriptFileName(const std::string& programFile, const std::vector<std::string>& args) {
  if (args.empty()) {
    const std::size_t dot = programFile.find_last_of(".\\:");
    const std::size_t end =
        (dot != std::string::npos && programFile[dot] == '.') ? dot : programFile.size();
    return programFile.substr(0, end) + ".ini";
  }
  return ResolvePath(FolderPart(programFile), args[0]);
}

SetupEngine::SetupEngine(Platform& platform, SetupWindow& window, RunState& state,
                         FolderValues& folders, std::string programFile)
    : platform_(platform),
      window_(window),
      state_(state),
      folders_(folders),
      programFile_(std::move(programFile)),
      programFolder_(FolderPart(programFile_)) {}

void SetupEngine::Run(const std::vector<std::string>& args) {
  complete_ = false;
  // Programs closed for the run start again however it ends.
  const auto restart = [this] {
    StartStoppedServices();
    if (!closedPrograms_) return;
    closedPrograms_ = false;
    platform_.system.RestartClosed();
    Log("closed programs started again (those registered for it)");
  };
  try {
    RunScript(args);
  } catch (...) {
    UndoUnlessComplete();
    restart();
    throw;
  }
  UndoUnlessComplete();
  restart();
}

void SetupEngine::UndoUnlessComplete() {
  // Files still being written are finished and recorded first: the undo
  // takes them back too.
  platform_.files.Settle();
  // A run without a record keeps what it did, unless the package it came
  // from turned out damaged.
  if (complete_ || !(uninstall_ || (journal_ && damaged_))) return;
  window_.SetStatusText(texts::Say(texts::Setup::Undoing));
  window_.RepaintStatus();
  keeper_->Undo();
}

bool SetupEngine::Stopped() {
  PumpWhileBusy();
  return state_.finished;
}

void SetupEngine::RunScript(const std::vector<std::string>& args) {
  state_.finished = false;
  state_.awaitingPath = false;
  InitFolderValues(platform_, folders_, placement_.AllUsers(platform_.rights.Elevated()),
                   placement_.architecture == Architecture::X64);
  Log("folders: PROGRAMFILESDIR=" + folders_.programFiles + " SYSTEMDIR=" + folders_.system +
      " WINDOWSDIR=" + folders_.windows + " TEMPDIR=" + folders_.temp);

  const std::string scriptName = ScriptFileName(programFile_, args);
  const std::uint32_t attributes = platform_.files.Attributes(scriptName);
  scriptFound_ = attributes != kNoAttributes && !(attributes & kAttrDirectory);
  Log((scriptFound_ ? "script: " : "script not found: ") + platform_.files.ShownName(scriptName));
  const ScriptReader script(
      scriptName, [this](const std::string& f) { return platform_.files.ReadWholeFile(f); },
      [this](unsigned codePage, std::string_view bytes) { return platform_.system.FromCodePage(codePage, bytes); });

  const std::string title = ShowWindow(script);
  // A value it does not know ends the run here.
  const SetupSection setup = ReadSetupSection(script);
  allowDowngrade_ = setup.allowDowngrade || allowDowngrade_;
  CheckMacros(script);
  if (!InstallFiles(script, title) || !RecordGenerated(script) || !WriteRegistry(script) || !InstallServices(script) ||
      !MakeShortcuts(script) || !AddPathEntries(script) || !RunCommands(script))
    return;
  if (state_.visible && !Trim(setup.runAfter).empty()) {
    PlanRunAfter(script, setup.runAfter);
    const std::string name = uninstall_ ? productName_ : script.ReadText("SETUP", "Name", title);
    window_.OfferToStart(Fill(texts::Say(texts::Setup::StartNow), {{"NAME", name}}));
    state_.startAfter = true;
  }
  EndRun();
}

void SetupEngine::CheckMacros(const ScriptReader& script) const {
  FolderValues then = folders_;
  // The installation folder has its value from the first "?" entry on, in
  // a run that learns it.
  if (then.install.empty() && (state_.visible || forceHidden_ || installDir_) &&
      AsksForFolder(script, script.ReadSection("INSTALL")))
    then.install = "?";
  for (const char* section : {"SHORTCUTS", "PATH", "SERVICES"})
    for (const std::string& key : script.ReadSection(section))
      RequireValues(then, section, script.NameForMachine(key), script.ReadString(section, key, ""));
  if (!keeper_) return;  // nobody reads [UNINSTALL]
  for (const char* key : {"Name", "Version", "Publisher", "Folder", "Id", "DisplayIcon"})
    RequireValues(then, "UNINSTALL", key, script.ReadString("UNINSTALL", key, ""));
  for (const char* key : kAboutValues) RequireValues(then, "UNINSTALL", key, script.ReadString("UNINSTALL", key, ""));
  if (!script.HasSection("UNINSTALL")) return;  // [UNINSTALLDELETE] is passed over
  for (const std::string& key : script.ReadSection("UNINSTALLDELETE"))
    RequireValues(then, "UNINSTALLDELETE", script.NameForMachine(key), script.ReadString("UNINSTALLDELETE", key, ""));
}

std::string SetupEngine::ShowWindow(const ScriptReader& script) {
  state_.visible = !forceHidden_ && script.ReadBool("GUI", "Visible", true);
  std::string title = script.ReadText("GUI", "TiTle", texts::Say(texts::Setup::DefaultTitle));
  // The caption is shown; the target is opened by the machine.
  state_.linkCaption = SplitField(script.ReadText("GUI", "Href", texts::kDefaultHref), ',', true).head;
  state_.linkTarget = SplitField(script.ReadString("GUI", "Href", texts::kDefaultHref), ',', true).tail;
  window_.BuildControls(title, state_.linkCaption, state_.linkTarget);
  window_.ApplyVisible(state_.visible);
  return title;
}

bool SetupEngine::InstallFiles(const ScriptReader& script, const std::string& title) {
  const std::vector<std::string> entries = script.ReadSection("INSTALL");
  ReadUninstall(script, title);
  if (state_.finished) return false;  // the person said no before anything was done
  if (update_) CheckBases(script, entries);
  // Without a folder to ask for, the record's folder is known now.
  if (uninstall_ && !AsksForFolder(script, entries)) OpenRecord();
  if (!entries.empty()) window_.SetThinMax(static_cast<int>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // A user who confirmed quitting wants nothing more done.
    if (state_.finished) return false;
    state_.entryName = script.NameForMachine(entries[i]);
    state_.entryLabel = script.NameForWindow(entries[i]);
    const InstallLine line = ParseInstallLine(script.ReadString("INSTALL", entries[i], ""));
    InstallEntry(line.source, line.destination, line.flags);
    window_.SetThinPosition(static_cast<int>(i + 1));
  }
  if (Stopped()) return false;
  if (uninstall_ && !recordOpen_) OpenRecord();
  return true;
}

bool SetupEngine::WriteRegistry(const ScriptReader& script) {
  window_.SetStatusText(texts::Say(texts::Setup::Register));
  window_.RepaintStatus();
  const std::vector<std::string> entries = script.ReadSection("REGISTRY");
  if (!entries.empty()) window_.SetMainMax(static_cast<int>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Stopped()) return false;
    const Fields f = SplitField(script.ReadString("REGISTRY", entries[i], ""), ',', true);
    WriteRegistryEntry(f.head, f.tail);
    window_.SetMainPosition(static_cast<int>(i + 1));
    // The installer has always paused this long after each value, and only
    // here: the bar visibly steps, and scripts timed around it still fit.
    platform_.system.Pause(50);
  }
  if (fileTypesChanged_) platform_.shell.Announce(Change::Associations, "");
  return true;
}

std::vector<std::string> SetupEngine::StartSection(const ScriptReader& script, const char* section,
                                                   const std::string& status) {
  std::vector<std::string> entries = script.ReadSection(section);
  // A section a script does not have leaves the window as it was.
  if (entries.empty()) return entries;
  window_.SetStatusText(status);
  window_.RepaintStatus();
  window_.SetMainMax(static_cast<int>(entries.size()));
  return entries;
}

bool SetupEngine::MakeShortcuts(const ScriptReader& script) {
  const std::vector<std::string> entries = StartSection(script, "SHORTCUTS", texts::Say(texts::Setup::Shortcuts));
  ShortcutMaker maker(platform_);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Stopped()) return false;
    const std::string name = script.NameForMachine(entries[i]);
    const std::string value = script.ReadString("SHORTCUTS", entries[i], "");
    RequireValues(folders_, "SHORTCUTS", name, value);
    if (const std::optional<Shortcut> s = ParseShortcutEntry(folders_, name, value))
      maker.Make(*s);
    else
      FailedEntry("shortcut not made: " + name + " (it needs a target and a place, and a name inside the place)");
    window_.SetMainPosition(static_cast<int>(i + 1));
  }
  maker.Announce();
  return true;
}

bool SetupEngine::InstallServices(const ScriptReader& script) {
  const std::vector<std::string> entries = StartSection(script, "SERVICES", texts::Say(texts::Setup::Services));
  // Only the system's own accounts may change services, and a service is
  // every user's: a per-user installation installs none (its other
  // entries stand).
  const bool machine = placement_.forWhom != Placement::For::User && platform_.rights.Elevated();
  const std::vector<InstalledService> ours = keeper_ ? keeper_->EarlierServices() : std::vector<InstalledService>();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Stopped()) return false;
    const std::string name = script.NameForMachine(entries[i]);
    const std::string value = script.ReadString("SERVICES", entries[i], "");
    std::string why;
    const std::optional<ServiceEntry> e = ParseServiceEntry(folders_, name, value, why);
    window_.SetMainPosition(static_cast<int>(i + 1));
    if (!e) {
      FailedEntry("service not installed: " + name + " (" + why + ")");
      continue;
    }
    if (!machine) {
      FailedEntry("service not installed: " + name +
                  " (only an elevated installation for all users installs services)");
      continue;
    }
    const std::uint32_t attributes = platform_.files.Attributes(e->program);
    if (attributes == kNoAttributes || (attributes & kAttrDirectory)) {
      FailedEntry("service not installed: " + name + " (its program is no file: " + e->program + ")");
      continue;
    }
    // The system runs it with rights others lack: what they could put in
    // its place, or beside it for it to load, would run so.
    if (!platform_.rights.OnlyOursCanChange(e->program) ||
        !platform_.rights.OnlyOursCanChange(WithoutBackslash(FolderPart(e->program)))) {
      FailedEntry("service not installed: " + name + " (other accounts can change " + e->program +
                  " or its folder, and the service would run what they put there)");
      continue;
    }
    const bool earlier =
        std::any_of(ours.begin(), ours.end(), [&](const InstalledService& s) { return SameText(s.name, name); });
    bool done;
    // Stopped while its program was replaced: started again here, or at
    // the step's end when it is not reconfigured.
    const auto sameName = [&](const std::string& s) { return SameText(s, name); };
    bool wasRunning = std::any_of(stoppedServices_.begin(), stoppedServices_.end(), sameName);
    if (const std::optional<ServiceConfig> now = platform_.system.FindService(name)) {
      if (!earlier) {
        FailedEntry("service not installed: " + name + " (a service of that name is there, not installed by " +
                    (productName_.empty() ? std::string("this product") : productName_) + "; left as it is)");
        continue;
      }
      // One that is to run another program runs it from now on, not at the next restart.
      if (now->command != e->config.command && platform_.system.ServiceRunning(name)) {
        wasRunning = true;
        if (platform_.system.StopOneService(name)) Log("service stopped to run its new program: " + name);
      }
      done = platform_.system.ChangeService(name, e->config);
    } else if (platform_.system.LastError().code == kErrorNoService) {
      done = platform_.system.MakeService(name, e->config);
    } else {
      FailedEntry("service not installed: " + name + " (it cannot be looked up, error " +
                  std::to_string(platform_.system.LastError().code) + ")");
      continue;
    }
    if (!done) continue;
    std::erase_if(stoppedServices_, sameName);
    // Started with the system, or running before the update stopped it.
    if (e->config.start == ServiceStart::Auto || (wasRunning && e->config.start != ServiceStart::Disabled))
      platform_.system.StartOneService(name);
  }
  // The run's files are in place: what was stopped for them runs again.
  StartStoppedServices();
  return true;
}

void SetupEngine::StopServicesOf(const std::vector<std::string>& files) {
  if (!keeper_ || files.empty()) return;
  for (const InstalledService& s : keeper_->EarlierServices()) {
    const std::optional<ServiceConfig> now = platform_.system.FindService(s.name);
    if (!now) continue;
    const std::string program = SplitProgram(now->command).program;
    if (std::none_of(files.begin(), files.end(), [&](const std::string& f) { return SameFileName(f, program); }) ||
        !platform_.system.ServiceRunning(s.name))
      continue;
    stoppedServices_.push_back(s.name);
    if (platform_.system.StopOneService(s.name)) Log("service stopped while its program is replaced: " + s.name);
    else Log("service not stopped (error " + std::to_string(platform_.system.LastError().code) + "): " + s.name);
  }
}

void SetupEngine::StartStoppedServices() {
  for (const std::string& name : std::exchange(stoppedServices_, {})) platform_.system.StartOneService(name);
}

bool SetupEngine::AddPathEntries(const ScriptReader& script) {
  const std::vector<std::string> entries = StartSection(script, "PATH", texts::Say(texts::Setup::AddToPath));
  if (entries.empty()) return true;
  const std::uint32_t root = ScopeRoot();
  bool changed = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Stopped()) return false;
    std::string folder = script.ReadString("PATH", entries[i], "");
    RequireValues(folders_, "PATH", script.NameForMachine(entries[i]), folder);
    ExpandMacros(folders_, folder);
    folder = WindowsPath(Trim(folder));
    const std::string where = RootName(root) + " PATH";
    if (folder.empty() || folder.find(';') != std::string::npos) {
      FailedEntry("not added to " + where + ": '" + folder + "' is no single folder");
    } else {
      switch (keeper_ ? keeper_->AddToPath(root, folder) : AddToPath(platform_, root, folder)) {
        case PathEdit::Changed:
          changed = true;
          Log("added to " + where + ": " + folder);
          break;
        case PathEdit::Unchanged: Log(where + " holds it already: " + folder); break;
        case PathEdit::Failed: FailedEntry("not added to " + where + ": " + folder); break;
      }
    }
    window_.SetMainPosition(static_cast<int>(i + 1));
  }
  if (changed) platform_.shell.Announce(Change::Environment, "");
  return true;
}

void SetupEngine::FailedEntry(const std::string& line) {
  Log(line);
  if (report_) ++report_->failures;
}

bool SetupEngine::RunCommands(const ScriptReader& script) {
  window_.SetStatusText(texts::Say(texts::Setup::Execute));
  window_.RepaintStatus();
  const std::vector<std::string> entries = script.ReadSection("COMMAND");
  if (!entries.empty()) window_.SetMainMax(static_cast<int>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Stopped()) return false;
    RunCommand(script.ReadString("COMMAND", entries[i], ""));
    window_.SetMainPosition(static_cast<int>(i + 1));
  }
  return !Stopped();
}

void SetupEngine::EndRun() {
  // Failed entries included: the run went to its end.
  if (uninstall_) keeper_->Complete();
  complete_ = true;
  state_.finished = true;
  if (restartNeeded_) Log("finished: a restart completes the installation");
  window_.SetStatusText(restartNeeded_ ? texts::Say(texts::Setup::FinishedRestart) : texts::Say(texts::Setup::Finished));
  window_.SetStatusRed();
  window_.SetButtonCaption(texts::Say(texts::Dialog::Ok));
  if (!state_.visible) window_.Terminate();
}

void SetupEngine::PlanRunAfter(const ScriptReader& script, const std::string& runAfter) {
  std::string what = Trim(runAfter);
  const std::string named = what;
  ExpandMacros(folders_, what);
  // A shortcut the run made starts what it starts, as its icon would.
  for (const std::string& key : script.ReadSection("SHORTCUTS")) {
    const std::string name = script.NameForMachine(key);
    const std::optional<Shortcut> s = ParseShortcutEntry(folders_, name, script.ReadString("SHORTCUTS", key, ""));
    if (!s || !(SameText(Trim(name), named) || SameFileName(s->file, what))) continue;
    runAfter_ = {"\"" + s->target + "\"" + (s->arguments.empty() ? "" : " " + s->arguments), s->workingFolder};
    return;
  }
  // A program's path holding blanks is one name, not a program and its arguments.
  const std::uint32_t attributes = platform_.files.Attributes(what);
  const bool oneFile = attributes != kNoAttributes && !(attributes & kAttrDirectory) && what.front() != '"';
  runAfter_ = {oneFile ? "\"" + what + "\"" : what, ""};
}

void SetupEngine::StartChosen() {
  if (!complete_ || !runAfter_) return;
  if (!state_.startAfter) {
    Log("user: not started after setup: " + runAfter_->commandLine);
    return;
  }
  // As the person: never with the rights this run may have been given.
  if (StartAsPerson(runAfter_->commandLine, 1, runAfter_->workingFolder))
    Log("started after setup: " + runAfter_->commandLine);
}

void SetupEngine::ReadUninstall(const ScriptReader& script, const std::string& title) {
  if (!keeper_) return;
  if (!script.HasSection("UNINSTALL")) {
    journal_ = keeper_->StartJournal();
    return;
  }
  UninstallValues v;
  // The name is shown, in the window and in the list of programs; the rest
  // names things on the machine.
  // What [SETUP] says of the product (its file's version resource) serves
  // where [UNINSTALL] is silent.
  v.name = script.ReadText("UNINSTALL", "Name", script.ReadText("SETUP", "Name", title));
  v.version = script.ReadText("UNINSTALL", "Version", script.ReadText("SETUP", "Version", ""));
  v.publisher = script.ReadText("UNINSTALL", "Publisher", script.ReadText("SETUP", "Publisher", ""));
  v.displayIcon = script.ReadString("UNINSTALL", "DisplayIcon", "");
  for (const char* key : kAboutValues) {
    // Links name places; the rest is shown.
    const bool shown = std::string_view(key) == "Contact" || std::string_view(key) == "Comments";
    std::string text = shown ? script.ReadText("UNINSTALL", key, "") : script.ReadString("UNINSTALL", key, "");
    if (!Trim(text).empty()) v.about.emplace_back(key, std::move(text));
  }
  v.folder = script.ReadString("UNINSTALL", "Folder", "");
  v.id = script.ReadString("UNINSTALL", "Id", "");
  if (v.folder.empty() && !AsksForFolder(script, script.ReadSection("INSTALL")))
    throw EngineError("[UNINSTALL] needs a Folder: no INSTALL entry asks for the installation folder");
  if (v.folder.empty()) v.folder = "%INSTALLDIR%";
  // A hidden run without /S or /D= never learns the installation folder: a
  // record there would be made in a folder named after the macro.
  if (!state_.visible && !forceHidden_ && !installDir_ && NamesInstallFolder(v.folder))
    throw EngineError("[UNINSTALL] keeps its record in %INSTALLDIR%, which a hidden run learns only from /D= or /S");
  std::string id = v.id.empty() ? v.name : v.id;
  ExpandMacros(folders_, id);
  keeper_->Start(Trim(id));
  LookForInstalled(v, Trim(id));
  uninstall_ = std::move(v);
}

void SetupEngine::LookForInstalled(const UninstallValues& v, const std::string& id) {
  const auto expanded = [this](std::string text) {
    ExpandMacros(folders_, text);
    return Trim(text);
  };
  const std::uint32_t scopeRoot = placement_.forWhom == Placement::For::Machine ? std::uint32_t{kHKLM}
                                  : placement_.forWhom == Placement::For::User  ? std::uint32_t{kHKCU}
                                                                                : std::uint32_t{0};
  const auto whom = [](std::uint32_t root) { return root == kHKLM ? "for all users" : "for this user"; };
  std::optional<Installation> here, other;
  for (const Installation& i : keeper_->Installations(id)) {
    if (scopeRoot == 0 || i.root == scopeRoot) {
      if (here) continue;
      // What another program of the person's could have written steers no elevated run.
      if (i.trusted) here = i;
      else Log("registration not followed (an elevated run does not trust it): " + RootName(i.root) + " " + id);
    } else if (!other) {
      other = i;
    }
  }
  const std::string name = productName_ = expanded(v.name);
  if (other) {
    // Installations for each scope are separate: this one goes beside the other.
    Log("installed " + std::string(whom(other->root)) + " too: " + name + " " + other->version + " in " +
        other->folder + "; this run installs " + whom(scopeRoot) + " beside it");
    if (state_.visible) {
      const std::optional<bool> yes =
          window_.Confirm(Fill(texts::Say(other->root == kHKLM ? texts::Setup::InstalledForAll : texts::Setup::InstalledForYou),
                               {{"NAME", name}, {"FOLDER", other->folder}}));
      if (!yes.value_or(false)) {
        Log(yes ? "user: no second installation" : "quit message: the run stops");
        state_.finished = true;
        state_.userQuit = true;
        window_.Terminate();
        return;
      }
      Log("user: a second installation");
    }
  }
  if (update_) {
    const std::string base = update_->BaseVersion();
    const bool fits = here && SameText(id, update_->BaseId()) &&
                      (here->version == base || (!base.empty() && CompareVersions(here->version, base) == 0));
    if (!fits) {
      RefuseUpdate("an update of " + update_->BaseId() + " " + base + ", and " +
                   (here ? name + " " + here->version + " is installed" : std::string("that is not installed")));
    }
  }
  if (!here) {
    Log("not installed yet: " + id);
    return;
  }
  const std::string version = expanded(v.version);
  const std::string is = name + " " + here->version + " is installed " + whom(here->root) + " in " + here->folder;
  const int order = version.empty() || here->version.empty() ? 1 : CompareVersions(version, here->version);
  if (version.empty() || here->version.empty()) {
    Log(is + "; versions not compared (one has none)");
  } else if (order < 0 && !allowDowngrade_) {
    Log(is + ", newer than this run's " + version + ": nothing is changed (/ALLOWDOWNGRADE allows it)");
    if (report_) report_->newerInstalled = true;
    throw NewerInstalledError(
        Fill(texts::Say(texts::Setup::NewerInstalled), {{"INSTALLED", here->version}, {"VERSION", version}}));
  } else {
    Log(is + (order > 0    ? "; this run updates it to " + version
              : order == 0 ? "; this run repairs it with the same version"
                           : "; this run replaces it with the older " + version + " (downgrade allowed)"));
  }
  installedDir_ = InstallFolderFor(folders_, v.folder, here->folder);
  if (!update_ || !installedDir_) return;
  // An update's files go over its base's: every "?" entry goes there.
  if (installDir_ && !SameFileName(WithoutBackslash(*installDir_), *installedDir_)) {
    RefuseUpdate("an update, and /D= names another folder than " + *installedDir_);
  }
  installDir_ = installedDir_;
  Log("an update: every \"?\" entry installs where it is installed, " + *installedDir_);
}

std::pair<std::string, std::string> SetupEngine::Resolved(std::string source, std::string destination) const {
  ExpandMacros(folders_, source);
  ExpandMacros(folders_, destination);
  source = ResolvePath(programFolder_, source);
  if (source.back() == '\\') source += "*.*";
  destination = ResolvePath(programFolder_, destination);
  if (destination.back() != '\\') destination += '\\';
  return {source, destination};
}

void SetupEngine::CheckBases(const ScriptReader& script, const std::vector<std::string>& entries) {
  if (installDir_) folders_.install = *installDir_;
  checkingBases_ = true;
  for (const std::string& entry : entries) {
    const InstallLine line = ParseInstallLine(script.ReadString("INSTALL", entry, ""));
    std::string destination = Trim(line.destination);
    if (Trim(line.source).empty() || destination.empty()) continue;
    if (destination == "?") {
      if (!installDir_) continue;
      destination = *installDir_;
    }
    const auto [source, folder] = Resolved(Trim(line.source), destination);
    flags_ = line.flags;
    CopyMatches(source, folder, false);
    if (!notTheBase_.empty()) break;
  }
  checkingBases_ = false;
  flags_ = {};
  replacing_.clear();
  if (notTheBase_.empty()) return;
  RefuseUpdate("an update, and " + notTheBase_ + " is not the file it was made against");
}

void SetupEngine::RefuseUpdate(const std::string& why) {
  Log(why + ": nothing is changed (the full setup installs it)");
  if (report_) report_->notTheBase = true;
  throw NotTheBaseError(
      Fill(texts::Say(texts::Setup::NotTheBase), {{"NAME", productName_}, {"VERSION", update_->BaseVersion()}}));
}

void SetupEngine::OpenRecord() {
  recordOpen_ = true;
  const auto expanded = [this](std::string text) {
    ExpandMacros(folders_, text);
    return Trim(text);
  };
  Product p;
  p.name = expanded(uninstall_->name);
  p.version = expanded(uninstall_->version);
  p.publisher = expanded(uninstall_->publisher);
  p.id = expanded(uninstall_->id);
  if (p.id.empty()) p.id = p.name;
  for (const auto& [key, text] : uninstall_->about) p.about.emplace_back(key, expanded(text));
  if (!Trim(uninstall_->displayIcon).empty())
    p.displayIcon = expanded(uninstall_->displayIcon);
  p.linkCaption = state_.linkCaption;
  p.linkTarget = state_.linkTarget;
  if (placement_.forWhom != Placement::For::Legacy)
    p.registrationRoot = placement_.forWhom == Placement::For::Machine ? kHKLM : kHKCU;
  p.native64 = placement_.architecture == Architecture::X64;
  // The uninstaller speaks as this run did.
  p.language = LanguageName(texts::TextsLanguage());
  p.texts = texts::TextsReplaced();
  const std::string folder = expanded(uninstall_->folder);
  if (folder.empty() || NamesInstallFolder(folder))
    throw EngineError("[UNINSTALL] has no folder for its record: %INSTALLDIR% is not set");
  // The id names a registry key: one level, no backslash.
  if (p.id.find('\\') != std::string::npos) throw EngineError("[UNINSTALL] Id may not hold a backslash: " + p.id);
  keeper_->Open(ResolvePath(programFolder_, folder), std::move(p));
}

std::uint32_t SetupEngine::ScopeRoot() const {
  return placement_.AllUsers(platform_.rights.Elevated()) ? kHKLM : kHKCU;
}

std::string SetupEngine::SuggestedFolder() const {
  const bool ownPrograms = placement_.forWhom == Placement::For::User && !folders_.userPrograms.empty();
  return (ownPrograms ? folders_.userPrograms : folders_.programFiles) + "\\" + state_.entryName;
}

void SetupEngine::PromptForPath(const std::string& suggested) {
  window_.SetStatusText(Fill(texts::Say(texts::Setup::Prompt), {{"ENTRY", state_.entryLabel}}));
  window_.SetButtonCaption(texts::Say(texts::Dialog::Ok));
  state_.awaitingPath = true;
  window_.ShowPathBox(true);
  window_.SetPathText(suggested);
  window_.ShowProgressBars(false);
  while (!state_.finished && state_.awaitingPath) {
    window_.ProcessMessages();
    if (!state_.finished && state_.awaitingPath) window_.WaitForEvent();
  }
  window_.ShowPathBox(false);
  window_.ShowProgressBars(true);
  folders_.install = WindowsPath(Trim(window_.PathText()));
  window_.SetButtonCaption(texts::Say(texts::Dialog::Cancel));
}

void SetupEngine::CloseHolders() {
  if (replacing_.empty()) return;
  const std::vector<RunningProgram> holders = platform_.system.ProgramsHolding(replacing_);
  replacing_.clear();
  if (holders.empty()) return;
  std::string names;
  for (const RunningProgram& p : holders)
    names += (names.empty() ? "" : ", ") + p.name + " (process " + std::to_string(p.process) + ")";
  Log("in use by running programs: " + names);
  bool close = close_ == CommandLineOptions::Close::Always;
  if (close_ == CommandLineOptions::Close::Ask && state_.visible) {
    if (!closeAnswer_) {
      std::string list;
      for (const RunningProgram& p : holders) list += (list.empty() ? "" : "\r\n") + p.name;
      const std::optional<bool> yes =
          window_.Confirm(Fill(texts::Say(texts::Setup::CloseApplications), {{"PROGRAMS", list}}));
      closeAnswer_ = yes.value_or(false);
      Log(yes ? (*yes ? "user: close them" : "user: leave them running") : "quit message: the run stops");
      if (!yes) {
        state_.finished = true;
        return;
      }
    }
    close = *closeAnswer_;
  }
  if (!close) {
    Log("not closed: the files they hold are replaced at the next restart");
    return;
  }
  closedPrograms_ = true;
  if (platform_.system.CloseHolders()) Log("closed: " + names);
  else Log("not all closed: the files still held are replaced at the next restart");
}

void SetupEngine::PumpWhileBusy() {
  const std::uint32_t now = platform_.system.Ticks();
  if (pumps_.Due(now)) PumpNow(now);
}

void SetupEngine::PumpNow(std::uint32_t now) {
  pumps_.Mark(now);
  // A question asked or a quit seen there comes after every file started
  // is known written or not.
  platform_.files.Settle();
  StopIfDamaged();
  window_.ProcessMessages();
}

void SetupEngine::NoteDamage(const std::string& path) {
  if (platform_.system.LastError().code != kErrorPackageDamaged) return;
  if (!damaged_) Log("package damaged: " + path + " is not what the package says; the run stops");
  damaged_ = true;
}

void SetupEngine::StopIfDamaged() {
  if (!damaged_) return;
  if (report_) report_->packageDamaged = true;
  throw PackageDamagedError(texts::Say(texts::Setup::PackageDamaged));
}

void SetupEngine::InstallEntry(std::string source, std::string destination, InstallFlags flags) {
  flags_ = flags;
  leaving_.clear();
  source = Trim(source);
  destination = Trim(destination);
  if (source.empty() || destination.empty()) return;

  const bool asked = destination == "?";
  // The first "?" entry makes the record's folder: an installed product's
  // is where it goes again.
  const std::optional<std::string> installed = asked && !recordOpen_ ? installedDir_ : std::nullopt;
  const std::string there = installed ? " (installed in " + *installed + ")" : "";
  if (asked && installDir_) {
    folders_.install = *installDir_;
    destination = folders_.install;
    Log("install folder for " + state_.entryName + " from the command line: " + destination + there);
  } else if (destination == "?" && state_.visible) {
    PromptForPath(installed.value_or(SuggestedFolder()));
    // Quitting at the prompt refuses the installation: nothing may be made.
    if (state_.finished) return;
    destination = folders_.install;
    Log("install folder for " + state_.entryName + ": " + destination + (installed ? " (suggested: where it is installed)" : ""));
  } else if (asked && forceHidden_) {
    // A silent run takes the folder the prompt would have suggested.
    folders_.install = installed.value_or(SuggestedFolder());
    destination = folders_.install;
    Log("install folder for " + state_.entryName + (installed ? " where it is installed: " : " as suggested: ") +
        destination);
  }
  if (asked && uninstall_ && !recordOpen_) OpenRecord();
  std::tie(source, destination) = Resolved(source, destination);

  window_.SetMainPosition(0);
  replacing_.clear();
  const int n = CopyMatches(source, destination, false);
  // A click made in the last moments of a pass is answered before the
  // next step starts, not after it.
  PumpNow(platform_.system.Ticks());
  if (state_.finished) return;
  StopServicesOf(replacing_);
  CloseHolders();
  if (state_.finished) return;
  window_.SetMainMax(n);
  window_.UpdateMain();
  CopyMatches(source, destination, true);
  PumpNow(platform_.system.Ticks());
}

int SetupEngine::CopyMatches(const std::string& pattern, const std::string& destination, bool copy) {
  // Made before searching: it exists even when nothing matches.
  if (copy && !FolderExists(platform_, destination) && !CreateFolderPath(platform_, destination)) return 0;
  // The files it will replace, for the programs that may hold them: only
  // in a folder that is there.
  const bool replaces = !copy && FolderExists(platform_, destination);
  FindEntry e;
  std::unique_ptr<FindHandle> find = platform_.files.FindFirst(pattern, e);
  if (!find) return 0;
  const std::string folder = FolderPart(pattern);
  int count = 0;
  // `to`: the file's destination, one Path for the record and the copy.
  const auto visit = [&](const FindEntry& x, Path to) {
    if (x.attributes & kAttrDirectory) {
      if (x.name == "." || x.name == "..") return;
      // The folder's files are logged and recorded before the next folder is made.
      if (copy) platform_.files.Settle();
      count += CopyMatches(folder + x.name + "\\*.*", destination + x.name + "\\", copy);
      return;
    }
    ++count;
    PumpWhileBusy();
    if (!copy && !checkingBases_ && LeaveExisting(folder + x.name, destination + x.name, x.modified)) {
      leaving_.insert(FileNameKey(destination + x.name));
      return;
    }
    if (replaces && platform_.files.Attributes(destination + x.name) != kNoAttributes)
      replacing_.push_back(destination + x.name);
    // A file an update takes from its base needs none when the entry
    // leaves the one there: kept ones with either flag, patched ones with
    // ONLYIFNEW (a patch is made against that very file, newer by making).
    const FromBase base = checkingBases_ ? update_->BaseOf(folder + x.name) : FromBase::No;
    const bool leaves = base == FromBase::Kept ? flags_.MayLeave() : flags_.onlyIfNew;
    if (base != FromBase::No &&
        !(leaves && platform_.files.Attributes(destination + x.name) != kNoAttributes)) {
      switch (update_->TakeBase(folder + x.name, destination + x.name)) {
        case BaseCheck::Ok: break;
        case BaseCheck::NotTheBase:
          if (notTheBase_.empty()) notTheBase_ = destination + x.name;
          break;
        case BaseCheck::Failed:
          NoteDamage(destination + x.name);
          StopIfDamaged();
          throw EngineError("The update cannot make " + destination + x.name + " (error " +
                            std::to_string(platform_.system.LastError().code) + ")");
      }
    }
    if (copy && leaving_.count(FileNameKey(destination + x.name))) {
      // Not written: what an earlier run recorded of it stays.
      if (to.empty()) to = destination + x.name;
      if (keeper_) keeper_->Untouched(to);
      window_.StepMain();
      window_.UpdateMain();
      return;
    }
    if (copy && update_ && update_->BaseOf(folder + x.name) == FromBase::Kept) {
      // There as this version has it: recorded, not written again.
      if (to.empty()) to = destination + x.name;
      if (keeper_) keeper_->Kept(to);
      Log("kept as installed: " + to.Text());
      window_.StepMain();
      window_.UpdateMain();
      return;
    }
    if (copy) {
      window_.SetStatusText(Fill(texts::Say(texts::Setup::Decompressing), {{"FILE", x.name}}));
      window_.UpdateStatus();
      // Started here, finished on the platform's threads; heard of in order
      // (log and record lines with it), settled before anything that
      // depends on them: another folder, a question, the quit, the end.
      if (to.empty()) to = destination + x.name;
      platform_.files.StartCopy(folder + x.name, to, [this, to](bool copied) {
        if (!copied) NoteDamage(to);
        else if (platform_.files.WaitingBeside(to)) restartNeeded_ = true;
      });
      StopIfDamaged();
      window_.StepMain();
      window_.UpdateMain();
    }
  };
  if (!(copy && Keeping())) {
    do {
      if (state_.finished) break;
      visit(e, {});
    } while (find->Next(e));
    if (copy) platform_.files.Settle();
    StopIfDamaged();
    return count;
  }
  // The record names the folder's files before any is written, in one go.
  std::vector<FindEntry> entries;
  do entries.push_back(e);
  while (find->Next(e));
  find.reset();
  std::vector<Path> files;
  std::vector<Path> written;  // the files to write: an update's kept ones are not
  for (const FindEntry& x : entries) {
    if (x.attributes & kAttrDirectory) continue;
    files.push_back(destination + x.name);
    if (leaving_.count(FileNameKey(destination + x.name))) continue;
    if (!update_ || update_->BaseOf(folder + x.name) != FromBase::Kept) written.push_back(files.back());
  }
  if (flags_.keep) keeper_->Leave(files);
  keeper_->WillWrite(written);
  std::size_t next = 0;
  for (const FindEntry& x : entries) {
    if (state_.finished) break;
    visit(x, x.attributes & kAttrDirectory ? Path() : files[next++]);
  }
  platform_.files.Settle();
  StopIfDamaged();
  return count;
}

bool SetupEngine::LeaveExisting(const std::string& from, const std::string& to, std::uint64_t modified) {
  if (!flags_.MayLeave()) return false;
  const std::uint32_t attributes = platform_.files.Attributes(to);
  if (attributes == kNoAttributes || (attributes & kAttrDirectory)) return false;
  const FromBase base = update_ ? update_->BaseOf(from) : FromBase::No;
  if (flags_.onlyIfNew || base == FromBase::Kept) {
    Log("kept: exists: " + to);
    return true;
  }
  if (base == FromBase::Patched) return false;
  const auto versionOf = [this](const std::string& path) -> std::optional<FileVersion> {
    const std::unique_ptr<pack::ByteSource> in = platform_.files.OpenRead(path);
    return in ? ReadFileVersion(*in) : std::nullopt;
  };
  const std::optional<FileVersion> ours = versionOf(from), theirs = versionOf(to);
  if (ours && theirs) {
    const bool newer = *ours > *theirs;
    Log((newer ? "replaced: newer, version " : "kept: not newer, version ") + VersionText(*ours) + " against " +
        VersionText(*theirs) + " installed: " + to);
    return !newer;
  }
  const std::optional<FileStamp> there = platform_.files.Stamp(to);
  const bool newer = !there || modified > there->modified;
  Log((newer ? "replaced: newer, modified " : "kept: not newer, modified ") + std::to_string(modified) +
      " against " + (there ? std::to_string(there->modified) : std::string("?")) + " installed: " + to);
  return !newer;
}

bool SetupEngine::RecordGenerated(const ScriptReader& script) {
  const std::vector<std::string> entries = script.ReadSection("UNINSTALLDELETE");
  if (entries.empty()) return true;
  if (!uninstall_) {
    Log("[UNINSTALLDELETE] passed over: without [UNINSTALL] there is no uninstaller");
    return true;
  }
  for (const std::string& key : entries) {
    if (Stopped()) return false;
    const std::string name = script.NameForMachine(key);
    std::string pattern = script.ReadString("UNINSTALLDELETE", key, "");
    ExpandMacros(folders_, pattern);
    pattern = WindowsPath(Trim(pattern));
    if (IsFullPath(pattern) && keeper_->RemoveOnUninstall(pattern))
      Log("removed by the uninstaller: " + pattern);
    else
      FailedEntry("[UNINSTALLDELETE] " + name + " refused: " + pattern +
                  " is not inside the installation's own folders");
  }
  return true;
}

void SetupEngine::WriteRegistryEntry(const std::string& keyPath, const std::string& valueText) {
  const RegistryEntry e = ParseRegistryEntry(folders_, keyPath, valueText, ScopeRoot());
  fileTypesChanged_ = fileTypesChanged_ || NamesFileTypes(e.root, e.subkey);
  // An unknown root (0) opens no key; the platform says so.
  if (platform_.registry.WriteRegistryValue(e.root, e.subkey, e.valueName, e.type, e.data) ==
      RegWrite::WriteFailed)
    throw EngineError("Failed to set data for '" + e.valueName + "'");
}

CommandRunner& SetupEngine::Runner() const {
  if (!runner_) runner_ = std::make_unique<CommandRunner>(platform_, log_, report_);
  runner_->SetHandBack(handBack_);
  return *runner_;
}

void SetupEngine::RunCommand(const std::string& value) {
  const CommandEntry c = ParseCommandEntry(folders_, value);
  if (c.uninstall) {
    // For the uninstaller alone; an undo of this run never runs it.
    if (!recordOpen_) {
      Log("not kept (no uninstaller): UNINSTALL command " + c.commandLine);
      return;
    }
    keeper_->KeepCommand(CommandValue(c));
    Log("kept for the uninstaller: " + c.commandLine);
    return;
  }
  CommandRunner& runner = Runner();
  runner.SetVisible(state_.visible);
  runner.SetPump([this] {
    PumpNow(platform_.system.Ticks());
    return state_.finished;
  });
  switch (runner.Run(c)) {
    case CommandRunner::Outcome::NotStarted:
      NoteDamage(c.commandLine);
      StopIfDamaged();
      break;
    case CommandRunner::Outcome::Restart: restartNeeded_ = true; break;
    default: break;
  }
}

bool SetupEngine::StartAsPerson(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  const std::size_t handed = Runner().HandedBack().size();
  return Runner().StartAsPerson(commandLine, showCode, workingFolder) != nullptr ||
         Runner().HandedBack().size() > handed;
}

}  // namespace qv
