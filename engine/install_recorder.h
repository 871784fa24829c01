// Keeps the record of what a run adds, for its uninstaller: a platform
// that writes a record line for every folder it creates, file it writes and
// registry key or value it sets. Until Start it only passes calls on; until
// Open (the record's folder is known once the installation folder is) it
// keeps the lines in memory. Each line reaches the disk before the next
// action does.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/install_record.h"
#include "engine/record_seal.h"
#include "engine/platform_decorator.h"
#include "engine/setup_window.h"

namespace qv {

class InstallRecorder;

// The parts a record changes: files written and folders made, registry
// values set and shortcuts made are recorded; all else is handed on.
class RecordingFiles : public FileSystemDecorator {
 public:
  RecordingFiles(FileSystem& inner, InstallRecorder& recorder) : FileSystemDecorator(inner), recorder_(recorder) {}
  bool MakeFolder(const Path& path) override;
  bool CopyOneFile(const Path& from, const Path& to) override;
  void StartCopy(const Path& from, const Path& to, FileDone done) override;
  bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override;
  void StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                  const FileProducer& produce, FileDone done) override;

 private:
  InstallRecorder& recorder_;
};

class RecordingRegistry : public RegistryDecorator {
 public:
  RecordingRegistry(Registry& inner, InstallRecorder& recorder) : RegistryDecorator(inner), recorder_(recorder) {}
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override;

 private:
  InstallRecorder& recorder_;
};

class RecordingShell : public ShellDecorator {
 public:
  RecordingShell(Shell& inner, InstallRecorder& recorder) : ShellDecorator(inner), recorder_(recorder) {}
  bool MakeShortcut(const Shortcut& shortcut) override;

 private:
  InstallRecorder& recorder_;
};

// Services made or reconfigured are recorded.
class RecordingSystem : public SystemDecorator {
 public:
  RecordingSystem(System& inner, InstallRecorder& recorder) : SystemDecorator(inner), recorder_(recorder) {}
  bool MakeService(const std::string& name, const ServiceConfig& config) override;
  bool ChangeService(const std::string& name, const ServiceConfig& config) override;

 private:
  InstallRecorder& recorder_;
};

class InstallRecorder : public Platform, public RecordKeeper {
 public:
  // Writes the uninstaller program to a path through a platform.
  using UninstallerWriter = std::function<bool(Platform& platform, const std::string& to)>;

  // quiet: the same machine without the log, to try a registry root that
  // may refuse us without counting a failure.
  InstallRecorder(Platform& inner, Platform& quiet, RunLog* log)
      : Platform{files_, registry_, shell_, inner.rights, system_}, inner_(inner), quiet_(quiet), log_(log) {}

  void SetUninstallerWriter(UninstallerWriter writer) { writeUninstaller_ = std::move(writer); }
  // A run without a record keeps its journal in the folder this gives
  // (made when first asked for); without it such a run keeps none.
  using JournalFolder = std::function<std::optional<std::string>()>;
  void KeepJournalIn(JournalFolder folder) { journalFolder_ = std::move(folder); }
  void SetLog(RunLog* log) { log_ = log; }

  void Start(const std::string& id) override;
  std::vector<Installation> Installations(const std::string& id) override;
  bool StartJournal() override;
  bool Recording() const { return recording_; }
  bool Opened() const { return static_cast<bool>(file_); }
  // Opens the record in folder (made when missing), carrying on an earlier
  // record of the same product, then writes the uninstaller and registers
  // the product. Throws EngineError when the record cannot be written.
  void Open(const std::string& folder, Product product) override;
  void WillWrite(const std::vector<Path>& paths) override;
  void Kept(const Path& path) override;
  void Leave(const std::vector<Path>& paths) override;
  void Untouched(const Path& path) override;
  bool RemoveOnUninstall(const std::string& pattern) override;
  PathEdit AddToPath(std::uint32_t root, const std::string& entry) override;
  void KeepCommand(const std::string& value) override;
  std::vector<InstalledService> EarlierServices() override;
  void Complete() override;
  void Undo() override;
  // Brings the registration's size up to date and the last line to disk;
  // a run that neither completed nor was undone yet is undone first.
  void Finish();

 private:
  friend class RecordingFiles;
  friend class RecordingRegistry;
  friend class RecordingShell;
  friend class RecordingSystem;
  bool MakeService(const std::string& name, const ServiceConfig& config);
  bool ChangeService(const std::string& name, const ServiceConfig& config);

