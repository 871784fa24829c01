#include "tools/qvpack/script_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "engine/entries.h"
#include "engine/folders.h"
#include "engine/install_entry.h"
#include "engine/install_record.h"
#include "engine/setup_engine.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"
#include "engine/setup_texts.h"
#include "engine/setup_window.h"
#include "framework/portable/bmp_codec.h"
#include "framework/portable/jpeg_frame.h"
#include "framework/portable/messages.h"
#include "framework/portable/texts.h"
#include "framework/portable/wildcard.h"
#include "package/pe_resources.h"

namespace qv::qvpack {

namespace {

constexpr const char* kSections[] = {"GUI",   "INSTALL",  "REGISTRY", "SHORTCUTS", "PATH",     "COMMAND",
                                     "UNINSTALL", "SETUP", "MESSAGES", "SERVICES", "UNINSTALLDELETE"};
// What the packed file shows (Icon aside).
constexpr const char* kIdentityKeys[] = {"Copyright", "Name", "Version", "Publisher"};
constexpr const char* kUninstallKeys[] = {"Name",         "Version",       "Publisher", "Folder",   "Id",
                                          "HelpLink",     "URLInfoAbout",  "URLUpdateInfo", "Contact", "Comments",
                                          "DisplayIcon"};
constexpr const char* kScopes[] = {"machine", "user", "auto"};
constexpr const char* kArchitectures[] = {"x86", "x64"};
constexpr const char* kPlaces[] = {"STARTMENU", "DESKTOP", "STARTUP"};
constexpr const char* kStartTypes[] = {"auto", "demand", "manual", "disabled"};
constexpr const char* kAccounts[] = {"LocalService", "NetworkService"};
// The root that is HKLM for everyone and HKCU for one person.
constexpr char kScopeRoot[] = "HKSCOPE";

// The words that may follow a COMMAND's show word and an INSTALL
// destination; `valued` ones are written WORD=value.
struct Word {
  const char* name;
  bool valued;
};
constexpr Word kCommandWords[] = {{"WAIT", false},         {"OK", true},           {"RESTART", true},
                                  {"SKIPIFSILENT", false}, {"ONLYIFSILENT", false}, {"ASUSER", false},
                                  {"UNINSTALL", false}};
constexpr Word kInstallFlags[] = {{"ONLYIFNEW", false}, {"KEEP", false}, {"IFNEWER", false}};

// Folders of the account that runs the installation: a machine-wide one
// started by someone else (a deployment tool runs as SYSTEM) fills theirs.
constexpr const char* kAccountFolders[] = {"APPDATA", "LOCALAPPDATA", "USERPROFILE"};
// Folders only administrators may write in.
constexpr const char* kAdminFolders[] = {"PROGRAMFILESDIR", "COMMONFILESDIR", "COMMONAPPDATA", "SYSTEMDIR",
                                         "WINDOWSDIR"};

template <std::size_t N>
bool OneOf(std::string_view word, const char* const (&list)[N]) {
  return std::any_of(std::begin(list), std::end(list), [&](const char* w) { return SameText(word, w); });
}

template <std::size_t N>
std::string Alternatives(const char* const (&list)[N]) {
  std::string s = list[0];
  for (std::size_t i = 1; i < N; ++i) s += (i + 1 < N ? ", " : " or ") + std::string(list[i]);
  return s;
}

// Folder values of some target machine: a source using one of them is a
// path on that machine, never in the package.
FolderValues TargetFolders() {
  FolderValues f;
  f.programFiles = "C:\\Program Files";
  f.system = "C:\\Windows\\system32";
  f.windows = "C:\\Windows";
  f.temp = "C:\\Windows\\Temp";
  f.localAppData = "C:\\Users\\Someone\\AppData\\Local";
  f.appData = "C:\\Users\\Someone\\AppData\\Roaming";
  f.commonAppData = "C:\\ProgramData";
  f.commonFiles = "C:\\Program Files\\Common Files";
  f.startMenu = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  f.desktop = "C:\\Users\\Public\\Desktop";
  f.fonts = "C:\\Windows\\Fonts";
  f.userProfile = "C:\\Users\\Someone";
  return f;
}
constexpr char kPromptedFolder[] = "C:\\Program Files\\Prompted";
// Where the setup program runs, for what is relative to it.
constexpr char kProgramFolder[] = "C:\\Downloads\\";

// ExpandMacros over a target machine's folders; the names it expanded,
// upper-case.
std::vector<std::string> ExpandTargetMacros(const FolderValues& folders, std::string& text) {
  std::vector<std::string> names;
  ExpandMacros(folders, text, &names);
  return names;
}

// A folder as the program takes it where it needs a whole path: from a
// macro, a drive or a share, never relative to wherever it happens to run.
bool IsFolderPath(std::string text) {
  FolderValues folders = TargetFolders();
  folders.install = kPromptedFolder;
  ExpandMacros(folders, text);
  text = WindowsPath(text);
  const bool drive = text.size() >= 3 && text[1] == ':' && text[2] == '\\' &&
                     ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  return drive || text.rfind("\\\\", 0) == 0;
}

// The first name of a full path that the system would not take as written
// (and the uninstall record would not name); empty when there is none.
std::string OddName(std::string_view p) {
  // A \\?\ path's names are taken as written; its prefix is none.
  if (p.rfind("\\\\?\\", 0) == 0) p.remove_prefix(4);
  for (std::size_t start = IsDrivePath(p) ? 2 : 0;;) {
    const std::size_t end = p.find('\\', start);
    const std::string_view name = p.substr(start, end == std::string::npos ? end : end - start);
    if (!PlainName(name)) return std::string(name);
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// Edits (a letter added, dropped, changed, or two swapped) from a to b.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// The word a trailing field is, if any (case-blind, blanks around it and
// before a value's '=' ignored).
template <std::size_t N>
const Word* WordOf(std::string_view field, const Word (&words)[N]) {
  const std::string f = Trim(field);
  const std::size_t eq = f.find('=');
  const std::string name = Trim(std::string_view(f).substr(0, eq));
  for (const Word& w : words)
    if (SameText(name, w.name) && w.valued == (eq != std::string::npos)) return &w;
  return nullptr;
}

struct Trailing {
  std::string head;                // the value without its words
  std::vector<std::string> words;  // as written, last first
};

// Takes words off the end of a value while a field remains before the
// one left last ("cmd,WAIT" keeps WAIT as its show word).
template <std::size_t N>
Trailing TakeWords(std::string value, const Word (&words)[N]) {
  Trailing t;
  for (;;) {
    const std::size_t cut = value.rfind(',');
    if (cut == std::string::npos || value.find(',') == cut || !WordOf(value.substr(cut + 1), words)) break;
    t.words.push_back(Trim(std::string_view(value).substr(cut + 1)));
    value.resize(cut);
  }
  t.head = std::move(value);
  return t;
}

// The word a field that is none looks like a misspelling of, as it would
// be written; empty when it looks like none.
template <std::size_t N>
std::string Misspelt(std::string_view field, const Word (&words)[N]) {
  const std::string f = UpperCase(Trim(field));
  const std::string name = Trim(std::string_view(f).substr(0, f.find('=')));
  if (name.empty() || name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos) return {};
  for (const Word& w : words) {
    const std::size_t limit = std::strlen(w.name) <= 4 ? 1 : 2;
    if (EditDistance(name, w.name) <= limit) return std::string(w.name) + (w.valued ? "=..." : "");
  }
  return {};
}

struct InstallFields {
  std::string source, destination;
};

// An INSTALL value: source, destination and the flags after it, as the
// setup program reads them.
InstallFields SplitInstall(const std::string& value) {
  const InstallLine line = ParseInstallLine(value);
  return {Trim(line.source), Trim(line.destination)};
}

// The known section nearest to a name, when it is near enough to be a
// misspelling of it; empty otherwise.
std::string NearestSection(const std::string& written) {
  const std::string name = UpperCase(written);
  std::string best;
  std::size_t bestDistance = std::max<std::size_t>(1, name.size() / 3) + 1;
  for (const char* s : kSections) {
    const std::size_t d = EditDistance(name, s);
    if (d < bestDistance) {
      bestDistance = d;
      best = s;
    }
  }
  return best;
}

// Why a shortcut's name would not make a file within its place; empty when
// it is fine. The program reads '/' in it as a backslash.
std::string NameProblem(const std::string& written) {
  const std::string quoted = "shortcut name " + Quoted(written);
  const std::string name = WindowsPath(written);
  if (IsDrivePath(name) || name[0] == '\\') return quoted + " is absolute: it must lie within its place";
  for (std::size_t start = 0;;) {
    const std::size_t end = name.find('\\', start);
    const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
    if (!part.empty() && part.find_first_not_of(". ") == std::string::npos)
      return quoted + " holds '" + part + "': it must lie within its place";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && !std::strchr("<>:\"|?*", c)) continue;
    char shown[8];
    std::snprintf(shown, sizeof shown, u < 32 ? "\\x%02X" : "%c", u);
    return quoted + " holds '" + shown + "', which Windows forbids in file names";
  }
  return {};
}

// The script's lines as the reader cuts them, each with the text the
// reader looks at (cut at a NUL, trimmed).
struct Line {
  std::string_view raw;
  std::string text;
};

std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view raw = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    lines.push_back({raw, Trim(raw.substr(0, raw.find('\0')))});
  }
  return lines;
}

// The key name of a key line, or empty for any other line.
std::string KeyOf(const Line& line) {
  const std::string& t = line.text;
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return {};
  const std::size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : Trim(std::string_view(t).substr(0, eq));
}

// The script with each key line rewritten as "N=N" (keys) or "key=N", N its
// line number. Parsed by the engine's own reader, the first tells which
// line each listed key stands on, the second which line the value read for
// a key comes from: names are matched by the program's rules, not ours.
std::string MarkLines(const std::vector<Line>& lines, bool keys) {
  std::string marked;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string key = KeyOf(lines[i]);
    const std::string n = std::to_string(i + 1);
    if (key.empty())
      marked += lines[i].raw;
    else
      marked += (keys ? n : key) + "=" + n;
    marked += '\n';
  }
  return marked;
}

