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

namespace {

// Exit codes separated by blanks: decimal, a negative one as the system
// keeps it (two's complement); none for anything else.
std::optional<std::vector<std::uint32_t>> ParseCodes(const std::string& text) {
  std::vector<std::uint32_t> codes;
  std::size_t at = 0;
  for (;;) {
    at = text.find_first_not_of(" \t", at);
    if (at == std::string::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
    std::string_view word(text.data() + at, end - at);
    const bool negative = word.front() == '-';
    if (negative) word.remove_prefix(1);
    if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    const std::uint64_t v = std::stoull(std::string(word));
    if (v > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return std::nullopt;
    codes.push_back(negative ? static_cast<std::uint32_t>(0x100000000ull - v) : static_cast<std::uint32_t>(v));
    at = end;
  }
  if (codes.empty()) return std::nullopt;
  return codes;
}

// Takes a trailing word into the entry; false when the field is none.
bool TakeWord(CommandEntry& e, const std::string& field) {
  const std::string w = UpperCase(Trim(field));
  const auto codes = [&w](std::size_t skip) { return ParseCodes(w.substr(skip)); };
  if (w == "WAIT") e.wait = true;
  else if (w == "SKIPIFSILENT") e.skipIfSilent = true;
  else if (w == "ONLYIFSILENT") e.onlyIfSilent = true;
  else if (w == "ASUSER") e.asUser = true;
  else if (w == "UNINSTALL") e.uninstall = true;
  else if (w.rfind("OK=", 0) == 0 && codes(3)) e.okCodes = *codes(3);
  else if (w.rfind("RESTART=", 0) == 0 && codes(8)) e.restartCodes = *codes(8);
  else return false;
  return true;
}

std::string CodesText(const std::vector<std::uint32_t>& codes) {
  std::string text;
  for (const std::uint32_t c : codes) text += (text.empty() ? "" : " ") + std::to_string(c);
  return text;
}

}  // namespace

CommandEntry ParseCommandValue(const std::string& value) {
  CommandEntry e;
  std::string rest = value;
  for (;;) {
    const std::size_t last = rest.rfind(',');
    // A word needs a show field before it.
    if (last == std::string::npos || rest.find(',') == last) break;
    if (!TakeWord(e, rest.substr(last + 1))) break;
    rest.resize(last);
  }
  const Fields f = SplitField(rest, ',', false);
  e.commandLine = f.head;
  e.showCode = ShowModeFromName(f.tail);
  return e;
}

CommandEntry ParseCommandEntry(const FolderValues& folders, const std::string& value) {
  CommandEntry e = ParseCommandValue(value);
  ExpandMacros(folders, e.commandLine);
  e.commandLine = Trim(e.commandLine);
  return e;
}

std::string CommandValue(const CommandEntry& e) {
  // The show code by its own name: no word of ours stands in for it.
  const char* show = e.showCode == 0 ? "HIDE" : e.showCode == 3 ? "MAXIMIZE" : e.showCode == 6 ? "MINIMIZE" : "SHOW";
  std::string value = e.commandLine + "," + show;
  if (e.wait) value += ",WAIT";
  value += ",OK=" + CodesText(e.okCodes);
  if (!e.restartCodes.empty()) value += ",RESTART=" + CodesText(e.restartCodes);
  if (e.skipIfSilent) value += ",SKIPIFSILENT";
  if (e.onlyIfSilent) value += ",ONLYIFSILENT";
  if (e.asUser) value += ",ASUSER";
  return value;
}

bool RestartCode(const CommandEntry& e, std::uint32_t code) {
  return code == 3010 || code == 1641 ||
         std::find(e.restartCodes.begin(), e.restartCodes.end(), code) != e.restartCodes.end();
}

bool SuccessCode(const CommandEntry& e, std::uint32_t code) {
  return RestartCode(e, code) || std::find(e.okCodes.begin(), e.okCodes.end(), code) != e.okCodes.end();
}

}  // namespace qv
