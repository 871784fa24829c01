// The machine's files and folders: looked at, searched, written whole,
// removed without following links, some of it on other threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/path.h"
#include "package/bytes.h"

namespace qv {

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

// A search whose entries are known already: the package's, a test's.
class ListedFind : public FindHandle {
 public:
  explicit ListedFind(std::vector<FindEntry> rest) : rest_(std::move(rest)) {}
  bool Next(FindEntry& e) override {
    if (at_ >= rest_.size()) return false;
    e = rest_[at_++];
    return true;
  }

 private:
  std::vector<FindEntry> rest_;
  std::size_t at_ = 0;
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

// Paths and names are UTF-8.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual std::uint32_t Attributes(const Path& path) = 0;  // kNoAttributes if none
  // Size and modification time of a file; none for a folder or nothing.
  virtual std::optional<FileStamp> Stamp(const Path& path) = 0;
  // Starts a search with the attribute mask kFindAll; null when nothing
  // matches or the search failed (LastError tells: kErrorFileNotFound and
  // kErrorPathNotFound mean there is nothing there).
  virtual std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first) = 0;
  virtual std::optional<std::string> ReadWholeFile(const Path& path) = 0;
  // A file to read in parts, of any size; null when it cannot be opened.
  virtual std::unique_ptr<pack::ByteSource> OpenRead(const Path& path) = 0;
  // Two paths lead to one folder, by its identity (volume and file number)
  // rather than its names: another drive letter for it, a share of a local
  // disk, a junction.
  virtual bool SameFolder(const Path& a, const Path& b) = 0;
  // How a path the run reads from reads in the log: a package's file is
  // said to be one, for there is no such file on the disk.
  virtual std::string ShownName(const Path& path) { return path.Text(); }

  virtual bool MakeFolder(const Path& path) = 0;
  // Copies one file, replacing an existing target.
  virtual bool CopyOneFile(const Path& from, const Path& to) = 0;
  // Writes one file from a producer, with the guarantees of CopyOneFile: an
  // existing target is replaced only by a complete new file, a failed write
  // leaves nothing behind. The file gets the attributes and the
  // modification time (FILETIME ticks) given. A producer that fails without
  // a write failing leaves LastError at kErrorDamagedData.
  virtual bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                             const FileProducer& produce) = 0;
  // Deletes a file, read-only or not. Neither this nor RemoveFolder acts on
  // a path that reaches somewhere else through a link in it (they fail with
  // kErrorReachedThroughLink).
  virtual bool DeleteOneFile(const Path& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveFolder(const Path& path) = 0;
  // Moves a file on the same volume, a running program's own file included.
  virtual bool MoveOneFile(const Path& from, const Path& to) = 0;
  // Asks the system to delete a file or an empty folder at the next restart
  // (administrators only).
  virtual bool RemoveAtRestart(const Path& path) = 0;
  // Opens a file for appending, creating it when absent (with the access
  // list Rights::Protect gives); never through a link.
  virtual std::unique_ptr<AppendFile> OpenAppend(const Path& path) = 0;
  // Holds a folder (ending in a backslash) that its path leads to without
  // a link on the way; null when it does not or cannot be held. While it is
  // held, DeleteOneFile takes the files right in it by their names, one
  // look less each: the folder cannot have become a link since.
  virtual std::unique_ptr<FolderHold> HoldFolder(const Path& folder) = 0;
  // When the last CopyOneFile or WriteFileFrom to `path` found the old file held by a running program and,
  // with administrator rights, left the complete new file waiting to take its place at the next restart:
  // where the new file waits. None for any other file.
  virtual std::optional<std::string> WaitingBeside(const Path& path) = 0;
  // Makes a new folder under the system's TempPath named prefix + an
  // unguessable part, which only the current user (and the system) may
  // open; never one that existed before. Gives its path with a trailing
  // backslash.
  virtual std::optional<std::string> MakePrivateFolder(const std::string& prefix) = 0;
  // Removes a private folder (one MakePrivateFolder made: a folder, no link,
  // owned by this account or administrators, open to nobody else) with
  // everything in it, read-only files included, never following a link
  // out of it. Anything else fails (kErrorAccessDenied) and stays as it
  // is. When anything in it is held open (a program still running from
  // it), nothing is removed and it fails.
  virtual bool RemoveTree(const Path& folder) = 0;

  // CopyOneFile, WriteFileFrom, DeleteOneFile and RemoveFolder, possibly
  // done on other threads while the caller goes on. `done` gets the result (LastError as
  // the plain call would leave it) on the calling thread, in the order the
  // calls were started, by the next Settle at the latest. A caller settles
  // before any call of another kind, so that what `done` logs and records
  // stays in order. Only a new file's writing, or a delete, goes elsewhere;
  // whatever fails there is done again here the plain way (a file in use,
  // one to replace) before `done` hears of it. These defaults do it at once.
  virtual void StartCopy(const Path& from, const Path& to, FileDone done) {
    Settle();
    done(CopyOneFile(from, to));
  }
  // size: what the producer gives. The producer is called here, before
  // this returns, in the order of the calls.
  virtual void StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                          const FileProducer& produce, FileDone done) {
    (void)size;
    Settle();
    done(WriteFileFrom(to, attributes, modified, produce));
  }
  virtual void StartDelete(const Path& path, FileDone done) {
    Settle();
    done(DeleteOneFile(path));
  }
  virtual void StartRemoveFolder(const Path& path, FileDone done) {
    Settle();
    done(RemoveFolder(path));
  }
  // Waits for everything started and hands over the results.
  virtual void Settle() {}
};

}  // namespace qv
