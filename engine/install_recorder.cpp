#include "engine/install_recorder.h"

#include <algorithm>

#include "engine/entries.h"
#include "engine/errors.h"
#include "engine/folders.h"
#include "engine/run_report.h"
#include "engine/text.h"
#include "engine/undo.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/little_endian.h"

namespace qv {

namespace {

std::vector<std::uint8_t> DwordData(std::uint32_t v) {
  std::vector<std::uint8_t> data;
  AppendLe(data, v, 4);
  return data;
}

}  // namespace

namespace {

RecordEntry AsRecorded(RecordEntry entry) {
  if (entry.kind != RecordEntry::Kind::Key && entry.kind != RecordEntry::Kind::Value &&
      entry.kind != RecordEntry::Kind::Before && entry.kind != RecordEntry::Kind::Registered) {
    entry.path = RecordedPath(entry.path);
    entry.name = RecordedPath(entry.name);
  }
  // What the record cannot name could never be removed: not done at all.
  if (!ReadsBack(entry)) throw EngineError("The uninstall record cannot name " + entry.path + ": not a plain path");
  return entry;
}

}  // namespace

void InstallRecorder::Add(RecordEntry entry) {
  entry = AsRecorded(std::move(entry));
  pending_ += EncodeRecordEntry(entry);
  all_.push_back(std::move(entry));
}

void InstallRecorder::CannotWrite() {
  const Error e = Inner().system.LastError();
  throw EngineError((journal_ ? "The run's journal cannot be written: " + journalPath_
                               : "The uninstall record cannot be written: " + folder_ + kRecordName) +
                    " (error " + std::to_string(e.code) + ")");
}


void InstallRecorder::Seal(const RecordSeal::Mark& before, const RecordSeal::Mark& now) {
  if (!WriteSeal(quiet_, product_, {before, now})) CannotWrite();
}

void InstallRecorder::Commit(bool cached) {
  if (!file_ || pending_.empty()) return;
  // A journal serves this run's own undo alone: nobody reads it after a
  // kill, so nothing needs to reach the disk before the next action.
  if (journal_) {
    if (!file_->AppendCached(pending_)) CannotWrite();
    pending_.clear();
    return;
  }
  // The seal first: a line on disk that the seal does not cover is
  // somebody else's.
  Sha256 next = hash_;
  next.Update(pending_);
  const RecordSeal::Mark now{sealed_.length + pending_.size(), next.Peek()};
  Seal(sealed_, now);
  if (!(cached ? file_->AppendCached(pending_) : file_->Append(pending_))) CannotWrite();
  hash_ = next;
  sealed_ = now;
  pending_.clear();
}

bool InstallRecorder::MakeFolder(const Path& path) {
  if (!recording_) return Inner().files.MakeFolder(path);
  Commit();
  // Recorded once made, so named first.
  RecordEntry e = AsRecorded({.kind = RecordEntry::Kind::Folder, .path = path});
  const bool made = Inner().files.MakeFolder(path);
  if (made) {
    Add(std::move(e));
    madeFolders_.insert(FileNameKey(WithoutBackslash(path)));
  }
  return made;
}

std::string InstallRecorder::AsideName(const std::string& path) {
  // Short, in the file's own folder (a move, never a copy), and new: a
  // name that is taken makes the move fail, and another one is tried.
  return FolderPart(path) + "~qv" + std::to_string(Inner().system.Ticks() % 100000) + "-" + std::to_string(++asides_) +
         ".old";
}

void InstallRecorder::MoveAside(const std::string& path, std::string aside) {
  for (int attempt = 0;; ++attempt) {
    if (Inner().files.MoveOneFile(path, aside)) {
      // Said once it is done, with what tells the file there apart: a name
      // alone never makes an undo move anything back. Not flushed, one
      // flush a file would double a reinstallation's time: a killed run
      // still leaves the line, and one lost to a power cut leaves the file
      // where it is, which is the safe side.
      if (const std::optional<FileStamp> stamp = Inner().files.Stamp(aside)) {
        Add({.kind = RecordEntry::Kind::MovedAside,
             .path = path,
             .name = aside,
             .size = stamp->size,
             .modified = stamp->modified});
        Commit(true);
      }
      return;
    }
    // The move's own error, before another call leaves its own.
    const Error why = Inner().system.LastError();
    if (why.code == kErrorFileNotFound) return;  // gone since it was looked at: nothing to keep
    if (attempt == 3 || Inner().files.Attributes(aside) == kNoAttributes) {
      Log("previous content not kept (error " + std::to_string(why.code) +
          (why.message.empty() ? "" : ": " + why.message) + "): " + path);
      return;
    }
    // Somebody's file has that name: the record names the next one first.
    aside = AsideName(path);
    Add({.kind = RecordEntry::Kind::Aside, .path = path, .name = aside});
    Commit();
  }
}

void InstallRecorder::WillWrite(const std::vector<Path>& paths) {
  if (!recording_) return;
  for (const Path& path : paths) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::FileStart;
    e.path = path;
    // In a folder this run made, nothing was there before it: no look,
    // which costs as much as writing a small file.
    e.existed = !madeFolders_.count(FileNameKey(WithoutBackslash(FolderPart(path)))) &&
                Inner().files.Attributes(path) != kNoAttributes;
    Announced& a = announced_[path.Key()] = {path, e.existed, {}};
    Add(std::move(e));
    if (a.existed) {
      a.aside = AsideName(path);
      Add({.kind = RecordEntry::Kind::Aside, .path = path, .name = a.aside});
    }
  }
  Commit();
}

