// The machine's registry: values read, written, kept to be put back, and
// removed, in the view the system part of the machine chose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// Root key handle values, as the registry knows them.
enum : std::uint32_t {
  kHKCR = 0x80000000u,
  kHKCU = 0x80000001u,
  kHKLM = 0x80000002u,
  kHKU = 0x80000003u,
  kHKCC = 0x80000005u,
  kHKDD = 0x80000006u,
};

// ExpandText: text whose %NAME% parts the system expands when it is read
// (REG_EXPAND_SZ), as PATH often is.
enum class RegType : std::uint32_t { Text = 1, ExpandText = 2, Binary = 3, Dword = 4 };

struct RegistryText {
  enum class Status { KeyNotOpened, Absent, Text, NotText };
  Status status = Status::KeyNotOpened;
  std::string text;
  bool expandable = false;  // stored as REG_EXPAND_SZ
};

enum class RegWrite { KeyNotOpened, Written, WriteFailed };

// A registry value as the machine stores it: its type (any, as the registry
// numbers them) and its bytes (text in the machine's own form).
struct StoredValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// What is there of a registry value.
struct RegistryPresence {
  bool key = false;
  bool value = false;
};

// A text value's data: its bytes with the terminating zero.
inline std::vector<std::uint8_t> TextData(const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

// Names and texts are UTF-8. A text value's data is UTF-8 with its
// terminating zero; the machine stores it in its own form.
class Registry {
 public:
  virtual ~Registry() = default;

  // Reads a text value (plain or expandable) from an existing key.
  virtual RegistryText ReadRegistryText(std::uint32_t root, const std::string& subkey,
                                        const std::string& name) = 0;
  // Opens or creates the key (the root itself for an empty subkey path) and
  // replaces the value, whatever type it had.
  virtual RegWrite WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                                      const std::string& name, RegType type,
                                      const std::vector<std::uint8_t>& data) = 0;
  // A value exactly as stored, to put it back later; none when it is not
  // there or cannot be read.
  virtual std::optional<StoredValue> ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                                     const std::string& name) = 0;
  // Writes a value read by ReadStoredValue back as it was, into an
  // existing or new key.
  virtual bool WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                const StoredValue& value) = 0;
  virtual RegistryPresence FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                             const std::string& name) = 0;
  virtual bool DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) = 0;
  // Deletes a key with no values and no subkeys; whole: with everything in
  // it. False when it is not there or not empty (LastError tells which).
  virtual bool DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) = 0;
};

}  // namespace qv
