// REGISTRY and COMMAND entries: the first line is the key path, the rest
// the value text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/entries.h"
#include "engine/text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;

qv::FolderValues Folders() {
  qv::FolderValues f;
  f.programFiles = "C:\\Program Files (x86)";
  f.system = "C:\\windows\\system32";
  f.windows = "C:\\windows";
  f.temp = "C:\\users\\%TEMPDIR%\\Temp";         // a '%' that must stay put
  f.install = "D:\\\xC8\xED\xBC\xFE\\\xD5\x5C";  // GBK, one trail byte is '\'
  return f;
}

void CheckRegistry(const qv::FolderValues& folders, const std::string& keyPath,
                   const std::string& valueText) {
  const qv::RegistryEntry e = qv::ParseRegistryEntry(folders, keyPath, valueText);
  const std::size_t slash = keyPath.find('\\');
  const std::string rootName = keyPath.substr(0, slash);
  Require(e.root == qv::RootKeyFromName(rootName), "root is not the first field's");
  Require(qv::RootKeyFromName(qv::UpperCase(rootName)) == e.root, "root names are not case-blind");
  Require(e.valueName.find('\\') == std::string::npos, "value name holds a backslash");
  if (std::count(keyPath.begin(), keyPath.end(), '\\') >= 2)
    Require(rootName + "\\" + e.subkey + "\\" + e.valueName == keyPath, "key path fields do not make it up");

  switch (e.type) {
    case qv::RegType::Dword:
      Require(e.data.size() == 4, "a DWORD is not four bytes");
      break;
    case qv::RegType::Binary:
      // One byte per comma-separated field.
      Require(
          e.data.size() == 1 + static_cast<std::size_t>(std::count(valueText.begin(), valueText.end(), ',')),
          "binary data has the wrong length");
      break;
    case qv::RegType::Text: {
      Require(!e.data.empty() && e.data.back() == 0, "text is stored without its zero");
      std::string want = valueText;
      qv::ExpandMacros(folders, want);
      Require(std::string(e.data.begin(), e.data.end() - 1) == want, "text is not the expanded value");
      break;
    }
    default:
      Require(false, "unknown value type");
  }
}

void CheckCommand(const qv::FolderValues& folders, const std::string& value) {
  const qv::CommandEntry c = qv::ParseCommandEntry(folders, value);
  Require(c.showCode == 0 || c.showCode == 1 || c.showCode == 3 || c.showCode == 6, "show code out of range");
  if (value.find(',') == std::string::npos) Require(c.showCode == 1, "no show word, yet not shown normally");
  Require(c.commandLine == qv::Trim(c.commandLine), "command line is not trimmed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = qv::fuzz::AsText(data, size);
  const std::size_t nl = text.find('\n');
  const std::string keyPath = text.substr(0, nl);
  const std::string valueText = nl == std::string::npos ? std::string() : text.substr(nl + 1);
  const qv::FolderValues folders = Folders();

  CheckRegistry(folders, keyPath, valueText);
  CheckRegistry(qv::FolderValues{}, keyPath, valueText);
  CheckCommand(folders, valueText);
  CheckCommand(folders, text);
  return 0;
}
