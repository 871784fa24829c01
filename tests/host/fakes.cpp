#include "tests/host/fakes.h"

#include <algorithm>

#include "engine/entries.h"
#include "framework/portable/wildcard.h"
#include "package/memory_bytes.h"

namespace qv::test {

namespace {


}  // namespace

FakePlatform::FakePlatform() {
  AddFolder("C:");
  AddFolder("D:");
}

std::string FakePlatform::Key(std::string path) {
  // The machine reads "a/b", "a\\.\\b" and "a\\x\\..\\b" as one path.
  if (path.size() > 2 && path[1] == ':') {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path.substr(2) + "\\") {
      if (c != '\\' && c != '/') {
        part += c;
      } else if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      if (c == '\\' || c == '/') part.clear();
    }
    path = path.substr(0, 2);
    for (const std::string& p : parts) path += "\\" + p;
  }
  if (path.size() > 2 && path.back() == '\\') path.pop_back();
  if (path.size() == 3 && path[1] == ':') path.pop_back();
  return UpperCase(path);
}

void FakePlatform::AddFolder(const std::string& path, std::uint32_t attributes) {
  std::string k = Key(path);
  const std::string parent = FolderPart(k);
  if (!parent.empty() && parent != k && !IsFolder(parent)) AddFolder(parent);
  std::string name = path;
  if (name.size() > 2 && name.back() == '\\') name.pop_back();
  nodes_[k] = Node{name.substr(name.find_last_of("\\:") + 1), attributes | kAttrDirectory, ""};
}

void FakePlatform::AddFile(const std::string& path, const std::string& content,
                           std::uint32_t attributes, std::uint64_t modified) {
  // A folder the test has made keeps the attributes it was given.
  if (!IsFolder(FolderPart(path))) AddFolder(FolderPart(path));
  nodes_[Key(path)] = Node{path.substr(path.find_last_of("\\:") + 1), attributes, content, modified};
}

void FakePlatform::AddJunction(const std::string& link, const std::string& target) {
  AddFolder(link, kAttrReparsePoint);
  junctions[Key(link)] = Key(target);
}

bool FakePlatform::ThroughJunction(const std::string& key) const {
  return std::any_of(junctions.begin(), junctions.end(),
                     [&](const auto& j) { return key.rfind(j.first + "\\", 0) == 0; });
}

std::unique_ptr<FolderHold> FakePlatform::HoldFolder(const Path& folder) {
  const std::string k = Key(folder);
  if (!IsFolder(k) || junctions.count(k) || ThroughJunction(k)) return nullptr;
  return std::make_unique<FolderHold>();
}

bool FakePlatform::IsFolder(const std::string& path) const {
  auto it = nodes_.find(Key(path));
  return it != nodes_.end() && (it->second.attributes & kAttrDirectory);
}

bool FakePlatform::IsFile(const std::string& path) const {
  auto it = nodes_.find(Key(path));
  return it != nodes_.end() && !(it->second.attributes & kAttrDirectory);
}

std::string FakePlatform::Content(const std::string& path) const {
  auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? std::string() : it->second.content;
}

std::uint32_t FakePlatform::AttributesOf(const std::string& path) const {
  auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? kNoAttributes : it->second.attributes;
}

std::uint32_t FakePlatform::Attributes(const Path& path) {
  const std::uint32_t attributes = AttributesOf(path);
  if (attributes == kNoAttributes) lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
  return attributes;
}

bool FakePlatform::Held(const std::string& key) const {
  const auto moment = heldUntil.find(key);
  return heldFiles.count(key) || (moment != heldUntil.end() && paused < moment->second) ||
         std::any_of(services.begin(), services.end(), [&](const auto& s) {
           return s.second.running && Key(SplitProgram(s.second.config.command).program) == key;
         });
}

std::optional<ServiceConfig> FakePlatform::FindService(const std::string& name) {
  const auto s = services.find(UpperCase(name));
  if (s != services.end()) return s->second.config;
  lastError = {kErrorNoService, "The specified service does not exist as an installed service."};
  return std::nullopt;
}

