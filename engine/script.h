// Our own reader for the setup script, an INI file of ANSI bytes.
//
// What it promises (the run driver relies on every point):
//  - section and key names match case-blind after trimming: a to z only,
//    and never the second byte of a double-byte character;
//  - ReadSection lists one name per key line in file order, duplicates
//    included, collected as zero-terminated names in a 16384-byte buffer:
//    names that do not fit are cut or lost;
//  - ReadString gives the value of the first line with the key, trimmed,
//    with one pair of enclosing quotes (single or double) removed, cut to
//    2047 bytes; the default when the section or key is absent;
//  - a missing file reads as a file with no sections.
// How it settles the rest: lines whose first non-blank byte is ';' or '#'
// are comments; lines without '=' and lines with an empty key name are
// ignored; a section that occurs twice continues where the first left off;
// a UTF-8 byte order mark at the start is skipped; a NUL byte ends its line.
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

// The parsed content of one INI text.
class IniText {
 public:
  explicit IniText(std::string_view bytes);

  // Key names of a section, as written, all of them.
  std::vector<std::string> Keys(std::string_view section) const;
  // The first value of a key, trimmed and unquoted but not cut.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  const Section* Find(std::string_view name) const;
  std::vector<Section> sections_;
};

// Fits key names into the section buffer as the profile functions do.
std::vector<std::string> FitSectionBuffer(const std::vector<std::string>& names);

class ScriptReader {
 public:
  using Loader = std::function<std::optional<std::string>(const std::string&)>;

  // Opening stores the name only; every read goes to the file.
  ScriptReader(std::string fileName, Loader load);

  const std::string& FileName() const { return fileName_; }
  std::vector<std::string> ReadSection(std::string_view section) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

 private:
  const IniText& Current() const;

  std::string fileName_;
  Loader load_;
  // The last bytes read and their parse: a file read again unchanged is not
  // parsed again.
  mutable std::optional<std::string> bytes_;
  mutable IniText parsed_{std::string_view()};
};

}  // namespace qv