void InstallRecorder::Kept(const Path& path) {
  if (!recording_) return;
  RecordEntry e;
  e.path = path;
  e.existed = true;
  const std::optional<FileStamp> stamp = Inner().files.Stamp(path);
  e.kind = stamp ? RecordEntry::Kind::File : RecordEntry::Kind::Unwritten;
  if (stamp) {
    e.size = stamp->size;
    e.modified = stamp->modified;
  }
  Add(std::move(e));
}

void InstallRecorder::Leave(const std::vector<Path>& paths) {
  if (!recording_ || paths.empty()) return;
  for (const Path& path : paths) Add({.kind = RecordEntry::Kind::Leave, .path = path});
  Commit();
}

void InstallRecorder::Untouched(const Path& path) {
  if (!recording_ || !runOpened_) return;
  // Its stamp as last recorded: a file changed since stays the person's.
  // There before this run, as a kept file is: its undo leaves it, and the
  // sweep of earlier versions makes it the installation's own again.
  if (!earlierFiles_) {
    earlierFiles_.emplace();
    for (std::size_t i = 0; i < runStart_ && i < all_.size(); ++i)
      if (all_[i].kind == RecordEntry::Kind::File) (*earlierFiles_)[FileNameKey(all_[i].path)] = i;
  }
  const auto last = earlierFiles_->find(FileNameKey(RecordedPath(path)));
  if (last == earlierFiles_->end()) return;  // not the installation's: nothing to carry on
  const RecordEntry& was = all_[last->second];
  Add({.kind = RecordEntry::Kind::File, .path = path, .existed = true, .size = was.size, .modified = was.modified});
}

bool InstallRecorder::RemoveOnUninstall(const std::string& pattern) {
  if (!recording_ || journal_ || folder_.empty()) return false;
  const std::string recorded = RecordedPath(pattern);
  std::vector<std::string> made;
  for (const RecordEntry& e : all_)
    if (e.kind == RecordEntry::Kind::Folder) made.push_back(e.path);
  if (!GeneratedWithin(recorded, folder_, made)) return false;
  Add({.kind = RecordEntry::Kind::Generated, .path = recorded});
  Commit();
  return true;
}

template <typename Write>
bool InstallRecorder::RecordFile(const Path& to, Write write) {
  if (!recording_) return write();
  RecordEntry e;
  e.path = to;
  std::string aside;
  const auto announced = announced_.find(to.Key());
  if (announced != announced_.end()) {
    e.existed = announced->second.existed;
    aside = announced->second.aside;
    announced_.erase(announced);
  } else {
    e.kind = RecordEntry::Kind::FileStart;
    e.existed = Inner().files.Attributes(to) != kNoAttributes;
    Add(e);
    if (e.existed) {
      aside = AsideName(to);
      Add({.kind = RecordEntry::Kind::Aside, .path = to, .name = aside});
    }
    // On disk before the file is: a run stopped while writing it still
    // leaves it to the uninstaller.
    Commit();
  }
  // The previous content stays until the run ends, for an undo to put back.
  if (!aside.empty()) MoveAside(to, aside);
  const bool written = write();
  Written(std::move(e), to, written);
  return written;
}

void InstallRecorder::Written(RecordEntry e, const Path& to, bool written) {
  // A file in use is replaced at the restart: the new one's stamp is what
  // will be there, and an undo removes it before it gets there.
  const std::optional<std::string> waiting = written ? Inner().files.WaitingBeside(to) : std::nullopt;
  if (waiting) Add({.kind = RecordEntry::Kind::Waiting, .path = e.path, .name = *waiting});
  const std::optional<FileStamp> stamp = written ? Inner().files.Stamp(waiting ? Path(*waiting) : to) : std::nullopt;
  e.kind = stamp ? RecordEntry::Kind::File : RecordEntry::Kind::Unwritten;
  if (stamp) {
    e.size = stamp->size;
    e.modified = stamp->modified;
  }
  Add(std::move(e));
}

template <typename Plain, typename Started>
void InstallRecorder::StartFile(const Path& to, FileDone done, Plain plain, Started started) {
  // Only a new file the record named beforehand adds no line before it is
  // written; any other adds lines now, and waits for those before it.
  const auto announced = announced_.find(to.Key());
  if (announced == announced_.end() || announced->second.existed) {
    inner_.files.Settle();
    done(plain());
    return;
  }
  RecordEntry e;
  e.path = to;
  announced_.erase(announced);
  started([this, e = std::move(e), to, done = std::move(done)](bool written) mutable {
    Written(std::move(e), to, written);
    done(written);
  });
}

