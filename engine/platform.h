// The engine reaches the machine only through this interface: the program
// plugs in the Win32 adapter, tests an in-memory machine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/bytes.h"

namespace qv {

// The system's error codes for "nothing there" (checked against the
// platform's headers in its adapter).
enum : std::uint32_t { kErrorFileNotFound = 2, kErrorPathNotFound = 3 };
// A folder or key that still holds something.
enum : std::uint32_t { kErrorDirNotEmpty = 145, kErrorKeyHasChildren = 1020 };
// A file's content turned out damaged while it was written (ERROR_CRC).
enum : std::uint32_t { kErrorDamagedData = 23 };
// Refused: what is asked for is not ours to do (ERROR_ACCESS_DENIED).
enum : std::uint32_t { kErrorAccessDenied = 5 };
// The person declined the elevation prompt (ERROR_CANCELLED).
enum : std::uint32_t { kErrorCancelled = 1223 };
// A path that leads elsewhere through a junction or symbolic link
// (ERROR_CANT_ACCESS_FILE).
enum : std::uint32_t { kErrorReachedThroughLink = 1920 };
// A path longer than the system takes (ERROR_FILENAME_EXCED_RANGE).
enum : std::uint32_t { kErrorPathTooLong = 206 };
// A running program holds the file (ERROR_SHARING_VIOLATION), whichever
// way the system refused it.
enum : std::uint32_t { kErrorInUse = 32 };

struct FindEntry {
  std::string name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0, modified = 0;  // a file's, as the search saw them
};

// An open directory search; closes itself.
class FindHandle {
 public:
  virtual ~FindHandle() = default;
  virtual bool Next(FindEntry& entry) = 0;
};

// Fills a file through its sink; false when the content cannot be had.
using FileProducer = std::function<bool(pack::ByteSink& out)>;
// Hears how a file call started on another thread ended.
using FileDone = std::function<void(bool ok)>;

// Keeps a folder in its place while it lives: it cannot be renamed or
// removed, so nothing can be put there instead.
class FolderHold {
 public:
  virtual ~FolderHold() = default;
};

// Keeps other runs for one product (installations, uninstallers) from
// going on at the same time while it lives.
class ProductHold {
 public:
  virtual ~ProductHold() = default;
};

// Root key handle values, as the registry knows them.
enum : std::uint32_t {
  kHKCR = 0x80000000u,
  kHKCU = 0x80000001u,
  kHKLM = 0x80000002u,
  kHKU = 0x80000003u,
  kHKCC = 0x80000005u,
  kHKDD = 0x80000006u,
};

// ExpandText: text whose %NAME% parts the system expands when it is read
// (REG_EXPAND_SZ), as PATH often is.
enum class RegType : std::uint32_t { Text = 1, ExpandText = 2, Binary = 3, Dword = 4 };

struct RegistryText {
  enum class Status { KeyNotOpened, Absent, Text, NotText };
  Status status = Status::KeyNotOpened;
  std::string text;
  bool expandable = false;  // stored as REG_EXPAND_SZ
};

// A shell shortcut (.lnk file). Empty fields are not set: the shell then
// takes the target's own icon, and no working folder.
struct Shortcut {
  std::string file;  // the .lnk's own path
  std::string target;
  std::string arguments;
  std::string iconFile;
  int iconIndex = 0;
  std::string workingFolder;
  std::string description;
};

// What the shell and the running programs are told has changed.
enum class Change {
  Associations,  // file types and their programs (SHCNE_ASSOCCHANGED)
  Folder,        // the contents of one folder
  Environment,   // the environment variables kept in the registry
};

enum class RegWrite { KeyNotOpened, Written, WriteFailed };

// A registry value as the machine stores it: its type (any, as the registry
// numbers them) and its bytes (text in the machine's own form).
struct StoredValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// What is there of a registry value.
struct RegistryPresence {
  bool key = false;
  bool value = false;
};

// A file's size and modification time (FILETIME ticks).
struct FileStamp {
  std::uint64_t size = 0;
  std::uint64_t modified = 0;
  bool operator==(const FileStamp& o) const { return size == o.size && modified == o.modified; }
};

// A file that only grows; each piece reaches the disk before Append returns.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  virtual bool Append(std::string_view bytes) = 0;
  // Only as far as the system's cache: it outlives this process being
  // killed, not a power cut, until the next Append takes it to the disk.
  virtual bool AppendCached(std::string_view bytes) = 0;
};

// The folders the system names for a package's places, each for this user
// or for all users.
enum class KnownFolder {
  LocalAppData,        // this user's, not roaming (C:\Users\<name>\AppData\Local)
  AppData,             // this user's, roaming
  UserPrograms,        // this user's programs (LocalAppData\Programs)
  Profile,             // this user's profile folder
  StartMenuPrograms,   // this user's Start menu Programs folder
  Desktop,             // this user's desktop
  Startup,             // this user's Startup folder
  CommonAppData,       // all users' data (ProgramData)
  CommonStartMenuPrograms,
  CommonDesktop,       // the public desktop
  CommonStartup,
  ProgramFilesNative,  // the 64-bit Program Files on 64-bit Windows, else Program Files
  CommonFiles,         // Common Files as a 32-bit program sees it
  CommonFilesNative,   // the 64-bit Common Files on 64-bit Windows, else Common Files
  Fonts,
};

