// Our own reader for the setup script, an INI file in one of three forms:
// UTF-8 (it starts with the UTF-8 byte order mark), UTF-16 (it starts with
// the UTF-16LE or UTF-16BE byte order mark) or the system's ANSI code page
// (any other).
//
// What it promises (the run driver relies on every point):
//  - section and key names match case-blind after trimming: a to z only,
//    and in an ANSI script never the second byte of a double-byte character;
//  - ReadSection lists one name per key line in file order, duplicates
//    included, collected as zero-terminated names in a 16384-unit buffer:
//    names that do not fit are cut or lost;
//  - ReadString gives the value of the first line with the key, trimmed,
//    with one pair of enclosing quotes (single or double) removed, cut to
//    2047 units; the default when the section or key is absent;
//  - a missing file reads as a file with no sections;
//  - text that breaks the rules of its encoding is refused as a whole, with
//    the line it is on: every read throws EngineError.
// A unit is a byte in an ANSI script and a character (code point) in a
// Unicode one, so a Unicode script holds at least as much as an ANSI one.
// Everything read comes out in UTF-8.
// How it settles the rest: lines whose first non-blank byte is ';' or '#'
// are comments; lines without '=' and lines with an empty key name are
// ignored; a section that occurs twice continues where the first left off;
// a NUL character ends its line (only UTF-16 may hold one: a NUL byte in
// any other script is UTF-16 saved without its mark).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

constexpr std::size_t kSectionBufferSize = 16384;
constexpr std::size_t kMaxValueLength = 2047;

enum class ScriptEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

// The form a script's bytes are in, by their byte order mark.
ScriptEncoding DetectEncoding(std::string_view bytes);

// Where a script's bytes break the rules of their encoding: bytes that are
// not UTF-8 in a UTF-8 script, an unpaired surrogate or an odd byte in a
// UTF-16 one, a NUL byte in any other. ANSI bytes are never taken for
// UTF-8: GBK is not.
struct TextFault {
  int line = 0;
  std::string what;  // UTF-8, the bytes it quotes written as \xNN
};
std::optional<TextFault> FindTextFault(std::string_view bytes, ScriptEncoding encoding);

// The text a script's bytes hold, for IniText: ANSI bytes as they are,
// Unicode in UTF-8 without its byte order mark.
std::string ScriptText(std::string_view bytes, ScriptEncoding encoding);

// The parsed content of one INI text: ANSI bytes, or UTF-8 (unicode) with
// no byte order mark.
class IniText {
 public:
  IniText(std::string_view text, bool unicode);

  // Key names of a section, as written, all of them.
  std::vector<std::string> Keys(std::string_view section) const;
  bool HasSection(std::string_view section) const { return Find(section) != nullptr; }
  // The first value of a key, trimmed and unquoted but not cut.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  const Section* Find(std::string_view name) const;
  bool SameName(std::string_view a, std::string_view b) const;
  std::vector<Section> sections_;
  bool unicode_;
};

// Fits key names into the section buffer as the profile functions do,
// counting bytes (ANSI) or characters (unicode).
std::vector<std::string> FitSectionBuffer(const std::vector<std::string>& names, bool unicode = false);

// The code page an ANSI script's window texts have always been shown in
// (GBK), whatever the system's; names for files, keys and commands use the
// system's ANSI code page, as the machine does.
constexpr unsigned kWindowCodePage = 936;
constexpr unsigned kAnsiCodePage = 0;

class ScriptReader {
 public:
  using Loader = std::function<std::optional<std::string>(const std::string&)>;
  // Turns ANSI bytes of a code page into UTF-8.
  using Decoder = std::function<std::string(unsigned codePage, std::string_view bytes)>;

  // Opening stores the name only; every read goes to the file. Without a
  // decoder an ANSI script's bytes come out as they are.
  ScriptReader(std::string fileName, Loader load, Decoder decode = nullptr);

  const std::string& FileName() const { return fileName_; }
  ScriptEncoding Encoding() const;
  // Key names as written, to be passed back as keys; NameForMachine and
  // NameForWindow give their text.
  std::vector<std::string> ReadSection(std::string_view section) const;
  // A value for files, registry and commands.
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& defaultValue) const;
  // A value the window shows.
  std::string ReadText(std::string_view section, std::string_view key,
                       const std::string& defaultValue) const;
  std::string NameForMachine(const std::string& name) const { return Decode(kAnsiCodePage, name); }
  std::string NameForWindow(const std::string& name) const { return Decode(kWindowCodePage, name); }
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  bool HasSection(std::string_view section) const;

 private:
  const IniText& Current() const;
  std::optional<std::string> RawValue(std::string_view section, std::string_view key) const;
  std::string Decode(unsigned codePage, const std::string& raw) const;

  std::string fileName_;
  Loader load_;
  Decoder decode_;
  // The last bytes read and their parse: a file read again unchanged is not
  // parsed again.
  mutable std::optional<std::string> bytes_;
  mutable ScriptEncoding encoding_ = ScriptEncoding::Ansi;
  mutable std::optional<TextFault> fault_;
  mutable IniText parsed_{std::string_view(), false};
};

}  // namespace qv