void InstallRecorder::StartCopy(const Path& from, const Path& to, FileDone done) {
  if (!recording_) return Inner().files.StartCopy(from, to, std::move(done));
  StartFile(
      to, std::move(done), [&] { return CopyOneFile(from, to); },
      [&](FileDone recorded) { Inner().files.StartCopy(from, to, std::move(recorded)); });
}

bool InstallRecorder::CopyOneFile(const Path& from, const Path& to) {
  return RecordFile(to, [&] { return Inner().files.CopyOneFile(from, to); });
}

bool InstallRecorder::MakeShortcut(const Shortcut& shortcut) {
  // A shortcut is a file like any other: replaced ones kept aside, its
  // stamp kept, so that one the person changed since stays.
  return RecordFile(shortcut.file, [&] { return Inner().shell.MakeShortcut(shortcut); });
}

PathEdit InstallRecorder::AddToPath(std::uint32_t root, const std::string& entry) {
  if (!recording_) return qv::AddToPath(Inner(), root, entry);
  const RegistryText now = Inner().registry.ReadRegistryText(root, EnvironmentKey(root), "Path");
  const std::string value = now.status == RegistryText::Status::Text ? now.text : std::string();
  if (now.status != RegistryText::Status::NotText &&
      !WithEntry(value, entry, [this](const std::string& t) { return Inner().system.ExpandEnvironment(t); })) {
    // There already because an earlier version added it: still the installation's.
    const auto earlier = all_.begin() + static_cast<std::ptrdiff_t>(runOpened_ ? runStart_ : 0);
    if (std::any_of(all_.begin(), earlier, [&](const RecordEntry& e) {
          return e.kind == RecordEntry::Kind::PathEntry && e.root == root && SameFileName(e.name, entry);
        }))
      Add({.kind = RecordEntry::Kind::PathEntry, .root = root, .name = entry});
    return PathEdit::Unchanged;
  }
  // Named before it is added: a run killed in between is undone with it.
  RecordEntry e;
  e.kind = RecordEntry::Kind::PathEntry;
  e.root = root;
  e.name = entry;
  Add(std::move(e));
  return qv::AddToPath(Inner(), root, entry);
}

bool InstallRecorder::MakeService(const std::string& name, const ServiceConfig& config) {
  if (!recording_) return Inner().system.MakeService(name, config);
  Commit();
  // Named once made, unlike a file: a name somebody else took meanwhile is
  // never recorded as ours, for an undo to delete. A run killed in between
  // leaves the service behind, which is the safe side.
  const bool made = Inner().system.MakeService(name, config);
  if (made) {
    Add({.kind = RecordEntry::Kind::Service, .path = SplitProgram(config.command).program, .name = name});
    Commit();
  }
  return made;
}

bool InstallRecorder::ChangeService(const std::string& name, const ServiceConfig& config) {
  if (!recording_) return Inner().system.ChangeService(name, config);
  // An earlier version's: how it was, for an undo to put back (as it is
  // now when it cannot be read).
  const ServiceConfig before = Inner().system.FindService(name).value_or(config);
  Add({.kind = RecordEntry::Kind::Service,
       .path = SplitProgram(config.command).program,
       .name = name,
       .existed = true,
       .service = before});
  Commit();
  return Inner().system.ChangeService(name, config);
}

std::vector<InstalledService> InstallRecorder::EarlierServices() {
  // Asked for each entry that replaces files: a look at the lines, no plan.
  std::vector<InstalledService> found;
  for (std::size_t i = 0; runOpened_ && i < runStart_; ++i) {
    const RecordEntry& e = all_[i];
    if (e.kind != RecordEntry::Kind::Service) continue;
    const auto known = std::find_if(found.begin(), found.end(),
                                    [&](const InstalledService& s) { return SameText(s.name, e.name); });
    if (known != found.end()) known->program = e.path;
    else found.push_back({e.name, e.path});
  }
  return found;
}

bool InstallRecorder::WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                                    const FileProducer& produce) {
  return RecordFile(to, [&] { return Inner().files.WriteFileFrom(to, attributes, modified, produce); });
}