// Every path, name and text crossing this interface is UTF-8. A text
// registry value's data is UTF-8 with its terminating zero; the machine
// stores it in its own form.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual std::string WindowsFolder() = 0;
  virtual std::string SystemFolder() = 0;
  virtual std::string TempPath() = 0;  // with its trailing backslash

  // Reads a text value (plain or expandable) from an existing key.
  virtual RegistryText ReadRegistryText(std::uint32_t root, const std::string& subkey,
                                        const std::string& name) = 0;
  // Opens or creates the key (the root itself for an empty subkey path) and
  // replaces the value, whatever type it had.
  virtual RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                                      const std::string& name, RegType type,
                                      const std::vector<std::uint8_t>& data) = 0;

  // A value exactly as stored, to put it back later; none when it is not
  // there or cannot be read.
  virtual std::optional<StoredValue> ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                                     const std::string& name) = 0;
  // Writes a value read by ReadStoredValue back as it was, into an
  // existing or new key.
  virtual bool WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                const StoredValue& value) = 0;

  virtual RegistryPresence FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) = 0;
  virtual bool DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) = 0;
  // Deletes a key with no values and no subkeys; whole: with everything in
  // it. False when it is not there or not empty (LastError tells which).
  virtual bool DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) = 0;

  virtual std::uint32_t Attributes(const std::string& path) = 0;  // kNoAttributes if none
  // Size and modification time of a file; none for a folder or nothing.
  virtual std::optional<FileStamp> Stamp(const std::string& path) = 0;
  // Deletes a file, read-only or not. Neither this nor RemoveFolder acts on
  // a path that reaches somewhere else through a link in it (they fail with
  // kErrorReachedThroughLink).
  virtual bool DeleteOneFile(const std::string& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveFolder(const std::string& path) = 0;
  // Holds a folder (ending in a backslash) that its path leads to without
  // a link on the way; null when it does not or cannot be held. While it is
  // held, DeleteOneFile takes the files right in it by their names, one
  // look less each: the folder cannot have become a link since.
  virtual std::unique_ptr<FolderHold> HoldFolder(const std::string& folder) = 0;
  // Claims the product (its id) for this run; null while another run,
  // of any account, has claimed it.
  virtual std::unique_ptr<ProductHold> HoldProduct(const std::string& id) = 0;
  // Moves a file on the same volume, a running program's own file included.
  virtual bool MoveOneFile(const std::string& from, const std::string& to) = 0;
  // Asks the system to delete a file or an empty folder at the next restart
  // (administrators only).
  virtual bool RemoveAtRestart(const std::string& path) = 0;
  // Opens a file for appending, creating it when absent (with the access
  // list Protect gives); never through a link.
  virtual std::unique_ptr<AppendFile> OpenAppend(const std::string& path) = 0;
  virtual bool MakeFolder(const std::string& path) = 0;
  // Starts a search with the attribute mask kFindAll; null when nothing
  // matches or the search failed (LastError tells: kErrorFileNotFound and
  // kErrorPathNotFound mean there is nothing there).
  virtual std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindEntry& first) = 0;
  // Copies one file, replacing an existing target.
  virtual bool CopyOneFile(const std::string& from, const std::string& to) = 0;
  virtual std::optional<std::string> ReadWholeFile(const std::string& path) = 0;
  // Writes one file from a producer, with the guarantees of CopyOneFile: an
  // existing target is replaced only by a complete new file, a failed write
  // leaves nothing behind. The file gets the attributes and the
  // modification time (FILETIME ticks) given. A producer that fails without
  // a write failing leaves LastError at kErrorDamagedData.
  virtual bool WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                             const FileProducer& produce) = 0;
  // CopyOneFile, WriteFileFrom, DeleteOneFile and RemoveFolder, possibly
  // done on other threads while the caller goes on. `done` gets the result (LastError as
  // the plain call would leave it) on the calling thread, in the order the
  // calls were started, by the next Settle at the latest. A caller settles
  // before any call of another kind, so that what `done` logs and records
  // stays in order. Only a new file's writing, or a delete, goes elsewhere;
  // whatever fails there is done again here the plain way (a file in use,
  // one to replace) before `done` hears of it. These defaults do it at once.
  virtual void StartCopy(const std::string& from, const std::string& to, FileDone done) {
    Settle();
    done(CopyOneFile(from, to));
  }
  // size: what the producer gives. The producer is called here, before
  // this returns, in the order of the calls.
  virtual void StartWrite(const std::string& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                          const FileProducer& produce, FileDone done) {
    (void)size;
    Settle();
    done(WriteFileFrom(to, attributes, modified, produce));
  }
  virtual void StartDelete(const std::string& path, FileDone done) {
    Settle();
    done(DeleteOneFile(path));
  }
  virtual void StartRemoveFolder(const std::string& path, FileDone done) {
    Settle();
    done(RemoveFolder(path));
  }
  // Waits for everything started and hands over the results.
  virtual void Settle() {}
  // When the last CopyOneFile or WriteFileFrom to `path` found the old file held by a running program and,
  // with administrator rights, left the complete new file waiting to take its place at the next restart:
  // where the new file waits. None for any other file.
  virtual std::optional<std::string> WaitingBeside(const std::string& path) = 0;
  // Makes a new folder under TempPath named prefix + an unguessable part,
  // which only the current user (and the system) may open; never one that
  // existed before. Gives its path with a trailing backslash.
  virtual std::optional<std::string> MakePrivateFolder(const std::string& prefix) = 0;
  // Removes a private folder (one MakePrivateFolder made: a folder, no link,
  // owned by this account or administrators, open to nobody else) with
  // everything in it, read-only files included, never following a link
  // out of it. Anything else fails (kErrorAccessDenied) and stays as it
  // is. When anything in it
  // is held open (a program still running from it), nothing is removed and
  // it fails.
  virtual bool RemoveTree(const std::string& folder) = 0;

  // The run may change what every user relies on (elevated, or the system
  // account): nothing another account could have written may steer it.
  virtual bool Elevated() = 0;
  // An administrator's run without its administrator rights (a limited
  // token): the system gives them at a consent prompt.
  virtual bool LimitedAdministrator() = 0;
  // An elevated run of an account that also runs without its rights (a
  // split token): its unelevated programs can write what HKCU says.
  virtual bool LimitedHalf() = 0;
  // 64-bit Windows (this 32-bit program runs under its 32-bit layer).
  virtual bool Windows64() = 0;
  // From now on registry keys are opened in the 64-bit view and paths
  // under the system folder reach the 64-bit one (on 64-bit Windows; on
  // 32-bit Windows there is only the one).
  virtual void UseNativeView() = 0;
  // A folder the system names, without a trailing backslash; empty when the
  // system has none.
  virtual std::string KnownFolderPath(KnownFolder which) = 0;
  // Starts this program again through the system's elevation prompt with
  // these arguments and waits for it to end: its exit code. None when the
  // person declined; LastError tells other failures apart.
  virtual std::optional<int> RunElevated(const std::vector<std::string>& args) = 0;
  // Starts this program again as this account without its administrator
  // rights (its limited half) and waits for it: its exit code, or none
  // when it could not be started (LastError tells why).
  virtual std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) = 0;
  // Nobody but this account, administrators and the system may change the
  // file, one of them owns it, and it is no link.
  virtual bool OnlyOursCanChange(const std::string& path) = 0;
  // Two paths lead to one folder, by its identity (volume and file number)
  // rather than its names: another drive letter for it, a share of a local
  // disk, a junction.
  virtual bool SameFolder(const std::string& a, const std::string& b) = 0;
  // How a path the run reads from reads in the log: a package's file is
  // said to be one, for there is no such file on the disk.
  virtual std::string ShownName(const std::string& path) { return path; }
  // Gives a file an access list that lets nobody else change it (as above).
  virtual bool Protect(const std::string& path) = 0;

  // Starts a program without waiting for it to end; with a working folder
  // when one is given, else in the caller's.
  virtual bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) = 0;
  // Starts a program that acts once this process has ended: it gets a
  // handle to this process, which it may wait on, and that handle's number
  // as the last word of its command line; nothing else of ours. It starts
  // hidden, in the system folder.
  virtual bool StartWatcher(const std::string& commandLine) = 0;
  // Makes a shortcut through the shell's own shortcut object, replacing a
  // file of its name; its folder must exist.
  virtual bool MakeShortcut(const Shortcut& shortcut) = 0;
  // The text with the environment's %NAME% parts expanded as the system
  // does (unknown names stay).
  virtual std::string ExpandEnvironment(const std::string& text) = 0;
  // Tells the shell (and for the environment, every top-level window, each
  // given a few seconds at most: a hung one cannot stop the run).
  virtual void Announce(Change change, const std::string& folder) = 0;
  // ANSI bytes of a code page (0: the system's ANSI code page) in UTF-8.
  virtual std::string FromCodePage(unsigned codePage, std::string_view bytes) = 0;
  virtual void Pause(unsigned milliseconds) = 0;
  // The system's code and message for the last call that failed.
  struct Error {
    std::uint32_t code = 0;
    std::string message;
  };
  virtual Error LastError() = 0;
  // Today's local date as YYYYMMDD.
  virtual std::string Today() = 0;
  // Milliseconds from some fixed moment; wraps around.
  virtual std::uint32_t Ticks() = 0;
};

}  // namespace qv