bool FakePlatform::MakeService(const std::string& name, const ServiceConfig& config) {
  if (!elevated) {
    lastError = {kErrorAccessDenied, "Access is denied."};
    return false;
  }
  if (services.count(UpperCase(name))) {
    lastError = {1073, "The specified service already exists."};
    return false;
  }
  events.push_back("service create " + name);
  services[UpperCase(name)] = {name, config, false};
  return true;
}

bool FakePlatform::ChangeService(const std::string& name, const ServiceConfig& config) {
  const auto s = services.find(UpperCase(name));
  if (!elevated || s == services.end()) {
    lastError = elevated ? Error{kErrorNoService, "no service"} : Error{kErrorAccessDenied, "Access is denied."};
    return false;
  }
  events.push_back("service change " + name);
  s->second.config = config;
  return true;
}

bool FakePlatform::ServiceRunning(const std::string& name) {
  const auto s = services.find(UpperCase(name));
  return s != services.end() && s->second.running;
}

bool FakePlatform::StartOneService(const std::string& name) {
  const auto s = services.find(UpperCase(name));
  if (s == services.end() || failingServices.count(UpperCase(name)) ||
      s->second.config.start == ServiceStart::Disabled) {
    lastError = {1053, "The service did not respond to the start or control request in a timely fashion."};
    return false;
  }
  events.push_back("service start " + name);
  s->second.running = true;
  return true;
}

bool FakePlatform::StopOneService(const std::string& name) {
  const auto s = services.find(UpperCase(name));
  if (s == services.end()) {
    lastError = {kErrorNoService, "no service"};
    return false;
  }
  if (s->second.running) events.push_back("service stop " + name);
  s->second.running = false;
  return true;
}

bool FakePlatform::DeleteOneService(const std::string& name) {
  const auto s = services.find(UpperCase(name));
  if (!elevated || s == services.end()) {
    lastError = elevated ? Error{kErrorNoService, "no service"} : Error{kErrorAccessDenied, "Access is denied."};
    return false;
  }
  events.push_back("service delete " + name);
  services.erase(s);
  return true;
}

std::uint64_t FakePlatform::ModifiedOf(const std::string& path) const {
  auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? 0 : it->second.modified;
}

std::vector<std::string> FakePlatform::Tree(const std::string& folder) const {
  const std::string k = Key(folder);
  std::vector<std::string> r;
  for (const auto& entry : nodes_)
    if (entry.first == k || entry.first.rfind(k + "\\", 0) == 0) r.push_back(entry.first);
  return r;
}

bool FakePlatform::MakeFolder(const Path& path) {
  events.push_back("mkdir " + path);
  const std::string k = Key(path);
  if (failingFolders.count(k) || nodes_.count(k) || !IsFolder(FolderPart(k))) return false;
  AddFolder(path);
  return true;
}

std::unique_ptr<FindHandle> FakePlatform::FindFirst(const Path& pattern, FindEntry& first) {
  std::string folder = Key(FolderPart(pattern));
  // A search follows a junction, as the system's does.
  for (const auto& [link, target] : junctions)
    if (folder == link || folder.rfind(link + "\\", 0) == 0) folder = target + folder.substr(link.size());
  const std::string mask = pattern.Text().substr(FolderPart(pattern).size());
  if (failingSearches.count(Key(pattern))) {
    lastError = {5, "Access is denied."};
    return nullptr;
  }
  if (!IsFolder(folder)) {
    lastError = {kErrorPathNotFound, "The system cannot find the path specified."};
    return nullptr;
  }
  // Matched as the system's search matches: the program's own matcher,
  // which the wildcard table holds to Wine's search.
  std::vector<FindEntry> found;
  if (folder.size() > 2) {  // not a drive root
    if (MatchesWildcard(".", mask)) found.push_back({".", kAttrDirectory});
    if (MatchesWildcard("..", mask)) found.push_back({"..", kAttrDirectory});
  }
  for (const auto& [k, node] : nodes_)
    if (k != folder && Key(FolderPart(k)) == folder && MatchesWildcard(node.name, mask))
      found.push_back({node.name, node.attributes, node.content.size(), node.modified});
  if (found.empty()) {
    lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
    return nullptr;
  }
  first = found.front();
  found.erase(found.begin());
  return std::make_unique<ListedFind>(std::move(found));
}