RegWrite InstallRecorder::WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                             RegType type, const std::vector<std::uint8_t>& data) {
  if (!recording_ || root == 0) return Inner().registry.WriteRegistryValue(root, subkey, name, type, data);
  const RegistryPresence before = Inner().registry.FindRegistryValue(root, subkey, name);
  // The keys the write will create, from the top down.
  std::vector<std::string> created;
  if (!before.key && !subkey.empty()) {
    std::string key = subkey;
    for (;;) {
      created.push_back(key);
      const std::size_t cut = key.rfind('\\');
      if (cut == std::string::npos || cut == 0) break;
      key.resize(cut);
      if (Inner().registry.FindRegistryValue(root, key, "").key) break;
    }
    std::reverse(created.begin(), created.end());
  }
  for (const std::string& key : created) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::Key;
    e.root = root;
    e.path = key;
    Add(std::move(e));
  }
  // What it held, for an undo to put back.
  if (before.value) {
    if (const std::optional<StoredValue> old = Inner().registry.ReadStoredValue(root, subkey, name))
      Add({.kind = RecordEntry::Kind::Before,
           .path = subkey,
           .root = root,
           .name = name,
           .existed = true,
           .type = old->type,
           .data = std::string(old->data.begin(), old->data.end())});
  }
  RecordEntry e;
  e.kind = RecordEntry::Kind::Value;
  e.root = root;
  e.path = subkey;
  e.name = name;
  e.existed = before.value;
  Add(std::move(e));
  Commit();
  return Inner().registry.WriteRegistryValue(root, subkey, name, type, data);
}


