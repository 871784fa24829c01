#include "engine/script.h"

#include "framework/portable/hex.h"

#include <algorithm>

#include "engine/errors.h"
#include "engine/text.h"
#include "framework/portable/utf8.h"

namespace qv {

namespace {

std::string Unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Byte length of the first `count` characters of UTF-8 text.
std::size_t CharactersToBytes(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (; i < text.size(); ++i)
    if (!IsContinuation(text[i]) && count-- == 0) break;
  return i;
}

std::size_t Characters(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += !IsContinuation(c);
  return n;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

template <typename Char>
int LineOf(std::basic_string_view<Char> text, std::size_t at) {
  int line = 1;
  for (std::size_t i = 0; i < at && i < text.size(); ++i) line += text[i] == Char('\n');
  return line;
}

// What surrounds a fault on its line, for the message: some whole
// characters before it and after it.
std::string Around(std::string_view text, std::size_t at) {
  const std::size_t lineStart = text.rfind('\n', at) == std::string_view::npos ? 0 : text.rfind('\n', at) + 1;
  const std::size_t lineEnd = std::min(text.find('\n', at), text.size());
  std::size_t begin = std::max(lineStart, at >= 40 ? at - 40 : 0);
  std::size_t end = std::min(lineEnd, at + 16);
  while (begin < at && IsContinuation(text[begin])) ++begin;
  while (end < lineEnd && IsContinuation(text[end])) ++end;
  std::string_view part = text.substr(begin, end - begin);
  if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
  return "'" + QuoteInvalidUtf8(part) + "'";
}

std::optional<TextFault> FindUtf16Fault(std::string_view bytes, bool bigEndian) {
  const std::u16string units = Utf16Units(bytes, bigEndian);
  const std::size_t unpaired = FirstUnpairedSurrogate(units);
  if (unpaired != std::u16string::npos) {
    std::string hex = "\\u";
    AppendHex(hex, static_cast<unsigned char>(units[unpaired] >> 8));
    AppendHex(hex, static_cast<unsigned char>(units[unpaired] & 0xFF));
    return TextFault{LineOf<char16_t>(units, unpaired), "half a UTF-16 surrogate pair (" + hex + ")"};
  }
  if (bytes.size() % 2)
    return TextFault{LineOf<char16_t>(units, units.size()), "an odd number of bytes: the UTF-16 text ends in half a character"};
  return std::nullopt;
}

}  // namespace

ScriptEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == kUtf8Mark) return ScriptEncoding::Utf8;
  if (bytes.substr(0, 2) == kUtf16LeMark) return ScriptEncoding::Utf16Le;
  if (bytes.substr(0, 2) == kUtf16BeMark) return ScriptEncoding::Utf16Be;
  return ScriptEncoding::Ansi;
}

std::optional<TextFault> FindTextFault(std::string_view bytes, ScriptEncoding encoding) {
  switch (encoding) {
    case ScriptEncoding::Utf16Le: return FindUtf16Fault(bytes.substr(2), false);
    case ScriptEncoding::Utf16Be: return FindUtf16Fault(bytes.substr(2), true);
    case ScriptEncoding::Utf8: bytes.remove_prefix(3); break;
    case ScriptEncoding::Ansi: break;
  }
  const std::size_t nul = bytes.find('\0');
  const std::size_t invalid = encoding == ScriptEncoding::Utf8 ? FirstInvalidUtf8(bytes) : std::string_view::npos;
  if (invalid < nul) return TextFault{LineOf<char>(bytes, invalid), "text that is not UTF-8: " + Around(bytes, invalid)};
  if (nul != std::string_view::npos)
    return TextFault{LineOf<char>(bytes, nul), "a NUL byte (UTF-16 text needs its byte order mark, FF FE or FE FF)"};
  return std::nullopt;
}

IniText::IniText(std::string_view bytes, bool unicode) : unicode_(unicode) {
  Section* current = nullptr;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    line = line.substr(0, line.find('\0'));

    const std::string text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text[0] == '[') {
      const std::string name = Trim(std::string_view(text).substr(1, text.find(']', 1) - 1));
      current = nullptr;
      for (auto& s : sections_)
        if (SameName(s.name, name)) current = &s;
      if (!current) current = &sections_.emplace_back(Section{name, {}});
      continue;
    }
    const std::size_t eq = text.find('=');
    if (!current || eq == std::string::npos) continue;
    std::string key = Trim(std::string_view(text).substr(0, eq));
    if (key.empty()) continue;
    current->entries.emplace_back(std::move(key), Unquote(Trim(std::string_view(text).substr(eq + 1))));
  }
}

bool IniText::SameName(std::string_view a, std::string_view b) const {
  // In UTF-8 no byte of a multi-byte character is a letter: fold them all.
  return unicode_ ? UpperCase(a) == UpperCase(b) : SameText(a, b);
}

const IniText::Section* IniText::Find(std::string_view name) const {
  for (const auto& s : sections_)
    if (SameName(s.name, Trim(name))) return &s;
  return nullptr;
}

