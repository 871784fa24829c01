// The engine's platform over the real Win32 API.
#pragma once

#include <functional>
#include <map>
#include <set>

#include "engine/platform.h"
#include "engine/setup_window.h"
#include "engine/win32/file_pool.h"
#include "framework/handles.h"

namespace qv {

class Win32Platform : public Platform {
 public:
  std::string WindowsFolder() override;
  std::string SystemFolder() override;
  std::string TempPath() override;
  RegistryText ReadRegistryText(std::uint32_t root, const std::string& subkey,
                                const std::string& name) override;
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                              const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override;
  std::optional<StoredValue> ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) override;
  bool WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                        const StoredValue& value) override;
  RegistryPresence FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                     const std::string& name) override;
  bool DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) override;
  bool DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) override;
  std::uint32_t Attributes(const std::string& path) override;
  std::optional<FileStamp> Stamp(const std::string& path) override;
  bool DeleteOneFile(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;
  std::unique_ptr<FolderHold> HoldFolder(const std::string& folder) override;
  std::unique_ptr<ProductHold> HoldProduct(const std::string& id) override;
  bool MoveOneFile(const std::string& from, const std::string& to) override;
  bool RemoveAtRestart(const std::string& path) override;
  std::unique_ptr<AppendFile> OpenAppend(const std::string& path) override;
  bool MakeFolder(const std::string& path) override;
  std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindEntry& first) override;
  bool CopyOneFile(const std::string& from, const std::string& to) override;
  std::optional<std::string> ReadWholeFile(const std::string& path) override;
  bool WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override;
  void StartCopy(const std::string& from, const std::string& to, FileDone done) override;
  void StartWrite(const std::string& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                  const FileProducer& produce, FileDone done) override;
  void StartDelete(const std::string& path, FileDone done) override;
  void StartRemoveFolder(const std::string& path, FileDone done) override;
  void Settle() override;
  std::optional<std::string> WaitingBeside(const std::string& path) override;
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override;
  bool RemoveTree(const std::string& folder) override;
  bool Elevated() override;
  bool LimitedAdministrator() override;
  bool Windows64() override;
  void UseNativeView() override;
  std::string KnownFolderPath(KnownFolder which) override;
  std::optional<int> RunElevated(const std::vector<std::string>& args) override;
  bool OnlyOursCanChange(const std::string& path) override;
  bool SameFolder(const std::string& a, const std::string& b) override;
  bool LimitedHalf() override;
  std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) override;
  bool Protect(const std::string& path) override;
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override;
  bool StartWatcher(const std::string& commandLine) override;
  bool MakeShortcut(const Shortcut& shortcut) override;
  std::string ExpandEnvironment(const std::string& text) override;
  void Announce(Change change, const std::string& folder) override;
  std::string FromCodePage(unsigned codePage, std::string_view bytes) override;
  void Pause(unsigned milliseconds) override;
  std::string Today() override;
  std::uint32_t Ticks() override;
  Error LastError() override;
  // The command line with a bare program name found in the system folders
  // made a full path; anything else as it is.
  std::string ResolveProgram(const std::string& commandLine);

 private:
  // A path as this process's file calls take it: in the native view, one in
  // the system folder goes through Sysnative, the way past the 32-bit
  // layer to the 64-bit folder. Any other path as it is.
  std::wstring Native(const std::wstring& path) const;
  // WidePath, then Native.
  std::optional<std::wstring> FilePath(const std::string& path) const;
  // A path FilePath gave, as the system names it where there is no 32-bit
  // layer: a handle's final path, other processes, the restart.
  std::wstring SystemName(const std::wstring& path) const;
  // The program of a command line named apart for CreateProcess.
  std::optional<std::wstring> ProgramApart(const std::string& program) const;
  // Deletes a file by its name, read-only or not.
  static bool DeleteByName(const std::wstring& path);
  // DeleteOneFile without the look for a running program holding the file.
  bool DeleteUnlinked(const std::string& path);
  // Deletes a file through one handle, only where its path (the system's
  // name for it given) leads to it without a link; on any thread.
  static bool DeleteOpened(const std::wstring& wide, const std::wstring& systemName);
  // RemoveFolder on a path FilePath gave; on any thread.
  static bool RemoveUnlinkedFolder(const std::wstring& wide, const std::wstring& systemName);
  // Puts a complete new file in the place of `to`: write makes it beside the
  // target under a name it is given (failing with ERROR_FILE_EXISTS when the
  // name is taken, removing what it made on any other failure). A target a
  // running program holds is replaced at the next restart, when elevated.
  bool Replace(const std::string& to, const std::wstring& target,
               const std::function<bool(const std::wstring&)>& write);
  // After a call that failed: when a running program holds the file, the
  // failure becomes ERROR_SHARING_VIOLATION and the holders are noted.
  bool NoteIfHeld(const std::wstring& path);
  // Writes a new file that must not exist yet; removes it again on failure.
  bool WriteNew(const std::wstring& path, std::uint32_t attributes, std::uint64_t modified,
                const FileProducer& produce);
  // Hands the fast part of a file call to the pool; `again` does the whole
  // call here when that part fails, before `done` hears of it.
  void Hand(FilePool::Work work, std::function<bool()> again, FileDone done, std::size_t bytes);

  std::multiset<std::string> held_;  // folders held now, upper case with a backslash
  std::map<std::string, std::string> waiting_;  // file (upper case) -> its new file, waiting for the restart
  std::string heldBy_;  // the programs holding the file the last file call failed on, for LastError
  REGSAM view_ = 0;  // the registry view every key is opened in
  std::wstring systemFolder_, sysnative_;  // both set in the native view only
  std::unique_ptr<FilePool> pool_;  // last: its workers may use the members above
};

// The run's log as a text file, written line by line as the run goes.
class FileLog : public RunLog {
 public:
  // A new log, or one written on (appending) by a run started again.
  // It is never written through a link nor into a file another account
  // could change, nor stopped by one held open: the log then goes to a new
  // name beside it, said in the log and on standard error.
  explicit FileLog(const std::string& path, bool append = false);
  bool Opened() const { return static_cast<bool>(file_); }
  void Line(const std::string& text) override;

 private:
  void Write(const std::string& bytes);

  UniqueFile file_;
};

// The running program's own file name.
std::string ProgramFileName();

}  // namespace qv
