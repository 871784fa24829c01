// The setup script reader over arbitrary bytes: the file the run driver
// would read, through the same calls it makes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/script.h"
#include "engine/text.h"
#include "framework/portable/utf8.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;

// "\n" can never be a value: every line ends before one.
const std::string kAbsent = "\n";

// Bytes in an ANSI script, characters in a Unicode one.
std::size_t Units(const std::string& s, bool unicode) {
  if (!unicode) return s.size();
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::size_t PackedSize(const std::vector<std::string>& names, bool unicode = false) {
  std::size_t n = 1;  // the list's closing zero
  for (const auto& s : names) n += Units(s, unicode) + 1;
  return n;
}

// The names of the sections the text opens, as written, a few of them.
std::vector<std::string> SectionsIn(const std::string& text) {
  std::vector<std::string> names;
  std::size_t p = 0;
  while (p < text.size() && names.size() < 4) {
    std::size_t end = text.find('\n', p);
    if (end == std::string::npos) end = text.size();
    const std::string line = qv::Trim(std::string_view(text).substr(p, end - p));
    if (!line.empty() && line[0] == '[') names.push_back(line.substr(1, line.find(']') - 1));
    p = end + 1;
  }
  return names;
}

void CheckSection(const qv::ScriptReader& reader, const qv::IniText& ini, const std::string& section) {
  const bool unicode = reader.Encoding() != qv::ScriptEncoding::Ansi;
  const std::vector<std::string> names = reader.ReadSection(section);
  Require(PackedSize(names, unicode) <= qv::kSectionBufferSize, "section names overflow the buffer");
  Require(reader.ReadSection(qv::UpperCaseName(section)) == names, "section names are not case-blind");
  const bool whole = names == ini.Keys(section);

  std::size_t checked = 0;
  for (std::size_t i = 0; i < names.size() && checked < 64; ++i, ++checked) {
    const std::string& key = names[i];
    Require(!key.empty() && key.find('\0') == std::string::npos, "listed key name is empty or holds a zero");
    const std::string value = reader.ReadString(section, key, kAbsent);
    // Only the last name can have been cut to fit the buffer.
    if (whole || i + 1 < names.size()) Require(value != kAbsent, "listed key cannot be read");
    if (value == kAbsent) continue;
    Require(Units(value, unicode) <= qv::kMaxValueLength, "value longer than 2047 units");
    Require(value.find('\n') == std::string::npos && value.find('\0') == std::string::npos,
            "value runs past its line");
    std::optional<std::string> full = ini.Value(section, key);
    Require(full.has_value() && full->starts_with(value) &&
                (value.size() == full->size() || Units(value, unicode) == qv::kMaxValueLength),
            "value is not the first, cut");
    Require(reader.ReadString(qv::UpperCaseName(section), qv::UpperCaseName(key), kAbsent) == value,
            "key lookup is not case-blind");
    reader.ReadBool(section, key, false);
  }
  // No key of a script holds '=' (a line's key ends at its first one);
  // a control character would be trimmed to a name a script may have.
  const std::string missing = "no such=key";
  Require(reader.ReadString(section, missing, kAbsent) == kAbsent, "a missing key has a value");
  Require(reader.ReadBool(section, missing, true) && !reader.ReadBool(section, missing, false),
          "a missing key does not read as the default");
}

// Key lists far longer than the buffer: the kept names are the first ones,
// the last possibly cut.
void CheckFit(const std::string& text, bool unicode) {
  std::vector<std::string> base;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t end = text.find('\n', p);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(p, end - p);
    std::erase(name, '\0');
    // Long names keep the list short: the cut lands inside one just as well.
    if (!name.empty()) {
      while (name.size() < 100) name += name;
      base.push_back(std::move(name));
    }
    p = end + 1;
  }
  if (base.empty()) return;
  std::vector<std::string> names;
  const std::size_t copies = qv::kSectionBufferSize / PackedSize(base, unicode) + 2;
  for (std::size_t c = 0; c < copies; ++c) names.insert(names.end(), base.begin(), base.end());

  const std::vector<std::string> fitted = qv::FitSectionBuffer(names, unicode);
  Require(PackedSize(fitted, unicode) <= qv::kSectionBufferSize, "fitted names overflow the buffer");
  Require(!fitted.empty() && fitted.size() <= names.size(), "fitting lost every name");
  for (std::size_t i = 0; i + 1 < fitted.size(); ++i)
    Require(fitted[i] == names[i], "fitting changed a name");
  const std::string& last = fitted.back();
  Require(!last.empty() && names[fitted.size() - 1].starts_with(last), "the last fitted name is no prefix");
  Require(qv::FitSectionBuffer(base, unicode) == base || PackedSize(base, unicode) > qv::kSectionBufferSize,
          "a list that fits was changed");
}

// A script whose text breaks its encoding: every read refuses it with its
// line, in a message that is UTF-8 whatever the bytes were.
void CheckRefused(const qv::ScriptReader& reader, const qv::TextFault& fault) {
  for (const char* section : {"GUI", "INSTALL"}) {
    try {
      reader.ReadSection(section);
      Require(false, "a broken text was read");
    } catch (const qv::EngineError& e) {
      const std::string message = e.what();
      Require(message.find(", line " + std::to_string(fault.line) + ": ") != std::string::npos,
              "the refusal does not name the line");
      Require(qv::FirstInvalidUtf8(message) == std::string::npos, "the refusal is no UTF-8");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = qv::fuzz::AsText(data, size);
  const qv::ScriptEncoding encoding = qv::DetectEncoding(bytes);
  const qv::ScriptReader reader("C:\\setup\\setup.ini",
                                [&bytes](const std::string&) { return std::optional<std::string>(bytes); });
  const std::optional<qv::TextFault> fault = qv::FindTextFault(bytes, encoding);
  if (fault) {
    Require(fault->line >= 1 && static_cast<std::size_t>(fault->line) <= size + 1, "the fault is on no line");
    CheckRefused(reader, *fault);
    return 0;
  }
  const std::string text = qv::ScriptText(bytes, encoding);
  const bool unicode = encoding != qv::ScriptEncoding::Ansi;
  Require(!unicode || qv::FirstInvalidUtf8(text) == std::string::npos, "a text found sound reads as no UTF-8");
  const qv::IniText ini(text, unicode);

  std::vector<std::string> sections = {"GUI", "INSTALL", "REGISTRY", "COMMAND"};
  for (auto& s : SectionsIn(text)) sections.push_back(std::move(s));
  for (const auto& s : sections) CheckSection(reader, ini, s);
  CheckFit(text, unicode);
  return 0;
}