  // What the parts change, recorded.
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data);
  bool MakeFolder(const Path& path);
  bool CopyOneFile(const Path& from, const Path& to);
  void StartCopy(const Path& from, const Path& to, FileDone done);
  bool MakeShortcut(const Shortcut& shortcut);
  bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified, const FileProducer& produce);
  void StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                  const FileProducer& produce, FileDone done);
  // The machine the record's own work goes to, unrecorded.
  Platform& Inner() { return inner_; }

  void Add(RecordEntry entry);
  // Writes what is pending to the record; throws when it cannot. Cached:
  // as far as the system's cache (see AppendFile::AppendCached).
  void Commit(bool cached = false);
  [[noreturn]] void CannotWrite();
  // Records a file before it is written; then the write, then its stamp.
  template <typename Write>
  bool RecordFile(const Path& to, Write write);
  // A started copy or write: written behind the engine when the record
  // named it beforehand as new, else the plain way once the others are.
  template <typename Plain, typename Started>
  void StartFile(const Path& to, FileDone done, Plain plain, Started started);
  // The line a file gets once written, or not.
  void Written(RecordEntry e, const Path& to, bool written);
  // The earlier record of the product to carry on, as its bytes: the one in
  // this folder or, failing that, the one its registration names elsewhere
  // (that folder in `from`). Only records the registration's seal vouches
  // for: a record anybody else wrote or changed steers nothing. A run of it
  // that never ended is undone first.
  std::vector<RecordEntry> EarlierRecord(std::string& from, std::string& bytes, RecordSeal::Mark& read);
  // Takes back the run a record names as unfinished (its lines from
  // `start`), putting the record and registration back as they were.
  void UndoUnfinished(const std::string& folder, const std::string& record, const std::string& uninstaller,
                      std::string_view bytes,
                      const std::vector<RecordEntry>& entries, std::size_t start);
  // The uninstaller's name here: the product's own from before, or a free one.
  std::string UninstallerName();
  // The uninstaller the registration names, if any.
  std::string RegisteredUninstaller();
  // The record beside the uninstaller the registration names in a folder.
  std::string RegisteredRecord(const std::string& folder, const std::string& registered) const;
  // How the registration is now, for an undo.
  std::vector<RecordEntry> RegistrationNow(std::uint32_t root);
  // A name beside a file to keep its previous content under.
  std::string AsideName(const std::string& path);
  // Moves a file to be replaced aside, under another name when that one is
  // taken; logs when its previous content cannot be kept.
  void MoveAside(const std::string& path, std::string aside);
  std::vector<RecordEntry> RunLines() const;
  // A run over an earlier installation went to its end: what the earlier
  // versions installed and this one did not goes, and the record names
  // this version alone.
  void DropEarlierVersions();
  // Seals what is in the record and is about to be appended.
  void Seal(const RecordSeal::Mark& before, const RecordSeal::Mark& now);
  // Registers the folder, seals the record's new lines over `before`, writes
  // the record whole and the uninstaller beside it.
  void WriteRecord(const std::string& record, const RecordSeal::Mark& before);
  std::uint32_t RegistrationRoot();
  void Register();
  std::uint32_t Kilobytes() const;
  void WriteRegistration(const std::string& name, RegType type, const std::vector<std::uint8_t>& data);
  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }

  Platform& inner_;
  Platform& quiet_;
  RunLog* log_;
  UninstallerWriter writeUninstaller_;
  JournalFolder journalFolder_;
  bool recording_ = false;
  bool journal_ = false;  // recording into a journal: no record, no seal
  std::string journalPath_;
  std::unique_ptr<AppendFile> file_;
  std::string pending_;
  Sha256 hash_;              // of the record's bytes on disk
  RecordSeal::Mark sealed_;  // their length and digest
  std::vector<RecordEntry> all_;  // every line of the record, earlier runs' included
  std::string folder_;            // ends in a backslash
  struct Announced {
    std::string path;
    bool existed = false;
    std::string aside;  // where its previous content goes
  };
  std::map<std::string, Announced> announced_;  // by upper-case path
  std::set<std::string> madeFolders_;           // by key, without the last backslash
  // The earlier runs' last File line of each file (by key), once asked for.
  std::optional<std::map<std::string, std::size_t>> earlierFiles_;
  Product product_;
  std::uint64_t ownBytes_ = 0;  // the uninstaller's size
  std::string uninstallerName_ = kUninstallerName, recordName_ = kRecordName;
  std::size_t runStart_ = 0;  // where this run's lines begin in all_
  bool complete_ = false, undone_ = false;
  bool recordWritten_ = false, uninstallerWritten_ = false;
  bool runOpened_ = false;        // all_ holds earlier lines, then this run's
  bool undidUnfinished_ = false;
  std::string earlier_;        // the earlier record carried on in place, as it was
  std::string movedRecord_, movedUninstaller_;  // an earlier place's, removed at the end
  unsigned asides_ = 0;
  std::unique_ptr<ProductHold> hold_;
  RecordingFiles files_{inner_.files, *this};
  RecordingRegistry registry_{inner_.registry, *this};
  RecordingShell shell_{inner_.shell, *this};
  RecordingSystem system_{inner_.system, *this};
};

}  // namespace qv
