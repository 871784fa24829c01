// The record an installation keeps of what it added, read back by its
// uninstaller. A UTF-8 text file, one line per action in the order done:
//
//   qvSetup record 1
//   <crc> <kind>\t<field>\t<field>...
//
// where <crc> is the CRC-32 (8 hex digits) of the rest of the line. Fields
// escape '%' and control characters as %XX. Lines are only ever appended,
// so a run that stops halfway leaves at most its last line cut short; that
// line is ignored. Any other line that does not check out makes the record
// damaged as a whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/path.h"
#include "engine/path_list.h"
#include "engine/sha256.h"
#include "engine/system.h"

namespace qv {

inline constexpr char kRecordName[] = "uninstall.dat";
// A run without a record keeps its journal under this name in its private folder.
inline constexpr char kJournalName[] = "journal.dat";
inline constexpr char kUninstallerName[] = "uninstall.exe";
// Each product installed into a folder keeps its own record and
// uninstaller there: the first one uninstall.exe and uninstall.dat, any
// other uninstall-<id>.exe and uninstall-<id>.dat.
std::string OwnUninstallerName(const std::string& id);
// The record an uninstaller of that name (no folder) reads.
std::string RecordNameFor(const std::string& uninstallerName);
// What an installation's uninstaller carries behind its program (where a
// setup program carries its package): it is an uninstaller whatever it is
// called and whatever lies beside it.
inline constexpr char kUninstallerMark[] = "qvSetup uninstaller\x1A\n";
inline constexpr char kRegistrationKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// What the uninstaller must know of the product, from the script.
struct Product {
  std::string id{};
  std::string name{};
  std::string version{};
  std::string publisher{};
  std::uint32_t registrationRoot = 0;  // HKLM or HKCU (none yet: where the machine lets the installer)
  std::string linkCaption{};           // the window's link, as the installer showed it
  std::string linkTarget{};
  bool native64 = false;  // a 64-bit program's: the 64-bit registry view and system folder
  std::string language{};  // the texts it showed: "zh" (or empty) or "en"
  // Texts the script put in place of the program's own (name, text).
  std::vector<std::pair<std::string, std::string>> texts{};
  // What the list of programs shows besides (kAboutValues, name and text),
  // and its icon when not the uninstaller's. The registration holds them;
  // the record need not.
  std::vector<std::pair<std::string, std::string>> about{};
  std::string displayIcon{};
};

// The registration's optional values that [UNINSTALL] may give.
inline constexpr const char* kAboutValues[] = {"HelpLink", "URLInfoAbout", "URLUpdateInfo", "Contact", "Comments"};

struct RecordEntry {
  enum class Kind : char {
    Product = 'P',
    Folder = 'D',    // a folder the run created
    FileStart = 'w', // a file about to be written
    File = 'F',      // a file written, with its stamp
    Unwritten = 'x', // a file announced, then not written after all
    Key = 'K',       // a registry key the run created
    Value = 'V',     // a registry value the run wrote
    PathEntry = 'H', // a folder the run added to the PATH under `root`: name
    Text = 'T',      // a text the product's script replaced: name, and `data` the text
    Command = 'U',   // a command the uninstaller runs first: `data`, a COMMAND value (expanded)
    Leave = 'L',     // a file the uninstaller leaves where it is (KEEP); an undo still takes it back
    Generated = 'G', // what the program makes as it runs, removed by the uninstaller: a file,
                     // a folder's tree, or a wildcard over one folder's files
    // What only an undo needs, ignored by an uninstall:
    RunStart = 'R',    // a run begins; path: the folder whose record it carries on, if any
    RunEnd = 'E',      // the run went to its end: nothing of it is undone
    Aside = 'A',       // a file's previous content is to go to `name` (a name, nothing moved yet)
    MovedAside = 'M',  // it went there, and is kept until the run ends: its size and time there
    Waiting = 'W',     // a file's new content, waiting at `name` for the next restart
    Before = 'B',      // a registry value as it was before the run (`existed`, `type`, `data`)
    Registered = 'N',  // a registration the run created: root, key
    // A service the installation installed: `name`, the program it runs
    // (`path`); `existed`: an earlier version's, reconfigured, and
    // `service` its configuration before this run.
    Service = 'S',
  };
  Kind kind = Kind::Folder;
  std::string path{};  // folder or file path; the subkey for keys and values
  std::uint32_t root = 0;
  std::string name{};  // a value's name (a kept or waiting file's path)
  bool existed = false;  // files and values: there before this run wrote them
  std::uint64_t size = 0, modified = 0;
  Product product{};
  std::uint32_t type = 0;  // a value's registry type, as stored
  std::string data{};      // and its bytes
  ServiceConfig service{};
};

// A product as its registration says it is installed.
struct Installation {
  std::uint32_t root = 0;  // HKLM: for every user; HKCU: for this user
  std::string folder;      // where its record is (InstallLocation)
  std::string version;     // DisplayVersion
  // Read where an elevated run may follow it: HKLM, or HKCU when no other
  // program of the account could have written it.
  bool trusted = false;
};

// A service an installation installed, and the program it installed it to run.
struct InstalledService {
  std::string name, program;
};

// What the run driver asks of whoever keeps the record.
class RecordKeeper {
 public:
  virtual ~RecordKeeper() = default;
  // The script asks for an uninstaller: from now on every action is kept.
  // A run of the product (its id) that was killed before its end is
  // undone first, before this run changes anything.
  virtual void Start(const std::string& id) = 0;
  // Where the product (its id) is installed: for every user first, then
  // for this user. After Start, so that a killed run is undone first.
  virtual std::vector<Installation> Installations(const std::string& id) = 0;
  // The script keeps no record: every action is still kept, in a journal of
  // this run's own, so that a package found damaged halfway can be undone.
  // False when this run keeps none (it installs from a folder, or the
  // journal cannot be made); nothing is kept then.
  virtual bool StartJournal() = 0;
  // The record's folder is known: the record is written there from now on.
  virtual void Open(const std::string& folder, Product product) = 0;
  // The files the run is about to write, named in one go: one trip to the
  // disk for them all instead of one each.
  virtual void WillWrite(const std::vector<Path>& paths) = 0;
  // A file the run installs that is there as it must be already (an
  // update's unchanged file): recorded as written, not written.
  virtual void Kept(const Path& path) = 0;
  // Files of a KEEP entry, written or found there: no uninstall removes them.
  virtual void Leave(const std::vector<Path>& paths) = 0;
  // A file found there and left as it is (ONLYIFNEW, IFNEWER): what an
  // earlier run of the record said of it carries on, so the sweep of
  // earlier versions does not take it for gone from this one.
  virtual void Untouched(const Path& path) = 0;
  // An [UNINSTALLDELETE] pattern, expanded: false, and nothing recorded,
  // when it reaches outside the installation's own folders.
  virtual bool RemoveOnUninstall(const std::string& pattern) = 0;
  // Adds a folder to the PATH under root (HKLM or HKCU) and keeps that it
  // did: an uninstall takes exactly that entry out again.
  virtual PathEdit AddToPath(std::uint32_t root, const std::string& entry) = 0;
  // A command (a COMMAND value, expanded) for the uninstaller to run.
  virtual void KeepCommand(const std::string& value) = 0;
  // The services the installation's earlier runs installed (an update's):
  // those of the same name this run may reconfigure, and stop while it
  // replaces their programs.
  virtual std::vector<InstalledService> EarlierServices() { return {}; }
  // The run went to its end: what it did stays.
  virtual void Complete() = 0;
  // The run ends before its end: what it did is taken back, latest first.
  virtual void Undo() = 0;
};

inline constexpr char kRecordHeader[] = "qvSetup record 1\r\n";

// A path as a record names it: "\\?\C:\x" as "C:\x" and "\\?\UNC\s\x" as
// "\\s\x", the forms the system's own rules apply to; others as they are.
std::string RecordedPath(const std::string& path);

// One line, with its end of line.
std::string EncodeRecordEntry(const RecordEntry& entry);
// The reader takes the entry's line back as it was written: a path it
// would refuse (a stream, a name of dots) must never be recorded, or the
// whole record would be refused and nothing could be removed.
bool ReadsBack(const RecordEntry& entry);

// The entries of a record's bytes; none when the record is damaged.
std::optional<std::vector<RecordEntry>> ParseRecord(std::string_view bytes);

// What an uninstaller removes, each kind latest first. A path met more than
// once counts once: it existed before when its first line says so, and its
// stamp is that of its last line.
struct RemovalPlan {
  Product product;
  struct File {
    std::string path;
    bool existed = false;
    bool written = false;   // a run wrote it: size and time are its last
    bool cutShort = false;  // the last run to start writing it stopped before it had
    std::uint64_t size = 0, modified = 0;
    bool left = false;  // KEEP: an uninstall leaves it (an undo does not)
  };
  struct Value {
    std::uint32_t root = 0;
    std::string subkey, name;
    bool existed = false;
  };
  std::vector<File> files;
  std::vector<std::string> folders;
  std::vector<Value> values;
  std::vector<std::pair<std::uint32_t, std::string>> keys;
  std::vector<std::pair<std::uint32_t, std::string>> pathEntries;  // root, entry; latest first
  // The commands the uninstaller runs before it removes anything: the
  // latest run's alone, in order.
  std::vector<std::string> commands;
  std::vector<InstalledService> services;  // latest first
  // Every registration the record's products made (root, id).
  std::vector<std::pair<std::uint32_t, std::string>> registrations;
  // [UNINSTALLDELETE] patterns, each once, in the order recorded.
  std::vector<std::string> generated;
};

RemovalPlan PlanRemoval(const std::vector<RecordEntry>& entries);

// Whether an [UNINSTALLDELETE] pattern (a full path, a wildcard in its last
// name only) lies strictly inside the record's folder or a folder the
// installation made: nothing else is the installation's to remove.
bool GeneratedWithin(const std::string& pattern, const std::string& recordFolder,
                     const std::vector<std::string>& madeFolders);

// Where the last run's lines begin (the index of its RunStart line) when
// that run never reached its end: killed, or stopped before it could undo.
std::optional<std::size_t> UnfinishedRun(const std::vector<RecordEntry>& entries);
// The bytes of a record before its last RunStart line.
std::string_view BeforeLastRun(std::string_view record);

// Kilobytes the files the record names as its own take, rounded up.
std::uint32_t EstimatedKilobytes(const RemovalPlan& plan);

}  // namespace qv
