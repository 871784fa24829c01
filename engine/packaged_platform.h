// The machine as a packed setup program sees it: its own folder holds the
// files of its package as well as what is on disk. Paths under the program's
// folder that name a package entry are answered from the package (searches,
// attributes, the script, copies); everything else goes to the machine.
// Files are unpacked straight into their destinations; only a COMMAND
// program that is itself a package file is written out first, with its
// folder, into a private folder made for this run.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/platform_decorator.h"
#include "engine/update.h"
#include "engine/private_folders.h"
#include "engine/setup_window.h"
#include "package/package.h"

namespace qv {

class PackagedPlatform;

// The parts the package changes: files and programs are answered from it
// where it holds them, and the machine's error gives way to the package's
// own for a call the package answered. Every call the package does not
// answer goes to the machine and clears that error.
class PackagedFiles : public FileSystemDecorator {
 public:
  PackagedFiles(FileSystem& inner, PackagedPlatform& package) : FileSystemDecorator(inner), package_(package) {}
  std::uint32_t Attributes(const Path& path) override;
  std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first) override;
  bool CopyOneFile(const Path& from, const Path& to) override;
  void StartCopy(const Path& from, const Path& to, FileDone done) override;
  std::optional<std::string> ReadWholeFile(const Path& path) override;
  std::string ShownName(const Path& path) override;

 private:
  FileSystem& Inner() override;
  PackagedPlatform& package_;
};

class PackagedShell : public ShellDecorator {
 public:
  PackagedShell(Shell& inner, PackagedPlatform& package) : ShellDecorator(inner), package_(package) {}
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override;
  std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode, const std::string& workingFolder,
                                         StartAs as) override;

 private:
  Shell& Inner() override;
  PackagedPlatform& package_;
};

class PackagedSystem : public SystemDecorator {
 public:
  PackagedSystem(System& inner, PackagedPlatform& package) : SystemDecorator(inner), package_(package) {}
  Error LastError() override;

 private:
  System& Inner() override;
  PackagedPlatform& package_;
};

class PackagedRegistry : public RegistryDecorator {
 public:
  PackagedRegistry(Registry& inner, PackagedPlatform& package) : RegistryDecorator(inner), package_(package) {}

 private:
  Registry& Inner() override;
  PackagedPlatform& package_;
};

class PackagedRights : public RightsDecorator {
 public:
  PackagedRights(Rights& inner, PackagedPlatform& package) : RightsDecorator(inner), package_(package) {}

 private:
  Rights& Inner() override;
  PackagedPlatform& package_;
};

class PackagedPlatform : public Platform, public UpdateSource {
 public:
  // programFolder ends in a backslash; the package must stay open (and
  // verified) while this lives.
  PackagedPlatform(Platform& inner, pack::Reader& package, std::string programFolder);
  ~PackagedPlatform();

  // The path the engine looks for as the program's own script (its name
  // with .ini): the packed script answers it, whatever the program is called.
  void SetOwnScript(const std::string& path);
  // Unpacks the script at `path` now when the package holds it, for the
  // engine's reads; false when it does not unpack. The engine takes a
  // script it cannot read for an empty one: a packed one is damage.
  bool UnpackScript(const std::string& path);
  // Lines about the private folder; may be null.
  void SetLog(RunLog* log) { log_ = log; }
  // Removes private folders earlier runs left behind where nothing holds them.
  void RemoveLeftovers();
  // Removes this run's private folder, giving programs started from it a
  // moment to end first; one still running keeps it (RemoveLeftovers takes
  // it at a later start).
  void Finish();
  // The private folder, once a command or the run's journal needed it.
  const std::optional<std::string>& PrivateFolder() const { return private_; }
  // The private folder, made now if it is not yet; nothing when it cannot be.
  std::optional<std::string> MadePrivateFolder();

  // An update package's base, and its files that come from it.
  bool IsUpdate() const { return !package_.BaseId().empty(); }
  std::string BaseId() const override { return package_.BaseId(); }
  std::string BaseVersion() const override { return package_.BaseVersion(); }
  FromBase BaseOf(const std::string& from) override;
  BaseCheck TakeBase(const std::string& from, const std::string& installed) override;

 private:
  friend class PackagedFiles;
  friend class PackagedShell;
  friend class PackagedSystem;
  friend class PackagedRegistry;
  friend class PackagedRights;

  std::uint32_t Attributes(const Path& path);
  std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first);
  bool CopyOneFile(const Path& from, const Path& to);
  void StartCopy(const Path& from, const Path& to, FileDone done);
  std::optional<std::string> ReadWholeFile(const Path& path);
  std::string ShownName(const Path& path);
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder);
  std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode, const std::string& workingFolder,
                                         StartAs as);

  // A call failed: when for a damaged package, that is its error. False.
  bool FailIfDamaged();
  // The machine, for a call whose failure it explains itself.
  Platform& Machine() {
    ownError_.reset();
    return inner_;
  }
  bool Fail(std::uint32_t code, const std::string& message) {
    ownError_ = Error{code, message};
    return false;
  }
  // The path inside the package ("" for the program folder itself), or
  // nothing for a path outside the program folder.
  std::optional<std::string> Relative(const std::string& path) const;
  // The package file or folder a path names, or null.
  const pack::Entry* EntryAt(const std::string& path) const;
  bool IsPackageFolder(const std::string& relative) const;
  // The package file a command starts, or null when it starts something else.
  const pack::Entry* ProgramEntry(const std::string& program);
  // Writes the folder of a packed program into the private folder; gives
  // the program's path there.
  std::optional<std::string> WriteOut(const pack::Entry& program);
  void Log(const std::string& line) {
    if (log_) log_->Line(line);
  }

  Platform& inner_;
  pack::Reader& package_;
  std::string programFolder_;
  std::string ownScript_;  // its FileNameKey
  RunLog* log_ = nullptr;
  std::optional<Error> ownError_;
  // A folder's entries (key: its path's FileNameKey, "" for the top) in
  // packed order; folders only implied by a file's path are listed too.
  std::map<std::string, std::vector<FindEntry>> children_;
  std::optional<std::string> private_;
  std::set<std::string> writtenOut_;  // package folders already in the private folder
  // Package files read whole (the script, the face), and their texts.
  std::map<const pack::Entry*, std::string> read_;
  // An update's patched files, made before the run writes anything: where
  // each waits in the private folder.
  std::map<const pack::Entry*, std::string> patched_;
  bool finished_ = false;
  PackagedFiles files_{inner_.files, *this};
  PackagedShell shell_{inner_.shell, *this};
  PackagedSystem system_{inner_.system, *this};
  PackagedRegistry registry_{inner_.registry, *this};
  PackagedRights rights_{inner_.rights, *this};
};

}  // namespace qv
