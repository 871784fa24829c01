// Texts a person reads, in Chinese (the default, as the program always
// spoke) or English, each with a name by which a script may replace it.
// Each part of the program keeps its own table; a run picks the language
// once, before its window is made.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

enum class Language { Chinese, English };

// `setting` as a script gives it: "zh" (or nothing), "en" or "auto" (the
// person's display language: Chinese for Chinese, English otherwise),
// case-blind; none for anything else.
std::optional<Language> LanguageFor(std::string_view setting, bool personReadsChinese);
const char* LanguageName(Language language);  // "zh" or "en"

struct Message {
  const char* name;
  std::string chinese;
  const char* english;
  const char* macros = "";  // the %NAME% parts it takes, for the README
};

class MessageTable {
 public:
  explicit MessageTable(std::vector<Message> messages);
  // Back to the language's own texts, every replacement dropped.
  void Use(Language language);
  // Replaces the text of a name (case-blind); false for a name it has not.
  bool Replace(std::string_view name, std::string text);
  const std::string& operator[](std::size_t id) const { return current_[id]; }
  const std::vector<Message>& Messages() const { return messages_; }

 private:
  std::vector<Message> messages_;
  std::vector<std::string> current_;
};

// The text with each %NAME% given replaced by its value.
std::string Fill(std::string text, std::initializer_list<std::pair<const char*, std::string>> values);

}  // namespace qv
