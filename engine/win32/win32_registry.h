// The machine's registry through the Win32 API, in the run's view.
#pragma once

#include "engine/registry.h"
#include "engine/win32/native_view.h"

namespace qv {

class Win32Registry : public Registry {
 public:
  explicit Win32Registry(const NativeView& view) : view_(view) {}
  RegistryText ReadRegistryText(std::uint32_t root, const std::string& subkey, const std::string& name) override;
  RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name, RegType type,
                              const std::vector<std::uint8_t>& data) override;
  std::optional<StoredValue> ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) override;
  bool WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                        const StoredValue& value) override;
  RegistryPresence FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                     const std::string& name) override;
  bool DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) override;
  bool DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) override;

 private:
  const NativeView& view_;
};

}  // namespace qv