bool FakePlatform::CopyOneFile(const Path& from, const Path& to) {
  events.push_back("copy " + from + " > " + to);
  waiting.erase(Key(to));
  if (failingCopies.count(Key(from))) {
    lastError = {kErrorAccessDenied, "Access is denied."};
    return false;
  }
  if (!IsFile(from) || !IsFolder(FolderPart(to)) || IsFolder(to)) return false;
  const Node& src = nodes_.at(Key(from));
  const std::optional<std::string> at = PlaceFor(to);
  if (!at) return false;
  nodes_[Key(*at)] = Node{at->substr(at->find_last_of('\\') + 1), src.attributes, src.content, src.modified};
  return true;
}

std::optional<std::string> FakePlatform::PlaceFor(const std::string& to) {
  if (!Held(Key(to))) return to;
  if (!elevated) {
    lastError = {kErrorInUse, "The process cannot access the file because it is being used by another process."};
    return std::nullopt;
  }
  const std::string beside = FolderPart(to) + "~waiting" + std::to_string(waiting.size() + 1);
  events.push_back("at restart " + beside + " > " + to);
  return waiting[Key(to)] = beside;
}

std::vector<RunningProgram> FakePlatform::ProgramsHolding(const std::vector<std::string>& files) {
  holding.clear();
  for (const std::string& f : files) {
    const auto p = programs.find(Key(f));
    if (p == programs.end() || !heldFiles.count(Key(f))) continue;
    if (std::none_of(holding.begin(), holding.end(), [&](const RunningProgram& x) { return x.process == p->second.process; }))
      holding.push_back(p->second);
  }
  return holding;
}

bool FakePlatform::CloseHolders() {
  bool all = true;
  for (const RunningProgram& p : holding) {
    if (staysOpen.count(p.process)) {
      all = false;
      continue;
    }
    events.push_back("close " + p.name);
    closed.push_back(p);
    for (const auto& [file, holder] : programs)
      if (holder.process == p.process) heldFiles.erase(file);
  }
  holding.clear();
  return all;
}

void FakePlatform::RestartClosed() {
  for (const RunningProgram& p : closed)
    if (p.restartable) events.push_back("restart " + p.name);
  closed.clear();
}

std::unique_ptr<pack::ByteSource> FakePlatform::OpenRead(const Path& path) {
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) return nullptr;
  return std::make_unique<pack::MemorySource>(*bytes);
}

std::optional<std::string> FakePlatform::WaitingBeside(const Path& path) {
  const auto it = waiting.find(Key(path));
  if (it == waiting.end()) return std::nullopt;
  return it->second;
}

bool FakePlatform::WriteFileFrom(const Path& to, std::uint32_t attributes, std::uint64_t modified,
                                 const FileProducer& produce) {
  events.push_back("write " + to);
  waiting.erase(Key(to));
  if (!IsFolder(FolderPart(to)) || IsFolder(to)) {
    lastError = {kErrorPathNotFound, "The system cannot find the path specified."};
    return false;
  }
  pack::MemorySink out(diskSpace);
  if (!produce(out)) {
    // As the machine does: a write that did not fit is a full disk, anything
    // else the producer's own damage. The target is untouched either way.
    lastError = out.Full() ? Error{112, "There is not enough space on the disk."}
                                             : Error{kErrorDamagedData, "Data error (cyclic redundancy check)."};
    return false;
  }
  const std::optional<std::string> at = PlaceFor(to);
  if (!at) return false;
  nodes_[Key(*at)] = Node{at->substr(at->find_last_of('\\') + 1), attributes, std::move(out.bytes), modified};
  return true;
}

std::optional<std::string> FakePlatform::MakePrivateFolder(const std::string& prefix) {
  const std::string path = tempPath + prefix + std::to_string(privateFolders.size() + 1);
  events.push_back("private " + path);
  if (!IsFolder(tempPath) || nodes_.count(Key(path))) return std::nullopt;
  AddFolder(path);
  privateFolders.insert(Key(path));
  return path + "\\";
}