int LineNumber(const std::optional<std::string>& text) { return text ? std::stoi(*text) : 0; }

bool IsKnownSection(const std::string& header, bool unicode) {
  const IniText probe(header + "\n1=1\n", unicode);
  for (const char* s : kSections)
    if (!probe.Keys(s).empty()) return true;
  return false;
}

// Why a REGISTRY value of type HEX: or DWORD: would not be what it says, as
// the program reads it (upper-cased, trimmed, fields cut at commas); empty
// when it is fine.
std::string NumberProblem(const RegistryEntry& entry, const std::string& valueText) {
  if (const std::optional<std::vector<HexByte>> bytes = ParseHexValue(valueText)) {
    for (const HexByte& byte : *bytes)
      if (!byte.exact) return "HEX: byte " + Quoted(byte.field) + " is no hexadecimal number from 00 to FF";
  } else if (entry.type == RegType::Dword) {
    const std::string digits = UpperCase(Trim(valueText)).substr(6);
    const HexValue v = HexToInt(digits);
    const std::size_t lead = digits.find_first_not_of('0');
    const std::size_t significant = lead == std::string::npos ? 0 : digits.size() - lead;
    if (digits.empty() || !v.valid || significant > 8)
      return "DWORD: value " + Quoted(digits) + " is no hexadecimal number of at most 8 digits";
  }
  return {};
}

class Planner {
 public:
  enum class Reach { Matched, Nothing, Outside, Escapes };

  Planner(const std::vector<Item>& items, Plan& plan)
      : items_(items), tree_(items), plan_(plan), placed_(items.size()), used_(items.size()),
        excluded_(items.size()) {}

  const FolderTree& Tree() const { return tree_; }
  const std::string& Path(std::size_t i) const { return items_[i].path; }
  void Exclude(std::size_t i) { excluded_[i] = true; }
  bool Used(std::size_t i) const { return used_[i]; }
  const std::vector<bool>& UsedAll() const { return used_; }
  // A file installed, with its path under the entry's destination.
  struct Installed {
    std::size_t item;
    std::string path;
  };
  // The files installed since the last call.
  std::vector<Installed> TakeInstalled() { return std::exchange(installed_, {}); }

  // Places an item after its folders; false when it or a folder of its
  // cannot be packed.
  bool Place(std::size_t i) {
    if (excluded_[i]) return false;
    if (placed_[i]) return true;
    if (tree_.Parent(i) != FolderTree::kRoot && !Place(tree_.Parent(i))) return false;
    placed_[i] = true;
    plan_.order.push_back(i);
    return true;
  }
  bool Packable(std::size_t i) const {
    for (; i != FolderTree::kRoot; i = tree_.Parent(i))
      if (excluded_[i]) return false;
    return true;
  }

