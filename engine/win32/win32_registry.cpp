#include "engine/win32/win32_registry.h"

#include <windows.h>

#include "framework/registry.h"
#include "framework/text_conv.h"

namespace qv {

static_assert(static_cast<DWORD>(RegType::Text) == REG_SZ && static_cast<DWORD>(RegType::ExpandText) == REG_EXPAND_SZ &&
              static_cast<DWORD>(RegType::Binary) == REG_BINARY && static_cast<DWORD>(RegType::Dword) == REG_DWORD);

RegistryText Win32Registry::ReadRegistryText(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) {
  // Reading needs no more than read access; asking for more fails for a
  // standard user under HKLM and would lose the value.
  TRegistry reg = OpenRoot(root, KEY_READ, view_.RegistryView());
  if (!reg.OpenKey(subkey, false)) return {RegistryText::Status::KeyNotOpened, {}};
  const std::optional<DWORD> type = reg.DataType(name);
  if (!type) return {RegistryText::Status::Absent, {}};
  if (*type != REG_SZ && *type != REG_EXPAND_SZ) return {RegistryText::Status::NotText, {}};
  std::optional<std::string> text = reg.ReadText(name);
  return {RegistryText::Status::Text, text.value_or(std::string()), *type == REG_EXPAND_SZ};
}

RegWrite Win32Registry::WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                                           const std::string& name, RegType type,
                                           const std::vector<std::uint8_t>& data) {
  TRegistry reg = OpenRoot(root, KEY_ALL_ACCESS, view_.RegistryView());
  if (!reg.OpenKey(subkey, true)) return RegWrite::KeyNotOpened;
  bool written;
  if (type == RegType::Text || type == RegType::ExpandText) {
    // UTF-8 with its zero in, UTF-16 with its zero out.
    const std::wstring text = Utf8ToWide({reinterpret_cast<const char*>(data.data()), data.size()});
    written = reg.WriteText(name, text, type == RegType::Text ? REG_SZ : REG_EXPAND_SZ);
  } else {
    written = reg.WriteData(name, static_cast<DWORD>(type), data);
  }
  return written ? RegWrite::Written : RegWrite::WriteFailed;
}

std::optional<StoredValue> Win32Registry::ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                                          const std::string& name) {
  TRegistry reg = OpenRoot(root, KEY_READ, view_.RegistryView());
  if (!reg.OpenKey(subkey, false)) return std::nullopt;
  auto stored = reg.ReadData(name);
  if (!stored) return std::nullopt;
  return StoredValue{stored->first, std::move(stored->second)};
}

bool Win32Registry::WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                     const StoredValue& value) {
  TRegistry reg = OpenRoot(root, KEY_ALL_ACCESS, view_.RegistryView());
  return reg.OpenKey(subkey, true) && reg.WriteData(name, value.type, value.data);
}

RegistryPresence Win32Registry::FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                                  const std::string& name) {
  TRegistry reg = OpenRoot(root, KEY_READ, view_.RegistryView());
  if (!reg.OpenKey(subkey, false)) return {};
  return {true, reg.DataType(name).has_value()};
}

bool Win32Registry::DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) {
  TRegistry reg = OpenRoot(root, KEY_SET_VALUE, view_.RegistryView());
  return reg.OpenKey(subkey, false) && reg.DeleteValue(name);
}

bool Win32Registry::DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) {
  TRegistry reg = OpenRoot(root, KEY_READ, view_.RegistryView());
  if (!whole) {
    // The system deletes a key with values in it; we keep it.
    if (!reg.OpenKey(subkey, false)) return false;
    const std::optional<bool> empty = reg.KeyEmpty();
    if (!empty) return false;
    if (!*empty) {
      ::SetLastError(ERROR_KEY_HAS_CHILDREN);
      return false;
    }
  }
  return reg.DeleteKey(subkey, whole);
}

}  // namespace qv
