#include "framework/portable/texts.h"

#include <algorithm>

namespace qv {
namespace {

bool SameAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

std::optional<Language> LanguageFor(std::string_view setting, bool personReadsChinese) {
  while (!setting.empty() && setting.front() == ' ') setting.remove_prefix(1);
  while (!setting.empty() && setting.back() == ' ') setting.remove_suffix(1);
  if (setting.empty() || SameAscii(setting, "zh")) return Language::Chinese;
  if (SameAscii(setting, "en")) return Language::English;
  if (SameAscii(setting, "auto")) return personReadsChinese ? Language::Chinese : Language::English;
  return std::nullopt;
}

const char* LanguageName(Language language) { return language == Language::English ? "en" : "zh"; }

MessageTable::MessageTable(std::vector<Message> messages) : messages_(std::move(messages)) { Use(Language::Chinese); }

void MessageTable::Use(Language language) {
  current_.clear();
  for (const Message& m : messages_) current_.push_back(language == Language::English ? m.english : m.chinese);
}

bool MessageTable::Replace(std::string_view name, std::string text) {
  for (std::size_t i = 0; i < messages_.size(); ++i)
    if (SameAscii(messages_[i].name, name)) {
      current_[i] = std::move(text);
      return true;
    }
  return false;
}

std::string Fill(std::string text, std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& [name, value] : values) {
    const std::string macro = std::string("%") + name + "%";
    for (std::size_t at = 0; (at = text.find(macro, at)) != std::string::npos; at += value.size())
      text.replace(at, macro.size(), value);
  }
  return text;
}

}  // namespace qv