std::string InstallRecorder::RegisteredUninstaller() {
  const RegistryText text =
      Inner().registry.ReadRegistryText(product_.registrationRoot, kRegistrationKey + product_.id, "UninstallString");
  if (text.status != RegistryText::Status::Text) return {};
  std::string path = Trim(text.text);
  if (path.size() > 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
  // Only the names an installation gives its uninstaller.
  const std::string name = path.substr(FolderPart(path).size());
  if (!SameFileName(name, kUninstallerName) && !SameFileName(name, OwnUninstallerName(product_.id))) return {};
  return path;
}

std::string InstallRecorder::UninstallerName() {
  const std::string registered = RegisteredUninstaller();
  if (!registered.empty() && SameFileName(FolderPart(registered), folder_)) return registered.substr(folder_.size());
  // The first name, unless it holds the record of another product.
  if (Inner().files.Attributes(folder_ + kRecordName) == kNoAttributes) return kUninstallerName;
  const std::optional<std::string> bytes = Inner().files.ReadWholeFile(folder_ + kRecordName);
  const std::optional<std::vector<RecordEntry>> entries = bytes ? ParseRecord(*bytes) : std::nullopt;
  const std::string owner = entries ? PlanRemoval(*entries).product.id : std::string();
  return owner.empty() || SameText(owner, product_.id) ? kUninstallerName : OwnUninstallerName(product_.id);
}

std::vector<RecordEntry> InstallRecorder::EarlierRecord(std::string& from, std::string& carried,
                                                        RecordSeal::Mark& read) {
  for (int pass = 0;; ++pass) {
    // Only the registration this run writes: an elevated run never follows
    // what a user could have written under HKCU.
    const RegistryText location =
        Inner().registry.ReadRegistryText(product_.registrationRoot, kRegistrationKey + product_.id, "InstallLocation");
    from = location.status == RegistryText::Status::Text && !location.text.empty() ? WithBackslash(location.text)
                                                                                   : folder_;
    const bool here = SameFileName(from, folder_);
    const std::string registered = RegisteredUninstaller();
    const std::string record = here ? folder_ + recordName_ : RegisteredRecord(from, registered);
    if (Inner().files.Attributes(record) == kNoAttributes) {
      // Moved from nowhere: a record is looked for here too.
      if (here || Inner().files.Attributes(folder_ + recordName_) == kNoAttributes) return {};
      Log("earlier record not carried on (not the folder the registration names): " + folder_ + recordName_);
      from = folder_;
      return {};
    }
    std::string why;
    const std::optional<std::string> bytes = Inner().files.ReadWholeFile(record);
    const std::optional<std::string_view> vouched =
        bytes ? VouchedPart(Inner(), record, product_.registrationRoot, product_.id, *bytes, why) : std::nullopt;
    std::optional<std::vector<RecordEntry>> entries = vouched ? ParseRecord(*vouched) : std::nullopt;
    if (bytes && vouched && !entries) why = "damaged";
    if (!bytes) why = "not readable";
    if (!entries) {
      Log("earlier record not carried on (" + why + "): " + record);
      from = folder_;
      return {};
    }
    if (const std::optional<std::size_t> start = UnfinishedRun(*entries); start && pass == 0) {
      UndoUnfinished(from, record, here ? folder_ + uninstallerName_ : (registered.empty() ? from + kUninstallerName : registered), *vouched,
                     *entries, *start);
      continue;
    }
    read = {bytes->size(), Sha256Of(*bytes)};
    // Whole lines only: what follows the last is a line cut short.
    carried = std::string(vouched->substr(0, vouched->rfind('\n') + 1));
    if (!here) {
      movedRecord_ = record;
      movedUninstaller_ = registered.empty() ? from + kUninstallerName : registered;
    }
    Log(here ? "record carried on: " + record : "record moved here from " + record);
    return std::move(*entries);
  }
}

std::string InstallRecorder::RegisteredRecord(const std::string& folder, const std::string& registered) const {
  return folder + (SameFileName(FolderPart(registered), folder) ? RecordNameFor(registered.substr(folder.size()))
                                                                : std::string(kRecordName));
}

void InstallRecorder::Start(const std::string& id) {
  // Two runs for one product would undo and redo each other's work.
  hold_ = Inner().rights.HoldProduct(id);
  if (!hold_) throw EngineError("Another installation or uninstallation of " + id + " is going on");
  recording_ = true;
  // Where a killed run of the product registered its record: undone there
  // before anything of this run happens. Only what an elevated run trusts.
  product_.id = id;
  for (const std::uint32_t root : {kHKLM, kHKCU}) {
    if (root == kHKCU && Inner().rights.Elevated() && Inner().rights.LimitedHalf()) break;
    product_.registrationRoot = root;
    const RegistryText location = Inner().registry.ReadRegistryText(root, kRegistrationKey + id, "InstallLocation");
    if (location.status != RegistryText::Status::Text || location.text.empty()) continue;
    const std::string folder = WithBackslash(location.text);
    const std::string registered = RegisteredUninstaller();
    const std::string record = RegisteredRecord(folder, registered);
    std::string why;
    const std::optional<std::string> bytes = Inner().files.ReadWholeFile(record);
    const std::optional<std::string_view> vouched =
        bytes ? VouchedPart(Inner(), record, root, id, *bytes, why) : std::nullopt;
    const std::optional<std::vector<RecordEntry>> entries = vouched ? ParseRecord(*vouched) : std::nullopt;
    if (const std::optional<std::size_t> start = entries ? UnfinishedRun(*entries) : std::nullopt)
      UndoUnfinished(folder, record, registered.empty() ? folder + kUninstallerName : registered, *vouched, *entries,
                     *start);
  }
  product_ = {};
  undidUnfinished_ = false;
}

void InstallRecorder::UndoUnfinished(const std::string& folder, const std::string& record,
                                     const std::string& uninstaller, std::string_view bytes,
                                     const std::vector<RecordEntry>& entries, std::size_t start) {
  Log("record of a run that never ended: " + record + ", undoing that run first");
  undidUnfinished_ = true;
  const std::vector<RecordEntry> run(entries.begin() + static_cast<std::ptrdiff_t>(start) + 1, entries.end());
  UndoChanges(Inner(), run, log_);
  const std::string& carriedFrom = entries[start].path;
  if (!carriedFrom.empty() && SameFileName(WithBackslash(carriedFrom), folder)) {
    // Back to the record as it was before that run, sealed as either.
    const std::string_view earlier = BeforeLastRun(bytes);
    const RecordSeal::Mark was{earlier.size(), Sha256Of(earlier)}, is{bytes.size(), Sha256Of(bytes)};
    if (!WriteSeal(quiet_, product_, {was, is}) ||
        !Inner().files.WriteFileFrom(record, kAttrArchive, 0,
                               [&](pack::ByteSink& out) { return out.Write(earlier.data(), earlier.size()); }))
      CannotWrite();
    Inner().rights.Protect(record);
  } else {
    Inner().files.DeleteOneFile(record);
    Inner().files.DeleteOneFile(uninstaller);
    for (const std::string& f : PlanRemoval(run).folders) Inner().files.RemoveFolder(f);
  }
  UndoRegistration(quiet_, run, log_);
}

std::vector<Installation> InstallRecorder::Installations(const std::string& id) {
  std::vector<Installation> found;
  for (const std::uint32_t root : {kHKLM, kHKCU}) {
    const std::string key = kRegistrationKey + id;
    const RegistryText location = Inner().registry.ReadRegistryText(root, key, "InstallLocation");
    if (location.status != RegistryText::Status::Text || Trim(location.text).empty()) continue;
    const RegistryText version = Inner().registry.ReadRegistryText(root, key, "DisplayVersion");
    found.push_back({.root = root,
                     .folder = WithoutBackslash(Trim(location.text)),
                     .version = version.status == RegistryText::Status::Text ? Trim(version.text) : std::string(),
                     .trusted = root == kHKLM || !(Inner().rights.Elevated() && Inner().rights.LimitedHalf())});
  }
  return found;
}

bool InstallRecorder::StartJournal() {
  if (!journalFolder_) return false;
  const std::optional<std::string> folder = journalFolder_();
  if (!folder) {
    Log("no journal of the run (no private folder): a damaged package found halfway is not undone");
    return false;
  }
  journalPath_ = WithBackslash(*folder) + kJournalName;
  file_ = Inner().files.OpenAppend(journalPath_);
  if (!file_) {
    Log("no journal of the run (error " + std::to_string(Inner().system.LastError().code) + "): " + journalPath_);
    return false;
  }
  folder_ = WithBackslash(*folder);
  recording_ = journal_ = true;
  pending_ = kRecordHeader;
  Log("journal: " + journalPath_);
  return true;
}

std::vector<RecordEntry> InstallRecorder::RegistrationNow(std::uint32_t root) {
  const std::string key = kRegistrationKey + product_.id;
  if (!Inner().registry.FindRegistryValue(root, key, "").key)
    return {{.kind = RecordEntry::Kind::Registered, .path = key, .root = root}};
  std::vector<RecordEntry> values;
  std::vector<const char*> names = {"DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "DisplayIcon",
                                    "UninstallString", "QuietUninstallString", "EstimatedSize", "InstallDate",
                                    "NoModify", "NoRepair", kSealValue};
  names.insert(names.end(), std::begin(kAboutValues), std::end(kAboutValues));
  for (const char* name : names) {
    const std::optional<StoredValue> v = Inner().registry.ReadStoredValue(root, key, name);
    values.push_back({.kind = RecordEntry::Kind::Before,
                      .path = key,
                      .root = root,
                      .name = name,
                      .existed = v.has_value(),
                      .type = v ? v->type : 0,
                      .data = v ? std::string(v->data.begin(), v->data.end()) : std::string()});
  }
  return values;
}

std::vector<RecordEntry> InstallRecorder::RunLines() const {
  const std::size_t first = runOpened_ ? runStart_ + 1 : 0;
  return {all_.begin() + static_cast<std::ptrdiff_t>(std::min(first, all_.size())), all_.end()};
}

void InstallRecorder::Open(const std::string& folder, Product product) {
  folder_ = WithBackslash(RecordedPath(folder));
  AsRecorded({.kind = RecordEntry::Kind::Folder, .path = folder_});
  product_ = std::move(product);
  if (!FolderExists(*this, folder_) && !CreateFolderPath(*this, folder_))
    throw EngineError("The folder for the uninstall record cannot be made: " + folder_);
  // How the registration is, for an undo: before the probe for its root.
  std::vector<RecordEntry> registration = RegistrationNow(kHKLM);
  product_.registrationRoot = RegistrationRoot();
  if (product_.registrationRoot != kHKLM) registration = RegistrationNow(product_.registrationRoot);
  uninstallerName_ = UninstallerName();
  recordName_ = RecordNameFor(uninstallerName_);
  const std::string record = folder_ + recordName_;
  std::string from, carried;
  RecordSeal::Mark read;
  const std::vector<RecordEntry> earlier = EarlierRecord(from, carried, read);
  // An unfinished run undone put the registration back as it was before it.
  if (undidUnfinished_) registration = RegistrationNow(product_.registrationRoot);
  const bool moved = !earlier.empty() && !SameFileName(from, folder_);
  if (!moved) earlier_ = carried;

  // A new record, written whole and put in place in one step over whatever
  // is there (a record we do not trust, or ours, carried on in this one):
  // never appended to a file somebody else may have made. The earlier
  // lines stay as they were, so that an undo can go back to them.
  RecordEntry run;
  run.kind = RecordEntry::Kind::RunStart;
  run.path = earlier.empty() ? std::string() : WithoutBackslash(from);
  const std::string head = (earlier.empty() ? std::string(kRecordHeader) : carried) + EncodeRecordEntry(run);
  pending_.insert(0, head);
  all_.insert(all_.begin(), earlier.begin(), earlier.end());
  runStart_ = earlier.size();
  all_.insert(all_.begin() + static_cast<std::ptrdiff_t>(runStart_), run);
  runOpened_ = true;
  RecordEntry p;
  p.kind = RecordEntry::Kind::Product;
  p.product = product_;
  Add(std::move(p));
  for (const auto& [name, text] : product_.texts) {
    RecordEntry t;
    t.kind = RecordEntry::Kind::Text;
    t.name = name;
    t.data = text;
    Add(std::move(t));
  }
  for (RecordEntry& e : registration) Add(std::move(e));
  hash_.Update(pending_);
  sealed_ = {pending_.size(), hash_.Peek()};
  // Ours carried on in place is sealed as it was (as read and found good)
  // and as it will be: a run killed in between leaves one of them.
  WriteRecord(record, !earlier.empty() && !moved ? read : sealed_);
  Register();
}

void InstallRecorder::WriteRecord(const std::string& record, const RecordSeal::Mark& before) {
  // The folder first: a run killed before it registers has a record that
  // its registration vouches for.
  WriteRegistration("InstallLocation", RegType::Text, TextData(WithoutBackslash(folder_)));
  Seal(before, sealed_);
  if (!Inner().files.WriteFileFrom(record, kAttrArchive, 0,
                             [this](pack::ByteSink& out) { return out.Write(pending_.data(), pending_.size()); }))
    CannotWrite();
  recordWritten_ = true;
  pending_.clear();
  Inner().rights.Protect(record);
  file_ = Inner().files.OpenAppend(record);
  if (!file_) CannotWrite();
  Log("record: " + record);
  const std::string uninstaller = folder_ + uninstallerName_;
  if (writeUninstaller_ && writeUninstaller_(Inner(), uninstaller)) {
    uninstallerWritten_ = true;
    Inner().rights.Protect(uninstaller);
    if (const std::optional<FileStamp> stamp = Inner().files.Stamp(uninstaller)) ownBytes_ = stamp->size;
  }
}

void InstallRecorder::KeepCommand(const std::string& value) {
  RecordEntry e;
  e.kind = RecordEntry::Kind::Command;
  e.data = value;
  Add(std::move(e));
}

void InstallRecorder::Complete() {
  if (!recording_) return;
  complete_ = true;
  RecordEntry end;
  end.kind = RecordEntry::Kind::RunEnd;
  Add(std::move(end));
  try {
    Commit();
  } catch (const EngineError& e) {
    Log(std::string("error: ") + e.what());
  }
  DropAsides(Inner(), RunLines(), log_);
  if (!movedRecord_.empty()) {
    // Its lines live on here; the old record and uninstaller are ours.
    Inner().files.DeleteOneFile(movedRecord_);
    Inner().files.DeleteOneFile(movedUninstaller_);
  }
  DropEarlierVersions();
}

void InstallRecorder::DropEarlierVersions() {
  if (!runOpened_ || runStart_ == 0 || journal_ || !pending_.empty() || !file_) return;
  const std::vector<RecordEntry> earlier(all_.begin(), all_.begin() + static_cast<std::ptrdiff_t>(runStart_));
  std::vector<RecordEntry> run(all_.begin() + static_cast<std::ptrdiff_t>(runStart_), all_.end());
  const std::vector<RecordEntry> kept = SweepStale(Inner(), earlier, run, log_);
  // The record names this version alone from now on, with what of the
  // earlier ones is still there; sealed as it was and as it will be while
  // it is rewritten in one step. Killed before, it names them all: the
  // uninstaller still takes everything away.
  std::string bytes = kRecordHeader;
  for (const RecordEntry& e : kept) bytes += EncodeRecordEntry(e);
  for (const RecordEntry& e : run) bytes += EncodeRecordEntry(e);
  const std::string record = folder_ + recordName_;
  const RecordSeal::Mark now{bytes.size(), Sha256Of(bytes)};
  file_.reset();
  if (WriteSeal(quiet_, product_, {sealed_, now}) &&
      Inner().files.WriteFileFrom(record, kAttrArchive, 0,
                                  [&](pack::ByteSink& out) { return out.Write(bytes.data(), bytes.size()); })) {
    Inner().rights.Protect(record);
    hash_ = Sha256();
    hash_.Update(bytes);
    sealed_ = now;
    all_ = kept;
    runStart_ = all_.size();
    all_.insert(all_.end(), run.begin(), run.end());
    Log("record: this version's alone: " + record);
  } else {
    Log("record not rewritten (error " + std::to_string(Inner().system.LastError().code) +
        "): it names the earlier versions too, for the uninstaller");
  }
  file_ = Inner().files.OpenAppend(record);
}

void InstallRecorder::Undo() {
  if (!recording_ || complete_ || undone_) return;
  undone_ = true;
  if (all_.empty() && !recordWritten_) return;  // nothing done yet
  Log("undoing the installation");
  const std::vector<RecordEntry> run = RunLines();
  UndoChanges(Inner(), run, log_);
  const std::string record = folder_ + recordName_;
  file_.reset();
  if (recordWritten_ && !earlier_.empty()) {
    // Back to the earlier record, sealed as either while it is rewritten.
    const RecordSeal::Mark was{earlier_.size(), Sha256Of(earlier_)};
    if (WriteSeal(quiet_, product_, {was, sealed_}) &&
        Inner().files.WriteFileFrom(record, kAttrArchive, 0,
                              [this](pack::ByteSink& out) { return out.Write(earlier_.data(), earlier_.size()); })) {
      Inner().rights.Protect(record);
      Log("undo: record put back: " + record);
    } else {
      Log("undo: record not put back: " + record + " (error " + std::to_string(Inner().system.LastError().code) + ")");
    }
  } else if (recordWritten_) {
    if (Inner().files.DeleteOneFile(record)) Log("undo: removed: " + record);
    if (uninstallerWritten_ && Inner().files.DeleteOneFile(folder_ + uninstallerName_))
      Log("undo: removed: " + folder_ + uninstallerName_);
    // The folder the record made it keep.
    for (const std::string& f : PlanRemoval(run).folders)
      if (Inner().files.RemoveFolder(f)) Log("undo: removed: " + f);
  }
  UndoRegistration(quiet_, run, log_);
  pending_.clear();
  announced_.clear();
}

std::uint32_t InstallRecorder::RegistrationRoot() {
  if (product_.registrationRoot) return product_.registrationRoot;  // the scope's
  // Where the machine lets us, for every user; else for this user only.
  const std::string key = kRegistrationKey + product_.id;
  if (quiet_.registry.WriteRegistryValue(kHKLM, key, "DisplayName", RegType::Text, TextData(product_.name)) ==
      RegWrite::Written)
    return kHKLM;
  Log("registration: HKLM refused, HKCU instead");
  return kHKCU;
}

void InstallRecorder::WriteRegistration(const std::string& name, RegType type, const std::vector<std::uint8_t>& data) {
  Inner().registry.WriteRegistryValue(product_.registrationRoot, kRegistrationKey + product_.id, name, type, data);
}

void InstallRecorder::Register() {
  const std::string uninstaller = folder_ + kUninstallerName;
  WriteRegistration("DisplayName", RegType::Text, TextData(product_.name));
  if (!product_.version.empty()) WriteRegistration("DisplayVersion", RegType::Text, TextData(product_.version));
  if (!product_.publisher.empty()) WriteRegistration("Publisher", RegType::Text, TextData(product_.publisher));
  WriteRegistration("InstallLocation", RegType::Text, TextData(WithoutBackslash(folder_)));
  WriteRegistration("DisplayIcon", RegType::Text, TextData(product_.displayIcon.empty() ? uninstaller : product_.displayIcon));
  WriteRegistration("UninstallString", RegType::Text, TextData("\"" + uninstaller + "\""));
  WriteRegistration("QuietUninstallString", RegType::Text, TextData("\"" + uninstaller + "\" /S"));
  WriteRegistration("EstimatedSize", RegType::Dword, DwordData(Kilobytes()));
  WriteRegistration("InstallDate", RegType::Text, TextData(Inner().system.Today()));
  WriteRegistration("NoModify", RegType::Dword, DwordData(1));
  WriteRegistration("NoRepair", RegType::Dword, DwordData(1));
  // An earlier version's link this one no longer gives goes with it.
  for (const char* name : kAboutValues) {
    const auto given = std::find_if(product_.about.begin(), product_.about.end(),
                                    [&](const auto& a) { return a.first == name; });
    if (given != product_.about.end()) WriteRegistration(name, RegType::Text, TextData(given->second));
    else Inner().registry.DeleteRegistryValue(product_.registrationRoot, kRegistrationKey + product_.id, name);
  }
}

void InstallRecorder::Finish() {
  if (journal_) {
    // Not undone: the run keeps what it did, as a run without a record
    // always has, and what it replaced goes.
    if (!undone_) DropAsides(Inner(), RunLines(), log_);
    file_.reset();
    Inner().files.DeleteOneFile(journalPath_);
    journal_ = recording_ = false;
    return;
  }
  Undo();
  if (undone_) return;
  // Announced and never written (the run was quit): not the installation's.
  for (const auto& [key, announced] : announced_) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::Unwritten;
    e.path = announced.path;
    Add(std::move(e));
  }
  announced_.clear();
  if (!file_) return;
  try {
    Commit();
  } catch (const EngineError& e) {
    Log(std::string("error: ") + e.what());
  }
  WriteRegistration("EstimatedSize", RegType::Dword, DwordData(Kilobytes()));
}