std::vector<std::string> IniText::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section))
    for (const auto& e : s->entries) keys.push_back(e.first);
  return keys;
}

std::optional<std::string> IniText::Value(std::string_view section, std::string_view key) const {
  if (const Section* s = Find(section)) {
    const std::string k = Trim(key);
    for (const auto& e : s->entries)
      if (SameName(e.first, k)) return e.second;
  }
  return std::nullopt;
}

std::vector<std::string> FitSectionBuffer(const std::vector<std::string>& names, bool unicode) {
  if (unicode) {
    // The same buffer counted in characters: each name and its zero, and a
    // last zero; too long, the last name that starts in it is cut.
    std::size_t total = 1;
    for (const auto& n : names) total += Characters(n) + 1;
    if (total <= kSectionBufferSize) return names;
    const std::size_t budget = kSectionBufferSize - 2;
    std::vector<std::string> fitted;
    std::size_t used = 0;
    for (const auto& n : names) {
      const std::size_t length = Characters(n);
      if (used + length + 1 <= budget) {
        fitted.push_back(n);
        used += length + 1;
        continue;
      }
      if (budget > used) fitted.push_back(n.substr(0, CharactersToBytes(n, budget - used)));
      break;
    }
    return fitted;
  }
  std::string packed;
  for (const auto& n : names) {
    packed += n;
    packed += '\0';
  }
  if (packed.size() + 1 <= kSectionBufferSize) return names;
  // Too long: the buffer holds what fits, the last name cut, then two zeros.
  packed.resize(kSectionBufferSize - 2);
  std::vector<std::string> fitted;
  std::size_t p = 0;
  while (p < packed.size() && packed[p] != '\0') {
    std::size_t z = packed.find('\0', p);
    if (z == std::string::npos) z = packed.size();
    fitted.push_back(packed.substr(p, z - p));
    p = z + 1;
  }
  return fitted;
}

ScriptReader::ScriptReader(std::string fileName, Loader load, Decoder decode)
    : fileName_(std::move(fileName)), load_(std::move(load)), decode_(std::move(decode)) {}

std::string ScriptText(std::string_view bytes, ScriptEncoding encoding) {
  switch (encoding) {
    case ScriptEncoding::Utf8: return std::string(bytes.substr(3));
    case ScriptEncoding::Utf16Le: return Utf16ToUtf8(Utf16Units(bytes.substr(2), false));
    case ScriptEncoding::Utf16Be: return Utf16ToUtf8(Utf16Units(bytes.substr(2), true));
    case ScriptEncoding::Ansi: break;
  }
  return std::string(bytes);
}

const IniText& ScriptReader::Current() const {
  std::optional<std::string> now = load_(fileName_);
  if (!now) now = std::string();
  if (!bytes_ || *bytes_ != *now) {
    encoding_ = DetectEncoding(*now);
    fault_ = FindTextFault(*now, encoding_);
    // Nothing of a broken text is read: what it says is not what was meant.
    parsed_ = IniText(fault_ ? std::string() : ScriptText(*now, encoding_), encoding_ != ScriptEncoding::Ansi);
    bytes_ = std::move(now);
  }
  if (fault_) throw EngineError(fileName_ + ", line " + std::to_string(fault_->line) + ": " + fault_->what);
  return parsed_;
}

ScriptEncoding ScriptReader::Encoding() const {
  Current();
  return encoding_;
}

std::string ScriptReader::Decode(unsigned codePage, const std::string& raw) const {
  return encoding_ == ScriptEncoding::Ansi && decode_ ? decode_(codePage, raw) : raw;
}

std::vector<std::string> ScriptReader::ReadSection(std::string_view section) const {
  const IniText& text = Current();
  return FitSectionBuffer(text.Keys(section), encoding_ != ScriptEncoding::Ansi);
}

std::optional<std::string> ScriptReader::RawValue(std::string_view section, std::string_view key) const {
  std::optional<std::string> v = Current().Value(section, key);
  if (!v) return v;
  if (encoding_ == ScriptEncoding::Ansi) {
    if (v->size() > kMaxValueLength) v->resize(kMaxValueLength);
  } else {
    v->resize(CharactersToBytes(*v, kMaxValueLength));
  }
  return v;
}

std::string ScriptReader::ReadString(std::string_view section, std::string_view key,
                                     const std::string& defaultValue) const {
  const std::optional<std::string> v = RawValue(section, key);
  return v ? Decode(kAnsiCodePage, *v) : defaultValue;
}

std::string ScriptReader::ReadText(std::string_view section, std::string_view key,
                                   const std::string& defaultValue) const {
  const std::optional<std::string> v = RawValue(section, key);
  return v ? Decode(kWindowCodePage, *v) : defaultValue;
}

bool ScriptReader::ReadBool(std::string_view section, std::string_view key,
                            bool defaultValue) const {
  const std::optional<std::int32_t> n = ParseInt32(ReadString(section, key, ""));
  return n ? *n != 0 : defaultValue;
}

}  // namespace qv

namespace qv {

bool ScriptReader::HasSection(std::string_view section) const { return Current().HasSection(section); }

}  // namespace qv
