// Texts a person reads, in Chinese (the default, as the program always
// spoke) or English, each with a name by which a script may replace it.
// Each part of the program keeps its own table; a run picks the language
// once, before its window is made.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
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

// A table's row as its source writes it: the id it is said by first.
template <class Id>
struct TextRow {
  Id id;
  const char* name;
  const char* chinese;
  const char* english;
  const char* macros = "";
};

// For a static_assert beside each table: Say looks a text up by its id's
// number, so row i must be id i, and every id before Id::Count needs one.
template <class Id, std::size_t N>
constexpr bool EachIdInItsRow(const TextRow<Id> (&rows)[N]) {
  if (N != static_cast<std::size_t>(Id::Count)) return false;
  for (std::size_t i = 0; i < N; ++i)
    if (static_cast<std::size_t>(rows[i].id) != i) return false;
  return true;
}

// Literals joined at compile time, for a row whose text has a part that
// is also kept on its own.
template <std::size_t... N>
consteval std::array<char, (N + ...) - sizeof...(N) + 1> Join(const char (&... parts)[N]) {
  std::array<char, (N + ...) - sizeof...(N) + 1> joined{};
  std::size_t at = 0;
  ((std::copy_n(parts, N - 1, joined.begin() + at), at += N - 1), ...);
  return joined;
}

class MessageTable {
 public:
  explicit MessageTable(std::vector<Message> messages);
  template <class Id, std::size_t N>
  explicit MessageTable(const TextRow<Id> (&rows)[N]) : MessageTable(FromRows(rows)) {}
  // Back to the language's own texts, every replacement dropped.
  void Use(Language language);
  // Replaces the text of a name (case-blind); false for a name it has not.
  bool Replace(std::string_view name, std::string text);
  const std::string& operator[](std::size_t id) const { return current_[id]; }
  const std::vector<Message>& Messages() const { return messages_; }

 private:
  template <class Id, std::size_t N>
  static std::vector<Message> FromRows(const TextRow<Id> (&rows)[N]) {
    std::vector<Message> messages;
    for (const TextRow<Id>& r : rows) messages.push_back({r.name, r.chinese, r.english, r.macros});
    return messages;
  }

  std::vector<Message> messages_;
  std::vector<std::string> current_;
};

// The text with each %NAME% given replaced by its value.
std::string Fill(std::string text, std::initializer_list<std::pair<const char*, std::string>> values);

}  // namespace qv
