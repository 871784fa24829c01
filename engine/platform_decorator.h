// Parts of the machine that hand every call to another one; a decorator
// overrides only what it changes, of only the parts it changes.
#pragma once

#include "engine/platform.h"

namespace qv {

class FileSystemDecorator : public FileSystem {
 public:
  explicit FileSystemDecorator(FileSystem& inner) : inner_(inner) {}

  std::uint32_t Attributes(const Path& path) override { return Inner().Attributes(path); }
  std::optional<FileStamp> Stamp(const Path& path) override { return Inner().Stamp(path); }
  std::unique_ptr<FindHandle> FindFirst(const Path& pattern, FindEntry& first) override {
    return Inner().FindFirst(pattern, first);
  }
  std::optional<std::string> ReadWholeFile(const Path& path) override { return Inner().ReadWholeFile(path); }
  std::unique_ptr<pack::ByteSource> OpenRead(const Path& path) override { return Inner().OpenRead(path); }
  bool SameFolder(const Path& a, const Path& b) override { return Inner().SameFolder(a, b); }
  std::string ShownName(const Path& path) override { return Inner().ShownName(path); }
  bool MakeFolder(const Path& path) override { return Inner().MakeFolder(path); }
  bool CopyOneFile(const Path& from, const Path& to) override { return Inner().CopyOneFile(from, to); }
  bool WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override {
    return Inner().WriteFileFrom(to, attributes, modified, produce);
  }
  bool DeleteOneFile(const Path& path) override { return Inner().DeleteOneFile(path); }
  bool RemoveFolder(const Path& path) override { return Inner().RemoveFolder(path); }
  bool MoveOneFile(const Path& from, const Path& to) override { return Inner().MoveOneFile(from, to); }
  bool RemoveAtRestart(const Path& path) override { return Inner().RemoveAtRestart(path); }
  std::unique_ptr<AppendFile> OpenAppend(const Path& path) override { return Inner().OpenAppend(path); }
  std::unique_ptr<FolderHold> HoldFolder(const Path& folder) override { return Inner().HoldFolder(folder); }
  std::optional<std::string> WaitingBeside(const Path& path) override { return Inner().WaitingBeside(path); }
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override {
    return Inner().MakePrivateFolder(prefix);
  }
  bool RemoveTree(const Path& folder) override { return Inner().RemoveTree(folder); }
  // Started calls are handed on as started: the file work stays on the
  // inner part's threads. A decorator that changes a plain call changes
  // its started form too (ChangesBothForms says so at compile time).
  void StartCopy(const Path& from, const Path& to, FileDone done) override {
    Inner().StartCopy(from, to, std::move(done));
  }
  void StartWrite(const Path& to, std::uint32_t attributes, std::uint64_t modified, std::uint64_t size,
                  const FileProducer& produce, FileDone done) override {
    Inner().StartWrite(to, attributes, modified, size, produce, std::move(done));
  }
  void StartDelete(const Path& path, FileDone done) override { Inner().StartDelete(path, std::move(done)); }
  void StartRemoveFolder(const Path& path, FileDone done) override {
    Inner().StartRemoveFolder(path, std::move(done));
  }
  void Settle() override { Inner().Settle(); }

 protected:
  // The part a forwarded call goes to.
  virtual FileSystem& Inner() { return inner_; }
  FileSystem& inner_;
};

// Whether D declares its own `member` rather than taking the forwarding one.
#define QV_DECLARES(D, member) (!std::is_same_v<decltype(&D::member), decltype(&FileSystemDecorator::member)>)

// A file decorator that changes a call changes its started form as well,
// or started calls would pass it by unseen.
template <typename D>
constexpr bool ChangesBothForms() {
  return QV_DECLARES(D, CopyOneFile) == QV_DECLARES(D, StartCopy) &&
         QV_DECLARES(D, WriteFileFrom) == QV_DECLARES(D, StartWrite) &&
         QV_DECLARES(D, DeleteOneFile) == QV_DECLARES(D, StartDelete) &&
         QV_DECLARES(D, RemoveFolder) == QV_DECLARES(D, StartRemoveFolder);
}

#undef QV_DECLARES

class RegistryDecorator : public Registry {
 public:
  explicit RegistryDecorator(Registry& inner) : inner_(inner) {}

