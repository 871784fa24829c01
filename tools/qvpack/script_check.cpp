#include "tools/qvpack/script_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "engine/entries.h"
#include "engine/folders.h"
#include "engine/install_record.h"
#include "engine/services.h"
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

constexpr const char* kSections[] = {"GUI",  "INSTALL",  "REGISTRY", "SHORTCUTS", "PATH",
                                     "COMMAND", "UNINSTALL", "SETUP", "MESSAGES", "SERVICES"};
// What the packed file shows (Icon aside).
constexpr const char* kIdentityKeys[] = {"Copyright", "Name", "Version", "Publisher"};
constexpr const char* kUninstallKeys[] = {"Name", "Version", "Publisher", "Folder", "Id"};
constexpr const char* kScopes[] = {"machine", "user", "auto"};
constexpr const char* kArchitectures[] = {"x86", "x64"};
constexpr const char* kPlaces[] = {"STARTMENU", "DESKTOP", "STARTUP"};

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
      if (!lines_[i].text.empty() && lines_[i].text[0] == '[' && !IsKnownSection(lines_[i].text, unicode))
        Report(int(i + 1), Severity::Warning, "unknown section " + lines_[i].text + ": the program never reads it");
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
      } else if (SameText(key, "Architecture")) {
        if (!OneOf(value, kArchitectures))
          Report(line, Severity::Error,
                 "unknown Architecture value " + Quoted(value) + ": it must be " + Alternatives(kArchitectures));
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
      const Fields f = SplitField(reader_.ReadString("INSTALL", key, ""), ',', true);
      std::string source = Trim(f.head);
      const std::string destination = Trim(f.tail);
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
      if (e.root == 0) {
        const std::string root = Trim(SplitField(f.head, '\\', true).head);
        Report(line, Severity::Error,
               root.empty() ? std::string("no registry root") : "unknown registry root " + Quoted(root));
      }
      const std::string number = NumberProblem(e, f.tail);
      if (!number.empty()) Report(line, Severity::Error, number);
      // Only text values have their macros expanded.
      CheckScope(line, "entry " + Quoted(reader_.NameForMachine(key)), f.head,
                 e.type == RegType::Text ? f.tail : "");
    });
  }

  void CheckCommands() {
    ForEachKey("COMMAND", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      // Only the command line, before the last comma, has its macros expanded.
      const Fields f = SplitField(reader_.ReadString("COMMAND", key, ""), ',', false);
      CheckScope(line, "entry " + Quoted(reader_.NameForMachine(key)), {}, f.head);
    });
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

  // After CheckInstall: a service runs a file the installation installs.
  void CheckServices() {
    ForEachKey("SERVICES", [&](const std::string& key, int line, bool first) {
      if (!first) return;
      const std::string value = reader_.ReadString("SERVICES", key, "");
      const std::string entry = "service " + Quoted(reader_.NameForMachine(key));
      if (UnsetReported(line, entry, value)) return;
      std::string why;
      const std::optional<ServiceEntry> e = ParseServiceEntry(folders_, reader_.NameForMachine(key), value, why);
      if (!e) {
        Report(line, Severity::Error, entry + " is not installed: " + why);
        return;
      }
      if (scope_ == Scope::User)
        Report(line, Severity::Warning,
               entry + " in a per-user installation: only an installation for all users by an administrator "
                       "installs services");
      if (!IsInstalled(e->program))
        Report(line, Severity::Warning,
               entry + " runs " + Quoted(Trim(SplitField(value, ',', true).head)) + ", which no INSTALL entry installs");
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
    });
  }

  void CheckUninstall() {
    bool asks = false;
    for (const std::string& key : reader_.ReadSection("INSTALL"))
      asks = asks || Trim(SplitField(reader_.ReadString("INSTALL", key, ""), ',', true).tail) == "?";
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
    const std::uint32_t r = RootKeyFromName(root);
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
  checker.CheckServices();
  checker.CheckCommands();
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