std::uint32_t InstallRecorder::Kilobytes() const {
  // The files the record names, and the uninstaller beside it.
  const std::uint64_t kb = EstimatedKilobytes(PlanRemoval(all_)) + (ownBytes_ + 1023) / 1024;
  return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kb);
}

void InstallRecorder::StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                                 const FileProducer& produce, FileDone done) {
  if (!recording_) return inner_.files.StartWrite(to, attributes, modified, size, produce, std::move(done));
  StartFile(
      to, std::move(done), [&] { return WriteFileFrom(to, attributes, modified, produce); },
      [&](FileDone recorded) { Inner().files.StartWrite(to, attributes, modified, size, produce, std::move(recorded)); });
}

static_assert(ChangesBothForms<RecordingFiles>());

bool RecordingFiles::MakeFolder(const Path& path) { return recorder_.MakeFolder(path); }
bool RecordingFiles::CopyOneFile(const Path& from, const Path& to) { return recorder_.CopyOneFile(from, to); }
void RecordingFiles::StartCopy(const Path& from, const Path& to, FileDone done) {
  recorder_.StartCopy(from, to, std::move(done));
}
bool RecordingFiles::WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                                   const FileProducer& produce) {
  return recorder_.WriteFileFrom(to, attributes, modified, produce);
}
void RecordingFiles::StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                                const FileProducer& produce, FileDone done) {
  recorder_.StartWrite(to, attributes, modified, size, produce, std::move(done));
}
RegWrite RecordingRegistry::WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                               RegType type, const std::vector<std::uint8_t>& data) {
  return recorder_.WriteRegistryValue(root, subkey, name, type, data);
}
bool RecordingShell::MakeShortcut(const Shortcut& shortcut) { return recorder_.MakeShortcut(shortcut); }
bool RecordingSystem::MakeService(const std::string& name, const ServiceConfig& config) {
  return recorder_.MakeService(name, config);
}
bool RecordingSystem::ChangeService(const std::string& name, const ServiceConfig& config) {
  return recorder_.ChangeService(name, config);
}

}  // namespace qv