  RegistryText ReadRegistryText(std::uint32_t root, const std::string& subkey, const std::string& name) override {
    return Inner().ReadRegistryText(root, subkey, name);
  }
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override {
    return Inner().WriteRegistryValue(root, subkey, name, type, data);
  }
  std::optional<StoredValue> ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) override {
    return Inner().ReadStoredValue(root, subkey, name);
  }
  bool WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                        const StoredValue& value) override {
    return Inner().WriteStoredValue(root, subkey, name, value);
  }
  RegistryPresence FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                     const std::string& name) override {
    return Inner().FindRegistryValue(root, subkey, name);
  }
  bool DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) override {
    return Inner().DeleteRegistryValue(root, subkey, name);
  }
  bool DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) override {
    return Inner().DeleteRegistryKey(root, subkey, whole);
  }

 protected:
  virtual Registry& Inner() { return inner_; }
  Registry& inner_;
};

class ShellDecorator : public Shell {
 public:
  explicit ShellDecorator(Shell& inner) : inner_(inner) {}

  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override {
    return Inner().StartProgram(commandLine, showCode, workingFolder);
  }
  std::unique_ptr<StartedProgram> Launch(const std::string& commandLine, int showCode, const std::string& workingFolder,
                                         StartAs as) override {
    return Inner().Launch(commandLine, showCode, workingFolder, as);
  }
  std::vector<HandedCommand> TakeHandedBack() override { return Inner().TakeHandedBack(); }
  bool StartWatcher(const std::string& commandLine) override { return Inner().StartWatcher(commandLine); }
  std::optional<int> RunElevated(const std::vector<std::string>& args) override { return Inner().RunElevated(args); }
  std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) override {
    return Inner().RunAsLimitedHalf(args);
  }
  bool MakeShortcut(const Shortcut& shortcut) override { return Inner().MakeShortcut(shortcut); }
  void Announce(Change change, const std::string& folder) override { Inner().Announce(change, folder); }

 protected:
  virtual Shell& Inner() { return inner_; }
  Shell& inner_;
};

class RightsDecorator : public Rights {
 public:
  explicit RightsDecorator(Rights& inner) : inner_(inner) {}

  bool Elevated() override { return Inner().Elevated(); }
  bool LimitedAdministrator() override { return Inner().LimitedAdministrator(); }
  bool LimitedHalf() override { return Inner().LimitedHalf(); }
  bool OnlyOursCanChange(const Path& path) override { return Inner().OnlyOursCanChange(path); }
  bool Protect(const Path& path) override { return Inner().Protect(path); }
  std::unique_ptr<ProductHold> HoldProduct(const std::string& id) override { return Inner().HoldProduct(id); }

 protected:
  virtual Rights& Inner() { return inner_; }
  Rights& inner_;
};

class SystemDecorator : public System {
 public:
  explicit SystemDecorator(System& inner) : inner_(inner) {}

  std::string WindowsFolder() override { return Inner().WindowsFolder(); }
  std::string SystemFolder() override { return Inner().SystemFolder(); }
  std::string TempPath() override { return Inner().TempPath(); }
  std::string KnownFolderPath(KnownFolder which) override { return Inner().KnownFolderPath(which); }
  bool Windows64() override { return Inner().Windows64(); }
  void UseNativeView() override { Inner().UseNativeView(); }
  std::string ExpandEnvironment(const std::string& text) override { return Inner().ExpandEnvironment(text); }
  std::string FromCodePage(unsigned codePage, std::string_view bytes) override {
    return Inner().FromCodePage(codePage, bytes);
  }
  void Pause(unsigned milliseconds) override { Inner().Pause(milliseconds); }
  std::string Today() override { return Inner().Today(); }
  std::uint32_t Ticks() override { return Inner().Ticks(); }
  Error LastError() override { return Inner().LastError(); }
  std::vector<RunningProgram> ProgramsHolding(const std::vector<std::string>& files) override {
    return Inner().ProgramsHolding(files);
  }
  bool CloseHolders() override { return Inner().CloseHolders(); }
  void RestartClosed() override { Inner().RestartClosed(); }
  std::optional<ServiceConfig> FindService(const std::string& name) override { return Inner().FindService(name); }
  bool MakeService(const std::string& name, const ServiceConfig& config) override {
    return Inner().MakeService(name, config);
  }
  bool ChangeService(const std::string& name, const ServiceConfig& config) override {
    return Inner().ChangeService(name, config);
  }
  bool ServiceRunning(const std::string& name) override { return Inner().ServiceRunning(name); }
  bool StartOneService(const std::string& name) override { return Inner().StartOneService(name); }
  bool StopOneService(const std::string& name) override { return Inner().StopOneService(name); }
  bool DeleteOneService(const std::string& name) override { return Inner().DeleteOneService(name); }

 protected:
  virtual System& Inner() { return inner_; }
  System& inner_;
};

}  // namespace qv
