// The small text rules the engine builds on: field splitting, numbers,
// folder macros and the command line.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "engine/folders.h"
#include "engine/install_entry.h"
#include "engine/setup_engine.h"
#include "engine/text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using qv::fuzz::Require;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

void CheckSplit(const std::string& text, char sep, bool firstOnly) {
  const qv::Fields f = qv::SplitField(text, sep, firstOnly);
  if (text.find(sep) == std::string::npos) {
    Require(f.head == text && f.tail.empty(), "text without separator was split");
    return;
  }
  Require(f.head + sep + f.tail == text, "fields do not make up the text");
  const std::string& clean = firstOnly ? f.head : f.tail;
  Require(clean.find(sep) == std::string::npos, "field holds the separator it was cut at");
}

void CheckTrimAndCase(const std::string& text) {
  const std::string t = qv::Trim(text);
  if (!t.empty()) Require(!IsBlank(t.front()) && !IsBlank(t.back()), "trimmed text has blank ends");
  const std::size_t b = std::find_if_not(text.begin(), text.end(), IsBlank) - text.begin();
  Require(text.compare(b, t.size(), t) == 0, "trim changed the text inside");
  Require(std::all_of(text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), b + t.size())),
                      text.end(), IsBlank),
          "trim dropped more than blanks");

  const std::string u = qv::UpperCase(text);
  Require(u.size() == text.size(), "upper-casing changed the length");
  for (std::size_t i = 0; i < u.size(); ++i) {
    const char c = text[i];
    Require(u[i] == (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c), "upper-casing touched a byte beyond a to z");
  }
}

void CheckHex(const std::string& text) {
  const qv::HexValue h = qv::HexToInt(text);
  const std::size_t digits = std::find_if_not(text.begin(), text.end(), IsHexDigit) - text.begin();
  Require(h.valid == (digits == text.size()), "hex validity is wrong");
  // Kept to 32 bits: only the last eight digits read count.
  const std::size_t from = digits > 8 ? digits - 8 : 0;
  std::uint32_t want = 0;
  if (digits > 0) std::from_chars(text.data() + from, text.data() + digits, want, 16);
  Require(h.value == want, "hex value is wrong");
}

void CheckInt(const std::string& text) {
  const std::optional<std::int32_t> n = qv::ParseInt32(text);
  if (n) {
    Require(qv::ParseInt32(std::to_string(*n)) == n, "a number does not read back");
    Require(std::all_of(text.begin(), text.end(),
                        [](char c) {
                          return IsHexDigit(c) || c == '+' || c == '-' || c == '$' || c == 'x' || c == 'X';
                        }),
            "a number holds a foreign byte");
  }
  // Decimal with an optional sign: exact whenever it fits 32 bits.
  const std::size_t signs = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (text.size() > signs &&
      std::all_of(text.begin() + static_cast<std::ptrdiff_t>(signs), text.end(), IsDigit)) {
    std::string digits = text.substr(signs);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    std::int64_t v = 0;
    const bool small = digits.size() <= 12;
    if (small) std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (signs && text[0] == '-') v = -v;
    const bool fits = small && v >= INT32_MIN && v <= INT32_MAX;
    Require(fits ? n == static_cast<std::int32_t>(v) : !n, "decimal number read wrong");
  }
}

void CheckMacros(const qv::FolderValues& folders, const std::string& text) {
  const std::string names[] = {"PROGRAMFILESDIR", "SYSTEMDIR", "WINDOWSDIR", "TEMPDIR", "INSTALLDIR"};
  std::size_t longest = 0;
  for (const auto& name : names) {
    const std::string value = qv::MacroValue(folders, name);
    longest = std::max(longest, value.size());
    std::string lower = " " + name + "\t";
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    Require(qv::MacroValue(folders, lower) == value, "macro names are not trimmed and case-blind");
    // The value is put in once: a '%' inside it is never read as a macro.
    std::string one = "%" + lower + "%";
    qv::ExpandMacros(folders, one);
    Require(one == (value.empty() ? "%" + lower + "%" : value), "a lone macro did not expand to its value");
  }

  std::string expanded = text;
  qv::ExpandMacros(folders, expanded);
  const std::size_t signs = static_cast<std::size_t>(std::count(text.begin(), text.end(), '%'));
  if (signs < 2) Require(expanded == text, "text without a macro changed");
  Require(expanded.size() <= text.size() + signs / 2 * longest, "expansion grew past one value per macro");

  std::string untouched = text;
  qv::ExpandMacros(qv::FolderValues{}, untouched);
  Require(untouched == text, "empty folder values changed the text");
}

