// Parsing of REGISTRY and COMMAND entries, and of the program a command
// line starts: pure, no calls to the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/folders.h"
#include "engine/registry.h"

namespace qv {

// The root key for HKLM, HKEY_LOCAL_MACHINE and the like; 0 for none.
// HKSCOPE is the run's own root (HKLM for all users, HKCU for this one),
// `scopeRoot`: one script serves either scope.
std::uint32_t RootKeyFromName(const std::string& name, std::uint32_t scopeRoot = 0);

struct RegistryEntry {
  std::uint32_t root = 0;
  std::string subkey;     // may be empty: the root itself
  std::string valueName;  // empty: the key's default value
  RegType type = RegType::Text;
  std::vector<std::uint8_t> data;  // bytes as stored (text with its zero)
};

// "ROOT\subkey path\value name" and a value text: HEX:, DWORD: or text
// (folder macros expanded in text only).
RegistryEntry ParseRegistryEntry(const FolderValues& folders, const std::string& keyPath,
                                 std::string valueText, std::uint32_t scopeRoot = 0);

// One byte of a HEX: value: the field it is read from (upper case, cut at
// commas, not trimmed) and what the program stores for it, which is what
// the field says only when `exact`: hexadecimal digits of 00 to FF.
struct HexByte {
  std::string field;
  std::uint8_t value = 0;
  bool exact = false;
};
// A HEX: value's bytes as the program stores them; nothing for a value of
// another type. qvpack checks the same bytes.
std::optional<std::vector<HexByte>> ParseHexValue(const std::string& valueText);

// Where the system keeps file types and their programs (HKCR, or
// Software\Classes under a root): the shell must be told of changes there.
bool NamesFileTypes(std::uint32_t root, const std::string& subkey);

// HIDE 0, MAXIMIZE 3, MINIMIZE 6, anything else 1 (show normal).
int ShowModeFromName(const std::string& word);

struct CommandEntry {
  std::string commandLine;  // expanded and trimmed
  int showCode = 1;
  // The words after the show word.
  bool wait = false;                     // WAIT: its exit code is checked
  std::vector<std::uint32_t> okCodes{0};  // OK=: taken for success
  std::vector<std::uint32_t> restartCodes;  // RESTART=: success, once the machine restarts
  bool skipIfSilent = false, onlyIfSilent = false;
  bool asUser = false;     // ASUSER: as the person who started setup, never elevated
  bool uninstall = false;  // UNINSTALL: run by the uninstaller, not now
};

// A COMMAND value: words are taken from its end while a show field remains
// before them, and the rest is cut at its last comma (the command line may
// hold commas). A value without words reads as it always did.
CommandEntry ParseCommandEntry(const FolderValues& folders, const std::string& value);
// The same, with the command line left as it is (already expanded).
CommandEntry ParseCommandValue(const std::string& value);
// The entry as a value ParseCommandValue reads back the same (command
// line expanded), for the uninstaller's record.
std::string CommandValue(const CommandEntry& entry);
// Whether an exit code means success, and whether it asks for a restart
// (3010, 1641, or one of RESTART=), which is success too.
bool RestartCode(const CommandEntry& entry, std::uint32_t code);
bool SuccessCode(const CommandEntry& entry, std::uint32_t code);

// The program a command line starts and the rest of it: a quoted first
// token, or everything up to the first blank.
struct ProgramToken {
  std::string program;
  std::string rest;  // from the blank after the program on
};
ProgramToken SplitProgram(const std::string& commandLine);
// A program named without any folder ("cmd.exe", "rundll32").
bool IsBareProgramName(const std::string& program);

}  // namespace qv
