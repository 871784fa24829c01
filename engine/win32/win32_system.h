// The machine's system folders, its text and clock, and the last error,
// through the Win32 API.
#pragma once

#include "engine/system.h"
#include "engine/win32/files_in_use.h"
#include "engine/win32/native_view.h"

namespace qv {

class Win32System : public System {
 public:
  Win32System(NativeView& view, const FilesInUse& inUse) : view_(view), inUse_(inUse) {}
  std::string WindowsFolder() override;
  std::string SystemFolder() override;
  std::string TempPath() override;
  std::string KnownFolderPath(KnownFolder which) override;
  bool Windows64() override;
  void UseNativeView() override;
  std::string ExpandEnvironment(const std::string& text) override;
  std::string FromCodePage(unsigned codePage, std::string_view bytes) override;
  void Pause(unsigned milliseconds) override;
  std::string Today() override;
  std::uint32_t Ticks() override;
  Error LastError() override;
  std::vector<RunningProgram> ProgramsHolding(const std::vector<std::string>& files) override {
    return restart_.Holding(files);
  }
  bool CloseHolders() override { return restart_.Close(); }
  void RestartClosed() override { restart_.Restart(); }
  // In win32_services.cpp.
  std::optional<ServiceConfig> FindService(const std::string& name) override;
  bool MakeService(const std::string& name, const ServiceConfig& config) override;
  bool ChangeService(const std::string& name, const ServiceConfig& config) override;
  bool ServiceRunning(const std::string& name) override;
  bool StartOneService(const std::string& name) override;
  bool StopOneService(const std::string& name) override;
  bool DeleteOneService(const std::string& name) override;

 private:
  NativeView& view_;
  const FilesInUse& inUse_;
  RestartSession restart_;
};

}  // namespace qv