void CheckCommandLine(const std::string& text) {
  const std::vector<std::string> args = qv::SplitCommandLine(text);
  std::size_t total = 0;
  for (const auto& a : args) {
    Require(a.find('"') == std::string::npos, "an argument kept a quote");
    total += a.size();
  }
  Require(total <= text.size(), "arguments hold more than the line");
  if (text.find('"') == std::string::npos) {
    std::vector<std::string> words;
    std::string w;
    for (char c : text + ' ') {
      if (!IsBlank(c)) {
        w += c;
      } else if (!w.empty()) {
        words.push_back(std::move(w));
        w.clear();
      }
    }
    Require(args == words, "unquoted line not split at blanks");
  }

  const qv::CommandLineOptions o = qv::ParseOptions(args);
  std::vector<std::string> plain;
  std::vector<std::string> shouted;
  bool silent = false;
  for (const auto& a : args) {
    if (a.empty() || a[0] != '/') plain.push_back(a);
    silent = silent || qv::UpperCase(a) == "/S";
    shouted.push_back(!a.empty() && a[0] == '/' ? qv::UpperCase(a) : a);
  }
  Require(o.scriptArgs == plain, "script arguments are not the non-options in order");
  Require(o.silent == silent, "/S not seen");
  Require(o.badOption.empty() || o.badOption[0] == '/', "a bad option that is no option");
  auto named = [&](const std::optional<std::string>& v, const std::string& prefix) {
    bool any = false;
    for (const auto& a : args)
      if (a.size() > prefix.size() && qv::UpperCase(a.substr(0, prefix.size())) == prefix) {
        any = true;
        if (v && qv::WindowsPath(a.substr(prefix.size())) == *v) return true;
      }
    return !v && !any;
  };
  Require(named(o.installDir, "/D="), "/D= value not taken from an argument");
  Require(named(o.logFile, "/LOG="), "/LOG= value not taken from an argument");
  const qv::CommandLineOptions u = qv::ParseOptions(shouted);
  Require(u.silent == o.silent && u.installDir.has_value() == o.installDir.has_value() &&
              u.logFile.has_value() == o.logFile.has_value() && u.badOption.empty() == o.badOption.empty(),
          "options are not case-blind");
}

}  // namespace

// Flags come off an INSTALL value's end only: without any it reads as it
// always has, and with some it starts with its source and destination.
void CheckInstallLine(const std::string& text) {
  const qv::InstallLine line = qv::ParseInstallLine(text);
  const qv::InstallFlags& f = line.flags;
  if (!f.onlyIfNew && !f.keep && !f.ifNewer) {
    const qv::Fields plain = qv::SplitField(text, ',', true);
    Require(line.source == plain.head && line.destination == plain.tail, "an entry without flags read otherwise");
  } else {
    Require(text.rfind(line.source + "," + line.destination + ",", 0) == 0, "flags taken from inside an entry");
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte is a separator; five folder values follow, then the text.
  const char sep = static_cast<char>(data[0]);
  FuzzedDataProvider in(data + 1, size - 1);
  qv::FolderValues folders;
  folders.programFiles = in.ConsumeRandomLengthString(64);
  folders.system = in.ConsumeRandomLengthString(64);
  folders.windows = "C:\\%WINDOWSDIR%\\" + in.ConsumeRandomLengthString(16);
  folders.temp = in.ConsumeRandomLengthString(64);
  folders.install = in.ConsumeRandomLengthString(64) + "%INSTALLDIR%";
  const std::string text = in.ConsumeRemainingBytesAsString();

  for (char s : {sep, ',', '\\', '%'}) {
    CheckSplit(text, s, true);
    CheckSplit(text, s, false);
  }
  CheckTrimAndCase(text);
  CheckHex(text);
  CheckInt(text);
  CheckInt(qv::Trim(text));
  CheckMacros(folders, text);
  CheckCommandLine(text);
  CheckInstallLine(text);
  return 0;
}
