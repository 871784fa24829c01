#include "script.h"

#include "text.h"

namespace qv {

namespace {

std::string Unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

IniText::IniText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
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
        if (SameText(s.name, name)) current = &s;
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

const IniText::Section* IniText::Find(std::string_view name) const {
  for (const auto& s : sections_)
    if (SameText(s.name, Trim(name))) return &s;
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
      if (SameText(e.first, k)) return e.second;
  }
  return std::nullopt;
}

std::vector<std::string> FitSectionBuffer(const std::vector<std::string>& names) {
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

ScriptReader::ScriptReader(std::string fileName, Loader load)
    : fileName_(std::move(fileName)), load_(std::move(load)) {}

const IniText& ScriptReader::Current() const {
  std::optional<std::string> now = load_(fileName_);
  if (!now) now = std::string();
  if (!bytes_ || *bytes_ != *now) {
    parsed_ = IniText(*now);
    bytes_ = std::move(now);
  }
  return parsed_;
}

std::vector<std::string> ScriptReader::ReadSection(std::string_view section) const {
  return FitSectionBuffer(Current().Keys(section));
}

std::string ScriptReader::ReadString(std::string_view section, std::string_view key,
                                     const std::string& defaultValue) const {
  std::optional<std::string> v = Current().Value(section, key);
  if (!v) return defaultValue;
  if (v->size() > kMaxValueLength) v->resize(kMaxValueLength);
  return *v;
}

bool ScriptReader::ReadBool(std::string_view section, std::string_view key,
                            bool defaultValue) const {
  const std::optional<std::int32_t> n = ParseInt32(ReadString(section, key, ""));
  return n ? *n != 0 : defaultValue;
}

}  // namespace qv