  // A folder's contents in the order the program's walk meets them.
  void PlaceContents(std::size_t folder, bool install) {
    for (std::size_t c : tree_.Children(folder)) {
      if (!Place(c)) continue;
      if (items_[c].IsFolder())
        PlaceContents(c, install);
      else if (install)
        MarkInstalled(c);
    }
  }

  // What an INSTALL source, its macros expanded, reaches in the package;
  // what it matches is placed. Mirrors the program: a trailing backslash
  // means the folder's contents ("*.*"), a folder matched is copied whole.
  Reach Install(std::string source) {
    if (source.empty()) return Reach::Nothing;
    source = WindowsPath(source);
    if (IsFullPath(source)) return Reach::Outside;
    if (source.back() == '\\') source += "*.*";
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = source.find_first_of("\\/", start);
      const std::string part = source.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (part == "..") {
        if (parts.empty()) return Reach::Escapes;
        parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    if (parts.empty()) {  // the package folder itself
      base_ = 0;
      PlaceContents(FolderTree::kRoot, true);
      return Reach::Matched;
    }
    std::size_t folder = FolderTree::kRoot;
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
      folder = tree_.Child(folder, parts[k]);
      if (folder == FolderTree::kRoot || !items_[folder].IsFolder()) return Reach::Nothing;
    }
    // The program copies what it finds to the destination under the names
    // below the folder it searched.
    base_ = folder == FolderTree::kRoot ? 0 : items_[folder].path.size() + 1;
    const std::string& pattern = parts.back();
    bool matched = false;
    for (std::size_t c : tree_.Children(folder)) {
      if (!MatchesWildcard(tree_.Name(c), pattern) || !Place(c)) continue;
      matched = true;
      if (items_[c].IsFolder())
        PlaceContents(c, true);
      else
        MarkInstalled(c);
    }
    // A search that lists "." finds something even in an empty folder.
    if (!matched && !MatchesWildcard(".", pattern) && !MatchesWildcard("..", pattern)) return Reach::Nothing;
    return Reach::Matched;
  }

 private:
  void MarkInstalled(std::size_t file) {
    used_[file] = true;
    installed_.push_back({file, items_[file].path.substr(base_)});
  }

  const std::vector<Item>& items_;
  FolderTree tree_;
  Plan& plan_;
  std::vector<bool> placed_, used_, excluded_;
  std::vector<Installed> installed_;
  std::size_t base_ = 0;
};

std::optional<std::size_t> FindPath(const FolderTree& tree, const std::string& path) {
  std::size_t at = FolderTree::kRoot;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('\\', start);
    at = tree.Child(at, std::string_view(path).substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (at == FolderTree::kRoot) return std::nullopt;
    if (end == std::string::npos) return at;
    start = end + 1;
  }
}

class Checker {
 public:
  Checker(Plan& plan, Planner& planner, const ScriptReader& reader, const std::string& bytes, const ItemLoader& load,
          const std::vector<Item>& items)
      : plan_(plan), planner_(planner), reader_(reader), load_(load), items_(items) {
    const bool unicode = reader.Encoding() != ScriptEncoding::Ansi;
    text_ = ScriptText(bytes, reader.Encoding());
    lines_ = SplitLines(text_);
    keyLines_.emplace(MarkLines(lines_, true), unicode);
    valueLines_.emplace(MarkLines(lines_, false), unicode);
    for (std::size_t i = 0; i < lines_.size(); ++i)
      if (!lines_[i].text.empty() && lines_[i].text[0] == '[' && !IsKnownSection(lines_[i].text, unicode)) {
        // Its entries would be dropped without a word: never what was meant.
        const std::string& t = lines_[i].text;
        const std::string nearest = NearestSection(Trim(std::string_view(t).substr(1, t.find(']', 1) - 1)));
        Report(int(i + 1), Severity::Error,
               "unknown section " + t + ": the program never reads it" +
                   (nearest.empty() ? std::string() : " (did you mean [" + nearest + "]?)"));
      }
  }

