// The machine's files and folders through the Win32 API: whole or
// nothing, never through a link, new files written on a few threads.
#pragma once

#include <functional>
#include <memory>
#include <set>

#include "engine/file_system.h"
#include "engine/rights.h"
#include "engine/system.h"
#include "engine/win32/file_pool.h"
#include "engine/win32/files_in_use.h"
#include "engine/win32/native_view.h"

namespace qv {

class Win32Files : public FileSystem {
 public:
  Win32Files(const NativeView& view, FilesInUse& inUse, Rights& rights, System& system)
      : view_(view), inUse_(inUse), rights_(rights), system_(system) {}

  std::uint32_t Attributes(const Path& path) override;
  std::optional<FileStamp> Stamp(const Path& path) override;
  std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first) override;
  std::optional<std::string> ReadWholeFile(const Path& path) override;
  std::unique_ptr<pack::ByteSource> OpenRead(const Path& path) override;
  bool SameFolder(const Path& a, const Path& b) override;
  bool MakeFolder(const Path& path) override;
  bool CopyOneFile(const Path& from, const Path& to) override;
  bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override;
  bool DeleteOneFile(const Path& path) override;
  bool RemoveFolder(const Path& path) override;
  bool MoveOneFile(const Path& from, const Path& to) override;
  bool RemoveAtRestart(const Path& path) override;
  std::unique_ptr<AppendFile> OpenAppend(const Path& path) override;
  std::unique_ptr<FolderHold> HoldFolder(const Path& folder) override;
  std::optional<std::string> WaitingBeside(const Path& path) override;
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override;
  bool RemoveTree(const Path& folder) override;
  void StartCopy(const Path& from, const Path& to, FileDone done) override;
  void StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                  const FileProducer& produce, FileDone done) override;
  void StartDelete(const Path& path, FileDone done) override;
  void StartRemoveFolder(const Path& path, FileDone done) override;
  void Settle() override;

 private:
  // Deletes a file by its name, read-only or not.
  static bool DeleteByName(const std::wstring& path);
  // DeleteOneFile without the look for a running program holding the file.
  bool DeleteUnlinked(const Path& path);
  // Deletes a file through one handle, only where its path (the system's
  // name for it given) leads to it without a link; on any thread.
  static bool DeleteOpened(const std::wstring& wide, const std::wstring& systemName);
  // RemoveFolder on a path the view gave; on any thread.
  static bool RemoveUnlinkedFolder(const std::wstring& wide, const std::wstring& systemName);
  // Puts a complete new file in the place of `to`: write makes it beside the
  // target under a name it is given (failing with ERROR_FILE_EXISTS when the
  // name is taken, removing what it made on any other failure). A target a
  // running program holds is replaced at the next restart, when elevated.
  bool Replace(const Path& to, const std::wstring& target, const std::function<bool(const std::wstring&)>& write);
  // Writes a new file that must not exist yet; removes it again on failure.
  bool WriteNew(const std::wstring& path, std::uint32_t attributes, std::uint64_t modified,
                const FileProducer& produce);
  // Hands the fast part of a file call to the pool; `again` does the whole
  // call here when that part fails, before `done` hears of it.
  void Hand(FilePool::Work work, std::function<bool()> again, FileDone done, std::size_t bytes);

  const NativeView& view_;
  FilesInUse& inUse_;
  Rights& rights_;
  System& system_;
  std::multiset<std::string> held_;  // folders held now, upper case with a backslash
  std::unique_ptr<FilePool> pool_;  // last: its workers may use the members above
};

}  // namespace qv
