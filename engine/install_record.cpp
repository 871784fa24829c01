#include "engine/install_record.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "engine/text.h"
#include "framework/portable/crc32.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/hex.h"

namespace qv {

namespace {

std::string Escape(std::string_view field) {
  std::string out;
  for (const char c : field) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '%') {
      out += '%';
      AppendHex(out, b);
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    unsigned char byte = 0;
    if (!DecodeHex(field.substr(i + 1, 2), &byte, 1)) return std::nullopt;
    out += static_cast<char>(byte);
    i += 2;
  }
  return out;
}

std::optional<std::uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t next = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (next / 10 != v) return std::nullopt;
    v = next;
  }
  return v;
}

// Only full paths as the installer writes them: a drive or a share, then
// names. A record never names anything relative to where the uninstaller
// runs, nor anything outside the folders its path spells out (no "..", no
// \\?\ or \\.\ forms that skip the system's own path rules).
bool PlainFullPath(std::string_view path) {
  std::string_view rest;
  if (path.size() > 3 && IsDrivePath(path) && path[2] == '\\') {
    rest = path.substr(3);
  } else if (path.rfind("\\\\", 0) == 0) {
    const std::size_t server = path.find('\\', 2);
    if (server == std::string_view::npos || server == 2 || path.substr(2, server - 2) == "?" ||
        path.substr(2, server - 2) == "." || !PlainName(path.substr(2, server - 2)))
      return false;
    rest = path.substr(server + 1);
  } else {
    return false;
  }
  for (std::size_t start = 0;;) {
    const std::size_t end = rest.find('\\', start);
    if (!PlainName(rest.substr(start, end == std::string_view::npos ? end : end - start))) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// A full path whose last name may hold the wildcards * and ?.
bool PlainPattern(std::string_view path) {
  const std::size_t cut = path.rfind('\\');
  if (cut == std::string_view::npos || cut + 1 == path.size()) return false;
  std::string name(path.substr(cut + 1));
  for (char& c : name)
    if (c == '*' || c == '?') c = 'a';
  return PlainName(name) && PlainFullPath(path.substr(0, cut));
}

std::string Crc(std::string_view text) {
  const std::uint32_t crc = Crc32(0, text.data(), text.size());
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) AppendHex(out, static_cast<unsigned char>(crc >> shift));
  return out;
}

std::vector<std::string> FieldsOf(const RecordEntry& e) {
  const auto n = [](std::uint64_t v) { return std::to_string(v); };
  switch (e.kind) {
    case RecordEntry::Kind::Product: {
      const Product& p = e.product;
      return {p.id, p.name, p.version, p.publisher, n(p.registrationRoot), p.linkCaption, p.linkTarget,
              n(p.native64), p.language};
    }
    case RecordEntry::Kind::Folder: return {e.path};
    case RecordEntry::Kind::FileStart: return {e.path, n(e.existed)};
    case RecordEntry::Kind::Unwritten: return {e.path};
    case RecordEntry::Kind::File: return {e.path, n(e.existed), n(e.size), n(e.modified)};
    case RecordEntry::Kind::Key: return {n(e.root), e.path};
    case RecordEntry::Kind::Value: return {n(e.root), e.path, e.name, n(e.existed)};
    case RecordEntry::Kind::RunStart: return {e.path};
    case RecordEntry::Kind::RunEnd: return {""};
    case RecordEntry::Kind::Aside:
    case RecordEntry::Kind::Waiting: return {e.path, e.name};
    case RecordEntry::Kind::MovedAside: return {e.path, e.name, n(e.size), n(e.modified)};
    case RecordEntry::Kind::Before: {
      std::string hex;
      for (const char c : e.data) {
        AppendHex(hex, static_cast<unsigned char>(c));
      }
      return {n(e.root), e.path, e.name, n(e.existed), n(e.type), hex};
    }
    case RecordEntry::Kind::Registered: return {n(e.root), e.path};
    case RecordEntry::Kind::PathEntry: return {n(e.root), e.name};
    case RecordEntry::Kind::Text: return {e.name, e.data};
    case RecordEntry::Kind::Command: return {e.data};
    case RecordEntry::Kind::Service: {
      // The configuration before the run only where there was one.
      const ServiceConfig& c = e.service;
      const std::uint32_t start = e.existed ? static_cast<std::uint32_t>(c.start) : 0;
      return {e.name, e.path, n(e.existed), c.command, c.displayName, n(start), c.account, c.description};
    }
    case RecordEntry::Kind::Leave:
    case RecordEntry::Kind::Generated: return {e.path};
  }
  return {};
}

std::size_t FieldCount(char kind) {
  switch (kind) {
    case 'P': return 9;
    case 'D': return 1;
    case 'x': return 1;
    case 'w': return 2;
    case 'F': return 4;
    case 'K': return 2;
    case 'V': return 4;
    case 'R': return 1;
    case 'E': return 1;
    case 'A': return 2;
    case 'M': return 4;
    case 'W': return 2;
    case 'B': return 6;
    case 'N': return 2;
    case 'H': return 2;
    case 'T': return 2;
    case 'U': return 1;
    case 'S': return 8;
    case 'L': return 1;
    case 'G': return 1;
    default: return 0;
  }
}

// A line's fields after its kind, unescaped; none when one does not decode.
std::optional<std::vector<std::string>> SplitFields(std::string_view text) {
  std::vector<std::string> fields;
  for (std::size_t at = 0;;) {
    const std::size_t tab = text.find('\t', at);
    std::optional<std::string> field = Unescape(text.substr(at, tab == std::string_view::npos ? tab : tab - at));
    if (!field) return std::nullopt;
    fields.push_back(std::move(*field));
    if (tab == std::string_view::npos) return fields;
    at = tab + 1;
  }
}

std::optional<bool> Flag(const std::string& s) {
  if (s == "0" || s == "1") return s == "1";
  return std::nullopt;
}

std::optional<std::uint32_t> Number32(const std::string& s) {
  const std::optional<std::uint64_t> v = Number(s);
  if (!v || *v > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<std::string> HexBytes(std::string_view hex) {
  std::string bytes(hex.size() / 2, '\0');
  if (!DecodeHex(hex, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size())) return std::nullopt;
  return bytes;
}

// The entry's fields from a line's, as many as its kind has; false when one
// is not what its kind needs. Long, but one flat case per kind of line, each
// reading only its own fields: split, the kinds would be read in two places.
bool FillFields(RecordEntry& e, const std::vector<std::string>& f) {
  using Kind = RecordEntry::Kind;
  switch (e.kind) {
    case Kind::Product: {
      const std::optional<std::uint32_t> root = Number32(f[4]);
      // A record from before 64-bit programs has no view: the 32-bit one.
      const std::optional<bool> native64 = f.size() > 7 ? Flag(f[7]) : false;
      if (!root || !native64 || f[0].empty()) return false;
      e.product = {.id = f[0],
                   .name = f[1],
                   .version = f[2],
                   .publisher = f[3],
                   .registrationRoot = *root,
                   .linkCaption = f[5],
                   .linkTarget = f[6],
                   .native64 = *native64,
                   .language = f.size() > 8 ? f[8] : std::string()};
      return true;
    }
    case Kind::Folder:
    case Kind::Unwritten:
    case Kind::RunStart:
    case Kind::RunEnd:
    case Kind::Leave:
    case Kind::Generated: e.path = f[0]; return true;
    case Kind::FileStart:
    case Kind::File: {
      const std::optional<bool> existed = Flag(f[1]);
      const std::optional<std::uint64_t> size = e.kind == Kind::File ? Number(f[2]) : 0;
      const std::optional<std::uint64_t> modified = e.kind == Kind::File ? Number(f[3]) : 0;
      if (!existed || !size || !modified) return false;
      e.path = f[0];
      e.existed = *existed;
      e.size = *size;
      e.modified = *modified;
      return true;
    }
    case Kind::Aside:
    case Kind::Waiting:
      e.path = f[0];
      e.name = f[1];
      return PlainFullPath(e.name);
    case Kind::MovedAside: {
      const std::optional<std::uint64_t> size = Number(f[2]), modified = Number(f[3]);
      if (!size || !modified) return false;
      e.path = f[0];
      e.name = f[1];
      e.size = *size;
      e.modified = *modified;
      return PlainFullPath(e.name);
    }
    case Kind::Command:
      e.data = f[0];
      return !e.data.empty();
    case Kind::Text:
      e.name = f[0];
      e.data = f[1];
      return !e.name.empty();
    case Kind::Service: {
      const std::optional<bool> existed = Flag(f[2]);
      const std::optional<std::uint32_t> start = Number32(f[5]);
      // A service name holds no slash of either kind.
      if (f[0].empty() || f[0].find_first_of("\\/") != std::string::npos || f[1].empty() || !existed || !start)
        return false;
      if (*existed && (*start < 2 || *start > 4)) return false;
      e.name = f[0];
      e.path = f[1];
      e.existed = *existed;
      if (*existed) e.service = {f[3], f[4], static_cast<ServiceStart>(*start), f[6], f[7]};
      return true;
    }
    case Kind::PathEntry: {
      const std::optional<std::uint32_t> root = Number32(f[0]);
      if (!root || (*root != kHKLM && *root != kHKCU) || f[1].empty()) return false;
      e.root = *root;
      e.name = f[1];
      return true;
    }
    case Kind::Key:
    case Kind::Registered:
    case Kind::Value:
    case Kind::Before: {
      const std::optional<std::uint32_t> root = Number32(f[0]);
      const std::optional<bool> existed = f.size() > 3 ? Flag(f[3]) : false;
      const std::optional<std::uint32_t> type = e.kind == Kind::Before ? Number32(f[4]) : 0;
      const std::optional<std::string> data = e.kind == Kind::Before ? HexBytes(f[5]) : std::string();
      if (!root || !existed || !type || !data) return false;
      e.root = *root;
      e.path = f[1];
      if (f.size() > 2) e.name = f[2];
      e.existed = *existed;
      e.type = *type;
      e.data = *data;
      return true;
    }
  }
  return false;
}

// Paths as the installer writes them, where the kind names files or folders.
bool NamesPlainPaths(const RecordEntry& e) {
  using Kind = RecordEntry::Kind;
  switch (e.kind) {
    case Kind::Folder:
    case Kind::FileStart:
    case Kind::File:
    case Kind::Unwritten:
    case Kind::Aside:
    case Kind::MovedAside:
    case Kind::Waiting:
    case Kind::Leave: return PlainFullPath(e.path);
    case Kind::Generated: return PlainPattern(e.path);
    case Kind::RunStart: return e.path.empty() || PlainFullPath(e.path);
    default: return true;
  }
}

// One line without its end; none when it does not check out.
std::optional<RecordEntry> ParseLine(std::string_view line) {
  if (line.size() < 11 || line[8] != ' ' || line.substr(0, 8) != Crc(line.substr(9))) return std::nullopt;
  const std::string_view body = line.substr(9);
  const std::size_t count = FieldCount(body[0]);
  if (count == 0 || body.size() < 2 || body[1] != '\t') return std::nullopt;
  const std::optional<std::vector<std::string>> fields = SplitFields(body.substr(2));
  // Product lines written before the view and the language were recorded
  // have fewer fields.
  const bool older = body[0] == 'P' && fields && fields->size() >= count - 2 && fields->size() < count;
  if (!fields || (fields->size() != count && !older)) return std::nullopt;
  RecordEntry e;
  e.kind = static_cast<RecordEntry::Kind>(body[0]);
  if (!FillFields(e, *fields) || !NamesPlainPaths(e)) return std::nullopt;
  return e;
}

}  // namespace

bool ReadsBack(const RecordEntry& entry) {
  const std::string line = EncodeRecordEntry(entry);
  return line.size() > 2 && ParseLine(std::string_view(line).substr(0, line.size() - 2)).has_value();
}

std::string RecordedPath(const std::string& path) {
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + path.substr(7);
  if (path.rfind("\\\\?\\", 0) == 0 && IsDrivePath(std::string_view(path).substr(4))) return path.substr(4);
  return path;
}

std::string EncodeRecordEntry(const RecordEntry& entry) {
  std::string body(1, static_cast<char>(entry.kind));
  for (const std::string& f : FieldsOf(entry)) body += '\t' + Escape(f);
  return Crc(body) + ' ' + body + "\r\n";
}

std::optional<std::vector<RecordEntry>> ParseRecord(std::string_view bytes) {
  const std::string_view header = kRecordHeader;
  if (bytes.substr(0, header.size()) != header) return std::nullopt;
  std::vector<RecordEntry> entries;
  std::size_t at = header.size();
  for (;;) {
    const std::size_t end = bytes.find("\r\n", at);
    // What follows the last full line is a line the run could not finish.
    if (end == std::string_view::npos) break;
    std::optional<RecordEntry> e = ParseLine(bytes.substr(at, end - at));
    if (!e) return std::nullopt;
    entries.push_back(std::move(*e));
    at = end + 2;
  }
  return entries;
}

namespace {

// Each thing of a plan once, at the place of its last line; the first line
// decides whether it was there before.
template <typename Key, typename Item>
class Placed {
 public:
  explicit Placed(std::vector<Item>& list) : list_(list) {}
  // The item for a key met on a line, made at its first line.
  template <typename Make>
  Item& At(const Key& key, std::size_t line, Make&& make) {
    auto [it, added] = seen_.try_emplace(key, Seen{line, list_.size()});
    if (added) list_.push_back(make());
    it->second.last = line;
    return list_[it->second.index];
  }
  // Latest first: what was made last goes first, children before parents.
  void SortLatestFirst() {
    std::vector<std::pair<std::size_t, std::size_t>> order;  // last line, index
    for (const auto& s : seen_) order.emplace_back(s.second.last, s.second.index);
    std::sort(order.rbegin(), order.rend());
    std::vector<Item> sorted;
    for (const auto& o : order) sorted.push_back(std::move(list_[o.second]));
    list_ = std::move(sorted);
  }

 private:
  struct Seen {
    std::size_t last = 0;
    std::size_t index = 0;  // into the list
  };
  std::vector<Item>& list_;
  std::map<Key, Seen> seen_;
};

}  // namespace

RemovalPlan PlanRemoval(const std::vector<RecordEntry>& entries) {
  RemovalPlan plan;
  Placed<std::string, RemovalPlan::File> files(plan.files);
  Placed<std::string, std::string> folders(plan.folders);
  Placed<std::tuple<std::uint32_t, std::string, std::string>, RemovalPlan::Value> values(plan.values);
  Placed<std::pair<std::uint32_t, std::string>, std::pair<std::uint32_t, std::string>> keys(plan.keys);
  Placed<std::pair<std::uint32_t, std::string>, std::pair<std::uint32_t, std::string>> path(plan.pathEntries);
  Placed<std::string, InstalledService> services(plan.services);
  std::set<std::string> left, generated;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const RecordEntry& e = entries[i];
    switch (e.kind) {
      case RecordEntry::Kind::Text:
        plan.product.texts.emplace_back(e.name, e.data);
        break;
      // A run's commands replace those of the runs before it.
      case RecordEntry::Kind::RunStart: plan.commands.clear(); break;
      case RecordEntry::Kind::Command: plan.commands.push_back(e.data); break;
      case RecordEntry::Kind::Product: {
        plan.product = e.product;
        const std::pair<std::uint32_t, std::string> r{e.product.registrationRoot, e.product.id};
        if (std::find(plan.registrations.begin(), plan.registrations.end(), r) == plan.registrations.end())
          plan.registrations.push_back(r);
        break;
      }
      case RecordEntry::Kind::Folder: folders.At(FileNameKey(e.path), i, [&] { return e.path; }); break;
      case RecordEntry::Kind::FileStart:
      case RecordEntry::Kind::File:
      case RecordEntry::Kind::Unwritten: {
        RemovalPlan::File& f = files.At(FileNameKey(e.path), i, [&] { return RemovalPlan::File{e.path, e.existed}; });
        f.cutShort = e.kind == RecordEntry::Kind::FileStart;
        if (e.kind == RecordEntry::Kind::File) {
          f.written = true;
          f.size = e.size;
          f.modified = e.modified;
        }
        break;
      }
      case RecordEntry::Kind::Key:
        keys.At({e.root, FileNameKey(e.path)}, i, [&] { return std::make_pair(e.root, e.path); });
        break;
      case RecordEntry::Kind::Value:
        values.At({e.root, FileNameKey(e.path), FileNameKey(e.name)}, i,
                  [&] { return RemovalPlan::Value{e.root, e.path, e.name, e.existed}; });
        break;
      case RecordEntry::Kind::Leave: left.insert(FileNameKey(e.path)); break;
      case RecordEntry::Kind::Generated:
        if (generated.insert(FileNameKey(e.path)).second) plan.generated.push_back(e.path);
        break;
      case RecordEntry::Kind::PathEntry:
        path.At({e.root, FileNameKey(e.name)}, i, [&] { return std::make_pair(e.root, e.name); });
        break;
      case RecordEntry::Kind::Service:
        // The program of its last line: what the latest run set it to run.
        services.At(UpperCase(e.name), i, [&] { return InstalledService{e.name, e.path}; }).program = e.path;
        break;
      default: break;  // what only an undo needs
    }
  }
  services.SortLatestFirst();
  for (RemovalPlan::File& f : plan.files) f.left = left.count(FileNameKey(f.path)) > 0;
  path.SortLatestFirst();
  files.SortLatestFirst();
  folders.SortLatestFirst();
  values.SortLatestFirst();
  keys.SortLatestFirst();
  return plan;
}

bool GeneratedWithin(const std::string& pattern, const std::string& recordFolder,
                     const std::vector<std::string>& madeFolders) {
  if (!PlainPattern(pattern)) return false;
  const std::string key = FileNameKey(pattern);
  const auto inside = [&](const std::string& folder) {
    const std::string k = FileNameKey(WithoutBackslash(folder)) + "\\";
    return !folder.empty() && key.size() > k.size() && key.compare(0, k.size(), k) == 0;
  };
  return inside(recordFolder) || std::any_of(madeFolders.begin(), madeFolders.end(), inside);
}

std::string OwnUninstallerName(const std::string& id) {
  std::string name = "uninstall-";
  for (const char c : id) {
    const auto b = static_cast<unsigned char>(c);
    // What no file name may hold becomes "_".
    name += (b < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) ? '_' : c;
  }
  return name + ".exe";
}

std::string RecordNameFor(const std::string& uninstallerName) {
  const std::string key = FileNameKey(uninstallerName);
  if (key.size() > 14 && key.rfind("UNINSTALL-", 0) == 0 && key.compare(key.size() - 4, 4, ".EXE") == 0)
    return uninstallerName.substr(0, uninstallerName.size() - 4) + ".dat";
  return kRecordName;
}

std::optional<std::size_t> UnfinishedRun(const std::vector<RecordEntry>& entries) {
  for (std::size_t i = entries.size(); i-- > 0;) {
    if (entries[i].kind == RecordEntry::Kind::RunEnd) return std::nullopt;
    if (entries[i].kind == RecordEntry::Kind::RunStart) return i;
  }
  return std::nullopt;
}

std::string_view BeforeLastRun(std::string_view record) {
  // Lines are "<crc> <kind>\t...": a run's first line is the last "R".
  for (std::size_t end = record.size(); end > 0;) {
    const std::size_t start = record.rfind("\r\n", end - 1);
    const std::size_t line = start == std::string_view::npos ? 0 : start + 2;
    if (line + 10 < record.size() && record[line + 8] == ' ' && record[line + 9] == 'R' && record[line + 10] == '\t')
      return record.substr(0, line);
    if (start == std::string_view::npos) break;
    end = start;
  }
  return record;
}

std::uint32_t EstimatedKilobytes(const RemovalPlan& plan) {
  std::uint64_t bytes = 0;
  for (const RemovalPlan::File& f : plan.files)
    if (!f.existed) bytes += f.size;
  const std::uint64_t kb = (bytes + 1023) / 1024;
  return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kb);
}

}  // namespace qv