bool FakePlatform::RemoveTree(const Path& folder) {
  events.push_back("rmtree " + folder);
  const std::vector<std::string> tree = Tree(folder);
  for (const std::string& k : tree)
    if (Held(k)) {
      lastError = {32, "The process cannot access the file because it is being used by another process."};
      return false;
    }
  for (const std::string& k : tree) nodes_.erase(k);
  return !tree.empty();
}

std::optional<std::string> FakePlatform::ReadWholeFile(const Path& path) {
  if (!IsFile(path)) return std::nullopt;
  return Content(path);
}

RegWrite FakePlatform::WriteRegistryValue(std::uint32_t root, const std::string& subkey,
                                          const std::string& name, RegType type,
                                          const std::vector<std::uint8_t>& data) {
  events.push_back("reg " + subkey + "\\" + name);
  if (!registryKeysOpen || root == 0 || refusedRoots.count(root)) return RegWrite::KeyNotOpened;
  if (registryWritesFail) return RegWrite::WriteFailed;
  registry[{root, UpperCase(subkey), UpperCase(name)}] = RegValue{type, data};
  for (std::string k = UpperCase(subkey); !k.empty(); k.resize(k.find('\\') == std::string::npos ? 0 : k.rfind('\\')))
    keys.insert({root, k});
  return RegWrite::Written;
}

RegistryText FakePlatform::ReadRegistryText(std::uint32_t root, const std::string& subkey, const std::string& name) {
  if (SameText(name, "ProgramFilesDir")) return programFilesDir;
  const auto it = registry.find({root, UpperCase(subkey), UpperCase(name)});
  if (it == registry.end()) return {RegistryText::Status::Absent, {}};
  const bool expandable = it->second.type == RegType::ExpandText;
  if (it->second.type != RegType::Text && !expandable) return {RegistryText::Status::NotText, {}};
  std::string text(it->second.data.begin(), it->second.data.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return {RegistryText::Status::Text, text, expandable};
}

bool FakePlatform::MakeShortcut(const Shortcut& shortcut) {
  events.push_back("shortcut " + shortcut.file);
  if (!IsFolder(FolderPart(shortcut.file)) || IsFolder(shortcut.file)) {
    lastError = {kErrorPathNotFound, "The system cannot find the path specified."};
    return false;
  }
  // The file holds what it points at, so a test can read it back.
  AddFile(shortcut.file, "lnk|" + shortcut.target + "|" + shortcut.arguments + "|" + shortcut.iconFile + "|" +
                             std::to_string(shortcut.iconIndex) + "|" + shortcut.workingFolder + "|" +
                             shortcut.description);
  return true;
}

std::string FakePlatform::ExpandEnvironment(const std::string& text) {
  std::string out = text;
  for (const auto& [name, value] : environment) {
    const std::string macro = "%" + name + "%";
    for (std::size_t at = 0; (at = UpperCase(out).find(UpperCase(macro), at)) != std::string::npos;
         at += value.size())
      out.replace(at, macro.size(), value);
  }
  return out;
}

std::unique_ptr<ProductHold> FakePlatform::HoldProduct(const std::string& id) {
  struct Hold : ProductHold {
    Hold(std::set<std::string>& held, std::string key) : held_(held), key_(std::move(key)) { held_.insert(key_); }
    ~Hold() override { held_.erase(key_); }
    std::set<std::string>& held_;
    std::string key_;
  };
  if (heldProducts.count(UpperCase(id))) return nullptr;
  return std::make_unique<Hold>(heldProducts, UpperCase(id));
}

std::optional<StoredValue> FakePlatform::ReadStoredValue(std::uint32_t root, const std::string& subkey,
                                                         const std::string& name) {
  const auto it = registry.find({root, UpperCase(subkey), UpperCase(name)});
  if (!registryKeysOpen || it == registry.end()) return std::nullopt;
  return StoredValue{static_cast<std::uint32_t>(it->second.type), it->second.data};
}

bool FakePlatform::WriteStoredValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                    const StoredValue& value) {
  return WriteRegistryValue(root, subkey, name, static_cast<RegType>(value.type), value.data) == RegWrite::Written;
}