  // First: the other checks look at the scope.
  void CheckSetup() {
    ForEachKey("SETUP", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string value = Trim(reader_.ReadString("SETUP", key, ""));
      if (SameText(key, "Scope")) {
        if (!OneOf(value, kScopes))
          Report(line, Severity::Error,
                 "unknown Scope value " + Quoted(value) + ": it must be " + Alternatives(kScopes));
        else if (SameText(value, "machine"))
          scope_ = Scope::Machine;
        else if (SameText(value, "user"))
          scope_ = Scope::User;
        else
          autoScope_ = true;
      } else if (SameText(key, "Architecture")) {
        if (!OneOf(value, kArchitectures))
          Report(line, Severity::Error,
                 "unknown Architecture value " + Quoted(value) + ": it must be " + Alternatives(kArchitectures));
        x64_ = SameText(value, "x64");
      } else if (SameText(key, "RunAfter")) {
        runAfterLine_ = line;  // looked for once the installation is known
      } else if (SameText(key, "Language")) {
        if (!LanguageFor(value, false))
          Report(line, Severity::Error, "unknown Language value " + Quoted(value) + ": it must be zh, en or auto");
      } else if (SameText(key, "Face")) {
        CheckFace(line, value);
      } else if (SameText(key, "Icon")) {
        plan_.identity = true;
        CheckIcon(line, value);
      } else if (OneOf(key, kIdentityKeys)) {
        plan_.identity = true;
      } else if (SameText(key, "AllowDowngrade")) {
        // Read as a number, as the program reads it.
      } else {
        Report(line, Severity::Warning,
               "unknown key " + Quoted(reader_.NameForMachine(key)) + " in [SETUP]: the program never reads it");
      }
    });
  }

  // After CheckSetup: the texts of the packed file's version resource.
  void CheckIdentity() {
    const auto take = [&](const char* key, std::string& to) {
      const std::string own = Trim(reader_.ReadString("SETUP", key, ""));
      to = own.empty() ? Trim(reader_.ReadString("UNINSTALL", key, "")) : own;
      return own.empty() ? "UNINSTALL" : "SETUP";
    };
    plan_.copyright = Trim(reader_.ReadString("SETUP", "Copyright", ""));
    take("Name", plan_.name);
    take("Publisher", plan_.publisher);
    const char* section = take("Version", plan_.version);
    if (plan_.identity && !plan_.version.empty() && !pack::ParseVersionNumbers(plan_.version))
      Report(LineNumber(valueLines_->Value(section, "Version")), Severity::Error,
             "Version " + Quoted(plan_.version) + " is not numbers a.b.c.d (up to 65535 each), as the packed file's version must be");
  }

  // Each name must be one of the program's texts, or the line does nothing.
  void CheckMessages() {
    ForEachKey("MESSAGES", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string name = Trim(reader_.NameForMachine(key));
      const auto named = [&](const MessageTable& table) {
        return std::any_of(table.Messages().begin(), table.Messages().end(),
                           [&](const Message& m) { return SameText(m.name, name); });
      };
      if (!named(texts::SetupTexts()) && !named(texts::DialogTexts()))
        Report(line, Severity::Warning, "unknown text " + Quoted(name) + " in [MESSAGES]: the program has no text of that name");
    });
  }

  void CheckInstall() {
    ForEachKey("INSTALL", [&](const std::string& key, int line, bool first) {
      const InstallFields f = SplitInstall(reader_.ReadString("INSTALL", key, ""));
      std::string source = f.source;
      const std::string& destination = f.destination;
      const std::string name = Quoted(reader_.NameForMachine(key));
      if (source.empty() || destination.empty()) {
        if (first) Report(line, Severity::Warning, "entry " + name + " lacks a source or a destination: the program passes it over");
        return;
      }
      if (destination == "?") folders_.install = kPromptedFolder;
      const std::string written = source;
      ExpandMacros(folders_, source);
      const Planner::Reach reach = planner_.Install(source);
      const std::vector<Planner::Installed> installed = planner_.TakeInstalled();
      NoteInstalled(destination, reach, installed);
      if (!first) return;
      const std::size_t cut = destination.rfind(',');
      const std::string flag = cut == std::string::npos ? "" : Misspelt(destination.substr(cut + 1), kInstallFlags);
      if (!flag.empty())
        Report(line, Severity::Warning,
               "[INSTALL] entry " + name + " ends in " + Quoted(Trim(destination.substr(cut + 1))) +
                   ", which is no INSTALL flag (did you mean " + flag + "?): the program takes " +
                   Quoted(destination) + " for the destination");
      CheckScope(line, "entry " + name, {}, destination);
      if (destination != "?") {
        std::string where = destination;
        ExpandMacros(folders_, where);
        const std::string odd = OddName(ResolvePath(kProgramFolder, where));
        if (!odd.empty())
          Report(line, Severity::Error,
                 "destination " + Quoted(destination) + " of " + name + " holds the name " + Quoted(odd) +
                     ", which is no plain file name: Windows reads it otherwise or refuses it, and no uninstall "
                         "record can name it");
      }
      // The uninstaller is uninstall.exe and takes uninstall.ini beside it
      // for a setup script: files of those names may replace it or change
      // what it does.
      const std::string uninstaller = kUninstallerName, uninstallScript = ScriptFileName(kUninstallerName, {});
      for (const Planner::Installed& each : installed) {
        const std::size_t i = each.item;
        const std::string_view file = planner_.Tree().Name(i);
        if (SameFileName(file, uninstaller) || SameFileName(file, uninstallScript))
          Report(line, Severity::Warning,
                 name + " installs " + Quoted(planner_.Path(i)) + ": a file named " + uninstaller + " or " +
                     uninstallScript + " beside the uninstaller replaces it or changes what it does");
      }
      if (reach == Planner::Reach::Nothing)
        Report(line, Severity::Error, "source " + Quoted(written) + " of " + name + " matches nothing in the package folder");
      else if (reach == Planner::Reach::Escapes)
        Report(line, Severity::Warning,
               "source " + Quoted(written) + " of " + name + " lies outside the package folder: it is not packed");
    });
  }

  void CheckRegistry() {
    const FolderValues folders = TargetFolders();
    ForEachKey("REGISTRY", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const Fields f = SplitField(reader_.ReadString("REGISTRY", key, ""), ',', true);
      const RegistryEntry e = ParseRegistryEntry(folders, f.head, f.tail);
      const std::string root = Trim(SplitField(f.head, '\\', true).head);
      const bool scoped = SameText(root, kScopeRoot);
      if (e.root == 0 && !scoped)
        Report(line, Severity::Error,
               root.empty() ? std::string("no registry root") : "unknown registry root " + Quoted(root));
      const std::string number = NumberProblem(e, f.tail);
      if (!number.empty()) Report(line, Severity::Error, number);
      // Only text values have their macros expanded.
      const std::string entry = "entry " + Quoted(reader_.NameForMachine(key));
      CheckScope(line, entry, f.head, e.type == RegType::Text ? f.tail : "");
      if (autoScope_ && (e.root == kHKLM || e.root == kHKCR) && !scoped) {
        const std::string rest = SplitField(f.head, '\\', true).tail;
        Report(line, Severity::Warning,
               "[REGISTRY] " + entry + " writes under " + root + " with Scope=auto: a run without administrator " +
                   "rights installs for one person and cannot write there; write " + kScopeRoot +
                   (e.root == kHKCR ? "\\Software\\Classes\\" : "\\") + rest +
                   " (HKLM for everyone, HKCU for one person)");
      }
      CheckRegistryKey(line, "[REGISTRY] " + entry, f.head, e.type == RegType::Text ? f.tail : "");
    });
  }

  // What the key path and a text value say beyond their syntax.
  void CheckRegistryKey(int line, const std::string& entry, const std::string& keyPath, const std::string& text) {
    // The key without its value name.
    const std::string key = SplitField(keyPath, '\\', false).head;
    const std::string upper = UpperCase("\\" + key + "\\");
    const std::size_t wow = upper.find("\\WOW6432NODE\\");
    // Past the root: upper's first backslash is none of the key's.
    if (x64_ && wow != std::string::npos && wow > 0)
      Report(line, Severity::Warning,
             entry + " writes under Wow6432Node in an x64 package: it writes the 64-bit view already, so this " +
                 "is the 32-bit programs' key; write " + keyPath.substr(0, wow - 1) +
                 keyPath.substr(wow - 1 + std::strlen("\\Wow6432Node")));
    // A verb's command: Windows cuts an unquoted program path at its first
    // blank and may start another program.
    if (text.empty() || upper.find("\\SHELL\\") == std::string::npos ||
        upper.size() < 9 || upper.compare(upper.size() - 9, 9, "\\COMMAND\\") != 0)
      return;
    const std::string written = Trim(text);
    if (written.empty() || written[0] == '"') return;
    // The program ends at its ".exe".
    const std::string shout = UpperCase(written);
    std::size_t end = 0;
    for (std::size_t at = shout.find(".EXE"); at != std::string::npos; at = shout.find(".EXE", at + 1))
      if (at + 4 == shout.size() || shout[at + 4] == ' ' || shout[at + 4] == '"') {
        end = at + 4;
        break;
      }
    if (end == 0) return;
    std::string program = written.substr(0, end);
    FolderValues folders = folders_;
    if (folders.install.empty()) folders.install = kPromptedFolder;
    ExpandMacros(folders, program);
    if (program.find(' ') == std::string::npos) return;
    Report(line, Severity::Warning,
           entry + " starts a program whose path holds blanks, unquoted: Windows may start another program; write " +
               "\"" + written.substr(0, end) + "\"" + written.substr(end));
  }

  void CheckCommands() {
    ForEachKey("COMMAND", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string entry = "entry " + Quoted(reader_.NameForMachine(key));
      // Only the command line, before the show word, has its macros expanded.
      const Trailing t = TakeWords(reader_.ReadString("COMMAND", key, ""), kCommandWords);
      const Fields f = SplitField(t.head, ',', false);
      CheckScope(line, entry, {}, f.head);
      // Only after a show word: "cmd,WAIT" has always shown normally.
      const std::string word = f.head.find(',') == std::string::npos ? "" : Misspelt(f.tail, kCommandWords);
      if (!word.empty())
        Report(line, Severity::Warning,
               "[COMMAND] " + entry + " ends in " + Quoted(Trim(f.tail)) + ", which is no COMMAND word (did you mean " +
                   word + "?): the program runs " + Quoted(Trim(f.head)) + " as the command line, shown normally");
      bool skip = false, only = false;
      for (auto at = t.words.rbegin(); at != t.words.rend(); ++at) {
        const std::string& w = *at;
        const std::size_t eq = w.find('=');
        skip = skip || SameText(w, "SKIPIFSILENT");
        only = only || SameText(w, "ONLYIFSILENT");
        if (eq == std::string::npos) continue;
        const std::string name = UpperCase(Trim(w.substr(0, eq)));
        std::vector<std::string> codes;
        for (Fields c{{}, w.substr(eq + 1)}; !Trim(c.tail).empty();) {
          c = SplitField(Trim(c.tail), ' ', true);
          codes.push_back(Trim(c.head));
        }
        if (codes.empty())
          Report(line, Severity::Error, name + "= of [COMMAND] " + entry + " names no exit code");
        for (const std::string& code : codes)
          if (!ParseInt32(code))
            Report(line, Severity::Error,
                   name + "= code " + Quoted(code) + " of [COMMAND] " + entry + " is no integer");
      }
      if (skip && only)
        Report(line, Severity::Warning, "[COMMAND] " + entry + " has both SKIPIFSILENT and ONLYIFSILENT: it never runs");
      if (IsBareProgramName(SplitProgram(Trim(f.head)).program)) return;
      NotInstalled(line, "[COMMAND] " + entry + " runs", SplitProgram(Trim(f.head)).program);
    });
  }

  void CheckServices() {
    ForEachKey("SERVICES", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string entry = "[SERVICES] entry " + Quoted(reader_.NameForMachine(key));
      // Program, display name, start type, account; the description is the rest.
      std::vector<std::string> fields;
      Fields f{{}, reader_.ReadString("SERVICES", key, "")};
      while (fields.size() < 4) {
        f = SplitField(f.tail, ',', true);
        fields.push_back(Trim(f.head));
      }
      const std::string &program = fields[0], &start = fields[2], &account = fields[3];
      const std::string name = Trim(reader_.NameForMachine(key));
      if (name.find_first_of("\\/") != std::string::npos)
        Report(line, Severity::Error, entry + ": a service name holds no '\\' or '/'");
      if (program.empty()) Report(line, Severity::Error, entry + " names no program");
      if (!OneOf(start, kStartTypes))
        Report(line, Severity::Error,
               "start type " + Quoted(start) + " of " + entry + " is unknown: it must be " +
                   Alternatives(kStartTypes));
      if (!account.empty() && !OneOf(account, kAccounts))
        Report(line, Severity::Error,
               "account " + Quoted(account) + " of " + entry + " is unknown: it must be empty (LocalSystem), " +
                   Alternatives(kAccounts));
      if (scope_ == Scope::User)
        Report(line, Severity::Warning,
               entry + " installs a service in a per-user installation: it needs administrator rights, which a " +
                   "per-user installation does not ask for");
      if (program.empty() || UnsetReported(line, entry, program)) return;
      // The whole field is the program's path, as the program reads it.
      std::string path = program;
      ExpandMacros(folders_, path);
      path = WindowsPath(Trim(path));
      if (!IsFullPath(path) || path.find('"') != std::string::npos || path.back() == '\\')
        Report(line, Severity::Error, entry + ": its program " + Quoted(program) + " must be a full path to a file, unquoted");
      else
        NotInstalled(line, entry + " runs", program);
    });
  }

  // What the uninstaller removes besides what was installed: only ever
  // within the installation's own folders.
  void CheckUninstallDelete() {
    ForEachKey("UNINSTALLDELETE", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string entry = "[UNINSTALLDELETE] entry " + Quoted(reader_.NameForMachine(key));
      const std::string written = reader_.ReadString("UNINSTALLDELETE", key, "");
      if (written.empty()) {
        Report(line, Severity::Error, entry + " names no path");
        return;
      }
      if (UnsetReported(line, entry, written)) return;
      std::string path = written;
      ExpandMacros(folders_, path);
      path = WindowsPath(path);
      const std::string at = FileNameKey(path);
      const std::vector<std::string> own = OwnFolders();
      if (!IsFullPath(path) || std::none_of(own.begin(), own.end(), [&](const std::string& folder) {
            return at.size() > folder.size() && at.rfind(folder, 0) == 0;
          }))
        Report(line, Severity::Error,
               "path " + Quoted(written) + " of " + entry + " lies outside the installation: the uninstaller removes " +
                   "only what is inside %INSTALLDIR% or another folder an INSTALL entry installs to");
    });
  }

  // After CheckShortcuts: a shortcut of the script, or a program.
  void CheckRunAfter() {
    if (!runAfterLine_) return;
    const std::string value = Trim(reader_.ReadString("SETUP", "RunAfter", ""));
    const std::vector<std::string> shortcuts = reader_.ReadSection("SHORTCUTS");
    if (std::any_of(shortcuts.begin(), shortcuts.end(), [&](const std::string& s) { return SameText(s, value); }))
      return;
    NotInstalled(runAfterLine_, "[SETUP] RunAfter starts", SplitProgram(value).program);
  }

  // After CheckInstall: a target in the installation is looked for among
  // what the INSTALL entries put there.
  void CheckShortcuts() {
    for (int line : KeylessLines("SHORTCUTS"))
      Report(line, Severity::Error, "a shortcut with no name: the program never reads the line");
    ForEachKey("SHORTCUTS", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string name = reader_.NameForMachine(key);
      const std::string entry = "shortcut " + Quoted(name);
      // Target, place, arguments, icon file, icon index, working folder; the
      // description is the rest.
      std::vector<std::string> fields;
      Fields f{{}, reader_.ReadString("SHORTCUTS", key, "")};
      while (fields.size() < 6) {
        f = SplitField(f.tail, ',', true);
        fields.push_back(Trim(f.head));
      }
      const std::string problem = NameProblem(name);
      if (!problem.empty()) Report(line, Severity::Error, problem);
      const std::string &target = fields[0], &place = fields[1], &index = fields[4];
      if (target.empty()) Report(line, Severity::Error, entry + " has no target");
      if (place.empty()) {
        Report(line, Severity::Error, entry + " has no place");
      } else if (IsFolderPath(place)) {
        CheckScope(line, entry, {}, place);
      } else if (!OneOf(place, kPlaces)) {
        Report(line, Severity::Error,
               "unknown place " + Quoted(place) + " of " + entry +
                   ": it must be STARTMENU, DESKTOP, STARTUP or a folder starting with a macro, a drive or \\\\");
      }
      if (!index.empty() && !ParseInt32(index))
        Report(line, Severity::Error, "icon index " + Quoted(index) + " of " + entry + " is no integer");
      if (UnsetReported(line, entry, reader_.ReadString("SHORTCUTS", key, ""))) return;
      if (SameText(target.substr(0, 12), "%INSTALLDIR%")) {
        std::string path = target;
        ExpandMacros(folders_, path);
        if (!IsInstalled(WindowsPath(path)))
          Report(line, Severity::Warning, entry + " points to " + Quoted(target) + ", which no INSTALL entry installs");
      }
    });
  }

  void CheckPath() {
    ForEachKey("PATH", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string folder = reader_.ReadString("PATH", key, "");
      const std::string entry = "entry " + Quoted(reader_.NameForMachine(key));
      if (folder.empty()) {
        Report(line, Severity::Error, entry + " names no folder");
        return;
      }
      if (UnsetReported(line, entry, folder)) return;
      if (!IsFolderPath(folder))
        Report(line, Severity::Error,
               "folder " + Quoted(folder) + " of " + entry +
                   " is relative: it must start with a macro, a drive or \\\\");
      if (folder.find(';') != std::string::npos)
        Report(line, Severity::Warning,
               "folder " + Quoted(folder) + " of " + entry + " holds ';': PATH takes it for more than one folder");
      // Anyone may read a machine-wide folder: only the other way round fails.
      if (scope_ == Scope::Machine) CheckScope(line, entry, {}, folder);
      NotInstalled(line, "[PATH] " + entry + " adds", folder);
    });
  }

  void CheckUninstall() {
    bool asks = false;
    for (const std::string& key : reader_.ReadSection("INSTALL"))
      asks = asks || SplitInstall(reader_.ReadString("INSTALL", key, "")).destination == "?";
    int header = 0;
    for (std::size_t i = 0; i < lines_.size() && !header; ++i)
      if (!lines_[i].text.empty() && lines_[i].text[0] == '[' && IniText(lines_[i].text + "\n1=1\n", false).HasSection("UNINSTALL"))
        header = int(i + 1);
    if (!header) return;
    if (reader_.ReadString("UNINSTALL", "Folder", "").empty() && !asks)
      Report(header, Severity::Error,
             "[UNINSTALL] names no Folder and no INSTALL entry asks for one: the run stops with an error");
    ForEachKey("UNINSTALL", [&](const std::string& key, int line, bool first) {
      if (first && SameText(key, "Folder"))
        CheckScope(line, "[UNINSTALL] Folder", {}, reader_.ReadString("UNINSTALL", key, ""));
      bool known = false;
      for (const char* k : kUninstallKeys) known = known || SameText(key, k);
      if (known && first) UnsetReported(line, "[UNINSTALL] " + Trim(reader_.NameForMachine(key)), reader_.ReadString("UNINSTALL", key, ""));
      if (!known) Report(line, Severity::Warning, "unknown key " + Quoted(reader_.NameForMachine(key)) + " in [UNINSTALL]: the program never reads it");
    });
  }

 private:
  enum class Scope { Any, Machine, User };

  // The sections that are ours take a folder macro only where it has a
  // value by then; the program stops otherwise. True when reported.
  bool UnsetReported(int line, const std::string& entry, const std::string& value) {
    const std::string name = UnsetMacro(folders_, value);
    if (name.empty()) return false;
    Report(line, Severity::Error,
           entry + " uses %" + name + "%, which has no value here: no INSTALL entry asks for the installation " +
               "folder (\"?\"), so the program stops with an error before it installs anything");
    return true;
  }

  // Warns when an entry's registry key (`keyPath`, empty for none) or a
  // folder in `text` lies where the installation's scope does not reach.
  void CheckScope(int line, const std::string& entry, const std::string& keyPath, std::string text) {
    if (scope_ == Scope::Any) return;
    const bool machine = scope_ == Scope::Machine;
    std::vector<std::string> reaches;
    const std::string root = Trim(SplitField(keyPath, '\\', true).head);
    // HKSCOPE follows the scope wherever it goes.
    const std::uint32_t r = SameText(root, kScopeRoot) ? 0 : RootKeyFromName(root);
    // HKCR writes go to the machine's classes.
    if (machine ? r == kHKCU : r == kHKLM || r == kHKCR) reaches.push_back("writes under " + root);
    for (const std::string& name : ExpandTargetMacros(TargetFolders(), text)) {
      const std::string uses = "uses %" + name + "%";
      if ((machine ? OneOf(name, kAccountFolders) : OneOf(name, kAdminFolders)) &&
          std::find(reaches.begin(), reaches.end(), uses) == reaches.end())
        reaches.push_back(uses);
    }
    for (const std::string& what : reaches)
      Report(line, Severity::Warning,
             entry + " " + what +
                 (machine ? " in a machine-wide installation: it reaches only the account that runs the installation "
                            "(under a deployment tool, SYSTEM)"
                          : " in a per-user installation: it needs administrator rights, which a per-user "
                            "installation does not ask for"));
  }

  // Where an INSTALL entry puts its files: `installed` under `destination`,
  // or, from a source on the target machine, anything at all.
  void NoteInstalled(std::string destination, Planner::Reach reach,
                     const std::vector<Planner::Installed>& installed) {
    if (destination == "?") destination = folders_.install;
    ExpandMacros(folders_, destination);
    destination = WindowsPath(destination);
    // A destination still relative lies beside the setup program.
    if (!IsFullPath(destination)) return;
    if (destination.back() != '\\') destination += '\\';
    const std::string folder = FileNameKey(destination);
    if (reach == Planner::Reach::Outside) anything_.push_back(folder);
    destinations_.push_back(folder);
    for (const Planner::Installed& file : installed) files_.push_back(FileNameKey(destination + file.path));
  }

  // The folders that are the installation's: %INSTALLDIR% and the entries'
  // destinations, as FileNameKey has them with their backslash. A
  // destination that is, or holds, one of the machine's own folders
  // (%SYSTEMDIR%, a drive's root) is the machine's, not the installation's.
  std::vector<std::string> OwnFolders() const {
    std::vector<std::string> own;
    if (!folders_.install.empty()) own.push_back(FileNameKey(WithBackslash(folders_.install)));
    const FolderValues m = TargetFolders();
    const std::string machine[] = {m.programFiles, m.system,      m.windows,   m.temp,    m.localAppData,
                                   m.appData,      m.commonAppData, m.commonFiles, m.startMenu, m.desktop,
                                   m.fonts,        m.userProfile};
    for (const std::string& d : destinations_)
      if (std::none_of(std::begin(machine), std::end(machine), [&](const std::string& folder) {
            return FileNameKey(WithBackslash(folder)).rfind(d, 0) == 0;
          }))
        own.push_back(d);
    return own;
  }

  // Warns when `written` (a file or folder, macros unexpanded) lies in the
  // installation but no INSTALL entry makes it. `what` leads the text.
  void NotInstalled(int line, const std::string& what, const std::string& written) {
    std::string path = written;
    ExpandMacros(folders_, path);
    path = WindowsPath(path);
    if (!IsFullPath(path)) return;
    const std::string key = FileNameKey(WithBackslash(path));
    const std::vector<std::string> own = OwnFolders();
    if (std::none_of(own.begin(), own.end(), [&](const std::string& f) { return key.rfind(f, 0) == 0; }) ||
        IsInstalled(path))
      return;
    // The uninstaller the program leaves in [UNINSTALL] Folder.
    if (reader_.HasSection("UNINSTALL")) {
      std::string folder = reader_.ReadString("UNINSTALL", "Folder", "");
      if (folder.empty()) folder = folders_.install;
      ExpandMacros(folders_, folder);
      if (key == FileNameKey(WithBackslash(WithBackslash(WindowsPath(folder)) + kUninstallerName))) return;
    }
    Report(line, Severity::Warning, what + " " + Quoted(written) + ", which no INSTALL entry installs");
  }

  // Whether an INSTALL entry makes this file or folder.
  bool IsInstalled(std::string path) const {
    while (!path.empty() && path.back() == '\\') path.pop_back();
    const std::string key = FileNameKey(path), folder = key + "\\";
    const auto under = [&](const std::string& k) { return k.rfind(folder, 0) == 0; };
    const auto holds = [&](const std::string& f) { return key.rfind(f, 0) == 0; };
    return std::find(destinations_.begin(), destinations_.end(), folder) != destinations_.end() ||
           std::find(files_.begin(), files_.end(), key) != files_.end() ||
           std::any_of(files_.begin(), files_.end(), under) || std::any_of(anything_.begin(), anything_.end(), holds);
  }

  // Lines of a section that have a value but no key name: the reader passes
  // them over, so ForEachKey never sees them.
  std::vector<int> KeylessLines(const char* section) const {
    std::vector<int> keyless;
    const bool unicode = reader_.Encoding() != ScriptEncoding::Ansi;
    bool inside = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string& t = lines_[i].text;
      if (t.empty() || t[0] == ';' || t[0] == '#') continue;
      if (t[0] == '[')
        inside = IniText(t + "\n1=1\n", unicode).HasSection(section);
      else if (inside && t.find('=') != std::string::npos && KeyOf(lines_[i]).empty())
        keyless.push_back(int(i + 1));
    }
    return keyless;
  }

  // Calls `check` for each key the program reads in turn, with the line of
  // the value it gets and whether that line is the key's own (false: the key
  // was used before, and the program takes the earlier line's value again).
  template <typename Check>
  void ForEachKey(const char* section, Check check) {
    const std::vector<std::string> keys = reader_.ReadSection(section);
    const std::vector<std::string> own = keyLines_->Keys(section);
    for (std::size_t j = 0; j < keys.size(); ++j) {
      const int ownLine = j < own.size() ? std::stoi(own[j]) : 0;
      const int readLine = LineNumber(valueLines_->Value(section, keys[j]));
      const bool first = readLine == ownLine;
      if (!first)
        Report(ownLine, Severity::Warning,
               "key " + Quoted(reader_.NameForMachine(keys[j])) + " is used again (first on line " +
                   std::to_string(readLine) + "): the program carries out line " + std::to_string(readLine) +
                   "'s value twice");
      check(keys[j], readLine, first);
    }
  }

  // A file of the package folder a [SETUP] key names: its item, or none
  // (reported as `what`'s).
  std::optional<std::size_t> SetupFile(int line, const std::string& what, const std::string& path) {
    std::string relative = path;
    std::replace(relative.begin(), relative.end(), '/', '\\');
    const std::optional<std::size_t> item = FindPath(planner_.Tree(), relative);
    if (item && !items_[*item].IsFolder()) return item;
    Report(line, Severity::Error, what + " " + Quoted(path) + " is no file in the package folder");
    return std::nullopt;
  }

  void CheckIcon(int line, const std::string& path) {
    const std::optional<std::size_t> item = SetupFile(line, "icon", path);
    if (!item) return;
    const std::optional<std::string> bytes = load_(items_[*item]);
    const std::string problem = bytes ? pack::IcoProblem(*bytes) : "unreadable";
    if (!problem.empty()) {
      Report(line, Severity::Error, "icon " + Quoted(path) + " is " + problem);
      return;
    }
    plan_.icon = item;
  }

  // The window's face: a JPEG or BMP the window can take in place of its
  // own, so of its own size.
  void CheckFace(int line, const std::string& path) {
    const std::optional<std::size_t> item = SetupFile(line, "face", path);
    if (!item) return;
    const std::optional<std::string> bytes = load_(items_[*item]);
    int width = 0, height = 0;
    if (bytes && bytes->rfind("BM", 0) == 0) {
      try {
        const BmpImage image = DecodeBmp({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
        width = image.width;
        height = image.height;
      } catch (const std::exception&) {
      }
    } else if (bytes) {
      if (const std::optional<JpegFrame> frame =
              ReadJpegFrame({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()})) {
        width = frame->width;
        height = frame->height;
      }
    }
    if (width == 0 || height == 0) {
      Report(line, Severity::Error, "face " + Quoted(path) + " is no JPEG or BMP picture the window can show");
      return;
    }
    if (width != kFaceWidth || height != kFaceHeight) {
      Report(line, Severity::Error,
             "face " + Quoted(path) + " is " + std::to_string(width) + " x " + std::to_string(height) +
                 ": the window's face is " + std::to_string(kFaceWidth) + " x " + std::to_string(kFaceHeight));
      return;
    }
    plan_.face = item;
  }

  void Report(int line, Severity severity, std::string text) {
    plan_.problems.push_back({line, severity, std::move(text)});
  }

  Plan& plan_;
  Planner& planner_;
  const ScriptReader& reader_;
  const ItemLoader& load_;
  const std::vector<Item>& items_;
  std::string text_;  // the lines point into it
  std::vector<Line> lines_;
  std::optional<IniText> keyLines_, valueLines_;
  Scope scope_ = Scope::Any;
  bool autoScope_ = false, x64_ = false;
  int runAfterLine_ = 0;
  // The target machine's folders as the INSTALL entries leave them.
  FolderValues folders_ = TargetFolders();
  // Folders (with their backslash) and files the INSTALL entries make, as
  // FileNameKey has them; folders whose contents are not known here.
  std::vector<std::string> destinations_, files_, anything_;
};

// Names no package may hold, and names Windows takes for another's: left
// out, each with an error.
void ExcludeUnpackable(const std::vector<Item>& items, const SafePath& safe, Planner& planner,
                       std::vector<Problem>& general) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (!safe(items[i].path)) {
      planner.Exclude(i);
      general.push_back({0, Severity::Error, Quoted(items[i].path) + " cannot be packed: a package may not hold that name"});
    }
  for (std::size_t i : planner.Tree().CaseClashes())
    if (planner.Packable(i)) {
      planner.Exclude(i);
      general.push_back({0, Severity::Error,
                         Quoted(items[i].path) + " differs from another name only in letter case: on Windows they are one file"});
    }
}

