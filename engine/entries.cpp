#include "engine/entries.h"

#include <algorithm>

#include "engine/text.h"
#include "framework/portable/little_endian.h"

namespace qv {

std::uint32_t RootKeyFromName(const std::string& name, std::uint32_t scopeRoot) {
  static const struct {
    const char* full;
    const char* brief;
    std::uint32_t key;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT", "HKCR", kHKCR},   {"HKEY_CURRENT_USER", "HKCU", kHKCU},
      {"HKEY_LOCAL_MACHINE", "HKLM", kHKLM},  {"HKEY_USERS", "HKU", kHKU},
      {"HKEY_CURRENT_CONFIG", "HKCC", kHKCC}, {"HKEY_DYN_DATA", "HKDD", kHKDD},
  };
  const std::string n = UpperCase(Trim(name));
  if (n == "HKSCOPE") return scopeRoot;
  for (const auto& r : kRoots)
    if (n == r.full || n == r.brief) return r.key;
  return 0;
}

RegistryEntry ParseRegistryEntry(const FolderValues& folders, const std::string& keyPath,
                                 std::string valueText, std::uint32_t scopeRoot) {
  RegistryEntry e;
  const Fields root = SplitField(keyPath, '\\', true);
  const Fields rest = SplitField(root.tail, '\\', false);
  e.root = RootKeyFromName(root.head, scopeRoot);
  e.subkey = rest.head;
  e.valueName = rest.tail;

  const std::string copy = UpperCase(Trim(valueText));
  if (const std::optional<std::vector<HexByte>> bytes = ParseHexValue(valueText)) {
    e.type = RegType::Binary;
    for (const HexByte& b : *bytes) e.data.push_back(b.value);
  } else if (copy.size() >= 6 && copy.compare(0, 6, "DWORD:") == 0) {
    e.type = RegType::Dword;
    const std::uint32_t v = HexToInt(std::string_view(copy).substr(6)).value;
    AppendLe(e.data, v, 4);
  } else {
    e.type = RegType::Text;
    ExpandMacros(folders, valueText);
    e.data.assign(valueText.begin(), valueText.end());
    e.data.push_back(0);
  }
  return e;
}

std::optional<std::vector<HexByte>> ParseHexValue(const std::string& valueText) {
  const std::string copy = UpperCase(Trim(valueText));
  if (copy.size() < 4 || copy.compare(0, 4, "HEX:") != 0) return std::nullopt;
  std::vector<HexByte> bytes;
  std::string data = copy.substr(4);
  const std::size_t n = 1 + static_cast<std::size_t>(std::count(data.begin(), data.end(), ','));
  for (std::size_t i = 0; i < n; ++i) {
    Fields f = SplitField(data, ',', true);
    const HexValue v = HexToInt(f.head);
    // The value keeps 32 bits: nine digits and more may wrap round to a byte.
    const std::size_t lead = f.head.find_first_not_of('0');
    const bool fits = lead == std::string::npos || f.head.size() - lead <= 2;
    bytes.push_back({f.head, static_cast<std::uint8_t>(v.value & 0xFF), !f.head.empty() && v.valid && fits});
    data = std::move(f.tail);
  }
  return bytes;
}

int ShowModeFromName(const std::string& word) {
  const std::string w = UpperCase(Trim(word));
  if (w == "HIDE") return 0;
  if (w == "MAXIMIZE") return 3;
  if (w == "MINIMIZE") return 6;
  return 1;
}

ProgramToken SplitProgram(const std::string& commandLine) {
  ProgramToken t;
  if (!commandLine.empty() && commandLine[0] == '"') {
    const std::size_t close = commandLine.find('"', 1);
    if (close == std::string::npos) return {commandLine.substr(1), ""};
    return {commandLine.substr(1, close - 1), commandLine.substr(close + 1)};
  }
  const std::size_t blank = commandLine.find(' ');
  if (blank == std::string::npos) return {commandLine, ""};
  return {commandLine.substr(0, blank), commandLine.substr(blank)};
}

bool IsBareProgramName(const std::string& program) {
  return !program.empty() && program.find_first_of("\\/:") == std::string::npos;
}

bool NamesFileTypes(std::uint32_t root, const std::string& subkey) {
  if (root == kHKCR) return true;
  std::string key = UpperCase(subkey);
  if (root == kHKU) {
    // HKU\<account>\Software\Classes
    const std::size_t cut = key.find('\\');
    key = cut == std::string::npos ? std::string() : key.substr(cut + 1);
  }
  return key == "SOFTWARE\\CLASSES" || key.rfind("SOFTWARE\\CLASSES\\", 0) == 0;
}

CommandEntry ParseCommandEntry(const FolderValues& folders, const std::string& value) {
  Fields f = SplitField(value, ',', false);
  ExpandMacros(folders, f.head);
  return CommandEntry{Trim(f.head), ShowModeFromName(f.tail)};
}

}  // namespace qv
