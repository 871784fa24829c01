// A platform that hands every call to another one; decorators override
// only what they change.
#pragma once

#include "engine/platform.h"

namespace qv {

class PlatformDecorator : public Platform {
 public:
  explicit PlatformDecorator(Platform& inner) : inner_(inner) {}

  std::string WindowsFolder() override { return Inner().WindowsFolder(); }
  std::string SystemFolder() override { return Inner().SystemFolder(); }
  std::string TempPath() override { return Inner().TempPath(); }
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
  std::uint32_t Attributes(const std::string& path) override { return Inner().Attributes(path); }
  std::optional<FileStamp> Stamp(const std::string& path) override { return Inner().Stamp(path); }
  bool DeleteOneFile(const std::string& path) override { return Inner().DeleteOneFile(path); }
  bool RemoveFolder(const std::string& path) override { return Inner().RemoveFolder(path); }
  std::unique_ptr<FolderHold> HoldFolder(const std::string& folder) override { return Inner().HoldFolder(folder); }
  std::unique_ptr<ProductHold> HoldProduct(const std::string& id) override { return Inner().HoldProduct(id); }
  bool MoveOneFile(const std::string& from, const std::string& to) override { return Inner().MoveOneFile(from, to); }
  bool RemoveAtRestart(const std::string& path) override { return Inner().RemoveAtRestart(path); }
  std::unique_ptr<AppendFile> OpenAppend(const std::string& path) override { return Inner().OpenAppend(path); }
  bool MakeFolder(const std::string& path) override { return Inner().MakeFolder(path); }
  std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindEntry& first) override {
    return Inner().FindFirst(pattern, first);
  }
  bool CopyOneFile(const std::string& from, const std::string& to) override { return Inner().CopyOneFile(from, to); }
  std::optional<std::string> ReadWholeFile(const std::string& path) override { return Inner().ReadWholeFile(path); }
  bool WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                     const FileProducer& produce) override {
    return Inner().WriteFileFrom(to, attributes, modified, produce);
  }
  // The Start calls are not passed on: a decorator that changes a call
  // takes part in its started form itself, else it is done at once here.
  void Settle() override { Inner().Settle(); }
  std::optional<std::string> WaitingBeside(const std::string& path) override { return Inner().WaitingBeside(path); }
  std::optional<std::string> MakePrivateFolder(const std::string& prefix) override {
    return Inner().MakePrivateFolder(prefix);
  }
  bool RemoveTree(const std::string& folder) override { return Inner().RemoveTree(folder); }
  bool Elevated() override { return Inner().Elevated(); }
  bool MakeShortcut(const Shortcut& shortcut) override { return Inner().MakeShortcut(shortcut); }
  std::string ExpandEnvironment(const std::string& text) override { return Inner().ExpandEnvironment(text); }
  void Announce(Change change, const std::string& folder) override { Inner().Announce(change, folder); }
  bool LimitedAdministrator() override { return Inner().LimitedAdministrator(); }
  bool LimitedHalf() override { return Inner().LimitedHalf(); }
  bool Windows64() override { return Inner().Windows64(); }
  void UseNativeView() override { Inner().UseNativeView(); }
  std::string KnownFolderPath(KnownFolder which) override { return Inner().KnownFolderPath(which); }
  std::optional<int> RunElevated(const std::vector<std::string>& args) override { return Inner().RunElevated(args); }
  std::optional<int> RunAsLimitedHalf(const std::vector<std::string>& args) override {
    return Inner().RunAsLimitedHalf(args);
  }
  bool OnlyOursCanChange(const std::string& path) override { return Inner().OnlyOursCanChange(path); }
  bool SameFolder(const std::string& a, const std::string& b) override { return Inner().SameFolder(a, b); }
  std::string ShownName(const std::string& path) override { return Inner().ShownName(path); }
  bool Protect(const std::string& path) override { return Inner().Protect(path); }
  bool StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) override {
    return Inner().StartProgram(commandLine, showCode, workingFolder);
  }
  bool StartWatcher(const std::string& commandLine) override { return Inner().StartWatcher(commandLine); }
  std::string FromCodePage(unsigned codePage, std::string_view bytes) override {
    return inner_.FromCodePage(codePage, bytes);
  }
  void Pause(unsigned milliseconds) override { inner_.Pause(milliseconds); }
  std::string Today() override { return inner_.Today(); }
  std::uint32_t Ticks() override { return inner_.Ticks(); }
  Error LastError() override { return inner_.LastError(); }

 protected:
  // The platform a forwarded call goes to.
  virtual Platform& Inner() { return inner_; }
  Platform& inner_;
};

}  // namespace qv