RegistryPresence FakePlatform::FindRegistryValue(std::uint32_t root, const std::string& subkey,
                                                 const std::string& name) {
  if (!subkey.empty() && !keys.count({root, UpperCase(subkey)})) return {};
  return {true, registry.count({root, UpperCase(subkey), UpperCase(name)}) > 0};
}

bool FakePlatform::DeleteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name) {
  events.push_back("regdel " + subkey + "\\" + name);
  return registry.erase({root, UpperCase(subkey), UpperCase(name)}) > 0;
}

bool FakePlatform::DeleteRegistryKey(std::uint32_t root, const std::string& subkey, bool whole) {
  const std::string k = UpperCase(subkey);
  if (!keys.count({root, k})) {
    lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
    return false;
  }
  const auto inside = [&](const std::string& other) { return other == k || other.rfind(k + "\\", 0) == 0; };
  bool empty = true;
  for (const auto& key : keys) empty = empty && !(key.first == root && key.second != k && inside(key.second));
  for (const auto& value : registry) empty = empty && !(std::get<0>(value.first) == root && std::get<1>(value.first) == k);
  if (!empty && !whole) {
    lastError = {kErrorKeyHasChildren, "Cannot create a stable subkey under a volatile parent key."};
    return false;
  }
  events.push_back("regdelkey " + subkey);
  std::erase_if(keys, [&](const auto& key) { return key.first == root && inside(key.second); });
  std::erase_if(registry, [&](const auto& v) { return std::get<0>(v.first) == root && inside(std::get<1>(v.first)); });
  return true;
}

std::optional<FileStamp> FakePlatform::Stamp(const Path& path) {
  if (!IsFile(path)) return std::nullopt;
  const Node& n = nodes_.at(Key(path));
  return FileStamp{n.content.size(), n.modified};
}

bool FakePlatform::DeleteOneFile(const Path& path) {
  events.push_back("delete " + path);
  if (ThroughJunction(Key(path))) {
    lastError = {kErrorReachedThroughLink, "reached through a link"};
    return false;
  }
  if (Held(Key(path))) {
    lastError = {32, "The process cannot access the file because it is being used by another process."};
    return false;
  }
  if (!IsFile(path)) {
    lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
    return false;
  }
  nodes_.erase(Key(path));
  return true;
}

bool FakePlatform::RemoveFolder(const Path& path) {
  events.push_back("rmdir " + path);
  if (ThroughJunction(Key(path))) {
    lastError = {kErrorReachedThroughLink, "reached through a link"};
    return false;
  }
  if (junctions.erase(Key(path))) {
    nodes_.erase(Key(path));
    return true;
  }
  if (!IsFolder(path)) {
    lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
    return false;
  }
  if (Tree(path).size() > 1) {
    lastError = {kErrorDirNotEmpty, "The directory is not empty."};
    return false;
  }
  nodes_.erase(Key(path));
  return true;
}

bool FakePlatform::MoveOneFile(const Path& from, const Path& to) {
  events.push_back("move " + from + " > " + to);
  if (otherVolume) {
    lastError = {17, "The system cannot move the file to a different disk drive."};
    return false;
  }
  if (!IsFile(from)) {
    lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
    return false;
  }
  if (Held(Key(from))) {
    lastError = {kErrorInUse, "The process cannot access the file because it is being used by another process."};
    return false;
  }
  if (!IsFolder(FolderPart(to))) {
    lastError = {kErrorPathNotFound, "The system cannot find the path specified."};
    return false;
  }
  if (nodes_.count(Key(to))) {
    lastError = {183, "Cannot create a file when that file already exists."};
    return false;
  }
  Node n = nodes_.at(Key(from));
  n.name = to.Text().substr(to.Text().find_last_of('\\') + 1);
  nodes_.erase(Key(from));
  nodes_[Key(to)] = std::move(n);
  return true;
}

class FakeAppend : public AppendFile {
 public:
  FakeAppend(FakePlatform& machine, std::string path) : machine_(machine), path_(std::move(path)) {}
  bool Append(std::string_view bytes) override {
    if (!machine_.IsFile(path_)) return false;
    machine_.nodes_.at(FakePlatform::Key(path_)).content.append(bytes);
    return true;
  }
  bool AppendCached(std::string_view bytes) override { return Append(bytes); }

 private:
  FakePlatform& machine_;
  std::string path_;
};