// Every section of a script the program reads, read as it reads them.
void CheckScript(Plan& plan, Planner& planner, const std::vector<Item>& items,
                 const std::optional<std::string>& bytes, const ItemLoader& load,
                 const ScriptReader::Decoder& decode) {
  const ScriptReader reader(items[*plan.script].path, [&bytes](const std::string&) { return bytes; }, decode);
  Checker checker(plan, planner, reader, *bytes, load, items);
  checker.CheckSetup();
  checker.CheckIdentity();
  checker.CheckMessages();
  checker.CheckInstall();
  checker.CheckRegistry();
  checker.CheckShortcuts();
  checker.CheckPath();
  checker.CheckCommands();
  checker.CheckServices();
  checker.CheckUninstallDelete();
  checker.CheckRunAfter();
  checker.CheckUninstall();
}

// The folder's own setup program beside the script: the packed file takes
// its place, so it stays out unless an entry installs it.
void LeaveOutOwnSetupProgram(const std::string& script, const std::vector<Item>& items, Planner& planner) {
  const std::size_t cut = script.find_last_of('\\') + 1;
  const std::size_t dot = script.find_last_of('.');
  const std::string program = script.substr(0, dot == std::string::npos || dot < cut ? script.size() : dot) + ".exe";
  const std::optional<std::size_t> setup = FindPath(planner.Tree(), program);
  if (setup && !items[*setup].IsFolder() && !planner.Used(*setup)) planner.Exclude(*setup);
}

