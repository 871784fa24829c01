// The engine's platform over the real Win32 API.
#pragma once

#include "platform.h"

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
  std::uint32_t Attributes(const std::string& path) override;
  bool MakeFolder(const std::string& path) override;
  std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindEntry& first) override;
  bool CopyOneFile(const std::string& from, const std::string& to) override;
  std::optional<std::string> ReadWholeFile(const std::string& path) override;
  bool StartProgram(const std::string& commandLine, int showCode) override;
  void Pause(unsigned milliseconds) override;
  std::uint32_t Ticks() override;
};

// The running program's own file name.
std::string ProgramFileName();

}  // namespace qv