std::unique_ptr<AppendFile> FakePlatform::OpenAppend(const Path& path) {
  if (!IsFolder(FolderPart(path)) || IsFolder(path)) return nullptr;
  if (!IsFile(path)) AddFile(path, "");
  return std::make_unique<FakeAppend>(*this, path);
}

bool FakePlatform::StartProgram(const std::string& commandLine, int showCode, const std::string& workingFolder) {
  events.push_back("start " + commandLine + (workingFolder.empty() ? "" : " in " + workingFolder));
  started.emplace_back(commandLine, showCode);
  startedIn.push_back(workingFolder);
  return !commandLine.empty();
}

namespace {

// Its wait moves the machine's clock on: as long as it runs, at most.
class FakeStarted : public StartedProgram {
 public:
  FakeStarted(FakePlatform& machine, std::shared_ptr<FakePlatform::Launched> program)
      : machine_(machine), program_(std::move(program)) {}
  bool Wait(unsigned ms) override {
    const std::uint32_t step = std::min<std::uint32_t>(ms, program_->left);
    machine_.clock += step;
    program_->left -= step;
    return program_->left == 0;
  }
  std::uint32_t ExitCode() override { return program_->exitCode; }

 private:
  FakePlatform& machine_;
  std::shared_ptr<FakePlatform::Launched> program_;
};

}  // namespace

std::unique_ptr<StartedProgram> FakePlatform::Launch(const std::string& commandLine, int showCode,
                                                     const std::string& workingFolder, StartAs as) {
  if (as == StartAs::Person && !person) {
    lastError = {kErrorNoPerson, "A specified logon session does not exist."};
    return nullptr;
  }
  events.push_back("launch " + commandLine + (workingFolder.empty() ? "" : " in " + workingFolder) +
                   (as == StartAs::Person ? " as the person" : ""));
  if (commandLine.empty()) {
    lastError = {kErrorFileNotFound, "The system cannot find the file specified."};
    return nullptr;
  }
  started.emplace_back(commandLine, showCode);
  startedIn.push_back(workingFolder);
  const auto b = behaviours.find(UpperCase(SplitProgram(commandLine).program));
  const Behaviour how = b == behaviours.end() ? Behaviour{} : b->second;
  launched.push_back(std::make_shared<Launched>(Launched{commandLine, as, how.runs, how.exitCode}));
  return std::make_unique<FakeStarted>(*this, launched.back());
}

std::vector<std::string> RecordingWindow::Calls(const std::string& prefix) const {
  std::vector<std::string> r;
  for (const auto& c : calls)
    if (c.compare(0, prefix.size(), prefix) == 0) r.push_back(c);
  return r;
}

}  // namespace qv::test

namespace qv::test {

std::string FakePlatform::KnownFolderPath(KnownFolder which) {
  switch (which) {
    case KnownFolder::LocalAppData: return "C:\\Users\\Ann\\AppData\\Local";
    case KnownFolder::AppData: return "C:\\Users\\Ann\\AppData\\Roaming";
    case KnownFolder::UserPrograms: return "C:\\Users\\Ann\\AppData\\Local\\Programs";
    case KnownFolder::Profile: return "C:\\Users\\Ann";
    case KnownFolder::StartMenuPrograms: return "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    case KnownFolder::Desktop: return "C:\\Users\\Ann\\Desktop";
    case KnownFolder::Startup:
      return "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
    case KnownFolder::CommonAppData: return "C:\\ProgramData";
    case KnownFolder::CommonStartMenuPrograms: return "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    case KnownFolder::CommonDesktop: return "C:\\Users\\Public\\Desktop";
    case KnownFolder::CommonStartup: return "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
    case KnownFolder::ProgramFilesNative: return windows64 ? "C:\\Program Files" : programFilesDir.text;
    case KnownFolder::CommonFiles: return programFilesDir.text + "\\Common Files";
    case KnownFolder::CommonFilesNative: return windows64 ? "C:\\Program Files\\Common Files" : programFilesDir.text + "\\Common Files";
    case KnownFolder::Fonts: return windowsFolder + "\\Fonts";
  }
  return {};
}

}  // namespace qv::test
