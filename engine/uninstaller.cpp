#include "engine/uninstaller.h"

#include <algorithm>

#include "engine/commands.h"
#include "engine/entries.h"
#include "engine/install_recorder.h"
#include "engine/private_folders.h"
#include "engine/services.h"
#include "engine/setup_texts.h"
#include "engine/text.h"
#include "engine/undo.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/messages.h"

namespace qv {

namespace {

std::string NamePart(const std::string& path) { return path.substr(FolderPart(path).size()); }

std::string ValueName(std::uint32_t root, const std::string& subkey, const std::string& name) {
  return RootName(root) + "\\" + subkey + " value \"" + name + "\"";
}

// Steps of the thin bar: files, registry, the record and folders.
constexpr int kSteps = 3;

}  // namespace

Uninstaller::Uninstaller(Platform& platform, SetupWindow& window, RunState& state, RunReport& report,
                         std::string programFile)
    : platform_(platform),
      window_(window),
      state_(state),
      report_(report),
      programFile_(std::move(programFile)),
      folder_(FolderPart(programFile_)) {}

Uninstaller::Loaded Uninstaller::Read() {
  const std::string record = folder_ + RecordNameFor(NamePart(programFile_));
  const std::optional<std::string> bytes = platform_.files.ReadWholeFile(record);
  if (!bytes) {
    Log("record missing: " + record);
    return Loaded::Missing;
  }
  const std::optional<std::vector<RecordEntry>> entries = ParseRecord(*bytes);
  if (!entries) {
    Log("record damaged: " + record);
    return Loaded::Damaged;
  }
  bytes_ = std::move(*bytes);
  plan_.product = PlanRemoval(*entries).product;
  // Its language only: a record not yet trusted puts no words of its own
  // in the person's mouth.
  texts::UseTexts(LanguageFor(plan_.product.language, false).value_or(Language::Chinese), {});
  return Loaded::Yes;
}

Uninstaller::Loaded Uninstaller::Load() {
  // Nothing but what the installation itself wrote, sealed in its
  // registration, may say what an uninstaller (elevated, perhaps) removes.
  const Product product = plan_.product;
  // Before its registration is looked at: that is in the same view.
  if (product.native64) platform_.system.UseNativeView();
  // Read again by the registered name: that file is the one vouched for.
  const bool renamed = UseRegisteredName(product);
  const std::string record = folder_ + RecordNameFor(NamePart(programFile_));
  std::optional<std::string> bytes = std::move(bytes_);
  if (renamed) bytes = platform_.files.ReadWholeFile(record);
  const std::optional<std::vector<RecordEntry>> entries = bytes ? ParseRecord(*bytes) : std::nullopt;
  if (!entries) {
    Log("record damaged: " + record);
    return Loaded::Damaged;
  }
  std::string why;
  const std::optional<std::string_view> vouched =
      VouchedPart(platform_, record, product.registrationRoot, product.id, *bytes, why);
  const Product reread = PlanRemoval(*entries).product;
  if (!vouched || reread.id != product.id || reread.registrationRoot != product.registrationRoot) {
    Log("record not trusted (" + (vouched ? std::string("changed while it was read") : why) + "): " + record);
    return Loaded::NotTrusted;
  }
  // What follows the sealed part is at most a line cut short: no entry.
  const std::optional<std::vector<RecordEntry>> sealed = ParseRecord(*vouched);
  if (!sealed) {
    Log("record damaged: " + record);
    return Loaded::Damaged;
  }
  recordMark_ = {bytes->size(), Sha256Of(*bytes)};
  std::vector<RecordEntry> done = *sealed;
  if (const std::optional<std::size_t> start = UnfinishedRun(done)) {
    // A run killed halfway: undone first, then what was there before it goes.
    unfinished_.assign(done.begin() + static_cast<std::ptrdiff_t>(*start) + 1, done.end());
    done.resize(*start);
    plan_ = PlanRemoval(done);
    for (const auto& r : PlanRemoval(unfinished_).registrations)
      if (std::find(plan_.registrations.begin(), plan_.registrations.end(), r) == plan_.registrations.end())
        plan_.registrations.push_back(r);
    if (plan_.product.id.empty()) plan_.product = product;
    // Its folders are tried again once its record and uninstaller are gone.
    std::vector<std::string> folders = PlanRemoval(unfinished_).folders;
    folders.insert(folders.end(), plan_.folders.begin(), plan_.folders.end());
    plan_.folders = std::move(folders);
    Log("record of a run that never ended: " + record);
  } else {
    plan_ = PlanRemoval(done);
  }
  finished_ = std::move(done);
  // In the installation's language, with its script's own texts.
  texts::UseTexts(LanguageFor(plan_.product.language, false).value_or(Language::Chinese), plan_.product.texts);
  Log("record: " + record + ", " + std::to_string(plan_.files.size()) + " files, " +
      std::to_string(plan_.folders.size()) + " folders, " + std::to_string(plan_.values.size()) +
      " registry values");
  return Loaded::Yes;
}

bool Uninstaller::UseRegisteredName(const Product& product) {
  if (product.registrationRoot != kHKLM && product.registrationRoot != kHKCU) return false;
  const RegistryText location =
      platform_.registry.ReadRegistryText(product.registrationRoot, kRegistrationKey + product.id, "InstallLocation");
  if (location.status != RegistryText::Status::Text || location.text.empty()) return false;
  std::string registered = location.text;
  if (registered.back() != '\\') registered += '\\';
  // Started by another name of its folder (a second drive letter for it,
  // a share of a local disk, a junction): the same folder by its identity,
  // then known by the name its registration gives it.
  if (SameFileName(registered, folder_) || !platform_.files.SameFolder(registered, folder_)) return false;
  Log("started as " + programFile_ + ", in the folder registered as " + registered);
  programFile_ = registered + NamePart(programFile_);
  folder_ = registered;
  return true;
}

void Uninstaller::Run() {
  if (!ShowAndConfirm()) return;
  const std::unique_ptr<ProductHold> hold = platform_.rights.HoldProduct(plan_.product.id);
  if (!hold) {
    // An installation of it still going: its record is not finished.
    Log("error: another installation or uninstallation of " + plan_.product.id + " is going on");
    report_.error = true;
    state_.finished = true;
    window_.Terminate();
    return;
  }
  window_.SetThinMax(kSteps);
  FinishEarlierRuns();
  RunCommands();
  if (Stopped()) return;
  RemoveServices();
  RemoveGenerated();
  RemoveFiles();
  if (Stopped()) return;  // the user quit
  window_.SetThinPosition(1);
  RemoveRegistry();
  if (Stopped()) return;
  window_.SetThinPosition(2);
  if (retry_.empty()) {
    Unregister();
    RemoveOwnFiles();
  } else {
    // Something is still in use: the registration, the record and the
    // uninstaller stay, the record naming only what is left, so that the
    // uninstaller can be run again once it is free.
    KeepForAnotherRun();
  }
  RemoveFolders();
  if (Stopped()) return;
  window_.SetThinPosition(kSteps);
  state_.finished = true;
  window_.SetStatusText(texts::Say(texts::Setup::Uninstalled));
  window_.SetStatusRed();
  window_.SetButtonCaption(texts::Say(texts::Dialog::Ok));
  if (!state_.visible) window_.Terminate();
}

bool Uninstaller::ShowAndConfirm() {
  state_.finished = false;
  window_.SetButtonCaption(texts::Say(texts::Dialog::Cancel));  // made before the language was known
  state_.quitQuestion = texts::Say(texts::Setup::UninstallQuitQuestion);
  const Product& p = plan_.product;
  const std::string title = p.name.empty() ? texts::Say(texts::Setup::DefaultTitle) : p.name;
  const bool ownLink = !p.linkCaption.empty() || !p.linkTarget.empty();
  state_.linkCaption = ownLink ? p.linkCaption : SplitField(texts::kDefaultHref, ',', true).head;
  state_.linkTarget = ownLink ? p.linkTarget : SplitField(texts::kDefaultHref, ',', true).tail;
  window_.BuildControls(title, state_.linkCaption, state_.linkTarget);
  window_.ApplyVisible(state_.visible);
  RemoveLeftoverFolders(platform_, log_);
  if (state_.visible) {
    const std::optional<bool> yes =
        window_.Confirm(Fill(texts::Say(texts::Setup::UninstallQuestion), {{"NAME", title}}));
    if (!yes.value_or(false)) {
      Log(yes ? "user: declined the uninstall" : "quit message: the uninstall stops");
      state_.finished = true;
      state_.userQuit = true;
      window_.Terminate();
      return false;
    }
    Log("user: confirmed the uninstall");
  }
  return true;
}

void Uninstaller::RunCommands() {
  if (plan_.commands.empty()) return;
  window_.SetStatusText(texts::Say(texts::Setup::Execute));
  window_.RepaintStatus();
  CommandRunner runner(platform_, log_, &report_);
  runner.SetVisible(state_.visible);
  runner.SetHandBack(handBack_);
  runner.SetPump([this] {
    platform_.files.Settle();
    window_.ProcessMessages();
    return Stopped();
  });
  for (const std::string& value : plan_.commands) {
    if (Stopped()) return;
    CommandEntry c = ParseCommandValue(value);
    c.wait = true;  // its files go next
    runner.Run(c);
  }
  handedBack_ = runner.HandedBack();
}

void Uninstaller::FinishEarlierRuns() {
  if (!unfinished_.empty()) {
    window_.SetStatusText(texts::Say(texts::Setup::Undoing));
    window_.RepaintStatus();
    report_.failures += UndoChanges(platform_, unfinished_, log_);
  }
  // Previous contents the last run to end had no time to remove (killed
  // just after its end line).
  // They go in order: when its last is gone, so are the others.
  std::size_t last = finished_.size();
  while (last > 0 && finished_[last - 1].kind != RecordEntry::Kind::RunStart) --last;
  const std::vector<RecordEntry> lastRun(finished_.begin() + static_cast<std::ptrdiff_t>(last), finished_.end());
  const auto lastAside = std::find_if(lastRun.rbegin(), lastRun.rend(),
                                      [](const RecordEntry& e) { return e.kind == RecordEntry::Kind::MovedAside; });
  if (lastAside != lastRun.rend() && platform_.files.Attributes(lastAside->name) != kNoAttributes)
    DropAsides(platform_, lastRun, log_);
}

void Uninstaller::Failed(const std::string& what) {
  const Platform::Error e = platform_.system.LastError();
  ++report_.failures;
  Log(what + " (error " + std::to_string(e.code) + (e.message.empty() ? "" : ": " + e.message) + ")");
}

void Uninstaller::Pump() {
  if (!pumps_.Due(platform_.system.Ticks())) return;
  // The quit question comes after every file started is known removed or not.
  platform_.files.Settle();
  window_.ProcessMessages();
}

void Uninstaller::Step(int position, int max, const std::string& status) {
  if (position == 0) {
    window_.SetMainMax(max);
    window_.SetMainPosition(0);
  }
  window_.SetStatusText(status);
  window_.UpdateStatus();
  window_.StepMain();
  window_.UpdateMain();
  Pump();
}

std::optional<FileStamp> Uninstaller::StampOf(const std::string& path) {
  // One search per folder tells every file's stamp: as quick as a delete
  // loop, where opening each file to look would double its cost.
  const std::string folder = FileNameKey(FolderPart(path));
  if (listed_.insert(folder).second) {
    platform_.files.Settle();  // a search that fails is logged
    FindEntry e;
    if (std::unique_ptr<FindHandle> find = platform_.files.FindFirst(FolderPart(path) + "*", e)) {
      do {
        if (!(e.attributes & kAttrDirectory)) stamps_[folder + FileNameKey(e.name)] = {e.size, e.modified};
      } while (find->Next(e));
    }
  }
  const auto it = stamps_.find(FileNameKey(path));
  if (it == stamps_.end()) return std::nullopt;
  return it->second;
}

void Uninstaller::RemoveServices() {
  for (const InstalledService& s : plan_.services) {
    switch (RemoveService(platform_.system, s)) {
      case ServiceRemoval::Removed: Log("service removed: " + s.name); break;
      case ServiceRemoval::Gone: Log("service no longer there: " + s.name); break;
      case ServiceRemoval::NotOurs: Log("service left (it runs another program now): " + s.name); break;
      case ServiceRemoval::Failed:
        Failed("service not removed: " + s.name);
        Retry(RecordEntry::Kind::Service, s.program, 0, s.name, 0, 0);
        break;
    }
  }
}

void Uninstaller::RemoveGenerated() {
  for (const std::string& pattern : plan_.generated) {
    if (Stopped()) return;
    // Checked again here: only what lies inside the installation is ours,
    // whatever the record says.
    if (!GeneratedWithin(pattern, folder_, plan_.folders)) {
      ++report_.failures;
      Log("not removed (outside the installation's own folders): " + pattern);
      continue;
    }
    const std::string name = NamePart(pattern);
    if (name.find_first_of("*?") == std::string::npos) {
      const std::uint32_t attributes = platform_.files.Attributes(pattern);
      if (attributes != kNoAttributes) RemoveGeneratedPath(pattern, attributes);
      continue;
    }
    // A wildcard: the files right in one folder, held while they go so that
    // it cannot become a link meanwhile.
    const std::string folder = FolderPart(pattern);
    if (platform_.files.Attributes(WithoutBackslash(folder)) == kNoAttributes) continue;
    const std::unique_ptr<FolderHold> hold = platform_.files.HoldFolder(folder);
    if (!hold) {
      Failed("not entered (reached through a link): " + folder);
      continue;
    }
    std::vector<FindEntry> found;
    FindEntry e;
    if (std::unique_ptr<FindHandle> find = platform_.files.FindFirst(pattern, e)) {
      do found.push_back(e);
      while (find->Next(e));
    }
    for (const FindEntry& f : found)
      if (!(f.attributes & kAttrDirectory)) RemoveGeneratedPath(folder + f.name, f.attributes);
  }
}

void Uninstaller::RemoveGeneratedPath(const std::string& path, std::uint32_t attributes) {
  const std::string key = FileNameKey(path);
  // Never the uninstaller, its record or a file the installation keeps.
  if (key == FileNameKey(programFile_) || key == FileNameKey(folder_ + RecordNameFor(NamePart(programFile_))) ||
      std::any_of(plan_.files.begin(), plan_.files.end(),
                  [&](const RemovalPlan::File& f) { return f.left && FileNameKey(f.path) == key; })) {
    Log("kept (the installation's own): " + path);
    return;
  }
  const bool link = attributes & kAttrReparsePoint;
  if (!(attributes & kAttrDirectory)) {
    if (platform_.files.DeleteOneFile(path)) Log("removed: " + path);
    else Failed("not removed: " + path);
    return;
  }
  if (!link) {
    const std::unique_ptr<FolderHold> hold = platform_.files.HoldFolder(path + "\\");
    if (!hold) {
      Failed("not entered (reached through a link): " + path);
      return;
    }
    std::vector<FindEntry> found;
    FindEntry e;
    if (std::unique_ptr<FindHandle> find = platform_.files.FindFirst(path + "\\*", e)) {
      do found.push_back(e);
      while (find->Next(e));
    }
    for (const FindEntry& f : found)
      if (f.name != "." && f.name != "..") RemoveGeneratedPath(path + "\\" + f.name, f.attributes);
  }
  if (platform_.files.RemoveFolder(path)) {
    Log(link ? "removed (a link, not entered): " + path : "removed: " + path);
    return;
  }
  if (platform_.system.LastError().code == kErrorDirNotEmpty) Log("kept (not empty): " + path);
  else Failed("not removed: " + path);
}

void Uninstaller::RemoveFiles() {
  // The folder of the files being removed stays in its place meanwhile, so
  // each file needs no look of its own for a link on the way.
  std::unique_ptr<FolderHold> hold;
  std::string held;
  const int n = static_cast<int>(plan_.files.size());
  shortcutFolders_.clear();
  // Deletes are started here and done on the platform's threads; each
  // result comes back in order and is logged then. A line logged at once
  // waits for those before it, and the folder's hold for its deletes.
  const auto note = [this](const std::string& line) {
    platform_.files.Settle();
    Log(line);
  };
  for (int i = 0; i < n && !Stopped(); ++i) {
    const RemovalPlan::File& f = plan_.files[static_cast<std::size_t>(i)];
    Step(i, n, Fill(texts::Say(texts::Setup::Removing), {{"FILE", NamePart(f.path)}}));
    if (f.existed) {
      note("kept (it was there before the installation): " + f.path);
      continue;
    }
    if (f.left) {
      note("kept (the installation leaves it): " + f.path);
      continue;
    }
    if (!f.written && !f.cutShort) continue;  // announced, never written
    const std::optional<FileStamp> now = StampOf(f.path);
    if (!now) {
      if (f.written) note("already gone: " + f.path);
      continue;
    }
    if (!f.cutShort && !(*now == FileStamp{f.size, f.modified})) {
      // The person's own now: keeping it is the uninstall done right.
      note("kept (changed since the installation): " + f.path);
      continue;
    }
    if (FileNameKey(FolderPart(f.path)) != held) {
      platform_.files.Settle();
      hold.reset();
      held = FileNameKey(FolderPart(f.path));
      hold = platform_.files.HoldFolder(FolderPart(f.path));
    }
    platform_.files.StartDelete(f.path, [this, &f](bool deleted) { Removed(f, deleted, false); });
  }
  platform_.files.Settle();
  hold.reset();
  TryHeldAgain();
  for (const std::string& folder : shortcutFolders_) platform_.shell.Announce(Change::Folder, folder);
}

void Uninstaller::TryHeldAgain() {
  // Held for a moment (the shell reading a shortcut's icon, a virus
  // scanner): free again soon. All of them wait together, so the wait is
  // the same however many there are.
  constexpr int kTries = 5;
  constexpr unsigned kPauseMs = 60;
  for (int tried = 1; !held_.empty(); ++tried) {
    platform_.system.Pause(kPauseMs);
    std::vector<const RemovalPlan::File*> still;
    for (const RemovalPlan::File* f : held_) {
      const bool deleted = platform_.files.DeleteOneFile(f->path);
      if (!deleted && tried < kTries && platform_.system.LastError().code == kErrorInUse) still.push_back(f);
      else Removed(*f, deleted, true);
    }
    held_.swap(still);
  }
}

void Uninstaller::Removed(const RemovalPlan::File& f, bool deleted, bool tried) {
  if (!deleted && !tried && platform_.system.LastError().code == kErrorInUse) {
    held_.push_back(&f);
    return;
  }
  if (deleted) {
    // A file a run stopped writing is ours whatever it holds.
    Log((f.cutShort ? "removed (its writing was cut short): " : "removed: ") + f.path);
    const std::string folder = WithoutBackslash(FolderPart(f.path));
    if (IsShortcutFile(f.path) && std::none_of(shortcutFolders_.begin(), shortcutFolders_.end(),
                                            [&](const std::string& x) { return SameFileName(x, folder); }))
      shortcutFolders_.push_back(folder);
  } else if (platform_.system.LastError().code == kErrorInUse && platform_.rights.Elevated() && platform_.files.RemoveAtRestart(f.path)) {
    // A running program's file goes when the program can no longer hold it.
    report_.restartNeeded = true;
    Log("in use: " + f.path + ", removed at the next restart");
  } else {
    Failed("not removed: " + f.path);
    Retry(f.cutShort ? RecordEntry::Kind::FileStart : RecordEntry::Kind::File, f.path, 0, "", f.size, f.modified);
  }
}

void Uninstaller::RemoveRegistry() {
  window_.SetStatusText(texts::Say(texts::Setup::Unregister));
  window_.RepaintStatus();
  // With nothing to remove here the bar keeps showing the files done.
  const int n = static_cast<int>(plan_.values.size() + plan_.keys.size());
  if (n > 0) {
    window_.SetMainMax(n);
    window_.SetMainPosition(0);
  }
  for (const RemovalPlan::Value& v : plan_.values) {
    if (Stopped()) return;
    const std::string what = ValueName(v.root, v.subkey, v.name);
    if (v.existed)
      Log("kept (it was there before the installation): " + what);
    else if (platform_.registry.FindRegistryValue(v.root, v.subkey, v.name).value) {
      if (platform_.registry.DeleteRegistryValue(v.root, v.subkey, v.name)) {
        Log("removed: " + what);
      } else {
        Failed("not removed: " + what);
        Retry(RecordEntry::Kind::Value, v.subkey, v.root, v.name, 0, 0);
      }
    }
    window_.StepMain();
    Pump();
  }
  for (const auto& [root, key] : plan_.keys) {
    if (Stopped()) return;
    const std::string what = RootName(root) + "\\" + key;
    if (platform_.registry.DeleteRegistryKey(root, key, false)) {
      Log("removed: " + what);
    } else {
      const std::uint32_t code = platform_.system.LastError().code;
      if (code == kErrorKeyHasChildren) Log("kept (not empty): " + what);
      else if (code != kErrorFileNotFound && code != kErrorPathNotFound) Failed("not removed: " + what);
    }
    window_.StepMain();
  }
  window_.UpdateMain();
  RemovePathEntries();
  if (std::any_of(plan_.values.begin(), plan_.values.end(),
                  [](const RemovalPlan::Value& v) { return !v.existed && NamesFileTypes(v.root, v.subkey); }) ||
      std::any_of(plan_.keys.begin(), plan_.keys.end(),
                  [](const auto& k) { return NamesFileTypes(k.first, k.second); }))
    platform_.shell.Announce(Change::Associations, "");
}

void Uninstaller::RemovePathEntries() {
  if (plan_.pathEntries.empty()) return;
  for (const auto& [root, entry] : plan_.pathEntries) {
    switch (RemoveFromPath(platform_, root, entry)) {
      case PathEdit::Changed: Log("taken out of " + RootName(root) + " PATH: " + entry); break;
      case PathEdit::Unchanged: Log("no longer in " + RootName(root) + " PATH: " + entry); break;
      case PathEdit::Failed:
        Failed("not taken out of " + RootName(root) + " PATH: " + entry);
        Retry(RecordEntry::Kind::PathEntry, "", root, entry, 0, 0);
        break;
    }
  }
  platform_.shell.Announce(Change::Environment, "");
}

void Uninstaller::Unregister() {
  for (const auto& [root, id] : plan_.registrations) {
    const std::string key = kRegistrationKey + id;
    if (platform_.registry.DeleteRegistryKey(root, key, true))
      Log("registration removed: " + RootName(root) + "\\" + key);
    else if (platform_.system.LastError().code != kErrorFileNotFound)
      Failed("registration not removed: " + RootName(root) + "\\" + key);
  }
}

void Uninstaller::Retry(RecordEntry::Kind kind, const std::string& path, std::uint32_t root, const std::string& name,
                        std::uint64_t size, std::uint64_t modified) {
  RecordEntry e;
  e.kind = kind;
  e.path = path;
  e.root = root;
  e.name = name;
  e.size = size;
  e.modified = modified;
  retry_.push_back(std::move(e));
}

void Uninstaller::KeepForAnotherRun() {
  std::string record = kRecordHeader;
  RecordEntry product;
  product.kind = RecordEntry::Kind::Product;
  product.product = plan_.product;
  record += EncodeRecordEntry(product);
  // Oldest first, as an installation writes them: folders and keys before
  // what is in them.
  for (auto it = plan_.folders.rbegin(); it != plan_.folders.rend(); ++it)
    record += EncodeRecordEntry({.kind = RecordEntry::Kind::Folder, .path = *it});
  for (auto it = plan_.keys.rbegin(); it != plan_.keys.rend(); ++it)
    record += EncodeRecordEntry({.kind = RecordEntry::Kind::Key, .path = it->second, .root = it->first});
  for (auto it = retry_.rbegin(); it != retry_.rend(); ++it) record += EncodeRecordEntry(*it);
  for (const std::string& pattern : plan_.generated)
    record += EncodeRecordEntry({.kind = RecordEntry::Kind::Generated, .path = pattern});
  const std::string path = folder_ + RecordNameFor(NamePart(programFile_));
  // Sealed as it is and as it will be, then rewritten in one step.
  const std::optional<FileStamp> old = platform_.files.Stamp(path);
  const bool written =
      WriteSeal(platform_, plan_.product, {recordMark_, {record.size(), Sha256Of(record)}}) &&
      platform_.files.WriteFileFrom(path, kAttrArchive, old ? old->modified : 0,
                              [&](pack::ByteSink& out) { return out.Write(record.data(), record.size()); }) &&
      platform_.rights.Protect(path);
  if (written)
    Log("kept for another run: " + path + " names the " + std::to_string(retry_.size()) + " things still in use");
  else
    Failed("record not rewritten: " + path);
}

void Uninstaller::RemoveOwnFiles() {
  const std::string record = folder_ + RecordNameFor(NamePart(programFile_));
  if (platform_.files.DeleteOneFile(record)) Log("removed: " + record);
  else Failed("not removed: " + record);
  // A running program's file cannot be deleted, but it can be moved: into a
  // private folder, which the next uninstaller or packed setup run removes
  // and the next restart too, where the system lets us ask for that.
  const std::optional<std::string> aside = platform_.files.MakePrivateFolder(kPrivateFolderPrefix);
  const std::string moved = aside ? *aside + kUninstallerName : std::string();
  if (aside && platform_.files.MoveOneFile(programFile_, moved)) {
    Log("moved out of its folder: " + programFile_ + " -> " + moved);
    platform_.files.RemoveAtRestart(moved);
    platform_.files.RemoveAtRestart(aside->substr(0, aside->size() - 1));
    return;
  }
  // The folders that stay only because the file is still in them.
  std::vector<std::string> holding;
  for (const std::string& f : plan_.folders)
    if (FileNameKey(programFile_).rfind(FileNameKey(f) + "\\", 0) == 0) holding.push_back(f);
  // No move across volumes: a copy of the program, in the private folder,
  // removes the file and those folders once this run has ended.
  std::string sweep = "\"" + moved + "\" " + kSweepSwitch + " \"" + programFile_ + "\"";
  for (const std::string& f : holding) sweep += " \"" + f + "\"";
  if (aside && platform_.files.CopyOneFile(programFile_, moved) && platform_.shell.StartWatcher(sweep)) {
    Log("left to the uninstaller's copy " + moved + ", which removes it once this run has ended: " + programFile_);
    platform_.files.RemoveAtRestart(moved);
    platform_.files.RemoveAtRestart(aside->substr(0, aside->size() - 1));
    return;
  }
  const Platform::Error why = platform_.system.LastError();
  if (aside) platform_.files.RemoveTree(*aside);
  bool queued = platform_.files.RemoveAtRestart(programFile_);
  for (const std::string& f : holding) queued = platform_.files.RemoveAtRestart(f) && queued;
  if (queued) {
    report_.restartNeeded = true;
    Log("removed at the next restart: " + programFile_ + " (error " + std::to_string(why.code) + ": " + why.message +
        ")");
  } else {
    Failed("not removed: " + programFile_);
  }
}

void SweepAfter(Platform& platform, const std::string& file, const std::vector<std::string>& folders) {
  // The system may hold an ended program's file for a moment more.
  bool gone = false;
  for (int attempt = 0; attempt < 50 && !gone; ++attempt) {
    gone = platform.files.DeleteOneFile(file) || platform.system.LastError().code == kErrorFileNotFound;
    if (!gone) platform.system.Pause(100);
  }
  if (!gone) platform.files.RemoveAtRestart(file);
  std::vector<std::string> deepestFirst = folders;
  std::sort(deepestFirst.begin(), deepestFirst.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& f : deepestFirst)
    if (!platform.files.RemoveFolder(f) && !gone) platform.files.RemoveAtRestart(f);
}

void Uninstaller::RemoveFolders() {
  // On the platform's threads too (a folder can cost the disk more than a
  // file), each only once its sub-folders are done with.
  std::vector<std::string> started;  // upper case, with a backslash
  for (const std::string& folder : plan_.folders) {
    if (Stopped()) break;
    const std::string key = FileNameKey(WithoutBackslash(folder)) + "\\";
    if (std::any_of(started.begin(), started.end(), [&](const std::string& s) { return s.rfind(key, 0) == 0; })) {
      platform_.files.Settle();
      started.clear();
    }
    started.push_back(key);
    platform_.files.StartRemoveFolder(folder, [this, folder](bool removed) {
      if (removed) {
        Log("removed: " + folder);
        return;
      }
      const std::uint32_t code = platform_.system.LastError().code;
      if (code == kErrorDirNotEmpty) Log("kept (not empty): " + folder);
      else if (code != kErrorFileNotFound && code != kErrorPathNotFound) Failed("not removed: " + folder);
    });
  }
  platform_.files.Settle();
}

}  // namespace qv