void WarnUnused(const Plan& plan, const std::vector<Item>& items, const Planner& planner,
                std::vector<Problem>& general) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (!items[i].IsFolder() && !planner.Used(i) && planner.Packable(i) && i != plan.script && i != plan.icon &&
        i != plan.face)
      general.push_back({0, Severity::Warning, Quoted(items[i].path) + " is installed by no entry"});
}

}  // namespace

bool Plan::HasErrors() const {
  return std::any_of(problems.begin(), problems.end(),
                     [](const Problem& p) { return p.severity == Severity::Error; });
}

Plan PlanPackage(const std::vector<Item>& items, const std::string& scriptPath, const ItemLoader& load,
                 const ScriptReader::Decoder& decode, const SafePath& safe) {
  Plan plan;
  Planner planner(items, plan);
  std::vector<Problem> general;
  ExcludeUnpackable(items, safe, planner, general);

  std::string script = scriptPath;
  std::replace(script.begin(), script.end(), '/', '\\');
  plan.script = FindPath(planner.Tree(), script);
  if (plan.script && (items[*plan.script].IsFolder() || !planner.Packable(*plan.script))) plan.script.reset();
  std::optional<std::string> bytes;
  if (plan.script) bytes = load(items[*plan.script]);
  const std::optional<TextFault> fault = bytes ? FindTextFault(*bytes, DetectEncoding(*bytes)) : std::nullopt;
  // The program reads its script before anything else: first in the package,
  // it is unpacked without running through the files.
  if (plan.script && bytes) planner.Place(*plan.script);
  if (!bytes) {
    general.insert(general.begin(), {0, Severity::Error,
                                     plan.script ? "the script " + Quoted(script) + " cannot be read"
                                                 : "the package folder has no script " + Quoted(script)});
  } else if (fault) {
    // The program refuses such a script whole: nothing in it is read.
    plan.problems.push_back({fault->line, Severity::Error, fault->what + ": the program refuses the script"});
  } else {
    CheckScript(plan, planner, items, bytes, load, decode);
  }

  if (plan.script) {
    planner.Place(*plan.script);
    LeaveOutOwnSetupProgram(script, items, planner);
  }
  // Without a script every file would be unused: that says nothing more.
  if (bytes && !fault) WarnUnused(plan, items, planner, general);
  planner.PlaceContents(FolderTree::kRoot, false);
  plan.installed = planner.UsedAll();

  std::stable_sort(plan.problems.begin(), plan.problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
  plan.problems.insert(plan.problems.end(), general.begin(), general.end());
  return plan;
}

std::string FormatProblem(const std::string& scriptName, const Problem& problem) {
  std::string s = scriptName;
  if (problem.line > 0) s += ":" + std::to_string(problem.line);
  s += problem.severity == Severity::Error ? ": error: " : ": warning: ";
  return s + problem.text;
}

}  // namespace qv::qvpack
