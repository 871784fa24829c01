// The registry class: a root key, one open key at a time, typed reads and
// writes over the W functions; names and texts are UTF-8.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/handles.h"

namespace qv {

class TRegistry {
 public:
  // A view in the access (KEY_WOW64_64KEY, KEY_WOW64_32KEY) holds for
  // every key opened, created and deleted.
  explicit TRegistry(REGSAM access = KEY_ALL_ACCESS) : access_(access) {}

  HKEY RootKey() const { return root_; }
  void SetRootKey(HKEY root);

  // Opens a key below the root, creating missing keys when asked; an empty
  // path opens the root itself and a leading backslash is dropped.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey() { key_.Reset(); }
  bool HasKey() const { return static_cast<bool>(key_); }

  // The value's registry type, or nothing when it is absent.
  std::optional<DWORD> DataType(const std::string& name) const;
  // A REG_SZ or REG_EXPAND_SZ value as stored (not expanded).
  std::optional<std::string> ReadText(const std::string& name) const;
  // A value's type and bytes as the registry stores them.
  std::optional<std::pair<DWORD, std::vector<std::uint8_t>>> ReadData(const std::string& name) const;
  // The bytes as the registry stores them (text types in UTF-16).
  bool WriteData(const std::string& name, DWORD type, const std::vector<std::uint8_t>& data);
  // A REG_SZ (or REG_EXPAND_SZ) value of exactly these characters (give
  // the terminating zero as part of the text to store it).
  bool WriteText(const std::string& name, std::wstring_view text, DWORD type = REG_SZ);
  bool DeleteValue(const std::string& name);
  // Whether the open key has neither subkeys nor values.
  std::optional<bool> KeyEmpty() const;
  // Deletes a key below the root: an empty one, or whole with everything in
  // it. Closes the open key first.
  bool DeleteKey(const std::string& key, bool whole);

 private:
  static bool Failed(LONG rc);
  REGSAM access_;
  HKEY root_ = HKEY_CURRENT_USER;  // a predefined key: never closed
  UniqueKey key_;
};

// A registry opened at a root key given by its handle value (HKLM's
// 0x80000002 and so on), with this access in this view (a KEY_WOW64 flag, or 0).
inline TRegistry OpenRoot(std::uint32_t root, REGSAM access, REGSAM view) {
  TRegistry reg(access | view);
  reg.SetRootKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root)));
  return reg;
}

}  // namespace qv
